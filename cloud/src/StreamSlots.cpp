#include "StreamSlots.h"

namespace cloud {

std::shared_ptr<StreamSlots::Ticket> StreamSlots::take(std::int64_t userId) {
    std::lock_guard lock(mutex_);
    int &mine = perUser_[userId];
    if (mine >= perAccount_ || running_ >= total_) {
        if (mine == 0)
            perUser_.erase(userId);
        return nullptr;
    }
    ++mine;
    ++running_;
    return std::make_shared<Ticket>(*this, userId);
}

void StreamSlots::release(std::int64_t userId) {
    std::lock_guard lock(mutex_);
    --running_;
    if (--perUser_[userId] <= 0)
        perUser_.erase(userId);
}

} // namespace cloud
