#include "LoginRegister.h"

#include "FacebookBrowser.h"
#include "Fonts.h"
#include "ScreenKeys.h"
#include "accounts/FacebookService.h"
#include "engine/LoginPortal.h"
#include "engine/Sonarbox.h"
#include "service/SecretMasking.h"
#include "settings/DeploymentConfig.h"
#include "settings/GAUtility.h"
#include "settings/Localization.h"
#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/NotificationCenter.h"

#include <QDesktopServices>
#include <QMetaObject>
#include <QPointer>

namespace {

QString text(const char *key) {
    return Localization::localizedString(QString::fromLatin1(key));
}

QFont face(const char *name, int size) {
    return customFont(QString::fromLatin1(name), size);
}

} // namespace

LoginRegister::LoginRegister(QWidget *parent)
    : CustomView(parent) {
    setViewName(QStringLiteral("LoginRegister"));
    ui.setupUi(this);
    ui.loginBtn->setProperty("tag", int(EmailTag));
    ui.fbLoginBtn->setProperty("tag", int(FacebookTag));
    for (QPushButton *button : {ui.loginBtn, ui.fbLoginBtn})
        connect(button, &QPushButton::clicked, this,
                [this, button] { loginRegisterAction(button->property("tag").toInt()); });
    connect(ui.forgotPasswordBtn, &QPushButton::clicked, this,
            &LoginRegister::forgotPasswordAction);
    connect(ui.signUpBtn, &QPushButton::clicked, this, &LoginRegister::signUpAction);
    ScreenKeys::install(this, ui.loginBtn, [this] { signUpAction(); });
    awakeFromNib();
}

void LoginRegister::awakeFromNib() {
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.statusMenu().statusMenuLoggedOut();
    GAUtility::instance().GATrackView(QStringLiteral("loginView"));
    applyTexts();

    const UserPtr user = sonarbox.loggedUser();
    if (user && user->username && !user->facebookToken) {
        if (sonarbox.isAppOffline) {
            qCInfo(lcShell).noquote() << QStringLiteral("Already Logged In User: \n%1")
                                             .arg(SecretMasking::describe(*user));
            disableLoginFieldsAndButtons();
        } else {
            ui.loginUsernameField->setText(*user->username);
            ui.loginPasswordField->setText(user->password.value_or(QString()));
        }
    }
    const QString status = sonarbox.syncStatus();
    if (!status.isEmpty() && status != QLatin1String("SUCCESS"))
        showErrorMessage();
}

void LoginRegister::applyTexts() {
    ui.loginHeader->setText(text("LoginViewModel_DisplayName"));
    ui.loginHeader->setFont(face("Raleway", 25));
    ui.orText->setFont(face("Raleway", 25));
    ui.orText->setFixedSize(50, 50);
    ui.forgotPasswordBtn->setText(text("LoginViewModel_Commands_ForgotPassword_Name"));
    ui.forgotPasswordBtn->setFont(face("Raleway-Medium", 11));
    ui.signUpBtn->setText(text("LoginViewModel_NewUser"));
    ui.signUpBtn->setFont(face("Raleway-Medium", 12));
    ui.emailLabel->setText(text("LoginViewModel_EmailAddress"));
    ui.passwordLabel->setText(text("LoginViewModel_Password"));
    ui.loginUsernameField->setPlaceholderText(text("LoginViewModel_Hint_EnterEmailAddress"));
    ui.loginPasswordField->setPlaceholderText(text("LoginViewModel_Hint_EnterPassword"));
    ui.loginBtn->setText(QStringLiteral("SIGN IN"));
    ui.loginBtn->setFont(face("Raleway-Medium", 12));
}

void LoginRegister::loginRegisterAction(int senderTag) {
    Sonarbox &sonarbox = Sonarbox::instance();
    if (senderTag == EmailTag) {
        GAUtility::instance().GALoginButtonClicked();
        sonarbox.registrationProcess = false;
        sonarbox.fbLogin = false;
        login();
    } else if (senderTag == FacebookTag) {
        GAUtility::instance().GAFacebookLoginButtonClicked();
        sonarbox.fbLogin = true;
        WebEngineFacebookHost::install();
        FacebookService &service = FacebookService::instance();
        service.setCallback(this);
        service.getAccessToken();
    }
}

