// Single-use signature tokens. They live only in memory: a token is good for a
// few minutes, so a restart costing the outstanding ones is harmless.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace cloud {

class TokenStore {
public:
    using Clock = std::chrono::steady_clock;

    TokenStore(std::chrono::seconds lifetime, std::size_t capacity = 10000);

    std::string issue();
    // Removes and reports the first unexpired token for which `matches` holds.
    bool consumeIf(const std::function<bool(const std::string &token)> &matches);
    std::size_t size();

private:
    void purgeExpired(Clock::time_point now);

    std::chrono::seconds lifetime_;
    std::size_t capacity_;
    std::mutex mutex_;
    std::map<std::string, Clock::time_point> expiries_;
    std::multimap<Clock::time_point, std::string> byExpiry_;
};

} // namespace cloud
