#include "TokenBucket.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kMinimumBurst = 1024;

} // namespace

qint64 TokenBucket::burstFor(qint64 bytesPerSecond) {
    return std::max(bytesPerSecond / 10, kMinimumBurst);
}

double TokenBucket::tokensAt(Clock::time_point now) const {
    const double seconds = std::chrono::duration<double>(now - m_since).count();
    return std::min(double(burst()), m_tokens + std::max(0.0, seconds) * double(m_rate));
}

void TokenBucket::setRate(qint64 bytesPerSecond, Clock::time_point now) {
    const qint64 rate = std::max<qint64>(bytesPerSecond, 0);
    if (rate == m_rate)
        return;
    const bool wasUnlimited = m_rate == 0;
    const double saved = wasUnlimited ? 0.0 : tokensAt(now);
    m_rate = rate;
    m_since = now;
    m_tokens = wasUnlimited ? double(burst()) : std::min(saved, double(burst()));
}

qint64 TokenBucket::take(qint64 wanted, Clock::time_point now) {
    if (m_rate == 0 || wanted <= 0)
        return std::max<qint64>(wanted, 0);
    const double tokens = tokensAt(now);
    const qint64 granted = std::min(wanted, qint64(std::floor(tokens)));
    m_tokens = tokens - double(granted);
    m_since = now;
    return granted;
}

std::chrono::milliseconds TokenBucket::waitFor(qint64 bytes, Clock::time_point now) const {
    if (m_rate == 0)
        return std::chrono::milliseconds(0);
    const double missing = double(std::min(bytes, burst())) - tokensAt(now);
    if (missing <= 0)
        return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(qint64(std::ceil(missing * 1000.0 / double(m_rate))));
}
