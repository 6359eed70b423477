// How much an upload may still grow: each account keeps within its storage
// quota (what it stores plus what it is uploading right now, so parallel
// uploads cannot slip past it together), and no upload takes the disk below
// its free-space floor.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>

namespace cloud {

enum class UploadRefusal { None, Quota, DiskLow };

class UploadAllowance {
public:
    UploadAllowance(std::filesystem::path dataDir, std::uint64_t quotaBytes,
                    std::uint64_t minFreeBytes);

    // Before any byte is read: is there room for anything at all? The
    // account's stored bytes are read through `storedBytes` the first time
    // only; from then on this keeps count.
    UploadRefusal check(std::int64_t userId, const std::function<std::uint64_t()> &storedBytes);
    // Reserves `bytes` more for an upload in progress (after check());
    // nothing is reserved when it is refused.
    UploadRefusal grow(std::int64_t userId, std::uint64_t bytes);
    // An upload ended: its reservation is either now stored or given back.
    void finish(std::int64_t userId, std::uint64_t reserved, bool stored);
    // The account stores `bytes` less (an item of its library was retired).
    void release(std::int64_t userId, std::uint64_t bytes);

    std::uint64_t quotaBytes() const { return quota_; }
    std::uint64_t minFreeBytes() const { return minFree_; }

private:
    bool diskLow(std::uint64_t comingBytes) const;

    std::filesystem::path dataDir_;
    std::uint64_t quota_;
    std::uint64_t minFree_;
    std::mutex mutex_;
    struct Usage {
        std::uint64_t stored = 0;
        std::uint64_t inFlight = 0;
    };
    std::map<std::int64_t, Usage> usage_;
};

} // namespace cloud
