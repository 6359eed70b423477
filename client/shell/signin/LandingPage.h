#pragma once

#include "CustomView.h"
#include "accounts/FacebookService.h"
#include "ui_LandingPage.h"

// The first screen of a new user: sign up, sign in, or register through
// Facebook (which signs in at once with the token).
class LandingPage : public CustomView, public FacebookCallback {
    Q_OBJECT
public:
    explicit LandingPage(QWidget *parent = nullptr);

    void showSignUpPage();
    void showSignInPage();
    void registerViaFacebook();
    void login() override;

    QObject *callbackObject() override { return this; }
    const Ui::LandingPage &controls() const { return ui; }

private:
    Ui::LandingPage ui;
};
