#include "Reachability.h"

#include "Localization.h"
#include "Logging.h"
#include "ReachabilityProbe.h"
#include "settings/NotificationCenter.h"

#include <QCoreApplication>
#include <QNetworkInformation>
#include <QThread>

#include <set>

namespace {

std::atomic<int> g_probeIntervalMs{5000};
std::atomic<int> g_probeTimeoutMs{2000};

// Monitors whose notifier runs, for probeNow().
std::mutex g_runningLock;
std::set<Reachability *> g_running;

// The system's network information service, when one is available here:
// its changes make every monitor probe at once.
void watchSystemNetwork() {
    static bool tried = false;
    QCoreApplication *app = QCoreApplication::instance();
    if (tried || !app || QThread::currentThread() != app->thread())
        return;
    tried = true;
    if (!QNetworkInformation::loadDefaultBackend()) {
        qCInfo(lcSettings) << "No network information service: reachability is probed";
        return;
    }
    QObject::connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged,
                     app, [] { Reachability::probeNow(); });
}

} // namespace

Reachability::Reachability(QString host, quint16 port)
    : m_host(std::move(host))
    , m_port(port) {}

Reachability::~Reachability() {
    stopNotifier();
    std::lock_guard g(m_lock);
    m_reachableBlock = nullptr;
    m_unreachableBlock = nullptr;
}

Reachability::Ptr Reachability::reachabilityWithHostname(const QString &hostname, quint16 port) {
    if (hostname.trimmed().isEmpty() || port == 0)
        return nullptr;
    return Ptr(new Reachability(hostname.trimmed(), port));
}

Reachability::Ptr Reachability::reachabilityWithAddress(const QHostAddress &address, quint16 port) {
    if (address.isNull())
        return nullptr;
    return Ptr(new Reachability(address.toString(), port));
}

Reachability::Ptr Reachability::reachabilityForInternetConnection() {
    return reachabilityWithAddress(QHostAddress(QStringLiteral("0.0.0.0")));
}

Reachability::Ptr Reachability::reachabilityForLocalWiFi() {
    return reachabilityWithAddress(QHostAddress(QStringLiteral("169.254.0.0")));
}

void Reachability::setProbeInterval(int ms) {
    g_probeIntervalMs = qMax(ms, 10);
}

void Reachability::setProbeTimeout(int ms) {
    g_probeTimeoutMs = qMax(ms, 10);
}

void Reachability::probeNow() {
    std::lock_guard g(g_runningLock);
    for (Reachability *monitor : g_running)
        QMetaObject::invokeMethod(monitor->m_probe, &ReachabilityProbe::probe,
                                  Qt::QueuedConnection);
}

bool Reachability::startNotifier() {
    std::unique_lock lock(m_lock);
    if (m_reachabilitySerialQueue)
        return true;
    m_reachabilityObject = shared_from_this();

    auto *queue = new QThread;
    queue->setObjectName(QStringLiteral("org.sonarbox.reachability"));
    const std::weak_ptr<Reachability> weak = weak_from_this();
    auto *probe = new ReachabilityProbe(m_host, m_port, g_probeIntervalMs, g_probeTimeoutMs,
                                        [weak](Flags flags) {
                                            if (const Ptr self = weak.lock())
                                                self->probeAnswered(flags);
                                        });
    probe->moveToThread(queue);
    connect(queue, &QThread::started, probe, &ReachabilityProbe::begin);
    connect(queue, &QThread::finished, probe, &QObject::deleteLater);
    m_firstAfterStart = true;
    queue->start();
    if (!queue->isRunning()) {
        qCWarning(lcSettings).noquote() << description() << "could not start its thread";
        delete probe;
        delete queue;
        const Ptr self = std::move(m_reachabilityObject);
        lock.unlock();
        return false;
    }
    m_reachabilitySerialQueue = queue;
    m_probe = probe;
    lock.unlock();
    {
        std::lock_guard g(g_runningLock);
        g_running.insert(this);
    }
    watchSystemNetwork();
    return true;
}

void Reachability::stopNotifier() {
    Ptr self; // released last: it may be the final reference to this monitor
    {
        std::lock_guard g(g_runningLock);
        g_running.erase(this);
    }
    QThread *queue = nullptr;
    {
        std::lock_guard g(m_lock);
        queue = m_reachabilitySerialQueue;
        m_reachabilitySerialQueue = nullptr;
        m_probe = nullptr;
        self = std::move(m_reachabilityObject);
    }
    if (!queue)
        return;
    queue->quit();
    if (QThread::currentThread() == queue) {
        // Stopped from a block: the thread ends once the block returns.
        connect(queue, &QThread::finished, queue, &QObject::deleteLater);
    } else {
        queue->wait();
        delete queue;
    }
}

