#include "Sonarbox.h"

#include "LoginItems.h"
#include "settings/DeploymentConfig.h"
#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/PreferenceKeys.h"

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
    initializeState();
}

void Sonarbox::initializeState() {
    getOSVersion();

    using namespace PreferenceKeys;
    if (!NSDefaultsUtility::contains(LoadAppOnOSBoot))
        NSDefaultsUtility::setText(LoadAppOnOSBoot, QStringLiteral("YES"));
    if (!NSDefaultsUtility::contains(FirstTimeAppRun)) {
        addAppAsLoginItem();
        NSDefaultsUtility::setText(FirstTimeAppRun, QStringLiteral("YES"));
    }
    if (!NSDefaultsUtility::contains(SettingsNotifications))
        NSDefaultsUtility::setBoolean(SettingsNotifications, false);
    NSDefaultsUtility::synchronize();

    const bool openAtLogin = NSDefaultsUtility::boolean(LoadAppOnOSBoot);
    if (openAtLogin)
        addAppAsLoginItem();

    m_landingPageEnabled = DeploymentConfig::current().landingPageEnabled;
    const QString deviceID = NSDefaultsUtility::getUUID();
    const QString downloadDir = NSDefaultsUtility::getUserDownloadDirectory();
    const QList<QUrl> folders =
        NSDefaultsUtility::getSaveUserMediaFoldersToScan().value_or(QList<QUrl>());
    {
        std::lock_guard lock(m_lock);
        m_deviceID = deviceID;
        m_userDirectory = QDir::homePath() + QLatin1Char('/');
        m_userDownloadDirectory = downloadDir;
        m_localLibraryTracks.clear();
        m_cloudLibraryTracks.clear();
        m_duplicateLibraryTracks.clear();
        m_userMediaFoldersToScan = folders;
        m_folderSongAmounts.clear();
    }
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
    {
        std::lock_guard lock(m_lock);
        m_loggedUser.reset();
        m_jSessionID.reset();
        m_syncStatus.clear();
        m_syncError.clear();
        m_syncMessage.clear();
        m_serverMessage.clear();
        m_upgradeUrl.clear();
        m_facebookAccessToken.clear();
        m_scanOp.reset();
        m_fingerprintOp.reset();
        m_downloadOp.reset();
        m_uploadOp.reset();
    }
    syncInProgress = false;
    isAppOffline = false;
    flow_newUser = false;
    flow_errorAtLogin = false;
    registrationProcess = false;
    fbLogin = false;
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

void Sonarbox::setStages(Stages stages) {
    std::lock_guard lock(m_lock);
    m_stages = std::move(stages);
}

void Sonarbox::setStatusReporter(std::function<void(const QString &, int)> reporter) {
    std::lock_guard lock(m_lock);
    m_statusReporter = std::move(reporter);
}

void Sonarbox::setUrlOpener(std::function<bool(const QUrl &)> opener) {
    std::lock_guard lock(m_lock);
    m_urlOpener = std::move(opener);
}

void Sonarbox::setFolderChooser(FolderChooser chooser) {
    std::lock_guard lock(m_lock);
    m_folderChooser = std::move(chooser);
}

void Sonarbox::setStatusMenu(StatusMenu *menu) {
    std::lock_guard lock(m_lock);
    m_statusMenu = menu;
}

StatusMenu &Sonarbox::statusMenu() {
    std::lock_guard lock(m_lock);
    return m_statusMenu ? *m_statusMenu : g_noMenu;
}

// ---- guarded properties

#define SONARBOX_TEXT_PROPERTY(getter, setter, member)                                             \
    QString Sonarbox::getter() const {                                                             \
        std::lock_guard lock(m_lock);                                                              \
        return member;                                                                             \
    }                                                                                              \
    void Sonarbox::setter(const QString &v) {                                                      \
        std::lock_guard lock(m_lock);                                                              \
        member = v;                                                                                \
    }

SONARBOX_TEXT_PROPERTY(syncStatus, setSyncStatus, m_syncStatus)
SONARBOX_TEXT_PROPERTY(syncError, setSyncError, m_syncError)
SONARBOX_TEXT_PROPERTY(syncMessage, setSyncMessage, m_syncMessage)
SONARBOX_TEXT_PROPERTY(serverMessage, setServerMessage, m_serverMessage)
SONARBOX_TEXT_PROPERTY(upgradeUrl, setUpgradeUrl, m_upgradeUrl)
SONARBOX_TEXT_PROPERTY(facebookAccessToken, setFacebookAccessToken, m_facebookAccessToken)
SONARBOX_TEXT_PROPERTY(userDownloadDirectory, setUserDownloadDirectory, m_userDownloadDirectory)
#undef SONARBOX_TEXT_PROPERTY

UserPtr Sonarbox::loggedUser() const {
    std::lock_guard lock(m_lock);
    return m_loggedUser;
}

void Sonarbox::setLoggedUser(UserPtr user) {
    std::lock_guard lock(m_lock);
    m_loggedUser = std::move(user);
}

std::optional<QString> Sonarbox::jSessionID() const {
    std::lock_guard lock(m_lock);
    return m_jSessionID;
}

void Sonarbox::setJSessionID(std::optional<QString> session) {
    std::lock_guard lock(m_lock);
    m_jSessionID = std::move(session);
}

QString Sonarbox::deviceID() const {
    std::lock_guard lock(m_lock);
    return m_deviceID;
}

QString Sonarbox::userDirectory() const {
    std::lock_guard lock(m_lock);
    return m_userDirectory;
}

QList<QUrl> Sonarbox::userMediaFoldersToScan() const {
    std::lock_guard lock(m_lock);
    return m_userMediaFoldersToScan;
}

void Sonarbox::setUserMediaFoldersToScan(const QList<QUrl> &v) {
    std::lock_guard lock(m_lock);
    m_userMediaFoldersToScan = v;
}

QMap<QString, QString> Sonarbox::userMediaFoldersToScanWithSongAmounts() const {
    std::lock_guard lock(m_lock);
    return m_folderSongAmounts;
}

void Sonarbox::setUserMediaFoldersToScanWithSongAmounts(const QMap<QString, QString> &v) {
    std::lock_guard lock(m_lock);
    m_folderSongAmounts = v;
}

QList<AudioPtr> Sonarbox::localLibraryTracks() const {
    std::lock_guard lock(m_lock);
    return m_localLibraryTracks;
}

void Sonarbox::setLocalLibraryTracks(const QList<AudioPtr> &v) {
    std::lock_guard lock(m_lock);
    m_localLibraryTracks = v;
}

void Sonarbox::addLocalLibraryTrack(const AudioPtr &track) {
    std::lock_guard lock(m_lock);
    m_localLibraryTracks.append(track);
}

QList<AudioPtr> Sonarbox::cloudLibraryTracks() const {
    std::lock_guard lock(m_lock);
    return m_cloudLibraryTracks;
}

void Sonarbox::setCloudLibraryTracks(const QList<AudioPtr> &v) {
    std::lock_guard lock(m_lock);
    m_cloudLibraryTracks = v;
}

QList<AudioPtr> Sonarbox::duplicateLibraryTracks() const {
    std::lock_guard lock(m_lock);
    return m_duplicateLibraryTracks;
}

void Sonarbox::setDuplicateLibraryTracks(const QList<AudioPtr> &v) {
    std::lock_guard lock(m_lock);
    m_duplicateLibraryTracks = v;
}

void Sonarbox::addDuplicateLibraryTrack(const AudioPtr &track) {
    std::lock_guard lock(m_lock);
    m_duplicateLibraryTracks.append(track);
}

StageOperationPtr Sonarbox::operation_scanFileSysForMedia() const {
    std::lock_guard lock(m_lock);
    return m_scanOp;
}

StageOperationPtr Sonarbox::operation_fingerprintLocalMedia() const {
    std::lock_guard lock(m_lock);
    return m_fingerprintOp;
}

StageOperationPtr Sonarbox::operation_downloadFilesFromCloud() const {
    std::lock_guard lock(m_lock);
    return m_downloadOp;
}

StageOperationPtr Sonarbox::operation_uploadFilesToCloud() const {
    std::lock_guard lock(m_lock);
    return m_uploadOp;
}
