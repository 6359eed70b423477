#include "TransferPace.h"

#include "TransferLimits.h"

#include <QNetworkReply>

#include <algorithm>

namespace {

using namespace std::chrono_literals;

// A wake never comes sooner (no busy waiting on crumbs of a slow limit) nor
// later (a limit raised or lifted takes hold within this).
constexpr auto kShortestWait = 10ms;
constexpr auto kLongestWait = 250ms;
// A limited reply holds this much at least, so the network layer still
// reads the socket in useful pieces.
constexpr qint64 kSmallestReadBuffer = 64 * 1024;

} // namespace

TransferPace::TransferPace(Direction direction, QObject *parent)
    : QObject(parent)
    , m_direction(direction) {
    m_wakeTimer.setSingleShot(true);
    connect(&m_wakeTimer, &QTimer::timeout, this, [this] {
        if (m_wakeContext && m_wake)
            m_wake();
    });
}

void TransferPace::setWake(QObject *context, std::function<void()> wake) {
    m_wakeContext = context;
    m_wake = std::move(wake);
}

qint64 TransferPace::limitInForce() const {
    const int kiBps = m_direction == Direction::Upload ? TransferLimits::uploadInForce()
                                                       : TransferLimits::downloadInForce();
    return qint64(kiBps) * 1024;
}

qint64 TransferPace::allowance(qint64 wanted) {
    const qint64 limit = limitInForce();
    if (limit == 0 && m_bucket.rate() == 0)
        return wanted;
    const TokenBucket::Clock::time_point now = TokenBucket::Clock::now();
    m_bucket.setRate(limit, now);
    const qint64 granted = m_bucket.take(wanted, now);
    if (granted < wanted && !m_wakeTimer.isActive())
        m_wakeTimer.start(std::clamp<std::chrono::milliseconds>(
            m_bucket.waitFor(wanted - granted, now), kShortestWait, kLongestWait));
    return granted;
}

void TransferPace::bound(QNetworkReply *reply) const {
    const qint64 limit = limitInForce();
    // 0 is Qt's own default: no bound.
    const qint64 size =
        limit == 0 ? 0 : std::max(2 * TokenBucket::burstFor(limit), kSmallestReadBuffer);
    if (reply->readBufferSize() != size)
        reply->setReadBufferSize(size);
}

QByteArray TransferPace::read(QNetworkReply *reply) {
    bound(reply);
    const qint64 available = reply->bytesAvailable();
    const qint64 allowed = allowance(available);
    return allowed >= available ? reply->readAll() : reply->read(allowed);
}
