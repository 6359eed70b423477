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
    // Timers and queued calls belong to the main thread, whichever thread
    // asked first (the timer moves with its parent).
    if (QCoreApplication *app = QCoreApplication::instance())
        moveToThread(app->thread());
    m_validExtensions = {
        QStringLiteral("mp3"),  QStringLiteral("m4a"), QStringLiteral("MP3"), QStringLiteral("M4A"),
        QStringLiteral("mP3"),  QStringLiteral("m4A"), QStringLiteral("Mp3"), QStringLiteral("M4a"),
        QStringLiteral("aac"),  QStringLiteral("aif"), QStringLiteral("iff"), QStringLiteral("ra"),
        QStringLiteral("RA"),   QStringLiteral("rA"),  QStringLiteral("Ra"),  QStringLiteral("wav"),
        QStringLiteral("wma"),  QStringLiteral("ogg"), QStringLiteral("mpa"), QStringLiteral("MPA"),
        QStringLiteral("flac"), QStringLiteral("FLAC")};
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
    m_userDirectory.set(QDir::homePath() + QLatin1Char('/'));
    m_userDownloadDirectory.set(downloadDir);
    m_localLibraryTracks.set({});
    m_cloudLibraryTracks.set({});
    m_duplicateLibraryTracks.set({});
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
    stopNetworkMonitoring();
    QMetaObject::invokeMethod(
        this, [this] { m_syncTimer->stop(); },
        thread() == QThread::currentThread() ? Qt::DirectConnection : Qt::BlockingQueuedConnection);
    initializeState();
}

// ---- wiring

Sonarbox::Stages Sonarbox::placeholderStages() {
    // Until the stages are built, each one only honours a stop request and
    // continues the chain.
    const auto placeholder = [](Completion completion) {
        Sonarbox &s = Sonarbox::instance();
        if (s.flow_stopProcesses) {
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

StatusMenu &Sonarbox::statusMenu() {
    StatusMenu *menu = m_statusMenu.get();
    return menu ? *menu : g_noMenu;
}
