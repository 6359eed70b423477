#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QThread;
class ReachabilityProbe;

// Watches whether a network target can be reached and says when that changes.
// A started monitor probes its target on a thread of its own; each change of
// the flags runs the reaction blocks there (one at a time), then posts
// "kReachabilityChangedNotification" with the monitor as object on the main
// thread. A started monitor keeps itself alive until `stopNotifier`.
//
// Host targets are probed by a TCP connect to the host and port; targets
// without a port by the state of the network interfaces. A change that the
// system's network information service reports, and `probeNow()`, probe at
// once. Until the first probe has answered, the flags count as unreadable.
class Reachability : public QObject, public std::enable_shared_from_this<Reachability> {
    Q_OBJECT
public:
    using Ptr = std::shared_ptr<Reachability>;
    using Block = std::function<void(Reachability *)>;
    using Flags = quint32;

    static constexpr Flags kTransientConnection = 1u << 0;
    static constexpr Flags kReachable = 1u << 1;
    static constexpr Flags kConnectionRequired = 1u << 2;
    static constexpr Flags kConnectionOnTraffic = 1u << 3;
    static constexpr Flags kInterventionRequired = 1u << 4;
    static constexpr Flags kConnectionOnDemand = 1u << 5;
    static constexpr Flags kIsLocalAddress = 1u << 16;
    static constexpr Flags kIsDirect = 1u << 17;

    enum NetworkStatus { NotReachable = 0, ReachableViaWWAN = 1, ReachableViaWiFi = 2 };

    // Nothing when the host name is empty or the port is 0.
    static Ptr reachabilityWithHostname(const QString &hostname, quint16 port);
    static Ptr reachabilityWithHostName(const QString &hostname, quint16 port) {
        return reachabilityWithHostname(hostname, port);
    }
    // Port 0: reachable when a network interface could carry traffic there.
    static Ptr reachabilityWithAddress(const QHostAddress &address, quint16 port = 0);
    static Ptr reachabilityForInternetConnection();
    static Ptr reachabilityForLocalWiFi();

    // Asks every running monitor to probe at once (any thread).
    static void probeNow();
    // Time between two probes, and how long a connect may take (tests shorten
    // them); a monitor takes the values current when it starts.
    static void setProbeInterval(int ms);
    static void setProbeTimeout(int ms);

    ~Reachability() override;

    bool startNotifier();
    void stopNotifier();

    bool isReachable() const;
    bool isReachableWithFlags(Flags flags) const;
    bool isReachableViaWWAN() const { return false; }
    bool isReachableViaWiFi() const;
    bool isConnectionRequired() const;
    bool connectionRequired() const { return isConnectionRequired(); }
    bool isConnectionOnDemand() const;
    bool isInterventionRequired() const;
    NetworkStatus currentReachabilityStatus() const;
    Flags reachabilityFlags() const;
    QString currentReachabilityString() const;
    QString currentReachabilityFlags() const;
    static QString flagsText(Flags flags);
    QString description() const;

    bool reachableOnWWAN() const { return m_reachableOnWWAN; }
    void setReachableOnWWAN(bool v) { m_reachableOnWWAN = v; }
    Block reachableBlock() const;
    void setReachableBlock(Block block);
    Block unreachableBlock() const;
    void setUnreachableBlock(Block block);

    QString host() const { return m_host; }
    quint16 port() const { return m_port; }

private:
    Reachability(QString host, quint16 port);
    // A probe's outcome, on the monitor's thread.
    void probeAnswered(Flags flags);
    // Whether the flags have been read at all, and their value.
    bool currentFlags(Flags *flags) const;

    const QString m_host;
    const quint16 m_port;
    std::atomic<bool> m_reachableOnWWAN{true};
    std::atomic<bool> m_flagsKnown{false};
    std::atomic<bool> m_firstAfterStart{false};
    std::atomic<Flags> m_flags{0};

    mutable std::mutex m_lock; // the blocks and the notifier's parts
    Block m_reachableBlock;
    Block m_unreachableBlock;
    QThread *m_reachabilitySerialQueue = nullptr;
    ReachabilityProbe *m_probe = nullptr;
    Ptr m_reachabilityObject;
};
