#include "FacebookService.h"

#include "service/SecretMasking.h"
#include "settings/DeploymentConfig.h"
#include "settings/Logging.h"

FacebookService &FacebookService::instance() {
    static FacebookService service; // created once; C++ guards the construction
    return service;
}

FacebookService::FacebookService()
    : m_facebookApplicationID(DeploymentConfig::current().facebookAppId) {}

QStringList FacebookService::permissions() {
    return {QStringLiteral("read_stream"), QStringLiteral("export_stream"),
            QStringLiteral("email")};
}

void FacebookService::setCallback(FacebookCallback *callback) {
    m_callback = callback;
    m_callbackGuard = callback ? callback->callbackObject() : nullptr;
}

void FacebookService::getAccessToken() {
    // The previous flow (and its window) goes; a late answer of it must not
    // reach the new one.
    m_accessToken.clear();
    m_fb = std::make_unique<PhFacebook>(m_facebookApplicationID, this);
    m_fb->invalidateCachedToken();
    m_fb->getAccessTokenForPermissions(permissions(), false);
}

void FacebookService::tokenResult(const QVariantMap &result) {
    if (!result.value(QStringLiteral("valid")).toBool())
        return;
    const QString token = m_fb ? m_fb->accessToken() : QString();
    qCInfo(lcAccounts).noquote()
        << QStringLiteral("Facebook Token API Result: \n%1").arg(SecretMasking::masked(token));
    m_accessToken = token;
    if (FacebookCallback *target = callback())
        target->login();
}

void FacebookService::willShowUINotification(PhFacebook *) {
    if (FacebookBrowserHost *host = PhFacebook::browserHost())
        host->requestUserAttention();
}