void Reachability::probeAnswered(Flags flags) {
    {
        std::lock_guard g(m_lock);
        if (!m_reachabilitySerialQueue)
            return; // an answer that arrived while stopping
    }
    const bool first = m_firstAfterStart.exchange(false);
    const Flags previous = m_flags.exchange(flags);
    const bool known = m_flagsKnown.exchange(true);
    if (!first && known && previous == flags)
        return;
    qCInfo(lcSettings).noquote()
        << QStringLiteral("Reachability %1:%2 %3").arg(m_host).arg(m_port).arg(flagsText(flags));
    const Block block = isReachableWithFlags(flags) ? reachableBlock() : unreachableBlock();
    if (block)
        block(this);
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [self = shared_from_this()] {
            NotificationCenter::defaultCenter().postNotificationName(
                QStringLiteral("kReachabilityChangedNotification"), self.get());
        },
        Qt::QueuedConnection);
}

bool Reachability::currentFlags(Flags *flags) const {
    *flags = m_flags.load();
    return m_flagsKnown.load();
}

Reachability::Flags Reachability::reachabilityFlags() const {
    Flags flags = 0;
    return currentFlags(&flags) ? flags : 0;
}

bool Reachability::isReachableWithFlags(Flags flags) const {
    if (!(flags & kReachable))
        return false;
    const Flags transientAndRequired = kTransientConnection | kConnectionRequired;
    return (flags & transientAndRequired) != transientAndRequired;
}

bool Reachability::isReachable() const {
    Flags flags = 0;
    return currentFlags(&flags) && isReachableWithFlags(flags);
}

bool Reachability::isReachableViaWiFi() const {
    return reachabilityFlags() & kReachable;
}

bool Reachability::isConnectionRequired() const {
    return reachabilityFlags() & kConnectionRequired;
}

bool Reachability::isConnectionOnDemand() const {
    const Flags flags = reachabilityFlags();
    return (flags & kConnectionRequired) && (flags & (kConnectionOnTraffic | kConnectionOnDemand));
}

bool Reachability::isInterventionRequired() const {
    const Flags flags = reachabilityFlags();
    return (flags & kConnectionRequired) && (flags & kInterventionRequired);
}

Reachability::NetworkStatus Reachability::currentReachabilityStatus() const {
    if (!isReachable())
        return NotReachable;
    return isReachableViaWiFi() ? ReachableViaWiFi : NotReachable;
}

QString Reachability::currentReachabilityString() const {
    switch (currentReachabilityStatus()) {
    case ReachableViaWWAN:
        return Localization::localizedString(QStringLiteral("Cellular"));
    case ReachableViaWiFi:
        return Localization::localizedString(QStringLiteral("WiFi"));
    default:
        return Localization::localizedString(QStringLiteral("No Connection"));
    }
}

QString Reachability::flagsText(Flags flags) {
    const auto letter = [flags](Flags bit, char c) { return QChar((flags & bit) ? c : '-'); };
    return QStringLiteral("X") + letter(kReachable, 'R') + QLatin1Char(' ') +
           letter(kConnectionRequired, 'c') + letter(kTransientConnection, 't') +
           letter(kInterventionRequired, 'i') + letter(kConnectionOnTraffic, 'C') +
           letter(kConnectionOnDemand, 'D') + letter(kIsLocalAddress, 'l') + letter(kIsDirect, 'd');
}

QString Reachability::currentReachabilityFlags() const {
    return flagsText(reachabilityFlags());
}

QString Reachability::description() const {
    return QString::asprintf("<%s: %#llx>", metaObject()->className(),
                             static_cast<unsigned long long>(reinterpret_cast<quintptr>(this)));
}

Reachability::Block Reachability::reachableBlock() const {
    std::lock_guard g(m_lock);
    return m_reachableBlock;
}

void Reachability::setReachableBlock(Block block) {
    std::lock_guard g(m_lock);
    m_reachableBlock = std::move(block);
}

Reachability::Block Reachability::unreachableBlock() const {
    std::lock_guard g(m_lock);
    return m_unreachableBlock;
}

void Reachability::setUnreachableBlock(Block block) {
    std::lock_guard g(m_lock);
    m_unreachableBlock = std::move(block);
}
