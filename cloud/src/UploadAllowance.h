// How much an upload may still grow: each account keeps within its storage
// quota (what it stores plus what it is uploading right now, so parallel
// uploads cannot slip past it together), and no upload takes the disk below
// its free-space floor.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace cloud {

enum class UploadRefusal { None, Quota, DiskLow };

// The bytes one upload in flight holds against its account's quota.
// Destroyed, it gives them back, unless the upload was kept.
class QuotaReservation {
public:
    virtual ~QuotaReservation() = default;
    // Holds `bytes` more; false, holding what it held, when the quota has no
    // room for them.
    virtual bool grow(std::uint64_t bytes) = 0;
    // The upload was stored: what it holds counts as the account's stored
    // bytes from now on.
    virtual void keep() = 0;
};

// What each account stores and is uploading, against its quota: in this
// process's memory (MemoryQuotaLedger), or in the database several servers
// share (SharedQuotaLedger, SharedState.h).
class QuotaLedger {
public:
    explicit QuotaLedger(std::uint64_t quotaBytes)
        : quota_(quotaBytes) {}
    virtual ~QuotaLedger() = default;
    std::uint64_t quotaBytes() const { return quota_; }
    // What the account stores and uploads leaves no room at all.
    virtual bool full(std::int64_t userId) = 0;
    // A reservation, holding nothing yet, for an upload of about
    // `expectedBytes` (0: not known).
    virtual std::unique_ptr<QuotaReservation> reserve(std::int64_t userId,
                                                      std::uint64_t expectedBytes) = 0;
    // The account stores `bytes` less (an item of its library was retired).
    virtual void released(std::int64_t userId, std::uint64_t bytes) = 0;

protected:
    const std::uint64_t quota_;
};

// One process's count. An account's stored bytes are read through
// `storedBytes` the first time it uploads; from then on this keeps count.
class MemoryQuotaLedger final : public QuotaLedger {
public:
    MemoryQuotaLedger(std::uint64_t quotaBytes,
                      std::function<std::uint64_t(std::int64_t userId)> storedBytes);
    bool full(std::int64_t userId) override;
    std::unique_ptr<QuotaReservation> reserve(std::int64_t userId,
                                              std::uint64_t expectedBytes) override;
    void released(std::int64_t userId, std::uint64_t bytes) override;

private:
    class Reservation;
    struct Usage {
        std::uint64_t stored = 0;
        std::uint64_t inFlight = 0;
    };
    Usage &usage(std::int64_t userId); // under mutex_

    std::function<std::uint64_t(std::int64_t)> storedBytes_;
    std::mutex mutex_;
    std::map<std::int64_t, Usage> usage_;
};

class UploadAllowance {
public:
    UploadAllowance(std::filesystem::path dataDir, std::uint64_t minFreeBytes,
                    std::unique_ptr<QuotaLedger> ledger);

    // Before any byte is read: is there room for anything at all?
    UploadRefusal check(std::int64_t userId);
    // The reservation of an upload about to be read (after check()).
    std::unique_ptr<QuotaReservation> reserve(std::int64_t userId, std::uint64_t expectedBytes) {
        return ledger_->reserve(userId, expectedBytes);
    }
    // Whether `bytes` more of the upload may be stored; held on its
    // reservation when they may. The disk's floor is this process's to keep.
    UploadRefusal grow(QuotaReservation &reservation, std::uint64_t bytes);
    // The account stores `bytes` less (an item of its library was retired).
    void release(std::int64_t userId, std::uint64_t bytes) { ledger_->released(userId, bytes); }

    std::uint64_t quotaBytes() const { return ledger_->quotaBytes(); }
    std::uint64_t minFreeBytes() const { return minFree_; }

private:
    bool diskLow(std::uint64_t comingBytes) const;

    std::filesystem::path dataDir_;
    std::uint64_t minFree_;
    std::unique_ptr<QuotaLedger> ledger_;
};

} // namespace cloud
