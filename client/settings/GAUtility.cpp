#include "GAUtility.h"

#include "AnalyticsHelper.h"
#include "DeploymentConfig.h"
#include "Logging.h"
#include "NSDefaultsUtility.h"
#include "PreferenceKeys.h"

#include <QCoreApplication>
#include <QList>
#include <QMutex>

namespace {

const QString kRegistration = QStringLiteral("Registration");
const QString kAppleStore = QStringLiteral("AppleStore");

QMutex g_classLock;
GAUtility *g_instance = nullptr;

// A short-lived run (a command-line sync, a start that fails) would lose the
// events of its last moments: they get a moment to leave, never more.
void stopSendingAtExit() {
    QMutexLocker lock(&g_classLock);
    if (g_instance && g_instance->analyticsHelper()) {
        g_instance->analyticsHelper()->flush(AnalyticsHelper::ExitGraceMs);
        g_instance->analyticsHelper()->shutdown();
    }
}

} // namespace

GAUtility &GAUtility::instance() {
    QMutexLocker lock(&g_classLock);
    if (!g_instance) {
        g_instance = new GAUtility;
        qAddPostRoutine(stopSendingAtExit);
    }
    return *g_instance;
}

void GAUtility::reinitialize() {
    QMutexLocker lock(&g_classLock);
    GAUtility *previous = g_instance;
    if (!previous)
        qAddPostRoutine(stopSendingAtExit);
    // The previous object stays alive, silent: callers may hold references to
    // it. Replaced senders are owned by a list that lives as long as the
    // process (never destroyed: a sender may still be referred to at exit).
    if (previous) {
        previous->shutdown();
        static auto *retired = new QList<GAUtility *>;
        retired->append(previous);
    }
    g_instance = new GAUtility;
}

GAUtility::GAUtility() {
    const DeploymentConfig &config = DeploymentConfig::current();
    m_allowTrackWithGoogleAnalytics = config.trackWithGoogleAnalytics;
    if (!m_allowTrackWithGoogleAnalytics)
        return;

    m_analyticsHelper = std::make_unique<AnalyticsHelper>();
    m_analyticsHelper->setDomainName(QUrl(config.webSiteUrl).host());
    m_analyticsHelper->setAnalyticsAccountCode(config.analyticsPropertyId);
    m_analyticsHelper->setCollectorUrl(QUrl(config.analyticsCollectorUrl));
    // The same identifier the coordinator reports as its device ID.
    m_analyticsHelper->setClientId(NSDefaultsUtility::standard().getUUID());

    if (!userSharesUsageStatistics())
        return;
    const bool accepted = m_analyticsHelper->fireEvent(
        QStringLiteral("appLoads"), kRegistration, kAppleStore, 1, true, [](bool sent) {
            qCInfo(lcSettings) << (sent ? "Google Analytics: appLoads"
                                        : "Google Analytics: appLoads Failed");
        });
    if (!accepted)
        qCInfo(lcSettings) << "Google Analytics: appLoads Failed";
}

GAUtility::~GAUtility() = default;

void GAUtility::shutdown() {
    m_allowTrackWithGoogleAnalytics = false;
    if (m_analyticsHelper)
        m_analyticsHelper->shutdown();
}

bool GAUtility::userSharesUsageStatistics() {
    return !NSDefaultsUtility::standard().contains(PreferenceKeys::ShareUsageStatistics) ||
           NSDefaultsUtility::standard().boolean(PreferenceKeys::ShareUsageStatistics);
}

bool GAUtility::reporting() const {
    // The deployment's switch first: when it is off the preferences are not
    // even read.
    return m_allowTrackWithGoogleAnalytics && m_analyticsHelper && userSharesUsageStatistics();
}

void GAUtility::GACallExecution(const QString &action, const QString &withEventCategory,
                                const QString &withEventLabel, qint64 eventValue) {
    if (!reporting())
        return;
    // The result is known only when the collector has answered.
    const bool accepted = m_analyticsHelper->fireEvent(
        action, withEventCategory, withEventLabel, eventValue, true, [action](bool sent) {
            if (sent)
                qCInfo(lcSettings).noquote()
                    << QStringLiteral("Google Analytics: [%1] Sent").arg(action);
            else
                qCInfo(lcSettings).noquote()
                    << QStringLiteral("Google Analytics: %1 Failed").arg(action);
        });
    if (!accepted)
        qCInfo(lcSettings).noquote() << QStringLiteral("Google Analytics: %1 Failed").arg(action);
}

void GAUtility::registration(const QString &action, qint64 value) {
    GACallExecution(action, kRegistration, kAppleStore, value);
}

void GAUtility::GATrackView(const QString &screenName) {
    GACallExecution(screenName, QStringLiteral("AppViews"), QString(), 1);
}

void GAUtility::GALoginButtonClicked() {
    registration(QStringLiteral("SBXLoginSubmit"));
}

void GAUtility::GALoginButtonSuccessfulLogin() {
    registration(QStringLiteral("SBXLoginSuccess"));
}

void GAUtility::GALoginButtonFailLogin() {
    registration(QStringLiteral("SBXLoginErr"));
}

void GAUtility::GASignInButtonClickedFromLandingPage() {
    registration(QStringLiteral("SBXLoginStart"));
}

void GAUtility::GASignUpButtonClickedFromLandingPage() {
    registration(QStringLiteral("SBXJoinStart"));
}

void GAUtility::GASignUpButtonClickedFromSignUpPage() {
    registration(QStringLiteral("SBXJoinSubmit"));
}

void GAUtility::GASignUpSuccess() {
    registration(QStringLiteral("SBXJoinSuccess"));
}

void GAUtility::GASignUpFail() {
    registration(QStringLiteral("SBXJoinErr"));
}

void GAUtility::GABackButtonClickedFromSignUpPage() {
    registration(QStringLiteral("SBXJoinCancel"));
}

void GAUtility::GAFacebookLoginButtonClicked() {
    registration(QStringLiteral("FacebookLoginStart"));
}

void GAUtility::GAFacebookLoginSuccessful() {
    registration(QStringLiteral("FacebookLoginSuccess"));
}

void GAUtility::GAFacebookLoginFailed() {
    registration(QStringLiteral("FacebookLoginErr"));
}

void GAUtility::GAFacebookSignUpClickedFromLandingPage() {
    registration(QStringLiteral("FacebookSignUpStart"));
}

void GAUtility::GAUserLibraryPicked(LibraryChoice choice) {
    switch (choice) {
    case LibraryChoice::MusicPlayer:
        registration(QStringLiteral("SBXUserPickedLibrary_iTunes"));
        break;
    case LibraryChoice::MusicFolder:
        registration(QStringLiteral("SBXUserPickedLibrary_MusicFolder"));
        break;
    case LibraryChoice::ChosenFolders:
        registration(QStringLiteral("SBXUserPickedLibrary_OtherFolder"));
        break;
    }
}

void GAUtility::GASongsToProcess(qint64 count) {
    registration(QStringLiteral("SBXSongsToProcess"), count);
}

void GAUtility::GASongsSuccessfullyFingerprinted(qint64 count) {
    registration(QStringLiteral("SBXSongsSuccessfullyFingerprinted"), count);
}

void GAUtility::GASongsUploaded(qint64 count) {
    registration(QStringLiteral("SBXSongsUploaded"), count);
}

void GAUtility::GAFirstRun() {
    registration(QStringLiteral("FirstRun"));
}

void GAUtility::GAApplicationFirstRun() {
    GAFirstRun();
}