bool LoginRegister::validatedFields() {
    Sonarbox &sonarbox = Sonarbox::instance();
    if (!sonarbox.fbLogin) {
        if (!ui.loginUsernameField->text().isEmpty() && !ui.loginPasswordField->text().isEmpty())
            return true;
        sonarbox.setSyncStatus(QStringLiteral("FAILED"));
        sonarbox.setSyncMessage(text("AuthenticationError"));
        return false;
    }
    if (!FacebookService::instance().accessToken().isEmpty())
        return true;
    sonarbox.setSyncStatus(QStringLiteral("FAILED_FACEBOOK_AUTHENTICATION"));
    return false;
}

void LoginRegister::showErrorMessage() {
    Sonarbox &sonarbox = Sonarbox::instance();
    QLabel *label = sonarbox.registrationProcess ? ui.registerErrorMessage : ui.loginErrorMessage;
    const QString message = sonarbox.syncMessage();
    label->setFont(face("Raleway", 12));
    label->setText(message.isEmpty() ? text("DeviceIdNotFoundServiceErrorMessage") : message);
    label->setVisible(true);
    enableLoginButton();
    stopLoginProgressIndicator();
}

void LoginRegister::login() {
    if (!validatedFields()) {
        showErrorMessage();
        return;
    }
    Sonarbox &sonarbox = Sonarbox::instance();
    NSDefaultsUtility::standard().saveDidUserPickMediaLibrary(QStringLiteral("NO"));

    // A copy: the signed-in record stays as it is unless this sign-in succeeds.
    UserPtr user;
    if (const UserPtr logged = sonarbox.loggedUser()) {
        qCInfo(lcShell).noquote()
            << QStringLiteral("Already Logged In User: \n%1").arg(SecretMasking::describe(*logged));
        user = std::make_shared<User>(*logged);
    } else {
        user = std::make_shared<User>();
        user->id = QStringLiteral("1");
        user->deviceId = sonarbox.deviceID();
    }
    if (!sonarbox.fbLogin) {
        user->username = ui.loginUsernameField->text();
        user->password = ui.loginPasswordField->text();
        // A token left on the record would be sent instead of what was typed.
        user->facebookToken.reset();
    } else {
        qCInfo(lcShell).noquote() << QStringLiteral("Facebook Token: %1")
                                         .arg(SecretMasking::masked(
                                             FacebookService::instance().accessToken()));
        user->facebookToken = FacebookService::instance().accessToken();
    }
    ui.loginErrorMessage->setVisible(false);
    ui.registerErrorMessage->setVisible(false);
    startLoginProgressIndicator();
    ui.loginBtn->setEnabled(false);
    LoginPortal::loginNewUser(user, this);
}

void LoginRegister::forgotPasswordAction() {
    QString site = DeploymentConfig::current().webSiteUrl;
    while (site.endsWith(QLatin1Char('/')))
        site.chop(1);
    QDesktopServices::openUrl(QUrl(site + QStringLiteral("/#/sendResetPassword")));
}

void LoginRegister::signUpAction() {
    NotificationCenter::defaultCenter().postNotificationName(QStringLiteral("showLandingScreen"),
                                                             this);
}

void LoginRegister::enableLoginFieldsAndButtons() {
    qCInfo(lcShell) << "enableLoginFieldsAndButtons";
    setLoginFieldsEnabledLater(true);
}

void LoginRegister::disableLoginFieldsAndButtons() {
    setLoginFieldsEnabledLater(false);
}

void LoginRegister::setLoginFieldsEnabledLater(bool enabled) {
    QPointer<LoginRegister> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, enabled] {
            if (!self)
                return;
            if (!enabled) {
                if (const UserPtr user = Sonarbox::instance().loggedUser()) {
                    self->ui.loginUsernameField->setText(user->username.value_or(QString()));
                    self->ui.loginPasswordField->setText(user->password.value_or(QString()));
                }
            }
            self->ui.loginUsernameField->setEnabled(enabled);
            self->ui.loginPasswordField->setEnabled(enabled);
            self->ui.fbLoginBtn->setEnabled(enabled);
            Sonarbox::instance().statusMenu().setLogOutMenuItemEnabled(!enabled);
        },
        Qt::QueuedConnection);
}

void LoginRegister::startLoginProgressIndicator() {
    ui.loginProgressIndicator->setVisible(true);
}

void LoginRegister::stopLoginProgressIndicator() {
    ui.loginProgressIndicator->setVisible(false);
}

void LoginRegister::enableLoginButton() {
    ui.loginBtn->setEnabled(true);
}
