// The sign-up screen: its checks, the service's refusals, and an accepted
// account signed in at once, against a real sonarbox-cloud.
#include "SigninFixture.h"

#include "CloudProcess.h"
#include "SignUp.h"
#include "TestEnvironment.h"
#include "accounts/SignUpFlow.h"
#include "engine/Sonarbox.h"
#include "store/GenericDAO.h"

#include <QApplication>
#include <QTest>

namespace {

SignUpFlow::Fields valid() {
    return {QStringLiteral("grace@example.com"),
            QStringLiteral("Grace"),
            QStringLiteral("Hopper"),
            QStringLiteral("abc"),
            QStringLiteral("abc"),
            true};
}

class SignUpTest : public SigninFixture {
protected:
    void fill(const SignUp &screen, const SignUpFlow::Fields &f) {
        const auto &ui = screen.controls();
        ui.emailField->setText(f.email);
        ui.firstNameField->setText(f.firstName);
        ui.lastNameField->setText(f.lastName);
        ui.passwordField->setText(f.password);
        ui.passwordConfirmField->setText(f.passwordConfirm);
        ui.termsConditionsCheckbox->setChecked(f.termsAccepted);
    }
};

class SignUpCloudTest : public SignUpTest {
protected:
    void SetUp() override {
        SignUpTest::SetUp();
        ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
        ASSERT_TRUE(cloud.start({QStringLiteral("--pbkdf2-iterations"), QStringLiteral("1000")}));
        useService(cloud.baseUrl());
    }
    CloudProcess cloud;
};

} // namespace

TEST(SignUpChecks, FirstFailingCheckNamesItsMessage) {
    struct Case {
        const char *what;
        std::function<void(SignUpFlow::Fields &)> change;
        const char *key; // nullptr: accepted
    };
    const QList<Case> cases = {
        {"valid", [](auto &) {}, nullptr},
        {"empty e-mail wins over empty first name",
         [](auto &f) { f.email.clear(), f.firstName.clear(); }, "email_empty_message"},
        {"blank e-mail", [](auto &f) { f.email = QStringLiteral("  \n"); }, "email_empty_message"},
        {"bad e-mail", [](auto &f) { f.email = QStringLiteral("grace@"); },
         "invalid_email_message"},
        {"e-mail with blanks around",
         [](auto &f) { f.email = QStringLiteral(" grace@example.com \t"); }, nullptr},
        {"first name", [](auto &f) { f.firstName = QStringLiteral(" "); },
         "first_name_empty_message"},
        {"last name", [](auto &f) { f.lastName.clear(); }, "last_name_empty_message"},
        {"four blanks", [](auto &f) { f.password = f.passwordConfirm = QStringLiteral("    "); },
         "password_empty_message"},
        {"confirmation differs", [](auto &f) { f.passwordConfirm = QStringLiteral("abd"); },
         "password_is_not_the_same_message"},
        {"two characters", [](auto &f) { f.password = f.passwordConfirm = QStringLiteral("ab"); },
         "password_minimum_size_message"},
        {"terms unticked", [](auto &f) { f.termsAccepted = false; },
         "InAdvance_CheckLicensesAndConditions"},
    };
    for (const Case &c : cases) {
        SignUpFlow::Fields f = valid();
        c.change(f);
        const std::optional<QString> got = SignUpFlow::validateFields(f);
        if (c.key)
            EXPECT_EQ(got, QString::fromLatin1(c.key)) << c.what;
        else
            EXPECT_FALSE(got) << c.what << ": " << got.value_or(QString()).toStdString();
    }

    // The account keeps the texts as typed.
    SignUpFlow::Fields f = valid();
    f.email = QStringLiteral(" grace@example.com ");
    const UserPtr user = SignUpFlow::newUser(f, Sonarbox::instance().deviceID());
    EXPECT_EQ(user->username, QStringLiteral(" grace@example.com "));
    EXPECT_EQ(user->id, QStringLiteral("1"));
    EXPECT_EQ(user->firstName, QStringLiteral("Grace"));
    EXPECT_EQ(user->lastName, QStringLiteral("Hopper"));
    EXPECT_EQ(user->password, QStringLiteral("abc"));
}

