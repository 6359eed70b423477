#include "SharedState.h"

#include "Crypto.h"
#include "Store.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

namespace cloud {

SharedTokens::SharedTokens(std::shared_ptr<SharedDatabase> db, std::chrono::seconds lifetime,
                           std::size_t perClient, std::size_t capacity)
    : shared_(std::move(db))
    , lifetime_(lifetime)
    , perClient_(std::max<std::size_t>(perClient, 1))
    , capacity_(std::max<std::size_t>(capacity, 1)) {}

std::string SharedTokens::issue(const std::string &client) {
    std::string token = crypto::randomHex(16);
    const std::int64_t now = nowMs();
    std::lock_guard lock(shared_->mutex());
    Database &db = shared_->db();
    Transaction tx(db);
    Statement(db, "DELETE FROM sign_in_tokens WHERE expires_ms <= ?").bind(1, now).run();
    // A client's oldest tokens give way to its new one, and everyone's oldest
    // to the capacity: a flood costs the flooding client only.
    Statement(db, "DELETE FROM sign_in_tokens WHERE client = ?1 AND seq <= (SELECT seq FROM "
                  "sign_in_tokens WHERE client = ?1 ORDER BY seq DESC LIMIT 1 OFFSET ?2)")
        .bind(1, client)
        .bind(2, static_cast<std::int64_t>(perClient_ - 1))
        .run();
    Statement(db, "DELETE FROM sign_in_tokens WHERE seq <= (SELECT seq FROM sign_in_tokens "
                  "ORDER BY seq DESC LIMIT 1 OFFSET ?)")
        .bind(1, static_cast<std::int64_t>(capacity_ - 1))
        .run();
    Statement(db, "INSERT INTO sign_in_tokens(token, client, expires_ms) VALUES(?,?,?)")
        .bind(1, token)
        .bind(2, client)
        .bind(3, now + std::chrono::milliseconds(lifetime_).count())
        .run();
    tx.commit();
    return token;
}

bool SharedTokens::consumeIf(const std::string &client,
                             const std::function<bool(const std::string &)> &matches) {
    std::lock_guard lock(shared_->mutex());
    Database &db = shared_->db();
    std::vector<std::string> candidates;
    {
        // Newest first: the token a client just fetched is the likely one.
        Statement q(db, "SELECT token FROM sign_in_tokens WHERE client = ? AND expires_ms > ? "
                        "ORDER BY seq DESC LIMIT ?");
        q.bind(1, client).bind(2, nowMs()).bind(3, static_cast<std::int64_t>(perClient_));
        while (q.step())
            candidates.push_back(q.text(0));
    }
    for (const auto &token : candidates) {
        if (!matches(token))
            continue;
        // Whoever deletes the row has used the token; another server that
        // checked the same token a moment earlier or later finds it gone.
        Statement(db, "DELETE FROM sign_in_tokens WHERE token = ?").bind(1, token).run();
        return db.changes() == 1;
    }
    return false;
}

SharedThrottle::SharedThrottle(std::shared_ptr<SharedDatabase> db, std::string kind)
    : shared_(std::move(db))
    , kind_(std::move(kind)) {}

int SharedThrottle::waitSeconds(const std::string &account, const std::string &address) {
    const std::int64_t now = nowMs();
    std::lock_guard lock(shared_->mutex());
    Statement q(shared_->db(), "SELECT COALESCE(MAX(blocked_until_ms), 0) FROM throttles "
                               "WHERE kind = ? AND key IN (?, ?)");
    q.bind(1, kind_).bind(2, throttle::accountKey(account)).bind(3, throttle::addressKey(address));
    const std::int64_t until = q.step() ? q.integer(0) : 0;
    if (until <= now)
        return 0;
    return static_cast<int>(std::max<std::int64_t>(1, (until - now + 999) / 1000));
}

void SharedThrottle::fail(const std::string &key, int freeFailures, std::int64_t now) {
    Database &db = shared_->db();
    int failures = 0;
    std::int64_t blockedUntil = 0;
    {
        Statement q(db, "SELECT failures, last_failure_ms, blocked_until_ms FROM throttles "
                        "WHERE kind = ? AND key = ?");
        q.bind(1, kind_).bind(2, key);
        // A few mistakes long ago do not count against someone today.
        if (q.step() && now - q.integer(1) <= std::int64_t{throttle::kLongestWaitSeconds} * 1000) {
            failures = static_cast<int>(q.integer(0));
            blockedUntil = q.integer(2);
        }
    }
    ++failures;
    if (const int wait = throttle::waitAfter(failures, freeFailures); wait > 0)
        blockedUntil = now + std::int64_t{wait} * 1000;
    Statement(db, "INSERT INTO throttles(kind, key, failures, last_failure_ms, blocked_until_ms) "
                  "VALUES(?,?,?,?,?) ON CONFLICT(kind, key) DO UPDATE SET "
                  "failures = excluded.failures, last_failure_ms = excluded.last_failure_ms, "
                  "blocked_until_ms = excluded.blocked_until_ms")
        .bind(1, kind_)
        .bind(2, key)
        .bind(3, failures)
        .bind(4, now)
        .bind(5, blockedUntil)
        .run();
}

void SharedThrottle::failed(const std::string &account, const std::string &address) {
    const std::int64_t now = nowMs();
    std::lock_guard lock(shared_->mutex());
    Database &db = shared_->db();
    Transaction tx(db);
    // Records nobody would wait for any more are forgotten.
    Statement(db, "DELETE FROM throttles WHERE last_failure_ms < ? AND blocked_until_ms < ?")
        .bind(1, now - std::int64_t{throttle::kLongestWaitSeconds} * 1000)
        .bind(2, now)
        .run();
    fail(throttle::accountKey(account), throttle::kAccountFreeFailures, now);
    fail(throttle::addressKey(address), throttle::kAddressFreeFailures, now);
    tx.commit();
}

void SharedThrottle::succeeded(const std::string &account) {
    std::lock_guard lock(shared_->mutex());
    Statement(shared_->db(), "DELETE FROM throttles WHERE kind = ? AND key = ?")
        .bind(1, kind_)
        .bind(2, throttle::accountKey(account))
        .run();
}

SharedRateLimiter::SharedRateLimiter(std::shared_ptr<SharedDatabase> db, std::string kind,
                                     double perSecond, double burst)
    : shared_(std::move(db))
    , kind_(std::move(kind))
    , perSecond_(perSecond)
    , burst_(burst) {}

bool SharedRateLimiter::allow(const std::string &key) {
    const std::int64_t now = nowMs();
    std::lock_guard lock(shared_->mutex());
    Database &db = shared_->db();
    Transaction tx(db);
    // Tokens are kept in thousandths, so that the column is an integer on
    // both engines.
    double tokens = burst_;
    {
        Statement q(db, "SELECT milli_tokens, updated_ms FROM rate_buckets "
                        "WHERE kind = ? AND key = ?");
        q.bind(1, kind_).bind(2, key);
        if (q.step()) {
            const double seconds = static_cast<double>(now - q.integer(1)) / 1000.0;
            tokens = std::min(burst_, static_cast<double>(q.integer(0)) / 1000.0 +
                                          std::max(0.0, seconds) * perSecond_);
        }
    }
    const bool allowed = tokens >= 1.0;
    if (allowed)
        tokens -= 1.0;
    Statement(db, "INSERT INTO rate_buckets(kind, key, milli_tokens, updated_ms) VALUES(?,?,?,?) "
                  "ON CONFLICT(kind, key) DO UPDATE SET milli_tokens = excluded.milli_tokens, "
                  "updated_ms = excluded.updated_ms")
        .bind(1, kind_)
        .bind(2, key)
        .bind(3, static_cast<std::int64_t>(std::floor(tokens * 1000.0)))
        .bind(4, now)
        .run();
    // A bucket untouched long enough to be full again holds no restriction.
    Statement(db, "DELETE FROM rate_buckets WHERE kind = ? AND updated_ms < ?")
        .bind(1, kind_)
        .bind(2, now - static_cast<std::int64_t>(std::ceil(burst_ / perSecond_ * 1000.0)) - 1000)
        .run();
    tx.commit();
    return allowed;
}

namespace {

// What a reservation books beyond the bytes written so far when the upload's
// size is not known: a trip to the database per mebibyte, not per piece of
// the body.
constexpr std::uint64_t kBookAhead = 1u << 20;

// Bytes the account's unexpired uploads in flight hold, but upload `except`'s.
std::uint64_t reservedBytes(Database &db, std::int64_t userId, const std::string &except,
                            std::int64_t now) {
    Statement q(db, "SELECT COALESCE(SUM(bytes), 0) FROM upload_reservations "
                    "WHERE user_id = ? AND id <> ? AND expires_ms > ?");
    q.bind(1, userId).bind(2, except).bind(3, now);
    return q.step() ? static_cast<std::uint64_t>(q.integer(0)) : 0;
}

} // namespace

class SharedQuotaLedger::Reservation final : public QuotaReservation {
public:
    Reservation(SharedQuotaLedger &ledger, std::int64_t userId, std::uint64_t expectedBytes)
        : ledger_(ledger)
        , userId_(userId)
        , expected_(expectedBytes)
        , id_(crypto::randomHex(16)) {}

