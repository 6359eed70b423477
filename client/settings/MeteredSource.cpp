#include "MeteredSource.h"

#include "Logging.h"

#include <QNetworkInformation>

SystemMeteredSource::SystemMeteredSource() {
    // One instance serves the whole process: a backend another part loaded
    // already answers here too when it knows about metering.
    QNetworkInformation *info = QNetworkInformation::instance();
    if (!info || !info->supports(QNetworkInformation::Feature::Metered)) {
        if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Metered)) {
            qCInfo(lcSettings) << "No network information service knows about metered "
                                  "connections: syncing never pauses for one";
            return;
        }
        info = QNetworkInformation::instance();
    }
    m_hasBackend = true;
    m_metered = info->isMetered();
    qCInfo(lcSettings).noquote() << QStringLiteral(
                                        "Metered connections are reported by %1 (now %2)")
                                        .arg(info->backendName(),
                                             m_metered ? QStringLiteral("metered")
                                                       : QStringLiteral("not metered"));
    connect(info, &QNetworkInformation::isMeteredChanged, this, [this](bool metered) {
        if (m_metered.exchange(metered) == metered)
            return;
        qCInfo(lcSettings) << (metered ? "The connection is metered now"
                                       : "The connection is no longer metered");
        emit meteredChanged(metered);
    });
}
