#include "ServiceClient.h"

#include "settings/DeploymentConfig.h"
#include "settings/ServiceTls.h"

#include <QMutex>
#include <QNetworkRequest>
#include <QSslConfiguration>

#include <optional>

struct ServiceClient::Deployment {
    explicit Deployment(const DeploymentConfig &c)
        : config(c) {}

    const DeploymentConfig config;
    // Made at the first request rather than with the client: reading the CA
    // file and loading the TLS back-end wait until something is sent.
    QMutex lock;
    std::optional<QSslConfiguration> tls;
};

ServiceClient::ServiceClient() = default;

ServiceClient::ServiceClient(const DeploymentConfig &config)
    : m_deployment(std::make_shared<Deployment>(config)) {}

ServiceClient::ServiceClient(const ServiceClient &other)
    : m_deployment(other.m_deployment)
    , m_timeout(other.timeout())
    , m_maximumReplySize(other.maximumReplySize())
    , m_maximumListingSize(other.maximumListingSize()) {}

ServiceClient &ServiceClient::operator=(const ServiceClient &other) {
    if (this == &other)
        return *this;
    m_deployment = other.m_deployment;
    m_timeout = other.timeout();
    m_maximumReplySize = other.maximumReplySize();
    m_maximumListingSize = other.maximumListingSize();
    return *this;
}

ServiceClient::~ServiceClient() = default;

const DeploymentConfig &ServiceClient::config() const {
    return m_deployment ? m_deployment->config : DeploymentConfig::current();
}

QString ServiceClient::gatewayBaseUrl() const {
    return config().gatewayBaseUrl;
}

void ServiceClient::applyTls(QNetworkRequest &request) const {
    if (!m_deployment) {
        ServiceTls::apply(request);
        return;
    }
    QMutexLocker lock(&m_deployment->lock);
    if (!m_deployment->tls)
        m_deployment->tls = ServiceTls::configurationFor(m_deployment->config);
    request.setSslConfiguration(*m_deployment->tls);
}

ServiceClient ServiceClient::withTimeout(int milliseconds) const {
    ServiceClient copy(*this);
    copy.setTimeout(milliseconds);
    return copy;
}
