#pragma once

#include "accounts/SignInResult.h"
#include "library/MediaLibraryPicker.h"
#include "library/MediaScanSummary.h"
#include "screens/LaunchSBX.h"
#include "screens/ProcessPage.h"
#include "screens/Settings.h"
#include "screens/Version.h"
#include "signin/LandingPage.h"
#include "signin/LoginRegister.h"
#include "signin/SignUp.h"

#include <QFutureWatcher>
#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <memory>

namespace Ui {
class MainWindow;
}

// The one window in which every screen is shown. It decides the first screen
// when it loads, and switches screens when a screen or the coordinator posts
// one of the screen notifications. Screens are stacked in `mainView`; the
// last added is on top. The progress page is made once and stays underneath
// later screens; every other screen is made anew each time it is shown.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Loads the window: observers, fonts (a failure is fatal: it is logged and
    // the program's event loop ends with status 1), the stored user, and the
    // first screen, which for a stored user follows a sign-in in the
    // background.
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Why loading failed (empty when it did not).
    QString loadError() const { return m_loadError; }
    // While the stored user is signed in again at start.
    bool isSigningIn() const;
    // Closing hides the window unless this is set; then it is minimised
    // instead (desktops without a tray, where the window is the way back in).
    void setMinimizeOnClose(bool minimize) { m_minimizeOnClose = minimize; }

    QWidget *mainView() const;
    // The screens in the container, bottom first.
    QList<QWidget *> subviews() const;
    // The top-most screen, or nullptr.
    CustomView *topView() const;
    QWidget *lastViewShown() const { return m_lastViewShown; }
    ProcessPage *processPageVC() const { return m_processPageVC; }

    // Handlers of the screen notifications.
    void LoggedInSuccessFull();
    void showMediaScanSummary();
    void showProcessingView();
    void showMediaLibraryPicker();
    void showLaunchSBXView();
    void showAboutView();
    void closeAboutView();
    void showSettingsView();
    void closeSettingsView();
    void showLandingView();
    void showSignUpView();
    void showLoginView();
    void userLoggedOut();

signals:
    // The background sign-in of the stored user has ended and its screen is shown.
    void storedUserSignInFinished(bool signedIn);
    // The service refused the stored account (its password changed): the
    // person must sign in again.
    void storedUserRefused();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void windowDidLoad();
    void observe(const char *name, void (MainWindow::*handler)());
    // The stored account's record, without its secrets (no keyring asked).
    static UserPtr storedAccountRecord();
    void doLogin(const UserPtr &record);
    void loginFinished(SignInResult::Outcome result);
    void windowWillClose();

    template <typename Screen> Screen *switchTo(QPointer<Screen> &reference);
    template <typename Screen> Screen *showOverlay(QPointer<Screen> &reference);
    void removeAllSubviews();
    void removeSubview(QWidget *view);
    void coverAllButTop();
    void addSubviewToMainWindow(QWidget *view);
    void hideViewToShowNewOnTop();

    std::unique_ptr<Ui::MainWindow> ui;
    QList<QPointer<QWidget>> m_subviews;
    QPointer<QWidget> m_lastViewShown;
    QPointer<LandingPage> m_landingPageView;
    QPointer<SignUp> m_signUpPageView;
    QPointer<LoginRegister> m_loginRegisterVC;
    QPointer<MediaLibraryPicker> m_libraryPicker;
    QPointer<MediaScanSummary> m_mediaScanSummaryView;
    QPointer<ProcessPage> m_processPageVC;
    QPointer<LaunchSBX> m_launchSBXView;
    QPointer<Version> m_aboutView;
    QPointer<Settings> m_settingsView;
    struct SignInAnswer {
        SignInResult::Outcome result = SignInResult::Outcome::NoAnswer;
        UserPtr user; // the account that was signed in
    };
    QFutureWatcher<SignInAnswer> m_signIn;
    QList<int> m_observers;
    QString m_loadError;
    bool m_minimizeOnClose = false;
};
