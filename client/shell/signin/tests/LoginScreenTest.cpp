// The login and landing screens: sign-in against a real sonarbox-cloud,
// refusals on the screen, the offline lock, keyboard use.
#include "SigninFixture.h"

#include "CloudProcess.h"
#include "LandingPage.h"
#include "LoginRegister.h"
#include "TestEnvironment.h"
#include "engine/Sonarbox.h"
#include "store/GenericDAO.h"

#include <QApplication>
#include <QTest>

namespace {

class LoginScreenTest : public SigninFixture {};

class LoginCloudTest : public SigninFixture {
protected:
    void SetUp() override {
        SigninFixture::SetUp();
        ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
        ASSERT_TRUE(cloud.start());
        useService(cloud.baseUrl());
    }
    CloudProcess cloud;
};

} // namespace

TEST_F(LoginCloudTest, EnterSignsInStoresTheUserAndAnnouncesIt) {
    LogCapture log;
    LoginRegister screen;
    showScreen(&screen);
    const auto &ui = screen.controls();
    ui.loginUsernameField->setFocus();
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("ada@example.com"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), ui.loginPasswordField);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("s3cret!"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(ui.loginBtn->isEnabled()); // while the request runs

    ASSERT_TRUE(waitForNotification(QStringLiteral("SuccessFullLoginNotification")));
    EXPECT_EQ(postedObjects.last(), ui.loginProgressIndicator);
    EXPECT_TRUE(ui.loginBtn->isEnabled());
    EXPECT_FALSE(ui.loginProgressIndicator->isVisible());
    EXPECT_FALSE(ui.loginErrorMessage->isVisible());

    Sonarbox &sonarbox = Sonarbox::instance();
    ASSERT_TRUE(sonarbox.loggedUser());
    EXPECT_EQ(sonarbox.loggedUser()->username, QStringLiteral("ada@example.com"));
    EXPECT_TRUE(sonarbox.flow_newUser);
    const UserPtr stored = GenericDAO::instance().getUserFromDB();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->id, QStringLiteral("1"));
    EXPECT_EQ(stored->username, QStringLiteral("ada@example.com"));
    EXPECT_EQ(stored->deviceId, sonarbox.deviceID());

    EXPECT_TRUE(log.linesContaining(QStringLiteral("s3cret!")).isEmpty())
        << log.linesContaining(QStringLiteral("s3cret!")).join(QLatin1Char('\n')).toStdString();
}

TEST_F(LoginCloudTest, WrongPasswordShowsTheRefusalAndKeepsTheFormUsable) {
    LoginRegister screen;
    showScreen(&screen);
    const auto &ui = screen.controls();
    ui.loginUsernameField->setText(QStringLiteral("ada@example.com"));
    ui.loginPasswordField->setText(QStringLiteral("not-it"));
    ui.loginBtn->click();

    ASSERT_TRUE(
        TestEnvironment::waitUntil([&] { return ui.loginErrorMessage->isVisible(); }, 20000));
    EXPECT_EQ(ui.loginErrorMessage->text(),
              QStringLiteral("The e-mail address or password is not correct. Please try again."));
    EXPECT_FALSE(ui.registerErrorMessage->isVisible());
    EXPECT_TRUE(ui.loginBtn->isEnabled());
    EXPECT_FALSE(ui.loginProgressIndicator->isVisible());
    EXPECT_FALSE(Sonarbox::instance().loggedUser());
    EXPECT_FALSE(GenericDAO::instance().getUserFromDB());
    EXPECT_EQ(notificationCount(QStringLiteral("SuccessFullLoginNotification")), 0);

    // A screen opened after the failure starts with the same message.
    LoginRegister again;
    EXPECT_FALSE(again.controls().loginErrorMessage->isHidden());
    EXPECT_EQ(again.controls().loginErrorMessage->text(), ui.loginErrorMessage->text());
}

TEST_F(LoginScreenTest, EmptyFieldsOrUnreachableServiceGiveTheirMessages) {
    LoginRegister screen;
    showScreen(&screen);
    const auto &ui = screen.controls();
    ui.loginUsernameField->setText(QStringLiteral("ada@example.com"));
    ui.loginBtn->click();
    EXPECT_TRUE(ui.loginErrorMessage->isVisible());
    EXPECT_EQ(ui.loginErrorMessage->text(),
              QStringLiteral("The e-mail address or password is not correct. Please try again."));
    QApplication::processEvents();
    EXPECT_TRUE(serviceRequests().isEmpty());

    // Nothing listens: the fallback text, and the account is not signed in.
    useService(QStringLiteral("http://127.0.0.1:%1").arg(scripted::closedPort()));
    ui.loginPasswordField->setText(QStringLiteral("s3cret!"));
    ui.loginBtn->click();
    ASSERT_TRUE(TestEnvironment::waitUntil(
        [&] {
            return ui.loginErrorMessage->text() ==
                   QStringLiteral("We could not sign you in. Please check your connection and "
                                  "try again.");
        },
        20000));
    EXPECT_TRUE(ui.loginBtn->isEnabled());
    EXPECT_FALSE(Sonarbox::instance().loggedUser());
}

