#include "SyncPause.h"
#include "SyncState.h"

#include "settings/DeploymentConfig.h"
#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/PreferenceKeys.h"

SyncPause::SyncPause(const SyncState &state, QObject *parent)
    : QObject(parent)
    , m_state(state) {
    reload();
}

void SyncPause::reload() {
    using namespace PreferenceKeys;
    m_pausedByUser = m_state.preferences().boolean(SyncPaused);
    m_syncOnMetered = m_state.preferences().contains(SyncOnMeteredConnections)
                          ? m_state.preferences().boolean(SyncOnMeteredConnections)
                          : m_state.deployment().syncOnMeteredConnections;
    const QString status = statusText();
    std::lock_guard g(m_lock);
    m_lastPausedByUser = m_pausedByUser;
    m_lastStatus = status;
}

void SyncPause::setPausedByUser(bool paused) {
    m_state.preferences().setBoolean(PreferenceKeys::SyncPaused, paused);
    m_state.preferences().synchronize();
    m_pausedByUser = paused;
    qCInfo(lcSync) << (paused ? "Syncing paused" : "Syncing resumed");
    update();
}

void SyncPause::setSyncOnMeteredConnections(bool allowed) {
    m_state.preferences().setBoolean(PreferenceKeys::SyncOnMeteredConnections, allowed);
    m_state.preferences().synchronize();
    m_syncOnMetered = allowed;
    update();
}

void SyncPause::setMeteredSource(MeteredSourcePtr source) {
    {
        std::lock_guard g(m_lock);
        disconnect(m_sourceConnection);
        m_source = std::move(source);
        if (m_source)
            m_sourceConnection =
                connect(m_source.get(), &MeteredSource::meteredChanged, this, &SyncPause::update);
    }
    update();
}

bool SyncPause::hasMeteredSource() const {
    std::lock_guard g(m_lock);
    return m_source != nullptr;
}

bool SyncPause::isMetered() const {
    std::lock_guard g(m_lock);
    return m_source && m_source->isMetered();
}

QString SyncPause::statusText() const {
    if (m_pausedByUser)
        return QStringLiteral("Paused");
    if (!m_syncOnMetered && isMetered())
        return QStringLiteral("Paused: metered connection");
    return QString();
}

void SyncPause::update() {
    const QString status = statusText();
    const bool byUser = m_pausedByUser;
    {
        std::lock_guard g(m_lock);
        if (status == m_lastStatus && byUser == m_lastPausedByUser)
            return;
        m_lastStatus = status;
        m_lastPausedByUser = byUser;
    }
    emit changed();
}
