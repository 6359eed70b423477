#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>

class QTcpSocket;
class QTimer;

// Finds out, on the monitor's own thread, whether a target can be reached and
// hands each outcome (the flag set) to `report`. A host target is probed by a
// TCP connect with a time-out; a target without a port (any address, the
// link-local network) by the state of the machine's network interfaces.
// Probes repeat every `intervalMs` and at once on `probe()`; a probe asked for
// while one is under way is folded into it.
class ReachabilityProbe : public QObject {
    Q_OBJECT
public:
    using Report = std::function<void(quint32 flags)>;

    ReachabilityProbe(QString host, quint16 port, int intervalMs, int timeoutMs, Report report);

public slots:
    // Starts the repetition and the first probe (on the probe's thread).
    void begin();
    void probe();

private:
    void finish(bool reachable);
    bool interfacesReachable() const;

    QString m_host;
    quint16 m_port;
    int m_intervalMs;
    int m_timeoutMs;
    Report m_report;
    QTcpSocket *m_socket = nullptr;
    QTimer *m_repeat = nullptr;
    QTimer *m_deadline = nullptr;
    bool m_probing = false;
};
