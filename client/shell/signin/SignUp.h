#pragma once

#include "CustomView.h"
#include "accounts/SignUpFlow.h"
#include "engine/LoginCallback.h"
#include "ui_SignUp.h"

// The sign-up screen: five fields and the terms check box; an accepted
// account is signed in at once.
class SignUp : public CustomView, public LoginCallback {
    Q_OBJECT
public:
    explicit SignUp(QWidget *parent = nullptr);

    void signUp();
    void showPreviousScreen();
    void showTermsConditions();
    bool validateFields();
    void signUpUser();

    // LoginCallback: the sign-in that follows an accepted sign-up reports
    // here, so that a failure shows instead of a spinner that never stops.
    QObject *callbackObject() override { return this; }
    QObject *loginProgressIndicator() override { return ui.spinner; }
    void stopLoginProgressIndicator() override;
    void enableLoginButton() override;
    void showErrorMessage() override;

    const Ui::SignUp &controls() const { return ui; }

private:
    void awakeFromNib();
    void showError(const QString &text);
    SignUpFlow::Fields fields() const;

    Ui::SignUp ui;
};
