#include "LandingPage.h"

#include "FacebookBrowser.h"
#include "ScreenKeys.h"
#include "accounts/FacebookService.h"
#include "engine/LoginPortal.h"
#include "engine/Sonarbox.h"
#include "settings/GAUtility.h"
#include "settings/NotificationCenter.h"

LandingPage::LandingPage(QWidget *parent)
    : CustomView(parent) {
    setViewName(QStringLiteral("LandingPage"));
    ui.setupUi(this);
    connect(ui.signUpBtn, &QPushButton::clicked, this, &LandingPage::showSignUpPage);
    connect(ui.signInBtn, &QPushButton::clicked, this, &LandingPage::showSignInPage);
    connect(ui.facebookBtn, &QPushButton::clicked, this, &LandingPage::registerViaFacebook);
    ScreenKeys::install(this, ui.signUpBtn);
}

void LandingPage::showSignUpPage() {
    GAUtility::instance().GASignUpButtonClickedFromLandingPage();
    NotificationCenter::defaultCenter().postNotificationName(QStringLiteral("showSignUpScreen"),
                                                             this);
}

void LandingPage::showSignInPage() {
    GAUtility::instance().GASignInButtonClickedFromLandingPage();
    NotificationCenter::defaultCenter().postNotificationName(QStringLiteral("showLoginScreen"));
}

void LandingPage::registerViaFacebook() {
    GAUtility::instance().GAFacebookSignUpClickedFromLandingPage();
    Sonarbox::instance().fbLogin = true;
    WebEngineFacebookHost::install();
    FacebookService &service = FacebookService::instance();
    service.setCallback(this);
    service.getAccessToken();
}

void LandingPage::login() {
    Sonarbox &sonarbox = Sonarbox::instance();
    auto user = std::make_shared<User>();
    user->id = QStringLiteral("1");
    user->deviceId = sonarbox.deviceID();
    user->facebookToken = FacebookService::instance().accessToken();
    LoginPortal::loginNewUser(user, nullptr);
}
