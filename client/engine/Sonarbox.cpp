#include "Sonarbox.h"

#include "settings/DeploymentConfig.h"
#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/PreferenceKeys.h"
#include "store/SecretStore.h"
#include "sync/DesktopNotifier.h"
#include "sync/LoginItems.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <QTimer>

namespace {

void logCall(const char *selector) {
    qCInfo(lcSync).noquote() << QStringLiteral("[%1] @class:Sonarbox").arg(QLatin1String(selector));
}

} // namespace

Sonarbox &Sonarbox::instance() {
    // Function-local statics are created once even when first reached from
    // two threads at the same time.
    static Sonarbox *sonarbox = new Sonarbox(EngineParts{});
    return *sonarbox;
}

Sonarbox::Sonarbox(EngineParts parts)
    : SyncState(std::move(parts))
    , m_stages(placeholderStages()) {
    m_syncTimer = new QTimer(this);
    m_syncTimer->setSingleShot(true);
    connect(m_syncTimer, &QTimer::timeout, this, &Sonarbox::executeTimedSync);
    m_pause = new SyncPause(*this, this);
    connect(m_pause, &SyncPause::changed, this, &Sonarbox::followPause);
    m_resumeTimer = new QTimer(this);
    m_resumeTimer->setSingleShot(true);
    connect(m_resumeTimer, &QTimer::timeout, this, [this] {
        if (!m_resumeWhenOnline || isAppOffline || syncInProgress || !loggedUser())
            return;
        // The network came back, or syncing was resumed.
        qCInfo(lcSync) << "=== Resuming syncing";
        sync(true);
    });
    // Timers and queued calls belong to the main thread, whichever thread
    // asked first (the timer moves with its parent).
    if (QCoreApplication *app = QCoreApplication::instance())
        moveToThread(app->thread());
    logCall("instance");
    // The store tells the person once when the desktop keyring is locked.
    SecretStore::setLockedNotice(
        [](const QString &title, const QString &text) { DesktopNotifier::notify(title, text); });
    initializeState();
}

void Sonarbox::initializeState() {
    getOSVersion();

    // The login item is not touched here: every program of the engine creates
    // the coordinator, but only the desktop program registers itself, through
    // registerLoginItemAtStart().
    using namespace PreferenceKeys;
    if (!preferences().contains(LoadAppOnOSBoot))
        preferences().setText(LoadAppOnOSBoot, QStringLiteral("YES"));
    if (!preferences().contains(SettingsNotifications))
        preferences().setBoolean(SettingsNotifications, false);
    preferences().synchronize();

    const bool openAtLogin = preferences().boolean(LoadAppOnOSBoot);

    m_landingPageEnabled = deployment().landingPageEnabled;
    loadState();
    m_lastScan.set({});
    flow_changeSyncLibrarySyncFromSettings = false;
    settings_openAtLogin = openAtLogin;
    settings_syncNewSongs = true;
    m_pause->reload();
    m_pauseFollowed = m_pause->isPaused();
    showPause();
}

void Sonarbox::reinitialize() {
    clearSession();
    syncInProgress = false;
    isAppOffline = false;
    flow_errorAtLogin = false;
    registrationProcess = false;
    fbLogin = false;
    m_resumeAfterNetworkLoss = false;
    stopNetworkMonitoring();
    m_resumeWhenOnline = false;
    m_pause->setMeteredSource(nullptr);
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_syncTimer->stop();
            m_resumeTimer->stop();
        },
        thread() == QThread::currentThread() ? Qt::DirectConnection : Qt::BlockingQueuedConnection);
    initializeState();
}

// ---- wiring

Sonarbox::Stages Sonarbox::placeholderStages() {
    // Until the stages are built, each one only honours a stop request and
    // continues the chain.
    const auto placeholder = [this](const SyncRunPtr &run, Completion completion) {
        Sonarbox &s = *this;
        if (s.stopRequested(*run)) {
            s.applicationWasStopped();
            return;
        }
        completion();
    };
    Stages stages;
    stages.scanFileSystemForMedia = placeholder;
    stages.fingderPrintLocalMediaFiles = placeholder;
    stages.syncCloudMediaWithLocal = placeholder;
    stages.uploadUnSyncedFiles = placeholder;
    stages.setAmoundOfSongsFingerprinted = [](int) {};
    return stages;
}
