// The coordinator's session and platform commands: log-out, forgetting the
// account, download folder, web site, login items, notifications, network.
#include "Sonarbox.h"

#include "settings/DeploymentConfig.h"
#include "settings/GAUtility.h"
#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/NotificationCenter.h"
#include "settings/PreferenceKeys.h"
#include "settings/Reachability.h"
#include "settings/Utility.h"
#include "store/GenericDAO.h"
#include "sync/LoginItems.h"

#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

namespace {
// What minOSVersion holds on every desktop: above 9, the first version that
// has desktop notifications and plain "file://" URLs.
constexpr int CurrentDesktopVersion = 99;

void logCall(const char *selector) {
    qCInfo(lcSync).noquote() << QStringLiteral("[%1] @class:Sonarbox").arg(QLatin1String(selector));
}

// The leading "major.minor" of a version text as a number ("0.1.0" -> 0.1).
double versionNumber(const QString &version) {
    static const QRegularExpression leading(QStringLiteral("^\\d+(\\.\\d+)?"));
    return leading.match(version).captured(0).toDouble();
}
} // namespace

void Sonarbox::logOutAction() {
    logOut();
}

void Sonarbox::logOut() {
    logCall("logOut");
    stopSyncAction();
    QMetaObject::invokeMethod(
        this, [this] { m_syncTimer->stop(); },
        thread() == QThread::currentThread() ? Qt::DirectConnection : Qt::QueuedConnection);
    setJSessionID(QString(""));
    setSyncStatus(QString());
    setSyncError(QString());
    resetUser();
    notifications().postNotificationName(QStringLiteral("logOutNotification"), this);
}

void Sonarbox::resetUser() {
    logCall("resetUser");
    forgetAccountData();
    m_lastScan.set({});
    m_resumeWhenOnline = false;
    const Stages stages = m_stages.get();
    if (stages.setAmoundOfSongsFingerprinted)
        stages.setAmoundOfSongsFingerprinted(0);
    preferences().saveSongAmountToProcessFromLibrary(0);
    preferences().saveDidUserPickMediaLibrary(QStringLiteral("NO"));
    preferences().resetUserDownloadDirectory();
    preferences().resetUserMediaFoldersToScan();
    store().resetAllTracksInDB();
    store().deleteAll(QStringLiteral("User"));
}

void Sonarbox::changeDefaultDownloadDir(std::function<void(const QString &)> showPath) {
    const FolderChooser chooser = m_folderChooser.get();
    if (!chooser) {
        qCWarning(lcSync) << "No folder chooser: the download folder stays"
                          << userDownloadDirectory();
        return;
    }
    chooser(QStringLiteral("Pick a folder to Download to..."),
            [this, showPath](std::optional<QString> folder) {
                if (!folder || folder->isEmpty())
                    return;
                setUserDownloadDirectory(*folder);
                preferences().saveUserDownloadDirectory(*folder);
                if (showPath)
                    showPath(Utility::getShortenedFolderPath(*folder));
            });
}

void Sonarbox::showNewUserFlow(bool newUser) {
    m_progress.showNewUserFlow(newUser);
}

void Sonarbox::openUrl(const QString &url) {
    const std::function<bool(const QUrl &)> opener = m_urlOpener.get();
    const QUrl target(url);
    const bool opened =
        opener ? opener(target) : QProcess::startDetached(QStringLiteral("xdg-open"), {url});
    if (!opened)
        qCWarning(lcSync).noquote() << "Could not open" << url;
}

void Sonarbox::launchSBX() {
    notifyMothership(QStringLiteral("ACTIVE"), 0);
    openUrl(deployment().webSiteUrl + QLatin1Char('/'));
}

void Sonarbox::launchSBXWebsite() {
    qCInfo(lcSync) << "launchSBXWebsite";
    openUrl(deployment().webSiteUrl);
}

void Sonarbox::helpAction() {
    openUrl(deployment().webSiteUrl + QStringLiteral("/#/faq"));
}

// ---- login items

bool Sonarbox::isAppInLoginItems() const {
    return LoginItems::contains();
}

