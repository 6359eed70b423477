#pragma once

#include "LibraryChoice.h"

#include <QString>

#include <atomic>
#include <memory>

class AnalyticsHelper;

// The one place that reports usage events: every caller names what happened
// and this turns it into an event (action, category, label, value) for the
// tracker. Nothing is sent, logged or even opened on the network unless the
// deployment turns analytics on (TrackWithGoogleAnalytics); the user's
// "Share anonymous usage statistics" preference, read at each event, can
// turn it off again. Callable from any thread; never waits for the network.
class GAUtility {
public:
    // Created on first use, which sends "appLoads" when reporting is on.
    static GAUtility &instance();
    // Replaces the singleton with a new one read from the current deployment
    // (which sends "appLoads" again); the old one stops sending. For a
    // deployment loaded after start and for tests.
    static void reinitialize();

    bool allowTrackWithGoogleAnalytics() const { return m_allowTrackWithGoogleAnalytics; }
    // Null when the deployment keeps analytics off.
    AnalyticsHelper *analyticsHelper() const { return m_analyticsHelper.get(); }
    // The user's preference (absent counts as YES).
    static bool userSharesUsageStatistics();

    void GACallExecution(const QString &action, const QString &withEventCategory,
                         const QString &withEventLabel, qint64 eventValue);
    void GATrackView(const QString &screenName);

    void GALoginButtonClicked();
    void GALoginButtonSuccessfulLogin();
    void GALoginButtonFailLogin();
    void GASignInButtonClickedFromLandingPage();
    void GASignUpButtonClickedFromLandingPage();
    void GASignUpButtonClickedFromSignUpPage();
    void GASignUpSuccess();
    void GASignUpFail();
    void GABackButtonClickedFromSignUpPage();
    void GAFacebookLoginButtonClicked();
    void GAFacebookLoginSuccessful();
    void GAFacebookLoginFailed();
    void GAFacebookSignUpClickedFromLandingPage();
    void GAUserLibraryPicked(LibraryChoice choice);
    void GASongsToProcess(qint64 count);
    void GASongsSuccessfullyFingerprinted(qint64 count);
    void GASongsUploaded(qint64 count);
    void GAFirstRun();
    void GAApplicationFirstRun();

    ~GAUtility();

private:
    GAUtility();
    bool reporting() const;
    void registration(const QString &action, qint64 value = 1);
    void shutdown();

    std::atomic<bool> m_allowTrackWithGoogleAnalytics{false};
    std::unique_ptr<AnalyticsHelper> m_analyticsHelper;
};
