// Slows password guessing: after a few failed sign-ins an account, and after
// some more a client address, must wait before the next attempt, the wait
// doubling with each further failure. A success clears the account's count.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace cloud {

class FailureThrottle {
public:
    virtual ~FailureThrottle() = default;
    // Seconds to wait before `account` may be tried from `address`; 0 lets it through.
    virtual int waitSeconds(const std::string &account, const std::string &address) = 0;
    virtual void failed(const std::string &account, const std::string &address) = 0;
    virtual void succeeded(const std::string &account) = 0;
};

// The policy, shared by the throttle in memory and the one in the database.
namespace throttle {
inline constexpr int kAccountFreeFailures = 5;
// Many people may share one address (a household, a campus): it gets more.
inline constexpr int kAddressFreeFailures = 20;
inline constexpr int kLongestWaitSeconds = 15 * 60;
std::string accountKey(const std::string &account);
std::string addressKey(const std::string &address);
// The wait after the `failures`th failure in a row of a key allowed `freeFailures`.
int waitAfter(int failures, int freeFailures);
} // namespace throttle

class SignInThrottle final : public FailureThrottle {
public:
    using Clock = std::chrono::steady_clock;

    int waitSeconds(const std::string &account, const std::string &address) override;
    void failed(const std::string &account, const std::string &address) override;
    void succeeded(const std::string &account) override;

private:
    struct Record {
        int failures = 0;
        Clock::time_point blockedUntil;
        Clock::time_point lastFailure;
    };
    int waitFor(const std::string &key, Clock::time_point now);
    void fail(const std::string &key, int freeFailures, Clock::time_point now);

    std::mutex mutex_;
    std::unordered_map<std::string, Record> records_;
};

} // namespace cloud
