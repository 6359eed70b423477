#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>

class DeploymentConfig;
class QNetworkRequest;

// How one engine reaches its service: the gateway's address and the TLS
// settings of its deployment configuration, how long an exchange may stand
// still, and how large a reply may grow. Every request is made through one.
//
// Copies are cheap and independent: they share the configuration, never the
// limits, so a caller that wants one request to give up sooner sets the
// time-out of a copy (withTimeout) and leaves the engine's alone. The limits
// may be changed while requests made with copies of an earlier state run;
// those keep what they were made with.
class ServiceClient {
public:
    // Follows the process's current deployment configuration at each use,
    // so that one loaded after the client was made still applies.
    ServiceClient();
    // Keeps `config` for good, whatever the process loads later.
    explicit ServiceClient(const DeploymentConfig &config);

    ServiceClient(const ServiceClient &other);
    ServiceClient &operator=(const ServiceClient &other);
    ~ServiceClient();

    // The configuration the requests are made for.
    const DeploymentConfig &config() const;
    QString gatewayBaseUrl() const;
    // Gives `request` the TLS settings of that configuration.
    void applyTls(QNetworkRequest &request) const;

    // An exchange fails when nothing has moved for this long.
    int timeout() const { return m_timeout.load(); }
    void setTimeout(int milliseconds) { m_timeout = milliseconds; }
    // A copy whose exchanges give up after `milliseconds`.
    ServiceClient withTimeout(int milliseconds) const;

    // Replies larger than this fail the exchange, so that a broken or hostile
    // server cannot exhaust memory.
    qint64 maximumReplySize() const { return m_maximumReplySize.load(); }
    void setMaximumReplySize(qint64 bytes) { m_maximumReplySize = bytes; }
    // The cloud library listing has a limit of its own: a full listing grows
    // with the library (about 250 bytes a track), and one of a million
    // tracks must still arrive.
    qint64 maximumListingSize() const { return m_maximumListingSize.load(); }
    void setMaximumListingSize(qint64 bytes) { m_maximumListingSize = bytes; }

    static constexpr int DefaultTimeout = 60 * 1000;
    static constexpr qint64 DefaultMaximumReplySize = 64 * 1024 * 1024;
    static constexpr qint64 DefaultMaximumListingSize = 1024 * 1024 * 1024;

private:
    struct Deployment;
    // Null while the client follows the process's configuration.
    std::shared_ptr<Deployment> m_deployment;
    std::atomic<int> m_timeout{DefaultTimeout};
    std::atomic<qint64> m_maximumReplySize{DefaultMaximumReplySize};
    std::atomic<qint64> m_maximumListingSize{DefaultMaximumListingSize};
};
