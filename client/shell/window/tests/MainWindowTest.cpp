// The main window's flow: the first screen, the screen notifications, the
// progress page kept under later screens, overlays and closing.
#include "MainWindow.h"
#include "CustomView.h"
#include "ShellFixture.h"
#include "TestEnvironment.h"
#include "engine/Sonarbox.h"
#include "screens/ProcessPage.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/NotificationCenter.h"

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace {

QStringList namesOf(const MainWindow &window) {
    QStringList names;
    for (QWidget *view : window.subviews())
        names << qobject_cast<CustomView *>(view)->viewName();
    return names;
}

QString topName(const MainWindow &window) {
    CustomView *top = window.topView();
    return top ? top->viewName() : QStringLiteral("<none>");
}

void post(const char *name) {
    NotificationCenter::defaultCenter().postNotificationName(QLatin1String(name));
    // Screens removed by a switch are deleted once control is back in the
    // event loop.
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool waitForSignIn(const MainWindow &window) {
    return TestEnvironment::waitUntil([&] { return !window.isSigningIn(); }, 30000) &&
           TestEnvironment::waitUntil([&] { return window.topView() != nullptr; }, 5000);
}

class MainWindowTest : public ShellFixture {};

TEST_F(MainWindowTest, WithoutAStoredUserTheLandingFlagChoosesLandingOrLogin) {
    {
        MainWindow window;
        EXPECT_TRUE(window.loadError().isEmpty());
        EXPECT_FALSE(window.isSigningIn());
        EXPECT_EQ(namesOf(window), QStringList{"LandingPage"});
    }
    configure(false);
    MainWindow window;
    EXPECT_EQ(namesOf(window), QStringList{"LoginRegister"});
}

TEST_F(MainWindowTest, StoredUserWithAPickedLibraryGoesToTheProgressPageAndSyncs) {
    startCloud();
    storeUser(Password);
    NSDefaultsUtility::standard().saveDidUserPickMediaLibrary(QStringLiteral("YES"));

    MainWindow window;
    EXPECT_TRUE(window.isSigningIn());
    ASSERT_TRUE(waitForSignIn(window));
    EXPECT_EQ(namesOf(window), QStringList{"ProcessPage"});
    EXPECT_EQ(Sonarbox::instance().syncStatus(), "SUCCESS");
    EXPECT_TRUE(log.contains("=== SYNC PROCESS START"));
    EXPECT_FALSE(log.contains("User Logged in but did NOT pick a library"));
}

TEST_F(MainWindowTest, StoredUserWithoutALibraryGoesToThePicker) {
    startCloud();
    storeUser(Password);

    MainWindow window;
    ASSERT_TRUE(waitForSignIn(window));
    EXPECT_EQ(namesOf(window), QStringList{"MediaLibraryPicker"});
    EXPECT_TRUE(log.contains("User Logged in but did NOT pick a library"));
    EXPECT_FALSE(log.contains("=== SYNC PROCESS START"));
}

TEST_F(MainWindowTest, StoredUserThatCannotSignInLandsOnLoginWithTheConnectionMessage) {
    // Nobody listens on the configured gateway.
    storeUser(Password);
    NSDefaultsUtility::standard().saveDidUserPickMediaLibrary(QStringLiteral("YES"));

    MainWindow window;
    ASSERT_TRUE(waitForSignIn(window));
    EXPECT_EQ(namesOf(window), QStringList{"LoginRegister"});
    Sonarbox &sonarbox = Sonarbox::instance();
    EXPECT_EQ(sonarbox.syncStatus(), "FAILED");
    EXPECT_EQ(sonarbox.syncMessage(),
              "We could not sign you in. Please check your connection and try again.");
    EXPECT_TRUE(sonarbox.flow_errorAtLogin);
    EXPECT_FALSE(log.contains("=== SYNC PROCESS START"));
}

TEST_F(MainWindowTest, EveryScreenNotificationShowsItsScreen) {
    MainWindow window;
    const QList<std::pair<const char *, QString>> table = {
        {"showLoginScreen", "LoginRegister"},
        {"showSignUpScreen", "SignUp"},
        {"showLandingScreen", "LandingPage"},
        {"SuccessFullLoginNotification", "MediaLibraryPicker"},
        {"showMediaScanSummaryNotification", "MediaScanSummary"},
        {"showMediaPickerViewNotification", "MediaLibraryPicker"},
        {"showProcessingViewNotification", "ProcessPage"},
        {"showLaunchSBXScreenNotification", "LaunchSBX"},
        {"showAboutViewNotification", "Version"},
        {"showSettingsViewNotification", "Settings"},
        {"logOutNotification", "LoginRegister"},
    };
    for (const auto &[notification, screen] : table) {
        post(notification);
        EXPECT_EQ(topName(window), screen) << notification;
        EXPECT_TRUE(window.topView() && window.topView()->isVisibleTo(&window)) << notification;
    }
    // Log-out leaves a fresh login screen alone, the progress page included.
    EXPECT_EQ(namesOf(window), QStringList{"LoginRegister"});
}

TEST_F(MainWindowTest, EachSwitchMakesANewScreen) {
    MainWindow window;
    post("showLoginScreen");
    QPointer<CustomView> first = window.topView();
    post("showLoginScreen");
    EXPECT_TRUE(first.isNull()); // the old one is gone, not reused
    EXPECT_EQ(namesOf(window), QStringList{"LoginRegister"});
}

TEST_F(MainWindowTest, TheProgressPageStaysUnderLaterScreensAndIsReusedAfterLogOut) {
    MainWindow window;
    post("showProcessingViewNotification");
    QPointer<ProcessPage> page = window.processPageVC();
    ASSERT_TRUE(page);

    post("showLaunchSBXScreenNotification");
    EXPECT_EQ(namesOf(window), (QStringList{"ProcessPage", "LaunchSBX"}));
    post("showMediaPickerViewNotification");
    EXPECT_EQ(namesOf(window), (QStringList{"ProcessPage", "MediaLibraryPicker"}));

    post("logOutNotification");
    EXPECT_EQ(namesOf(window), QStringList{"LoginRegister"});
    ASSERT_TRUE(page); // out of the container, not destroyed

    post("showProcessingViewNotification");
    EXPECT_EQ(window.processPageVC(), page.data());
    EXPECT_EQ(namesOf(window), QStringList{"ProcessPage"});
    EXPECT_TRUE(page->isVisibleTo(&window));
}

TEST_F(MainWindowTest, ANewUserSeesTheProgressPageWithoutSyncAndDone) {
    MainWindow window;
    Sonarbox::instance().flow_newUser = true;
    post("showProcessingViewNotification");
    const ProcessPage *page = window.processPageVC();
    ASSERT_TRUE(page);
    QApplication::processEvents();
    EXPECT_FALSE(page->findChild<QPushButton *>("processVewSyncButton")->isVisibleTo(page));
    EXPECT_FALSE(page->findChild<QPushButton *>("doneBtn")->isVisibleTo(page));

    // Closing the window ends the new-user flow: both come back.
    window.show();
    window.close();
    QApplication::processEvents();
    EXPECT_FALSE(Sonarbox::instance().flow_newUser);
    EXPECT_TRUE(page->findChild<QPushButton *>("processVewSyncButton")->isVisibleTo(page));
    EXPECT_TRUE(page->findChild<QPushButton *>("doneBtn")->isVisibleTo(page));
}

TEST_F(MainWindowTest, AboutReturnsToTheHiddenScreenAndClosesTheWindow) {
    MainWindow window;
    window.show();
    post("showProcessingViewNotification");
    ProcessPage *page = window.processPageVC();

    post("showAboutViewNotification");
    EXPECT_EQ(topName(window), "Version");
    EXPECT_EQ(window.lastViewShown(), page);
    EXPECT_FALSE(page->isVisibleTo(&window));

    // Closing the window keeps the about screen over the hidden page.
    window.close();
    window.show();
    EXPECT_EQ(topName(window), "Version");
    EXPECT_FALSE(page->isVisibleTo(&window));

    post("closeAboutViewNotification");
    EXPECT_EQ(namesOf(window), QStringList{"ProcessPage"});
    EXPECT_TRUE(page->isVisibleTo(&window));
    EXPECT_FALSE(window.isVisible());
}

TEST_F(MainWindowTest, ClosingSettingsRemovesItAndShowsTheScreenUnderneath) {
    MainWindow window;
    window.show();
    post("showLaunchSBXScreenNotification");
    QWidget *launch = window.topView();

    post("showSettingsViewNotification");
    // Asked for again while it is up: still one settings view over the same screen.
    post("showSettingsViewNotification");
    EXPECT_EQ(namesOf(window), (QStringList{"LaunchSBX", "Settings"}));
    EXPECT_FALSE(launch->isVisibleTo(&window));

    post("closeSettingsViewNotification");
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(namesOf(window), QStringList{"LaunchSBX"});
    EXPECT_TRUE(launch->isVisibleTo(&window));
    EXPECT_TRUE(log.contains("Settings Closed"));
}

TEST_F(MainWindowTest, ClosingOnTheWebApplicationScreenShowsTheProgressPageNextTime) {
    MainWindow window;
    window.show();
    post("showProcessingViewNotification");
    // The page's own Next button leads on.
    window.processPageVC()->findChild<QPushButton *>("launchSbxBtn")->click();
    QApplication::processEvents();
    EXPECT_EQ(topName(window), "LaunchSBX");

    window.close();
    QApplication::processEvents();
    window.show();
    EXPECT_EQ(namesOf(window), QStringList{"ProcessPage"});
    EXPECT_TRUE(window.processPageVC()->isVisibleTo(&window));
}

// Screens stay in the container under later ones; none of them may take
// the keyboard while covered.
TEST_F(MainWindowTest, FocusAndEnterNeverReachACoveredScreen) {
    MainWindow window;
    window.show();
    QApplication::setActiveWindow(&window);
    post("showProcessingViewNotification");
    ProcessPage *page = window.processPageVC();
    ASSERT_TRUE(page);
    for (const char *above : {"showLaunchSBXScreenNotification", "showSettingsViewNotification"}) {
        SCOPED_TRACE(above);
        post(above);
        ASSERT_NE(window.topView(), page);
        EXPECT_FALSE(page->isVisibleTo(&window));
        for (int i = 0; i < 20; ++i) {
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &window,
                            Qt::Key_Tab);
            QWidget *focused = QApplication::focusWidget();
            EXPECT_FALSE(focused && page->isAncestorOf(focused))
                << "Tab reached " << focused->objectName().toStdString();
        }
        // Enter on the screen on top never presses the page's Sync.
        QTest::keyClick(&window, Qt::Key_Return);
        QApplication::processEvents();
        EXPECT_FALSE(log.contains("[toggleSync:] @class:ProcessPage"));
        EXPECT_FALSE(Sonarbox::instance().syncInProgress);
        post("showProcessingViewNotification");
        EXPECT_TRUE(page->isVisibleTo(&window));
    }
}

// Logging out while the stored account is still being signed in: the
// sign-in's answer, arriving later, must neither change the screen nor start
// a sync for the account that left.
TEST_F(MainWindowTest, LoggingOutDuringTheStartUpSignInDropsItsAnswer) {
    startCloud();
    storeUser(Password);
    NSDefaultsUtility::standard().saveDidUserPickMediaLibrary(QStringLiteral("YES"));

    MainWindow window;
    ASSERT_TRUE(window.isSigningIn());
    Sonarbox::instance().logOutAction();
    QApplication::processEvents();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !window.isSigningIn(); }, 30000));
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    EXPECT_EQ(namesOf(window), QStringList{"LoginRegister"});
    EXPECT_FALSE(log.contains("=== SYNC PROCESS START"));
    EXPECT_FALSE(Sonarbox::instance().syncInProgress);
}

TEST_F(MainWindowTest, ANotificationPostedOffTheMainThreadSwitchesOnTheMainThread) {
    MainWindow window;
    std::thread poster([] {
        NotificationCenter::defaultCenter().postNotificationName(
            QStringLiteral("showSignUpScreen"));
    });
    poster.join();
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return topName(window) == "SignUp"; }));
    EXPECT_EQ(window.topView()->thread(), QApplication::instance()->thread());
}

} // namespace