TEST_F(LoginScreenTest, OfflineStoredAccountFillsAndLocksTheForm) {
    auto user = std::make_shared<User>();
    user->id = QStringLiteral("1");
    user->username = QStringLiteral("ada@example.com");
    user->password = QStringLiteral("s3cret!");
    Sonarbox::instance().setLoggedUser(user);
    Sonarbox::instance().isAppOffline = true;
    // The tray's Log Out follows the lock: offered while the form is locked.
    struct LogOutItem : StatusMenu {
        QList<bool> enabled;
        void setLogOutMenuItemEnabled(bool on) override { enabled << on; }
    } menu;
    Sonarbox::instance().setStatusMenu(&menu);
    LogCapture log;
    LoginRegister offline;
    QApplication::processEvents();
    const auto &ui = offline.controls();
    EXPECT_EQ(ui.loginUsernameField->text(), QStringLiteral("ada@example.com"));
    EXPECT_EQ(ui.loginPasswordField->text(), QStringLiteral("s3cret!"));
    EXPECT_FALSE(ui.loginUsernameField->isEnabled());
    EXPECT_FALSE(ui.loginPasswordField->isEnabled());
    EXPECT_FALSE(ui.fbLoginBtn->isEnabled());
    EXPECT_EQ(log.count(QStringLiteral("Already Logged In User:")), 1);
    EXPECT_TRUE(log.linesContaining(QStringLiteral("s3cret!")).isEmpty());

    offline.enableLoginFieldsAndButtons();
    QApplication::processEvents();
    EXPECT_TRUE(ui.loginUsernameField->isEnabled());
    EXPECT_TRUE(ui.loginPasswordField->isEnabled());
    EXPECT_TRUE(ui.fbLoginBtn->isEnabled());
    EXPECT_EQ(menu.enabled, QList<bool>({true, false}));
    Sonarbox::instance().setStatusMenu(nullptr);

    // Online, the stored values are filled in but stay editable.
    Sonarbox::instance().isAppOffline = false;
    LoginRegister online;
    QApplication::processEvents();
    EXPECT_EQ(online.controls().loginUsernameField->text(), QStringLiteral("ada@example.com"));
    EXPECT_TRUE(online.controls().loginUsernameField->isEnabled());
    EXPECT_TRUE(online.controls().fbLoginBtn->isEnabled());
}

TEST_F(LoginScreenTest, LoginScreenTextsLinksAndKeyboard) {
    LoginRegister screen;
    showScreen(&screen);
    const auto &ui = screen.controls();
    EXPECT_EQ(ui.loginBtn->text(), QStringLiteral("SIGN IN"));
    EXPECT_EQ(ui.loginHeader->text(), QStringLiteral("Sign in"));
    EXPECT_EQ(ui.emailLabel->text(), QStringLiteral("E-mail address"));
    EXPECT_FALSE(ui.loginErrorMessage->isVisible());

    // Tab walks the form in reading order.
    ui.loginUsernameField->setFocus();
    QList<QWidget *> order{ui.loginUsernameField};
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << QApplication::focusWidget();
    }
    EXPECT_EQ(order, (QList<QWidget *>{ui.loginUsernameField, ui.loginPasswordField, ui.loginBtn,
                                       ui.forgotPasswordBtn, ui.fbLoginBtn, ui.signUpBtn}));
    for (QWidget *widget : order)
        EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->objectName().toStdString();

    // Enter on a focused button presses that button, not the sign-in.
    ui.forgotPasswordBtn->setFocus();
    QTest::keyClick(ui.forgotPasswordBtn, Qt::Key_Return);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened.first().toString().endsWith(QStringLiteral("#/sendResetPassword")));
    EXPECT_TRUE(opened.first().toString().startsWith(server->baseUrl()));
    EXPECT_TRUE(ui.loginBtn->isEnabled());

    QTest::keyClick(ui.loginUsernameField, Qt::Key_Escape);
    ASSERT_EQ(notificationCount(QStringLiteral("showLandingScreen")), 1);
    EXPECT_EQ(postedObjects.last(), &screen);
}

TEST_F(LoginScreenTest, LandingPageCommandsPostTheirScreens) {
    LandingPage page;
    showScreen(&page);
    const auto &ui = page.controls();
    ui.signInBtn->click();
    ui.signUpBtn->setFocus();
    QTest::keyClick(ui.signUpBtn, Qt::Key_Return);
    EXPECT_EQ(posted,
              (QStringList{QStringLiteral("showLoginScreen"), QStringLiteral("showSignUpScreen")}));
    EXPECT_EQ(postedObjects.last(), &page);
    for (QWidget *widget :
         {static_cast<QWidget *>(ui.signUpBtn), static_cast<QWidget *>(ui.signInBtn),
          static_cast<QWidget *>(ui.facebookBtn)})
        EXPECT_FALSE(widget->accessibleName().isEmpty());
}
