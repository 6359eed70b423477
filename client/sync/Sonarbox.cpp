#include "Sonarbox.h"

#include "DesktopNotifier.h"
#include "LoginItems.h"
#include "settings/DeploymentConfig.h"
#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/PreferenceKeys.h"
#include "store/SecretStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <QTimer>

namespace {

void logCall(const char *selector) {
    qCInfo(lcSync).noquote() << QStringLiteral("[%1] @class:Sonarbox").arg(QLatin1String(selector));
}

StatusMenu g_noMenu;

} // namespace

Sonarbox &Sonarbox::instance() {
    // Function-local statics are created once even when first reached from
    // two threads at the same time.
    static Sonarbox *sonarbox = new Sonarbox;
    return *sonarbox;
}

Sonarbox::Sonarbox()
    : m_stages(placeholderStages())
    , m_queue(std::make_unique<StageQueue>()) {
    m_syncTimer = new QTimer(this);
    m_syncTimer->setSingleShot(true);
    connect(m_syncTimer, &QTimer::timeout, this, &Sonarbox::executeTimedSync);
    m_pause = new SyncPause(this);
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
    if (!NSDefaultsUtility::contains(LoadAppOnOSBoot))
        NSDefaultsUtility::setText(LoadAppOnOSBoot, QStringLiteral("YES"));
    if (!NSDefaultsUtility::contains(SettingsNotifications))
        NSDefaultsUtility::setBoolean(SettingsNotifications, false);
    NSDefaultsUtility::synchronize();

    const bool openAtLogin = NSDefaultsUtility::boolean(LoadAppOnOSBoot);

    m_landingPageEnabled = DeploymentConfig::current().landingPageEnabled;
    const QString deviceID = NSDefaultsUtility::getUUID();
    const QString downloadDir = NSDefaultsUtility::getUserDownloadDirectory();
    const QList<QUrl> folders =
        NSDefaultsUtility::getSaveUserMediaFoldersToScan().value_or(QList<QUrl>());
    m_deviceID.set(deviceID);
    m_userDirectory.set(Utility::userDirectory());
    m_userDownloadDirectory.set(downloadDir);
    m_localLibrary.set({});
    m_cloudLibraryTracks.set({});
    m_duplicates.set({});
    m_userMediaFoldersToScan.set(folders);
    m_folderSongAmounts.set({});
    m_userPickedMediaLibrary = NSDefaultsUtility::getUserPickedMediaLibrary();
    m_syncMilliSeconds = 0;
    flow_changeSyncLibrarySyncFromSettings = false;
    flow_stopProcesses = false;
    settings_openAtLogin = openAtLogin;
    settings_showNotifications = NSDefaultsUtility::boolean(SettingsNotifications);
    settings_syncNewSongs = true;
    m_didUserPickLibrary = NSDefaultsUtility::getDidUserPickMediaLibrary();
    m_pause->reload();
    m_pauseFollowed = m_pause->isPaused();
    showPause();
}

void Sonarbox::reinitialize() {
    m_loggedUser.set(nullptr);
    m_jSessionID.set(std::nullopt);
    for (Guarded<QString> *text : {&m_syncStatus, &m_syncError, &m_syncMessage, &m_serverMessage,
                                   &m_upgradeUrl, &m_facebookAccessToken})
        text->set(QString());
    for (Guarded<StageOperationPtr> *op : {&m_scanOp, &m_fingerprintOp, &m_downloadOp, &m_uploadOp})
        op->set(nullptr);
    syncInProgress = false;
    isAppOffline = false;
    flow_newUser = false;
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
    const auto placeholder = [](const SyncRunPtr &run, Completion completion) {
        Sonarbox &s = Sonarbox::instance();
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

void Sonarbox::setStatusMenu(StatusMenu *menu) {
    m_statusMenu.set(menu);
    showPause();
}

StatusMenu &Sonarbox::statusMenu() {
    StatusMenu *menu = m_statusMenu.get();
    return menu ? *menu : g_noMenu;
}

SyncRunPtr Sonarbox::newRun() {
    auto run = std::make_shared<SyncRun>(runContext());
    m_runs.update([&](QList<std::weak_ptr<SyncRun>> &runs) {
        runs.removeIf([](const std::weak_ptr<SyncRun> &r) { return r.expired(); });
        runs.append(run);
    });
    return run;
}

void Sonarbox::setDuplicateLibraryTracks(const QList<AudioPtr> &v) {
    m_duplicates.set({});
    for (const AudioPtr &track : v)
        addDuplicateLibraryTrack(track);
}

void Sonarbox::addDuplicateLibraryTrack(const AudioPtr &track) {
    if (!track)
        return;
    const QString path = track->fileURL.value_or(QString());
    m_duplicates.update([&](Duplicates &d) {
        if (d.paths.contains(path))
            return;
        d.paths.insert(path);
        d.tracks.append(track);
    });
}
