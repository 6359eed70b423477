#pragma once

#include "CustomView.h"
#include "accounts/FacebookService.h"
#include "engine/LoginCallback.h"
#include "ui_LoginRegister.h"

class QAbstractButton;

// The login screen: e-mail and password, or Facebook; the error of the last
// attempt; the way to sign-up and to the password reset page.
class LoginRegister : public CustomView, public LoginCallback, public FacebookCallback {
    Q_OBJECT
public:
    // The tags that tell the two ways of signing in apart.
    enum Tag { EmailTag = 1, FacebookTag = 2 };

    explicit LoginRegister(QWidget *parent = nullptr);

    void loginRegisterAction(int senderTag);
    void forgotPasswordAction();
    void signUpAction();
    void login() override;
    bool validatedFields();
    void showErrorMessage() override;
    void enableLoginFieldsAndButtons();
    void disableLoginFieldsAndButtons();

    // LoginCallback
    QObject *callbackObject() override { return this; }
    QObject *loginProgressIndicator() override { return ui.loginProgressIndicator; }
    void stopLoginProgressIndicator() override;
    void enableLoginButton() override;

    const Ui::LoginRegister &controls() const { return ui; }

private:
    void awakeFromNib();
    void applyTexts();
    void startLoginProgressIndicator();
    // On the main thread after the caller's work (callers may be on a
    // background thread); while signed in the fields are locked and show the
    // account, and the tray menu offers Log Out.
    void setLoginFieldsEnabledLater(bool enabled);

    Ui::LoginRegister ui;
};
