#include "SyncPause.h"

#include "settings/DeploymentConfig.h"
#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/PreferenceKeys.h"

SyncPause::SyncPause(QObject *parent)
    : QObject(parent) {
    reload();
}

void SyncPause::reload() {
    using namespace PreferenceKeys;
    m_pausedByUser = NSDefaultsUtility::boolean(SyncPaused);
    m_syncOnMetered = NSDefaultsUtility::contains(SyncOnMeteredConnections)
                          ? NSDefaultsUtility::boolean(SyncOnMeteredConnections)
                          : DeploymentConfig::current().syncOnMeteredConnections;
    const QString status = statusText();
    std::lock_guard g(m_lock);
    m_lastPausedByUser = m_pausedByUser;
    m_lastStatus = status;
}

void SyncPause::setPausedByUser(bool paused) {
    NSDefaultsUtility::setBoolean(PreferenceKeys::SyncPaused, paused);
    NSDefaultsUtility::synchronize();
    m_pausedByUser = paused;
    qCInfo(lcSync) << (paused ? "Syncing paused" : "Syncing resumed");
    update();
}

void SyncPause::setSyncOnMeteredConnections(bool allowed) {
    NSDefaultsUtility::setBoolean(PreferenceKeys::SyncOnMeteredConnections, allowed);
    NSDefaultsUtility::synchronize();
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
