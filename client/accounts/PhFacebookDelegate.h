#pragma once

#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <memory>

class PhFacebook;

// What PhFacebook tells its delegate. Every call arrives on the main thread;
// the defaults do nothing, so a delegate implements what it needs.
class PhFacebookDelegate {
public:
    virtual ~PhFacebookDelegate() = default;

    // "valid" (bool); when not valid also "error" (text, possibly empty).
    virtual void tokenResult(const QVariantMap &result) = 0;
    // "result" (the reply as text), "request" (the path), "raw" (bytes),
    // "sender" (the PhFacebook, as a pointer value).
    virtual void requestResult(const QVariantMap &result) { (void)result; }
    // YES when the delegate shows the authorisation page itself.
    virtual bool needsAuthentication(const QUrl &address, const QString &forPermissions) {
        (void)address;
        (void)forPermissions;
        return false;
    }
    virtual void willShowUINotification(PhFacebook *sender) { (void)sender; }
    virtual void didDismissUI(PhFacebook *sender) { (void)sender; }
};

// The desktop side of the browser part: the shell creates the windows and owns
// the browser's cookie store. Without one bound (headless), the Facebook
// sign-in cannot show its page.
class FacebookBrowserHost {
public:
    virtual ~FacebookBrowserHost() = default;

    virtual std::unique_ptr<class PhWebViewController> createWebViewController() = 0;
    // Deletes every cookie the browser holds for `host` (host[:port]), under
    // both "http" and "https".
    virtual void deleteCookies(const QString &host) = 0;
    // Asks for the user's attention (the login form came up).
    virtual void requestUserAttention() = 0;
};
