#pragma once

#include <QtGlobal>

#include <chrono>

// The arithmetic of a rate limit: bytes may go as fast as tokens accrue, one
// token a byte at `rate` a second, plus a small burst (a tenth of a second's
// worth, at least 1 KiB) saved up while nothing went. Over any stretch of time
// T no more than burst() + rate * T bytes are granted. Times are passed in, so
// that the arithmetic can be checked without waiting.
class TokenBucket {
public:
    using Clock = std::chrono::steady_clock;

    // Bytes a second; 0 is no limit. Tokens saved up are kept up to the new
    // burst; a bucket that had no limit starts with a full burst.
    void setRate(qint64 bytesPerSecond, Clock::time_point now);
    qint64 rate() const { return m_rate; }
    qint64 burst() const { return burstFor(m_rate); }
    static qint64 burstFor(qint64 bytesPerSecond);

    // How many of `wanted` bytes may go at `now` (all of them without a
    // limit); they count as gone.
    qint64 take(qint64 wanted, Clock::time_point now);
    // How long from `now` until `bytes` (at most one burst) may go; zero
    // when they may go now or there is no limit.
    std::chrono::milliseconds waitFor(qint64 bytes, Clock::time_point now) const;

private:
    double tokensAt(Clock::time_point now) const;

    qint64 m_rate = 0;
    double m_tokens = 0; // at m_since
    Clock::time_point m_since;
};