void Sonarbox::registerLoginItemAtStart() {
    using namespace PreferenceKeys;
    if (!preferences().contains(FirstTimeAppRun)) {
        addAppAsLoginItem();
        preferences().setText(FirstTimeAppRun, QStringLiteral("YES"));
        preferences().synchronize();
    }
    // The settings' switch: on, the program is listed again at every start
    // (nothing is added when it is); off, it is left out.
    if (preferences().boolean(LoadAppOnOSBoot))
        addAppAsLoginItem();
}

void Sonarbox::addAppAsLoginItem() {
    if (LoginItems::contains())
        return;
    if (!LoginItems::add()) {
        qCWarning(lcSync) << "Could not write the autostart entry" << LoginItems::entryPath();
        return;
    }
    qCInfo(lcSync) << "Application ADDED to System Login Items";
    settings_openAtLogin = true;
    preferences().setText(PreferenceKeys::LoadAppOnOSBoot, QStringLiteral("YES"));
    preferences().setText(PreferenceKeys::FirstTimeAppRun, QStringLiteral("NO"));
    preferences().synchronize();
}

void Sonarbox::deleteAppFromLoginItem() {
    const int removed = LoginItems::remove();
    for (int i = 0; i < removed; ++i) {
        settings_openAtLogin = false;
        qCInfo(lcSync) << "Application DELETED to System Login Items";
        preferences().setText(PreferenceKeys::LoadAppOnOSBoot, QStringLiteral("NO"));
        preferences().synchronize();
    }
}

// ---- platform

void Sonarbox::isTheAppRunningFirstTime() {
    const double running = versionNumber(deployment().bundleVersion);
    const auto stored = preferences().number(PreferenceKeys::Version);
    if (stored && qFuzzyCompare(*stored + 1.0, running + 1.0))
        return;
    GAUtility::instance().GAFirstRun();
    preferences().setNumber(PreferenceKeys::Version, running);
}

void Sonarbox::getOSVersion() {
    // The version only tells whether the desktop offers notifications and
    // plain "file://" URLs. Every Linux desktop the client runs on does, and a
    // distribution's release number (Alpine 3, RHEL 8 ...) says nothing about
    // that, so the answer is always "a current desktop".
    setMinOSVersion(CurrentDesktopVersion);
}

void Sonarbox::reachabilityChanged(bool reachable) {
    if (reachable) {
        const bool wasOffline = isAppOffline.exchange(false);
        statusMenu().statusMenuShowBackOnline();
        if (loggedUser() && syncInProgress)
            sync(false);
        else if (wasOffline && m_resumeWhenOnline && loggedUser())
            m_resumeTimer->start(m_resumeDelayMs);
    } else {
        m_resumeTimer->stop();
        if (syncInProgress) {
            stopSyncAction();
            m_resumeWhenOnline = m_resumeAfterNetworkLoss.load();
        }
        isAppOffline = true;
        statusMenu().statusMenuShowOffline();
    }
}

void Sonarbox::startNetworkMonitoring() {
    if (m_reachability)
        return;
    // The system's word on metered connections, unless a source was chosen.
    if (!m_pause->hasMeteredSource())
        m_pause->setMeteredSource(std::make_shared<SystemMeteredSource>());
    const DeploymentConfig &config = deployment();
    m_reachability =
        Reachability::reachabilityWithHostname(config.reachabilityHost, config.reachabilityPort);
    if (!m_reachability) {
        // No notifications will come: the offline flag keeps its value.
        qCWarning(lcSync).noquote()
            << "No network monitor for"
            << QStringLiteral("%1:%2").arg(config.reachabilityHost).arg(config.reachabilityPort);
        return;
    }
    m_reachabilityObserver = notifications().addObserver(
        QStringLiteral("kReachabilityChangedNotification"), [this](QObject *object) {
            // Other monitors post the same notification; only ours decides.
            if (!m_reachability || object != m_reachability.get())
                return;
            reachabilityChanged(m_reachability->isReachable());
        });
    if (!m_reachability->startNotifier())
        stopNetworkMonitoring();
}

void Sonarbox::stopNetworkMonitoring() {
    if (m_reachabilityObserver)
        notifications().removeObserver(m_reachabilityObserver);
    m_reachabilityObserver = 0;
    if (m_reachability)
        m_reachability->stopNotifier();
    m_reachability.reset();
}
