#pragma once

#include <QSslConfiguration>

class DeploymentConfig;
class QNetworkRequest;

// The TLS settings of every request the client sends to the service (the
// gateway, uploads, downloads, the web site's hosts, the collector): the
// system's CA certificates plus those of the deployment's `caFile`, so that a
// home server with a self-signed certificate is reached without turning
// verification off. Host names are still checked.
namespace ServiceTls {

// For the deployment configuration current now. Loaded once per
// configuration; a `caFile` that yields no certificate leaves the system's
// CAs alone (and is logged once).
QSslConfiguration configuration();

// Gives `request` that configuration.
void apply(QNetworkRequest &request);

// For `config`, made afresh each call: whoever holds a configuration of its
// own keeps what this answers.
QSslConfiguration configurationFor(const DeploymentConfig &config);

} // namespace ServiceTls