TEST_F(SignUpTest, InvalidFormShowsTheMessageAndSendsNothing) {
    SignUp screen;
    showScreen(&screen);
    const auto &ui = screen.controls();
    EXPECT_FALSE(ui.errorMessage->isVisible());
    EXPECT_TRUE(ui.termsConditionsText2->font().underline());
    SignUpFlow::Fields f = valid();
    f.termsAccepted = false;
    fill(screen, f);
    ui.passwordConfirmField->setFocus();
    QTest::keyClick(ui.passwordConfirmField, Qt::Key_Return);
    EXPECT_TRUE(ui.errorMessage->isVisible());
    EXPECT_EQ(ui.errorMessage->text(), QStringLiteral("Please accept the terms and conditions."));
    QApplication::processEvents();
    EXPECT_TRUE(serviceRequests().isEmpty());
    EXPECT_FALSE(ui.spinner->isVisible());

    ui.termsConditionBtn->click();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first().toString(), server->baseUrl() + QStringLiteral("/#/tcs"));

    QTest::keyClick(ui.emailField, Qt::Key_Escape);
    EXPECT_EQ(posted, QStringList{QStringLiteral("showLandingScreen")});
    EXPECT_EQ(postedObjects.last(), &screen);
}

TEST_F(SignUpCloudTest, ServiceRefusalsComeBackAsTheirTexts) {
    // What the service checks itself, sent past the form's checks.
    const QList<QPair<SignUpFlow::Fields, QString>> refusals = {
        {{QString(), QStringLiteral("G"), QStringLiteral("H"), QStringLiteral("abc"),
          QStringLiteral("abc"), true},
         QStringLiteral("Please enter your e-mail address.")},
        {{QStringLiteral("grace@"), QStringLiteral("G"), QStringLiteral("H"), QStringLiteral("abc"),
          QStringLiteral("abc"), true},
         QStringLiteral("Please enter a valid e-mail address.")},
        {{QStringLiteral("g@example.com"), QString(), QStringLiteral("H"), QStringLiteral("abc"),
          QStringLiteral("abc"), true},
         QStringLiteral("Please enter your first name.")},
        {{QStringLiteral("g@example.com"), QStringLiteral("G"), QString(), QStringLiteral("abc"),
          QStringLiteral("abc"), true},
         QStringLiteral("Please enter your last name.")},
        {{QStringLiteral("g@example.com"), QStringLiteral("G"), QStringLiteral("H"), QString(),
          QString(), true},
         QStringLiteral("Please enter a password.")},
        {{QStringLiteral("g@example.com"), QStringLiteral("G"), QStringLiteral("H"),
          QStringLiteral("ab"), QStringLiteral("ab"), true},
         QStringLiteral("The password must have at least 3 characters.")},
        {{QStringLiteral("ada@example.com"), QStringLiteral("A"), QStringLiteral("L"),
          QStringLiteral("abc"), QStringLiteral("abc"), true},
         QStringLiteral(
             "An account with this e-mail address already exists. Please sign in instead.")},
    };
    for (const auto &[fields, text] : refusals) {
        bool accepted = true;
        ASSERT_TRUE(runInBackground(
            [&] {
                accepted = Sonarbox::instance().registerUser(
                    SignUpFlow::newUser(fields, Sonarbox::instance().deviceID()));
            },
            20000));
        EXPECT_FALSE(accepted) << text.toStdString();
        EXPECT_EQ(Sonarbox::instance().syncStatus(), text);
    }
}

TEST_F(SignUpCloudTest, RefusedOnScreenThenAcceptedAndSignedIn) {
    SignUp screen;
    showScreen(&screen);
    const auto &ui = screen.controls();
    SignUpFlow::Fields taken = valid();
    taken.email = QStringLiteral("ada@example.com");
    fill(screen, taken);
    ui.signUpBtn->click();
    EXPECT_TRUE(ui.spinner->isVisible());
    EXPECT_FALSE(ui.signUpBtn->isEnabled());
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return ui.errorMessage->isVisible(); }, 20000));
    EXPECT_EQ(ui.errorMessage->text(),
              QStringLiteral(
                  "An account with this e-mail address already exists. Please sign in instead."));
    EXPECT_FALSE(ui.spinner->isVisible());
    EXPECT_TRUE(ui.signUpBtn->isEnabled());
    EXPECT_FALSE(Sonarbox::instance().loggedUser());

    LogCapture log;
    fill(screen, valid());
    ui.signUpBtn->click();
    ASSERT_TRUE(waitForNotification(QStringLiteral("SuccessFullLoginNotification")));
    const UserPtr stored = GenericDAO::instance().getUserFromDB();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->username, QStringLiteral("grace@example.com"));
    EXPECT_EQ(Sonarbox::instance().loggedUser()->username, QStringLiteral("grace@example.com"));
    EXPECT_FALSE(ui.spinner->isVisible());
    EXPECT_EQ(cloud.query(QStringLiteral("SELECT COUNT(*) FROM users WHERE email = "
                                         "'grace@example.com'")),
              QStringList{QStringLiteral("1")});
    for (const QString &line : log.lines())
        EXPECT_FALSE(line.contains(QStringLiteral("\"abc\""))) << line.toStdString();
}
