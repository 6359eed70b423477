#include "TokenStore.h"

#include "Crypto.h"

namespace cloud {

TokenStore::TokenStore(std::chrono::seconds lifetime, std::size_t perClient, std::size_t capacity)
    : lifetime_(lifetime)
    , perClient_(perClient > 0 ? perClient : 1)
    , capacity_(capacity > 0 ? capacity : 1) {}

std::string TokenStore::issue(const std::string &client) {
    std::string token = crypto::randomHex(16);
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    purgeExpired(now);
    if (const auto it = byClient_.find(client); it != byClient_.end()) {
        while (it->second.size() >= perClient_) {
            if (remove(it->second, 0))
                break;
        }
    }
    while (order_.size() >= capacity_)
        removeOldest();
    auto &owned = byClient_[client];
    owned.push_back(order_.insert(order_.end(), Entry{client, token, now + lifetime_}));
    return token;
}

bool TokenStore::consumeIf(const std::string &client,
                           const std::function<bool(const std::string &)> &matches) {
    std::lock_guard lock(mutex_);
    purgeExpired(Clock::now());
    const auto found = byClient_.find(client);
    if (found == byClient_.end())
        return false;
    auto &owned = found->second;
    // Newest first: the token a client just fetched is the likely one.
    for (std::size_t i = owned.size(); i-- > 0;) {
        if (matches(owned[i]->token)) {
            remove(owned, i);
            return true;
        }
    }
    return false;
}

std::size_t TokenStore::size() {
    std::lock_guard lock(mutex_);
    return order_.size();
}

bool TokenStore::remove(std::deque<Order::iterator> &owned, std::size_t index) {
    const std::string client = owned[index]->client;
    order_.erase(owned[index]);
    owned.erase(owned.begin() + static_cast<std::ptrdiff_t>(index));
    if (!owned.empty())
        return false;
    byClient_.erase(client); // `owned` is gone with it
    return true;
}

void TokenStore::removeOldest() {
    // The oldest token of all is also the oldest of its client.
    remove(byClient_.at(order_.front().client), 0);
}

void TokenStore::purgeExpired(Clock::time_point now) {
    while (!order_.empty() && order_.front().expiry <= now)
        removeOldest();
}

} // namespace cloud
