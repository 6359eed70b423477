#include "PhFacebook.h"

#include "PhWebViewController.h"
#include "settings/DeploymentConfig.h"
#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/PreferenceKeys.h"
#include "settings/ServiceTls.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

namespace {

FacebookBrowserHost *s_browserHost = nullptr;

// Facebook's own services are reached over TLS; a stand-in on this machine
// (the reference server's) speaks plain http.
QString schemeFor(const QString &host) {
    const QString name = QUrl(QStringLiteral("http://") + host).host();
    const QHostAddress address(name);
    const bool loopback = name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
                          (!address.isNull() && address.isLoopback());
    return loopback ? QStringLiteral("http") : QStringLiteral("https");
}

QString serviceBase(const QString &host) {
    return schemeFor(host) + QStringLiteral("://") + host;
}

// Sends one request on the calling thread and waits for the whole reply.
QByteArray sendSynchronously(const PhFacebook::PreparedRequest &prepared) {
    QNetworkAccessManager manager;
    QNetworkRequest request(prepared.address);
    ServiceTls::apply(request);
    request.setTransferTimeout(60 * 1000);
    QNetworkReply *reply = nullptr;
    if (prepared.postBody) {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QStringLiteral("application/x-www-form-urlencoded"));
        reply = manager.post(request, *prepared.postBody);
    } else {
        reply = manager.get(request);
    }
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray body = reply->readAll();
    if (reply->error() != QNetworkReply::NoError)
        qCWarning(lcAccounts).noquote()
            << QStringLiteral("Facebook request failed: %1").arg(reply->errorString());
    delete reply;
    return body;
}

} // namespace

PhFacebook::PhFacebook(const QString &applicationID, PhFacebookDelegate *delegate)
    : m_appID(applicationID)
    , m_delegate(delegate)
    , m_alive(std::make_shared<bool>(true)) {}

PhFacebook::~PhFacebook() = default;

void PhFacebook::setBrowserHost(FacebookBrowserHost *host) {
    s_browserHost = host;
}
FacebookBrowserHost *PhFacebook::browserHost() {
    return s_browserHost;
}

QString PhFacebook::loginSuccessPage() {
    return DeploymentConfig::current().facebookWebHost +
           QStringLiteral("/connect/login_success.html");
}

QString PhFacebook::dialogPage() {
    return DeploymentConfig::current().facebookWebHost + QStringLiteral("/connect/uiserver.php");
}

QUrl PhFacebook::authorizationAddress(const std::optional<QString> &permissions) const {
    const QString redirect = QStringLiteral("http://") + loginSuccessPage();
    const auto encoded = [](const QString &text) {
        return QString::fromLatin1(QUrl::toPercentEncoding(text));
    };
    QString address = serviceBase(DeploymentConfig::current().facebookGraphHost) +
                      QStringLiteral("/oauth/authorize?client_id=%1&redirect_uri=%2")
                          .arg(encoded(m_appID), encoded(redirect));
    if (permissions)
        address += QStringLiteral("&scope=%1").arg(encoded(*permissions));
    address += QStringLiteral("&type=user_agent&display=popup");
    return QUrl(address, QUrl::StrictMode);
}

void PhFacebook::getAccessTokenForPermissions(const QStringList &permissions, bool cached) {
    const QString joined = permissions.join(QLatin1Char(','));

    if (cached && !m_authToken) {
        const std::optional<QString> token =
            NSDefaultsUtility::standard().text(PreferenceKeys::FBAccessToken);
        const std::optional<QString> granted =
            NSDefaultsUtility::standard().text(PreferenceKeys::FBAccessPermissions);
        if (token && granted) {
            double seconds = 0;
            if (const std::optional<QString> expiry =
                    NSDefaultsUtility::standard().text(PreferenceKeys::FBTokenExpiry)) {
                const QDateTime at = QDateTime::fromString(*expiry, Qt::ISODateWithMs);
                seconds = at.isValid()
                              ? double(QDateTime::currentDateTimeUtc().msecsTo(at)) / 1000.0
                              : -1.0;
                // A token at or past its expiry (or with an unreadable one) must
                // not turn into one that never expires, which 0 seconds means.
                if (seconds <= 0)
                    seconds = -1.0;
            }
            m_authToken.emplace(*token, seconds, *granted);
        }
    }

    if (m_authToken && m_authToken->permissions().compare(joined, Qt::CaseInsensitive) == 0 &&
        m_authToken->isValidAt(QDateTime::currentDateTimeUtc())) {
        notifyTokenResult();
        return;
    }

    m_authToken.reset();
    const QUrl address =
        authorizationAddress(permissions.isEmpty() ? std::nullopt : std::optional(joined));
    if (m_delegate && m_delegate->needsAuthentication(address, joined))
        return;

    if (!m_webViewController) {
        if (!s_browserHost) {
            qCWarning(lcAccounts) << "Facebook sign-in needs a browser window; none is available";
            return;
        }
        m_webViewController = s_browserHost->createWebViewController();
    }
    m_webViewController->parentFacebook = this;
    m_webViewController->permissions = joined;
    m_webViewController->loadAddress(address);
}