    ~Reservation() override {
        if (!booked_)
            return;
        try {
            std::lock_guard lock(ledger_.shared_->mutex());
            Statement(ledger_.shared_->db(), "DELETE FROM upload_reservations WHERE id = ?")
                .bind(1, id_)
                .run();
        } catch (const std::exception &e) {
            std::fprintf(stderr, "cannot end an upload's reservation (it expires by itself): %s\n",
                         e.what());
        }
    }

    bool grow(std::uint64_t bytes) override {
        const std::uint64_t wanted = held_ + bytes;
        const std::int64_t now = nowMs();
        if (booked_ && wanted <= *booked_ && (now < refreshAtMs_ || refresh(now))) {
            held_ = wanted;
            return true;
        }
        if (!book(wanted, now))
            return false;
        held_ = wanted;
        return true;
    }

    // The library's record of the upload counts its bytes from now on; the
    // row goes with the reservation.
    void keep() override {}

private:
    std::chrono::milliseconds lifetime() const { return ledger_.lifetime_; }

    // Keeps the row alive; false when it expired meanwhile and is gone.
    bool refresh(std::int64_t now) {
        std::lock_guard lock(ledger_.shared_->mutex());
        Database &db = ledger_.shared_->db();
        Statement(db, "UPDATE upload_reservations SET expires_ms = ? WHERE id = ?")
            .bind(1, now + lifetime().count())
            .bind(2, id_)
            .run();
        if (db.changes() != 1)
            return false;
        refreshAtMs_ = now + lifetime().count() / 4;
        return true;
    }

