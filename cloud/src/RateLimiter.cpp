#include "RateLimiter.h"

#include <algorithm>

namespace cloud {

namespace {
constexpr std::size_t kMaxKeys = 100000;
}

bool RateLimiter::allow(const std::string &key) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    if (buckets_.size() >= kMaxKeys) {
        // Forget the buckets that have refilled; a full one holds no restriction.
        for (auto it = buckets_.begin(); it != buckets_.end();) {
            const double seconds = std::chrono::duration<double>(now - it->second.updated).count();
            it = it->second.tokens + seconds * perSecond_ >= burst_ ? buckets_.erase(it)
                                                                    : std::next(it);
        }
        if (buckets_.size() >= kMaxKeys)
            buckets_.clear();
    }
    auto [it, fresh] = buckets_.try_emplace(key, Bucket{burst_, now});
    Bucket &b = it->second;
    if (!fresh) {
        const double seconds = std::chrono::duration<double>(now - b.updated).count();
        b.tokens = std::min(burst_, b.tokens + seconds * perSecond_);
        b.updated = now;
    }
    if (b.tokens < 1.0)
        return false;
    b.tokens -= 1.0;
    return true;
}

} // namespace cloud