void PhFacebook::setAccessToken(const QString &token, double expires, const QString &permissions,
                                const QString &error) {
    m_authToken.reset();
    if (!token.isEmpty())
        m_authToken.emplace(token, expires, permissions);

    if (m_authToken) {
        NSDefaultsUtility::standard().setText(PreferenceKeys::FBAccessToken,
                                              m_authToken->authenticationToken());
        if (const std::optional<QDateTime> expiry = m_authToken->expiry())
            NSDefaultsUtility::standard().setText(PreferenceKeys::FBTokenExpiry,
                                                  expiry->toUTC().toString(Qt::ISODateWithMs));
        else
            NSDefaultsUtility::standard().remove(PreferenceKeys::FBTokenExpiry);
        NSDefaultsUtility::standard().setText(PreferenceKeys::FBAccessPermissions,
                                              m_authToken->permissions());
        NSDefaultsUtility::standard().synchronize();
        notifyTokenResult();
        return;
    }
    if (m_delegate)
        m_delegate->tokenResult(
            {{QStringLiteral("valid"), false}, {QStringLiteral("error"), error}});
}

void PhFacebook::notifyTokenResult() {
    if (m_delegate)
        m_delegate->tokenResult({{QStringLiteral("valid"), true}});
}

QString PhFacebook::accessToken() const {
    return m_authToken ? m_authToken->authenticationToken() : QString();
}

void PhFacebook::clearToken() {
    m_authToken.reset();
}

void PhFacebook::invalidateCachedToken() {
    clearToken();
    NSDefaultsUtility::standard().remove(PreferenceKeys::FBAccessToken);
    NSDefaultsUtility::standard().remove(PreferenceKeys::FBTokenExpiry);
    NSDefaultsUtility::standard().remove(PreferenceKeys::FBAccessPermissions);
    NSDefaultsUtility::standard().synchronize();
    if (s_browserHost)
        s_browserHost->deleteCookies(DeploymentConfig::current().facebookWebHost);
}

void PhFacebook::webViewWillShowUI() {
    if (m_delegate)
        m_delegate->willShowUINotification(this);
}

void PhFacebook::didDismissUI() {
    if (m_delegate)
        m_delegate->didDismissUI(this);
}

PhFacebook::PreparedRequest PhFacebook::prepareRequest(const QString &graphBase,
                                                       const QString &request, const QString &token,
                                                       const QList<QPair<QString, QString>> &params,
                                                       bool usePostRequest) {
    QString pairs;
    for (const auto &[name, value] : params)
        pairs += QLatin1Char('&') + QString::fromLatin1(QUrl::toPercentEncoding(name)) +
                 QLatin1Char('=') + QString::fromLatin1(QUrl::toPercentEncoding(value));
    const QString tokenText = QString::fromLatin1(QUrl::toPercentEncoding(token));
    if (usePostRequest) {
        const QString body =
            params.isEmpty() ? QString() : QStringLiteral("access_token=") + tokenText + pairs;
        return {QUrl(graphBase + request), body.toUtf8()};
    }
    const QString separator =
        request.contains(QLatin1Char('?')) ? QStringLiteral("&") : QStringLiteral("?");
    return {
        QUrl(graphBase + request + separator + QStringLiteral("access_token=") + tokenText + pairs),
        std::nullopt};
}

bool PhFacebook::sendRequest(const QString &request) {
    return sendRequest(request, {}, false);
}

bool PhFacebook::sendRequest(const QString &request, const QList<QPair<QString, QString>> &params,
                             bool usePostRequest) {
    if (!m_authToken)
        return false;
    deliver(request, prepareRequest(serviceBase(DeploymentConfig::current().facebookGraphHost),
                                    request, accessToken(), params, usePostRequest));
    return true;
}

bool PhFacebook::sendFQLRequest(const QString &query) {
    if (!m_authToken)
        return false;
    const QString address = serviceBase(DeploymentConfig::current().facebookRestHost) +
                            QStringLiteral("/method/fql.query?query=%1&access_token=%2&format=json")
                                .arg(QString::fromLatin1(QUrl::toPercentEncoding(query)),
                                     QString::fromLatin1(QUrl::toPercentEncoding(accessToken())));
    deliver(query, {QUrl(address), std::nullopt});
    return true;
}

void PhFacebook::deliver(const QString &request, const PreparedRequest &prepared) {
    std::weak_ptr<bool> alive = m_alive;
    (void)QtConcurrent::run([this, alive, request, prepared] {
        const QByteArray raw = sendSynchronously(prepared);
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [this, alive, request, raw] {
                if (alive.expired() || !m_delegate)
                    return;
                m_delegate->requestResult(
                    {{QStringLiteral("result"), QString::fromUtf8(raw)},
                     {QStringLiteral("request"), request},
                     {QStringLiteral("raw"), raw},
                     {QStringLiteral("sender"), QVariant::fromValue<void *>(this)}});
            },
            Qt::BlockingQueuedConnection);
    });
}
