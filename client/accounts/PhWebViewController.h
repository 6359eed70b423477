#pragma once

#include <QString>
#include <QUrl>

#include <optional>

class PhFacebook;

// The Facebook browser window as the sign-in flow sees it. It loads the
// authorisation page hidden, comes to the front when Facebook needs the user
// (the login form or the dialog page), and picks the token out of the final
// login-success address. The widget that implements it (the shell's browser
// window) reports the pages it loads through didCommitLoad/didFinishLoad and
// its cancel button or close through cancel(); everything else is decided
// here, so that it works the same whatever browser stands behind it.
class PhWebViewController {
public:
    virtual ~PhWebViewController() = default;

    PhFacebook *parentFacebook = nullptr; // the flow that owns the window
    QString permissions;                  // the requested permissions, joined by ","

    // Implemented by the window.
    virtual void loadAddress(const QUrl &address) = 0;
    virtual void showWindow() = 0; // to the front, as the key window
    virtual void hideWindow() = 0;
    virtual bool isWindowVisible() const = 0;

    // Brings the window to the front and tells the parent.
    void showUI();
    // The cancel button or the window's close: the parent is told, the window
    // hidden, nothing reported.
    void cancel();

    // A page started loading: the dialog page needs the user.
    void didCommitLoad(const QUrl &address);
    // A page finished loading: the login-success page ends the flow; any
    // other page (the login form) needs the user.
    void didFinishLoad(const QUrl &address);

    // The value of `name` (for example "access_token=") anywhere in the
    // address, fragment included, up to the next "&"; letter case of the name
    // is ignored. Nothing when the name does not occur.
    static std::optional<QString> extractParameter(const QString &name, const QString &address);
    // Whether `address` (http or https) begins with `target`, given as host
    // and path without a scheme, ignoring letter case.
    static bool addressBeginsWith(const QString &address, const QString &target);
};