    // Books `wanted` bytes, and some ahead, when the quota has room for them
    // beside what the account stores and its other uploads hold, whichever
    // server they run on: the writers' lock keeps any other booking and any
    // new library record out between the sums and the row.
    bool book(std::uint64_t wanted, std::int64_t now) {
        std::lock_guard lock(ledger_.shared_->mutex());
        Database &db = ledger_.shared_->db();
        Transaction tx(db);
        // Whoever books clears the rows that killed servers left behind.
        Statement(db, "DELETE FROM upload_reservations WHERE expires_ms <= ?").bind(1, now).run();
        const std::uint64_t used = static_cast<std::uint64_t>(storedBytesOf(db, userId_)) +
                                   reservedBytes(db, userId_, id_, now);
        const std::uint64_t quota = ledger_.quotaBytes();
        const std::uint64_t room = used >= quota ? 0 : quota - used;
        if (wanted > room)
            return false;
        // The whole upload when its size is known.
        const std::uint64_t ahead = expected_ > wanted ? expected_ : wanted + kBookAhead;
        const std::uint64_t booking = std::min(room, ahead);
        Statement(db, "INSERT INTO upload_reservations(id, user_id, bytes, expires_ms) "
                      "VALUES(?,?,?,?) ON CONFLICT(id) DO UPDATE SET bytes = excluded.bytes, "
                      "expires_ms = excluded.expires_ms")
            .bind(1, id_)
            .bind(2, userId_)
            .bind(3, static_cast<std::int64_t>(booking))
            .bind(4, now + lifetime().count())
            .run();
        tx.commit();
        booked_ = booking;
        refreshAtMs_ = now + lifetime().count() / 4;
        return true;
    }

    SharedQuotaLedger &ledger_;
    std::int64_t userId_;
    std::uint64_t expected_;
    std::string id_;
    std::uint64_t held_ = 0;
    std::optional<std::uint64_t> booked_; // what the row holds, once there is one
    std::int64_t refreshAtMs_ = 0;
};

SharedQuotaLedger::SharedQuotaLedger(std::shared_ptr<SharedDatabase> db, std::uint64_t quotaBytes,
                                     std::chrono::milliseconds lifetime)
    : QuotaLedger(quotaBytes)
    , shared_(std::move(db))
    , lifetime_(lifetime) {}

bool SharedQuotaLedger::full(std::int64_t userId) {
    const std::int64_t now = nowMs();
    std::lock_guard lock(shared_->mutex());
    Database &db = shared_->db();
    const std::uint64_t used =
        static_cast<std::uint64_t>(storedBytesOf(db, userId)) + reservedBytes(db, userId, {}, now);
    return used >= quota_;
}

std::unique_ptr<QuotaReservation> SharedQuotaLedger::reserve(std::int64_t userId,
                                                             std::uint64_t expectedBytes) {
    return std::make_unique<Reservation>(*this, userId, expectedBytes);
}

std::unique_ptr<RequestLimiter> makeRequestLimiter(const std::shared_ptr<SharedDatabase> &shared,
                                                   const std::string &kind, double perSecond,
                                                   double burst) {
    if (shared)
        return std::make_unique<SharedRateLimiter>(shared, kind, perSecond, burst);
    return std::make_unique<RateLimiter>(perSecond, burst);
}

} // namespace cloud
