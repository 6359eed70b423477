#include "SignInThrottle.h"

#include <algorithm>
#include <cctype>

namespace cloud {

using namespace throttle;

namespace {
constexpr std::size_t kMaxRecords = 100000;
} // namespace

std::string throttle::accountKey(const std::string &account) {
    std::string key = "account:";
    for (const char c : account)
        key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

std::string throttle::addressKey(const std::string &address) {
    return "address:" + address;
}

int throttle::waitAfter(int failures, int freeFailures) {
    if (failures < freeFailures)
        return 0;
    const int doublings = std::min(failures - freeFailures, 10);
    return std::min(kLongestWaitSeconds, 1 << doublings);
}

int SignInThrottle::waitFor(const std::string &key, Clock::time_point now) {
    const auto it = records_.find(key);
    if (it == records_.end() || it->second.blockedUntil <= now)
        return 0;
    const auto left = std::chrono::ceil<std::chrono::seconds>(it->second.blockedUntil - now);
    return static_cast<int>(std::max<std::int64_t>(1, left.count()));
}

int SignInThrottle::waitSeconds(const std::string &account, const std::string &address) {
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    return std::max(waitFor(accountKey(account), now), waitFor(addressKey(address), now));
}

void SignInThrottle::fail(const std::string &key, int freeFailures, Clock::time_point now) {
    Record &r = records_[key];
    // A few mistakes long ago do not count against someone today.
    if (now - r.lastFailure > std::chrono::seconds(kLongestWaitSeconds))
        r.failures = 0;
    r.lastFailure = now;
    ++r.failures;
    if (const int wait = waitAfter(r.failures, freeFailures); wait > 0)
        r.blockedUntil = now + std::chrono::seconds(wait);
}

void SignInThrottle::failed(const std::string &account, const std::string &address) {
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    if (records_.size() >= kMaxRecords) {
        // Keep memory bounded: forget whoever is not blocked right now.
        for (auto it = records_.begin(); it != records_.end();)
            it = it->second.blockedUntil <= now ? records_.erase(it) : std::next(it);
        if (records_.size() >= kMaxRecords)
            records_.clear();
    }
    fail(accountKey(account), kAccountFreeFailures, now);
    fail(addressKey(address), kAddressFreeFailures, now);
}

void SignInThrottle::succeeded(const std::string &account) {
    std::lock_guard lock(mutex_);
    records_.erase(accountKey(account));
}

} // namespace cloud
