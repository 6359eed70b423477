#include "TokenStore.h"

#include "Crypto.h"

namespace cloud {

TokenStore::TokenStore(std::chrono::seconds lifetime, std::size_t capacity)
    : lifetime_(lifetime)
    , capacity_(capacity) {}

std::string TokenStore::issue() {
    std::string token = crypto::randomHex(16);
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    purgeExpired(now);
    // Bounded, so that a flood of token requests cannot grow memory or make
    // signature checks slow; the oldest outstanding tokens give way.
    while (expiries_.size() >= capacity_ && !byExpiry_.empty()) {
        expiries_.erase(byExpiry_.begin()->second);
        byExpiry_.erase(byExpiry_.begin());
    }
    const auto expiry = now + lifetime_;
    expiries_.emplace(token, expiry);
    byExpiry_.emplace(expiry, token);
    return token;
}

bool TokenStore::consumeIf(const std::function<bool(const std::string &)> &matches) {
    std::lock_guard lock(mutex_);
    purgeExpired(Clock::now());
    // Newest first: the token a client just fetched is the likely one.
    for (auto it = byExpiry_.rbegin(); it != byExpiry_.rend(); ++it) {
        if (matches(it->second)) {
            expiries_.erase(it->second);
            byExpiry_.erase(std::next(it).base());
            return true;
        }
    }
    return false;
}

std::size_t TokenStore::size() {
    std::lock_guard lock(mutex_);
    return expiries_.size();
}

void TokenStore::purgeExpired(Clock::time_point now) {
    while (!byExpiry_.empty() && byExpiry_.begin()->first <= now) {
        expiries_.erase(byExpiry_.begin()->second);
        byExpiry_.erase(byExpiry_.begin());
    }
}

} // namespace cloud
