#include "SignUp.h"

#include "Fonts.h"
#include "ScreenKeys.h"
#include "engine/LoginPortal.h"
#include "engine/Sonarbox.h"
#include "settings/DeploymentConfig.h"
#include "settings/GAUtility.h"
#include "settings/Localization.h"
#include "settings/NotificationCenter.h"

#include <QDesktopServices>
#include <QFutureWatcher>

SignUp::SignUp(QWidget *parent)
    : CustomView(parent) {
    setViewName(QStringLiteral("SignUp"));
    ui.setupUi(this);
    connect(ui.signUpBtn, &QPushButton::clicked, this, &SignUp::signUp);
    connect(ui.backBtn, &QPushButton::clicked, this, &SignUp::showPreviousScreen);
    connect(ui.termsConditionBtn, &QPushButton::clicked, this, &SignUp::showTermsConditions);
    connect(ui.termsConditionsText2, &QLabel::linkActivated, this, &SignUp::showTermsConditions);
    ScreenKeys::install(this, ui.signUpBtn, [this] { showPreviousScreen(); });
    awakeFromNib();
}

void SignUp::awakeFromNib() {
    ui.signInText->setFont(customFont(QStringLiteral("Raleway"), 24));
    ui.signInText->adjustSize();
    ui.errorMessage->setVisible(false);
    ui.errorMessage->setFont(customFont(QStringLiteral("Raleway"), 12));
    QFont underlined = ui.termsConditionsText2->font();
    underlined.setUnderline(true);
    ui.termsConditionsText2->setFont(underlined);
}

void SignUp::signUp() {
    GAUtility::instance().GASignUpButtonClickedFromSignUpPage();
    if (validateFields())
        signUpUser();
}

void SignUp::showPreviousScreen() {
    GAUtility::instance().GABackButtonClickedFromSignUpPage();
    NotificationCenter::defaultCenter().postNotificationName(QStringLiteral("showLandingScreen"),
                                                             this);
}

void SignUp::showTermsConditions() {
    QString site = DeploymentConfig::current().webSiteUrl;
    while (site.endsWith(QLatin1Char('/')))
        site.chop(1);
    QDesktopServices::openUrl(QUrl(site + QStringLiteral("/#/tcs")));
}

SignUpFlow::Fields SignUp::fields() const {
    return {ui.emailField->text(),           ui.firstNameField->text(),
            ui.lastNameField->text(),        ui.passwordField->text(),
            ui.passwordConfirmField->text(), ui.termsConditionsCheckbox->isChecked()};
}

bool SignUp::validateFields() {
    const std::optional<QString> failure = SignUpFlow::validateFields(fields());
    if (failure)
        showError(Localization::localizedString(*failure));
    return !failure;
}

void SignUp::signUpUser() {
    const UserPtr user = SignUpFlow::newUser(fields(), Sonarbox::instance().deviceID());
    ui.spinner->setVisible(true);
    // One registration at a time: a second press would make a second request.
    ui.signUpBtn->setEnabled(false);
    ui.errorMessage->setVisible(false);

    auto *watcher = new QFutureWatcher<bool>(this);
    connect(watcher, &QFutureWatcher<bool>::finished, this, [this, watcher, user] {
        watcher->deleteLater();
        if (!watcher->result()) {
            GAUtility::instance().GASignUpFail();
            stopLoginProgressIndicator();
            enableLoginButton();
            showError(Sonarbox::instance().syncStatus());
            return;
        }
        GAUtility::instance().GASignUpSuccess();
        Sonarbox::instance().fbLogin = false;
        LoginPortal::loginNewUser(user, this);
    });
    watcher->setFuture(Sonarbox::instance().registerUserInBackground(user));
}

void SignUp::showError(const QString &text) {
    ui.errorMessage->setText(text);
    ui.errorMessage->setVisible(true);
}

void SignUp::stopLoginProgressIndicator() {
    ui.spinner->setVisible(false);
}

void SignUp::enableLoginButton() {
    ui.signUpBtn->setEnabled(true);
}

void SignUp::showErrorMessage() {
    const QString message = Sonarbox::instance().syncMessage();
    showError(message.isEmpty() ? Localization::localizedString(
                                      QStringLiteral("DeviceIdNotFoundServiceErrorMessage"))
                                : message);
    stopLoginProgressIndicator();
    enableLoginButton();
}
