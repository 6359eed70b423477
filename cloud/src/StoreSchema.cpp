#include "Crypto.h"
#include "Migrations.h"
#include "Store.h"

#include <chrono>

namespace cloud {

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

PasswordHash PasswordHash::make(std::string_view password, int iterations) {
    PasswordHash h;
    h.salt = crypto::randomBytes(16);
    h.iterations = iterations;
    h.hash = crypto::pbkdf2(password, h.salt, iterations);
    return h;
}

bool PasswordHash::verify(std::string_view password) const {
    if (iterations <= 0 || hash.empty())
        return false;
    return crypto::equalConstantTime(crypto::pbkdf2(password, salt, iterations), hash);
}

Store::Store(const std::filesystem::path &file)
    : Store(file.string()) {}

Store::Store(const std::string &location)
    : db_(location) {
    // A household server's own file follows the program; a shared database
    // is migrated once, by the operator, while its servers may still run.
    if (db_.postgres())
        requireCurrentSchema(db_);
    else
        migrate(db_);
    loadIdKey();
}

// The key of the music-player view's opaque IDs: made once, by whichever
// process comes first, and the same for every process after.
void Store::loadIdKey() {
    std::lock_guard lock(mutex_);
    Transaction tx(db_);
    {
        Statement q(db_, "SELECT value FROM meta WHERE key = 'id_key'");
        if (q.step()) {
            const std::string stored = q.text(0);
            // Older versions kept the raw bytes; the hex form reads the same on
            // both engines.
            idKey_ = crypto::fromHex(stored).value_or(stored);
            if (idKey_.size() == 32)
                return;
        }
    }
    idKey_ = crypto::randomBytes(32);
    Statement(db_, "INSERT INTO meta(key, value) VALUES('id_key', ?) "
                   "ON CONFLICT(key) DO UPDATE SET value = excluded.value")
        .bind(1, crypto::toHex(idKey_))
        .run();
    tx.commit();
}

std::int64_t Store::nextPosition() {
    // Change positions look like milliseconds but strictly increase, so two
    // changes in the same millisecond can never hide behind one listing.
    std::int64_t last = 0;
    {
        Statement q(db_, "SELECT value FROM meta WHERE key='position'");
        if (q.step())
            last = q.integer(0);
    }
    const std::int64_t next = std::max(nowMs(), last + 1);
    Statement(db_, "INSERT INTO meta(key, value) VALUES('position', ?) "
                   "ON CONFLICT(key) DO UPDATE SET value = excluded.value")
        .bind(1, next)
        .run();
    return next;
}

void Store::ping() {
    std::lock_guard lock(mutex_);
    db_.ping();
}

std::optional<std::string> Store::takeLegacySecret() {
    std::lock_guard lock(mutex_);
    std::optional<std::string> key;
    {
        Statement q(db_, "SELECT value FROM meta WHERE key='link_secret'");
        if (q.step())
            key = q.text(0);
    }
    if (key)
        Statement(db_, "DELETE FROM meta WHERE key='link_secret'").run();
    return key;
}

void Store::addAnalyticsEvent(const std::string &contentType, const std::string &fieldsJson,
                              std::uint64_t maxTotalBytes) {
    std::lock_guard lock(mutex_);
    if (analyticsBytes_ < 0) {
        Statement q(db_, "SELECT COALESCE(SUM(length(fields)), 0) FROM analytics_events");
        analyticsBytes_ = q.step() ? q.integer(0) : 0;
    }
    Statement(db_, "INSERT INTO analytics_events(received_ms, content_type, body, fields) "
                   "VALUES(?, ?, '', ?)")
        .bind(1, nowMs())
        .bind(2, contentType)
        .bind(3, fieldsJson)
        .run();
    analyticsBytes_ += static_cast<std::int64_t>(fieldsJson.size());
    // A collector open to anyone keeps a bounded history: the oldest events
    // give way, by count and by bytes.
    Statement(db_, "DELETE FROM analytics_events WHERE id <= ? - 100000")
        .bind(1, db_.lastInsertId())
        .run();
    while (analyticsBytes_ > static_cast<std::int64_t>(maxTotalBytes)) {
        std::int64_t lastId = -1;
        std::int64_t freed = 0;
        {
            Statement q(db_,
                        "SELECT id, length(fields) FROM analytics_events ORDER BY id LIMIT 64");
            while (q.step() && analyticsBytes_ - freed > static_cast<std::int64_t>(maxTotalBytes)) {
                lastId = q.integer(0);
                freed += q.integer(1);
            }
        }
        if (lastId < 0)
            break;
        Statement(db_, "DELETE FROM analytics_events WHERE id <= ?").bind(1, lastId).run();
        analyticsBytes_ -= freed;
    }
}

std::vector<std::string> Store::analyticsEvents() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    Statement q(db_, "SELECT fields FROM analytics_events ORDER BY id");
    while (q.step())
        out.push_back(q.text(0));
    return out;
}

} // namespace cloud
