#include "UploadAllowance.h"

#include <sys/statvfs.h>

namespace cloud {

UploadAllowance::UploadAllowance(std::filesystem::path dataDir, std::uint64_t quotaBytes,
                                 std::uint64_t minFreeBytes)
    : dataDir_(std::move(dataDir))
    , quota_(quotaBytes)
    , minFree_(minFreeBytes) {}

bool UploadAllowance::diskLow(std::uint64_t comingBytes) const {
    struct statvfs fs {};
    if (::statvfs(dataDir_.c_str(), &fs) != 0)
        return true; // a disk we cannot measure is not one to fill
    const std::uint64_t available = std::uint64_t(fs.f_bavail) * fs.f_frsize;
    return available < minFree_ + comingBytes;
}

UploadRefusal UploadAllowance::check(std::int64_t userId,
                                     const std::function<std::uint64_t()> &storedBytes) {
    std::lock_guard lock(mutex_);
    auto it = usage_.find(userId);
    if (it == usage_.end())
        it = usage_.emplace(userId, Usage{storedBytes(), 0}).first;
    if (it->second.stored + it->second.inFlight >= quota_)
        return UploadRefusal::Quota;
    if (diskLow(0))
        return UploadRefusal::DiskLow;
    return UploadRefusal::None;
}

UploadRefusal UploadAllowance::grow(std::int64_t userId, std::uint64_t bytes) {
    std::lock_guard lock(mutex_);
    Usage &usage = usage_[userId];
    if (usage.stored + usage.inFlight + bytes > quota_)
        return UploadRefusal::Quota;
    // Bytes reserved earlier are on the disk already, so statvfs counts them.
    if (diskLow(bytes))
        return UploadRefusal::DiskLow;
    usage.inFlight += bytes;
    return UploadRefusal::None;
}

void UploadAllowance::finish(std::int64_t userId, std::uint64_t reserved, bool stored) {
    std::lock_guard lock(mutex_);
    Usage &usage = usage_[userId];
    reserved = std::min(reserved, usage.inFlight);
    usage.inFlight -= reserved;
    if (stored)
        usage.stored += reserved;
}

void UploadAllowance::release(std::int64_t userId, std::uint64_t bytes) {
    std::lock_guard lock(mutex_);
    // An account not counted yet reads its stored bytes afresh at its first check.
    const auto it = usage_.find(userId);
    if (it != usage_.end())
        it->second.stored -= std::min(bytes, it->second.stored);
}

} // namespace cloud
