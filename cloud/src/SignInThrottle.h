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

class SignInThrottle {
public:
    using Clock = std::chrono::steady_clock;

    // Seconds to wait before `account` may be tried from `address`; 0 lets it through.
    int waitSeconds(const std::string &account, const std::string &address);
    void failed(const std::string &account, const std::string &address);
    void succeeded(const std::string &account);

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
