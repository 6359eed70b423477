#include "CoverCache.h"

namespace cloud {

namespace {

// What an entry costs beyond its picture: its key, the list and map nodes.
constexpr std::size_t kEntryOverhead = 128;

} // namespace

std::optional<std::shared_ptr<const Picture>> CoverCache::find(const std::string &key) {
    std::lock_guard lock(mutex_);
    const auto it = index_.find(key);
    if (it == index_.end())
        return std::nullopt;
    order_.splice(order_.begin(), order_, it->second);
    return it->second->picture;
}

void CoverCache::put(const std::string &key, std::shared_ptr<const Picture> picture) {
    const std::size_t cost = kEntryOverhead + key.size() +
                             (picture ? picture->bytes.size() + picture->contentType.size() : 0);
    std::lock_guard lock(mutex_);
    if (const auto it = index_.find(key); it != index_.end()) {
        bytes_ -= it->second->cost;
        order_.erase(it->second);
        index_.erase(it);
    }
    // One picture may not push out a whole grid of small ones.
    if (cost > capacity_ / 8)
        return;
    order_.push_front({key, std::move(picture), cost});
    index_[key] = order_.begin();
    bytes_ += cost;
    while (bytes_ > capacity_ && !order_.empty()) {
        bytes_ -= order_.back().cost;
        index_.erase(order_.back().key);
        order_.pop_back();
    }
}

std::size_t CoverCache::bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

} // namespace cloud
