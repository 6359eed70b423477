#include "ServiceTls.h"

#include "DeploymentConfig.h"
#include "Logging.h"

#include <QMutex>
#include <QNetworkRequest>

namespace {

QMutex g_lock;
// Configurations live for the whole process, so the address of the one in
// use tells whether the cached settings are still its own.
const DeploymentConfig *g_madeFor = nullptr;

// Made at first use: a configuration made while the process starts, before
// the application object exists, loads the TLS back-end then, which connects
// to that missing object and warns "QObject::connect(QObject, Unknown)".
QSslConfiguration &cached() {
    static QSslConfiguration configuration;
    return configuration;
}

} // namespace

QSslConfiguration ServiceTls::configurationFor(const DeploymentConfig &config) {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    if (config.caFile.isEmpty())
        return tls;
    QString problem;
    const QList<QSslCertificate> extra = config.caFileCertificates(&problem);
    if (extra.isEmpty()) {
        qCWarning(lcSettings).noquote()
            << QStringLiteral("%1; only the system's CA certificates are trusted").arg(problem);
        return tls;
    }
    // Naming CA certificates turns off the system's own, loaded on demand
    // otherwise: they are added explicitly so that public servers are still
    // trusted.
    tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + extra);
    qCInfo(lcSettings).noquote()
        << QStringLiteral("Trusting %1 certificate(s) of %2 besides the system's CA certificates")
               .arg(extra.size())
               .arg(config.caFilePath());
    return tls;
}

QSslConfiguration ServiceTls::configuration() {
    const DeploymentConfig &config = DeploymentConfig::current();
    QMutexLocker lock(&g_lock);
    if (g_madeFor != &config) {
        cached() = configurationFor(config);
        g_madeFor = &config;
    }
    return cached();
}

void ServiceTls::apply(QNetworkRequest &request) {
    request.setSslConfiguration(configuration());
}
