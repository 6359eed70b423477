#include "UploadAllowance.h"

#include <sys/statvfs.h>

#include <algorithm>

namespace cloud {

class MemoryQuotaLedger::Reservation final : public QuotaReservation {
public:
    Reservation(MemoryQuotaLedger &ledger, std::int64_t userId)
        : ledger_(ledger)
        , userId_(userId) {}
    ~Reservation() override {
        std::lock_guard lock(ledger_.mutex_);
        Usage &usage = ledger_.usage(userId_);
        usage.inFlight -= std::min(held_, usage.inFlight);
    }

    bool grow(std::uint64_t bytes) override {
        std::lock_guard lock(ledger_.mutex_);
        Usage &usage = ledger_.usage(userId_);
        if (usage.stored + usage.inFlight + bytes > ledger_.quota_)
            return false;
        usage.inFlight += bytes;
        held_ += bytes;
        return true;
    }

    void keep() override {
        std::lock_guard lock(ledger_.mutex_);
        Usage &usage = ledger_.usage(userId_);
        const std::uint64_t held = std::min(held_, usage.inFlight);
        usage.inFlight -= held;
        usage.stored += held;
        held_ = 0;
    }

private:
    MemoryQuotaLedger &ledger_;
    std::int64_t userId_;
    std::uint64_t held_ = 0;
};

MemoryQuotaLedger::MemoryQuotaLedger(std::uint64_t quotaBytes,
                                     std::function<std::uint64_t(std::int64_t)> storedBytes)
    : QuotaLedger(quotaBytes)
    , storedBytes_(std::move(storedBytes)) {}

MemoryQuotaLedger::Usage &MemoryQuotaLedger::usage(std::int64_t userId) {
    auto it = usage_.find(userId);
    if (it == usage_.end())
        it = usage_.emplace(userId, Usage{storedBytes_(userId), 0}).first;
    return it->second;
}

bool MemoryQuotaLedger::full(std::int64_t userId) {
    std::lock_guard lock(mutex_);
    const Usage &u = usage(userId);
    return u.stored + u.inFlight >= quota_;
}

std::unique_ptr<QuotaReservation> MemoryQuotaLedger::reserve(std::int64_t userId, std::uint64_t) {
    return std::make_unique<Reservation>(*this, userId);
}

void MemoryQuotaLedger::released(std::int64_t userId, std::uint64_t bytes) {
    std::lock_guard lock(mutex_);
    // An account not counted yet reads its stored bytes afresh at its first upload.
    const auto it = usage_.find(userId);
    if (it != usage_.end())
        it->second.stored -= std::min(bytes, it->second.stored);
}

UploadAllowance::UploadAllowance(std::filesystem::path dataDir, std::uint64_t minFreeBytes,
                                 std::unique_ptr<QuotaLedger> ledger)
    : dataDir_(std::move(dataDir))
    , minFree_(minFreeBytes)
    , ledger_(std::move(ledger)) {}

bool UploadAllowance::diskLow(std::uint64_t comingBytes) const {
    struct statvfs fs {};
    if (::statvfs(dataDir_.c_str(), &fs) != 0)
        return true; // a disk we cannot measure is not one to fill
    const std::uint64_t available = std::uint64_t(fs.f_bavail) * fs.f_frsize;
    return available < minFree_ + comingBytes;
}

UploadRefusal UploadAllowance::check(std::int64_t userId) {
    if (ledger_->full(userId))
        return UploadRefusal::Quota;
    if (diskLow(0))
        return UploadRefusal::DiskLow;
    return UploadRefusal::None;
}

UploadRefusal UploadAllowance::grow(QuotaReservation &reservation, std::uint64_t bytes) {
    if (!reservation.grow(bytes))
        return UploadRefusal::Quota;
    // Bytes reserved earlier are on the disk already, so statvfs counts them.
    // Those just reserved are given back with the refused upload.
    if (diskLow(bytes))
        return UploadRefusal::DiskLow;
    return UploadRefusal::None;
}

} // namespace cloud
