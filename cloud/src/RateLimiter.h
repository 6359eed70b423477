// Token buckets per key (a client address, an account): `burst` requests at
// once, refilled at `perSecond`. Bounded in memory: the fullest buckets are
// forgotten first, which only ever lets a client through.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace cloud {

class RequestLimiter {
public:
    virtual ~RequestLimiter() = default;
    // Takes one token; false when the key has none left.
    virtual bool allow(const std::string &key) = 0;
};

class RateLimiter final : public RequestLimiter {
public:
    RateLimiter(double perSecond, double burst)
        : perSecond_(perSecond)
        , burst_(burst) {}
    bool allow(const std::string &key) override;

private:
    struct Bucket {
        double tokens;
        std::chrono::steady_clock::time_point updated;
    };
    double perSecond_;
    double burst_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
};

} // namespace cloud
