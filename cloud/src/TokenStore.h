// Single-use signature tokens. A household server keeps them in memory: a
// token is good for a few minutes, so a restart costing the outstanding ones
// is harmless. Servers that share a database keep them there (SharedState.h).
//
// A sign-in carries only a digest over the token, never the token itself, so
// the server has to try tokens until one fits. Each token is therefore kept
// under the address of the client it was issued to, and a sign-in tries only
// that client's few: a client flooding "getToken" neither makes everyone's
// signature checks slow nor pushes out the token another client is about to
// use.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

namespace cloud {

class SignatureTokens {
public:
    virtual ~SignatureTokens() = default;
    virtual std::string issue(const std::string &client) = 0;
    // Removes and reports the newest unexpired token issued to `client` for
    // which `matches` holds; each token is taken once, by one caller.
    virtual bool consumeIf(const std::string &client,
                           const std::function<bool(const std::string &token)> &matches) = 0;
};

class TokenStore final : public SignatureTokens {
public:
    using Clock = std::chrono::steady_clock;

    // `perClient`: outstanding tokens of one client address (its oldest give
    // way); `capacity`: outstanding tokens of all clients together.
    TokenStore(std::chrono::seconds lifetime, std::size_t perClient = 64,
               std::size_t capacity = 10000);

    std::string issue(const std::string &client) override;
    bool consumeIf(const std::string &client,
                   const std::function<bool(const std::string &token)> &matches) override;
    std::size_t size();

private:
    struct Entry {
        std::string client;
        std::string token;
        Clock::time_point expiry;
    };
    using Order = std::list<Entry>;

    // True when that was the client's last token (its list is then erased).
    bool remove(std::deque<Order::iterator> &owned, std::size_t index);
    void removeOldest();
    void purgeExpired(Clock::time_point now);

    std::chrono::seconds lifetime_;
    std::size_t perClient_;
    std::size_t capacity_;
    std::mutex mutex_;
    Order order_; // oldest first, all clients
    std::unordered_map<std::string, std::deque<Order::iterator>> byClient_; // oldest first
};

} // namespace cloud
