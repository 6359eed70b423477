#pragma once

class QObject;

// What a sign-in tells the screen that started it. The login screen
// implements it; LoginPortal calls it only on the main thread, and only while
// the object returned by callbackObject() is alive.
class LoginCallback {
public:
    virtual ~LoginCallback() = default;

    // The screen's object, watched so that a closed screen is not called.
    virtual QObject *callbackObject() = 0;
    // The screen's progress indicator (the object of the success notification).
    virtual QObject *loginProgressIndicator() = 0;
    virtual void stopLoginProgressIndicator() = 0;
    virtual void enableLoginButton() = 0;
    // Shows the coordinator's syncMessage (or the fallback text) as the error.
    virtual void showErrorMessage() = 0;
};
