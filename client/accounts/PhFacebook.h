#pragma once

#include "PhAuthenticationToken.h"
#include "PhFacebookDelegate.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

class PhWebViewController;

// The Facebook OAuth 2.0 implicit flow ("type=user_agent"): the authorisation
// address, the browser window that ends on the login-success page, the token
// cache in the preferences, and small Graph/FQL requests. Main thread only,
// except the request operations, which run on threads of their own.
class PhFacebook {
public:
    PhFacebook(const QString &applicationID, PhFacebookDelegate *delegate);
    ~PhFacebook();

    // The browser side, bound once by the desktop program (not owned).
    static void setBrowserHost(FacebookBrowserHost *host);
    static FacebookBrowserHost *browserHost();

    // Host and path (no scheme) of the pages the flow watches, from the
    // deployment's Facebook web host.
    static QString loginSuccessPage();
    static QString dialogPage();
    // The authorisation address for the joined permissions (none: no scope).
    QUrl authorizationAddress(const std::optional<QString> &permissions) const;

    void getAccessTokenForPermissions(const QStringList &permissions, bool cached);
    // Called by the browser window with what the final address carried.
    void setAccessToken(const QString &token, double expires, const QString &permissions,
                        const QString &error);
    QString accessToken() const;
    void clearToken();
    void invalidateCachedToken();

    // Graph requests (GET without parameters; GET or POST with them) and an
    // FQL query; only while a token is held. Answers whether one was sent.
    bool sendRequest(const QString &request);
    bool sendRequest(const QString &request, const QList<QPair<QString, QString>> &params,
                     bool usePostRequest);
    bool sendFQLRequest(const QString &query);

    // The address and body a Graph request is sent with.
    struct PreparedRequest {
        QUrl address;
        std::optional<QByteArray> postBody;
    };
    static PreparedRequest prepareRequest(const QString &graphBase, const QString &request,
                                          const QString &token,
                                          const QList<QPair<QString, QString>> &params,
                                          bool usePostRequest);

    // From the browser window.
    void webViewWillShowUI();
    void didDismissUI();

    PhWebViewController *webViewController() const { return m_webViewController.get(); }
    const std::optional<PhAuthenticationToken> &authToken() const { return m_authToken; }

private:
    void notifyTokenResult();
    void deliver(const QString &request, const PreparedRequest &prepared);

    QString m_appID;
    PhFacebookDelegate *m_delegate = nullptr;
    std::unique_ptr<PhWebViewController> m_webViewController;
    std::optional<PhAuthenticationToken> m_authToken;
    std::shared_ptr<bool> m_alive;
};
