// What servers that share one database must also share, kept in it: the
// single-use signature tokens, the sign-in throttles, the request rate
// limits and the uploads in flight that count against an account's quota.
// Guessing spread over several servers is then slowed as if it hit one, a
// token is used once whichever server sees it, and parallel uploads through
// several servers cannot slip past a quota together. A household server (one
// process) keeps the same in memory.
#pragma once

#include "Database.h"
#include "RateLimiter.h"
#include "SignInThrottle.h"
#include "TokenStore.h"
#include "UploadAllowance.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

namespace cloud {

// One connection for the shared state of a process, apart from the store's,
// so that a sign-in's throttle never waits behind a long listing.
class SharedDatabase {
public:
    explicit SharedDatabase(const std::string &location)
        : db_(location) {}
    Database &db() { return db_; }
    void ping() {
        std::lock_guard lock(mutex_);
        db_.ping();
    }
    std::mutex &mutex() { return mutex_; }

private:
    Database db_;
    std::mutex mutex_;
};

class SharedTokens final : public SignatureTokens {
public:
    SharedTokens(std::shared_ptr<SharedDatabase> db, std::chrono::seconds lifetime,
                 std::size_t perClient = 64, std::size_t capacity = 10000);
    std::string issue(const std::string &client) override;
    bool consumeIf(const std::string &client,
                   const std::function<bool(const std::string &token)> &matches) override;

private:
    std::shared_ptr<SharedDatabase> shared_;
    std::chrono::seconds lifetime_;
    std::size_t perClient_;
    std::size_t capacity_;
};

// `kind` names the throttle ("sign-in", "player"): each counts apart.
class SharedThrottle final : public FailureThrottle {
public:
    SharedThrottle(std::shared_ptr<SharedDatabase> db, std::string kind);
    int waitSeconds(const std::string &account, const std::string &address) override;
    void failed(const std::string &account, const std::string &address) override;
    void succeeded(const std::string &account) override;

private:
    void fail(const std::string &key, int freeFailures, std::int64_t now);
    std::shared_ptr<SharedDatabase> shared_;
    std::string kind_;
};

class SharedRateLimiter final : public RequestLimiter {
public:
    SharedRateLimiter(std::shared_ptr<SharedDatabase> db, std::string kind, double perSecond,
                      double burst);
    bool allow(const std::string &key) override;

private:
    std::shared_ptr<SharedDatabase> shared_;
    std::string kind_;
    double perSecond_;
    double burst_;
};

// An account's stored bytes are read from its library in the database at
// every decision, and each upload in flight holds a row of its own there
// until it ends. A row is kept alive while its upload is written and expires
// `lifetime` after that, so that a killed server's uploads stop counting.
class SharedQuotaLedger final : public QuotaLedger {
public:
    static constexpr std::chrono::seconds kLifetime{300};

    SharedQuotaLedger(std::shared_ptr<SharedDatabase> db, std::uint64_t quotaBytes,
                      std::chrono::milliseconds lifetime = kLifetime);
    bool full(std::int64_t userId) override;
    std::unique_ptr<QuotaReservation> reserve(std::int64_t userId,
                                              std::uint64_t expectedBytes) override;
    // Nothing to do: the stored bytes are read afresh each time.
    void released(std::int64_t, std::uint64_t) override {}

private:
    class Reservation;
    std::shared_ptr<SharedDatabase> shared_;
    std::chrono::milliseconds lifetime_;
};

// The limit of one kind of request: in the database when the servers share
// one (`shared` set), else in this process's memory.
std::unique_ptr<RequestLimiter> makeRequestLimiter(const std::shared_ptr<SharedDatabase> &shared,
                                                   const std::string &kind, double perSecond,
                                                   double burst);

} // namespace cloud
