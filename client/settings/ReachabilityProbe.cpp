#include "ReachabilityProbe.h"

#include "Reachability.h"

#include <QNetworkInterface>
#include <QTcpSocket>
#include <QTimer>

ReachabilityProbe::ReachabilityProbe(QString host, quint16 port, int intervalMs, int timeoutMs,
                                     Report report)
    : m_host(std::move(host))
    , m_port(port)
    , m_intervalMs(intervalMs)
    , m_timeoutMs(timeoutMs)
    , m_report(std::move(report)) {}

void ReachabilityProbe::begin() {
    m_socket = new QTcpSocket(this);
    m_repeat = new QTimer(this);
    m_deadline = new QTimer(this);
    m_deadline->setSingleShot(true);
    connect(m_socket, &QTcpSocket::connected, this, [this] { finish(true); });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] { finish(false); });
    connect(m_deadline, &QTimer::timeout, this, [this] { finish(false); });
    connect(m_repeat, &QTimer::timeout, this, &ReachabilityProbe::probe);
    m_repeat->start(m_intervalMs);
    probe();
}

void ReachabilityProbe::probe() {
    if (m_probing || !m_socket)
        return;
    if (m_port == 0) {
        m_report(interfacesReachable() ? Reachability::kReachable : 0);
        return;
    }
    m_probing = true;
    m_deadline->start(m_timeoutMs);
    m_socket->connectToHost(m_host, m_port);
}

void ReachabilityProbe::finish(bool reachable) {
    if (!m_probing)
        return;
    m_probing = false;
    m_deadline->stop();
    // Only whether the connection could be made matters: close it at once.
    m_socket->abort();
    m_report(reachable ? Reachability::kReachable : 0);
}

bool ReachabilityProbe::interfacesReachable() const {
    const QHostAddress target(m_host);
    const bool linkLocalOnly = target.isLinkLocal();
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &i : interfaces) {
        const auto flags = i.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &entry : i.addressEntries()) {
            const QHostAddress address = entry.ip();
            if (address.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            if (!linkLocalOnly || address.isLinkLocal() || !address.isGlobal())
                return true;
        }
    }
    return false;
}
