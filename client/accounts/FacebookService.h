#pragma once

#include "PhFacebook.h"
#include "PhFacebookDelegate.h"

#include <QPointer>
#include <QString>

#include <memory>
#include <mutex>

// The screen that signs in once a Facebook token has arrived (the login
// screen or the landing screen).
class FacebookCallback {
public:
    virtual ~FacebookCallback() = default;
    // The screen's object, watched so that a closed screen is not called.
    virtual QObject *callbackObject() = 0;
    virtual void login() = 0;
};

// The application's entry point to the Facebook sign-in: knows the
// application ID and the permissions to ask for, keeps the last valid token
// and tells the waiting screen that it came. Main thread only.
class FacebookService : public PhFacebookDelegate {
public:
    static FacebookService &instance();

    // Every sign-in starts afresh (cache and Facebook cookies cleared), so the
    // Facebook login form is always shown.
    void getAccessToken();
    // Drops the current flow and its window (the desktop program's end).
    void discardFlow() { m_fb.reset(); }

    void tokenResult(const QVariantMap &result) override;
    void willShowUINotification(PhFacebook *sender) override;
    void sendRequest() {}
    void requestResult(const QVariantMap &) override {}

    // The token of the last flow that ended with a valid one.
    QString accessToken() const { return m_accessToken; }

    QString facebookApplicationID() const { return m_facebookApplicationID; }
    void setFacebookApplicationID(const QString &id) { m_facebookApplicationID = id; }
    FacebookCallback *callback() const { return m_callbackGuard ? m_callback : nullptr; }
    void setCallback(FacebookCallback *callback);
    PhFacebook *fb() const { return m_fb.get(); }

    // The permissions asked for, in order.
    static QStringList permissions();

private:
    FacebookService();

    QString m_facebookApplicationID;
    QString m_accessToken;
    std::unique_ptr<PhFacebook> m_fb;
    FacebookCallback *m_callback = nullptr;
    QPointer<QObject> m_callbackGuard;
};
