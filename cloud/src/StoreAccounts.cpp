#include "Crypto.h"
#include "Store.h"

namespace cloud {

namespace {

constexpr const char *kUserColumns =
    "id, email, first_name, last_name, pw_salt, pw_hash, pw_iterations, desktop_registered, "
    "gracenote_user";

// The columns both account kinds share, in the order of kUserColumns.
template <typename Account> void readIdentity(const Statement &q, Account &a) {
    a.id = q.integer(0);
    a.email = q.text(1);
    a.firstName = q.text(2);
    a.lastName = q.text(3);
    a.password.salt = q.text(4);
    a.password.hash = q.text(5);
    a.password.iterations = static_cast<int>(q.integer(6));
}

User readUser(const Statement &q) {
    User u;
    readIdentity(q, u);
    u.hasPassword = !q.isNull(5);
    u.desktopRegistered = q.integer(7) != 0;
    u.gracenoteUser = q.text(8);
    return u;
}

FacebookUser readFacebookUser(const Statement &q) {
    FacebookUser u;
    readIdentity(q, u);
    return u;
}

// E-mail addresses are one account whatever their case.
const char *emailIs(const Database &db) {
    return db.postgres() ? "lower(email) = lower(?)" : "email = ?";
}

// The account columns, then `where`.
std::string selectUsers(const char *where) {
    return std::string("SELECT ").append(kUserColumns).append(" FROM users WHERE ").append(where);
}

} // namespace

std::optional<User> Store::findUserByEmail(const std::string &email) {
    std::lock_guard lock(mutex_);
    Statement q(db_, selectUsers(emailIs(db_)));
    q.bind(1, email);
    if (!q.step())
        return std::nullopt;
    return readUser(q);
}

std::optional<User> Store::findUser(std::int64_t id) {
    std::lock_guard lock(mutex_);
    Statement q(db_, selectUsers("id = ?"));
    q.bind(1, id);
    if (!q.step())
        return std::nullopt;
    return readUser(q);
}

std::optional<std::int64_t> Store::createUser(const User &user) {
    std::lock_guard lock(mutex_);
    Statement q(db_, "INSERT INTO users(email, first_name, last_name, pw_salt, pw_hash, "
                     "pw_iterations, desktop_registered, created_ms) VALUES(?,?,?,?,?,?,?,?)");
    q.bind(1, user.email).bind(2, user.firstName).bind(3, user.lastName);
    if (user.hasPassword) {
        q.bindBlob(4, user.password.salt).bindBlob(5, user.password.hash);
    } else {
        q.bindNull(4).bindNull(5);
    }
    q.bind(6, user.password.iterations).bind(7, user.desktopRegistered ? 1 : 0).bind(8, nowMs());
    try {
        q.run();
    } catch (const DbError &e) {
        if (e.constraintViolation())
            return std::nullopt;
        throw;
    }
    return db_.lastInsertId();
}

void Store::setDesktopRegistered(std::int64_t userId) {
    std::lock_guard lock(mutex_);
    Statement(db_, "UPDATE users SET desktop_registered = 1 WHERE id = ?").bind(1, userId).run();
}

void Store::setGracenoteUser(std::int64_t userId, const std::string &value) {
    std::lock_guard lock(mutex_);
    Statement(db_, "UPDATE users SET gracenote_user = ? WHERE id = ?")
        .bind(1, value)
        .bind(2, userId)
        .run();
}

User Store::userForFacebook(const FacebookUser &fb) {
    std::lock_guard lock(mutex_);
    Transaction tx(db_);
    {
        Statement q(db_, selectUsers("facebook_user_id = ?"));
        q.bind(1, fb.id);
        if (q.step())
            return readUser(q);
    }
    {
        // An existing e-mail account of the same address is linked, not duplicated.
        Statement q(db_, selectUsers(emailIs(db_)));
        q.bind(1, fb.email);
        if (q.step()) {
            User u = readUser(q);
            Statement(db_, "UPDATE users SET facebook_user_id = ? WHERE id = ?")
                .bind(1, fb.id)
                .bind(2, u.id)
                .run();
            tx.commit();
            return u;
        }
    }
    Statement(db_, "INSERT INTO users(email, first_name, last_name, desktop_registered, "
                   "facebook_user_id, created_ms) VALUES(?,?,?,1,?,?)")
        .bind(1, fb.email)
        .bind(2, fb.firstName)
        .bind(3, fb.lastName)
        .bind(4, fb.id)
        .bind(5, nowMs())
        .run();
    User u;
    u.id = db_.lastInsertId();
    u.email = fb.email;
    u.firstName = fb.firstName;
    u.lastName = fb.lastName;
    u.desktopRegistered = true;
    tx.commit();
    return u;
}

DeviceResult Store::registerDevice(std::int64_t userId, const std::string &deviceId, int limit) {
    std::lock_guard lock(mutex_);
    Transaction tx(db_);
    {
        Statement q(db_, "SELECT 1 FROM devices WHERE user_id = ? AND device_id = ?");
        q.bind(1, userId).bind(2, deviceId);
        if (q.step())
            return DeviceResult::Ok;
    }
    Statement count(db_, "SELECT COUNT(*) FROM devices WHERE user_id = ?");
    count.bind(1, userId);
    count.step();
    if (count.integer(0) >= limit)
        return DeviceResult::LimitReached;
    Statement(db_, "INSERT INTO devices(user_id, device_id, updated_ms) VALUES(?,?,?)")
        .bind(1, userId)
        .bind(2, deviceId)
        .bind(3, nowMs())
        .run();
    tx.commit();
    return DeviceResult::Ok;
}

void Store::updateDeviceStatus(std::int64_t userId, const std::string &deviceId,
                               const std::string &status, std::int64_t tracksFound) {
    std::lock_guard lock(mutex_);
    Statement(db_, "UPDATE devices SET status = ?, tracks_found = ?, updated_ms = ? "
                   "WHERE user_id = ? AND device_id = ?")
        .bind(1, status)
        .bind(2, tracksFound)
        .bind(3, nowMs())
        .bind(4, userId)
        .bind(5, deviceId)
        .run();
}

int Store::deviceCount(std::int64_t userId) {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT COUNT(*) FROM devices WHERE user_id = ?");
    q.bind(1, userId);
    q.step();
    return static_cast<int>(q.integer(0));
}

bool Store::removeDevice(std::int64_t userId, const std::string &deviceId) {
    std::lock_guard lock(mutex_);
    Transaction tx(db_);
    Statement(db_, "DELETE FROM sessions WHERE user_id = ? AND device_id = ?")
        .bind(1, userId)
        .bind(2, deviceId)
        .run();
    Statement(db_, "DELETE FROM devices WHERE user_id = ? AND device_id = ?")
        .bind(1, userId)
        .bind(2, deviceId)
        .run();
    const bool removed = db_.changes() > 0;
    tx.commit();
    return removed;
}

void Store::setPassword(std::int64_t userId, const PasswordHash &password) {
    std::lock_guard lock(mutex_);
    Statement(db_, "UPDATE users SET pw_salt = ?, pw_hash = ?, pw_iterations = ? WHERE id = ?")
        .bindBlob(1, password.salt)
        .bindBlob(2, password.hash)
        .bind(3, password.iterations)
        .bind(4, userId)
        .run();
}

std::string Store::createSession(std::int64_t userId, const std::string &deviceId,
                                 int lifetimeSeconds) {
    const std::string id = crypto::randomHex(24);
    std::lock_guard lock(mutex_);
    Transaction tx(db_);
    const std::int64_t now = nowMs();
    Statement(db_, "DELETE FROM sessions WHERE (user_id = ? AND device_id = ?) OR expires_ms < ?")
        .bind(1, userId)
        .bind(2, deviceId)
        .bind(3, now)
        .run();
    // Only the digest is kept: a copy of the database signs nobody in.
    Statement(db_, "INSERT INTO sessions(id, user_id, device_id, expires_ms) VALUES(?,?,?,?)")
        .bind(1, crypto::sha256Hex(id))
        .bind(2, userId)
        .bind(3, deviceId)
        .bind(4, now + std::int64_t(lifetimeSeconds) * 1000)
        .run();
    tx.commit();
    return id;
}

std::optional<Session> Store::findSession(const std::string &id) {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT user_id, device_id, expires_ms FROM sessions "
                     "WHERE id = ? AND expires_ms >= ?");
    q.bind(1, crypto::sha256Hex(id)).bind(2, nowMs());
    if (!q.step())
        return std::nullopt;
    return Session{id, q.integer(0), q.text(1), q.integer(2)};
}

void Store::deleteSession(const std::string &id) {
    std::lock_guard lock(mutex_);
    Statement(db_, "DELETE FROM sessions WHERE id = ?").bind(1, crypto::sha256Hex(id)).run();
}

void Store::keepNewestSessions(std::int64_t userId, const std::string &devicePrefix, int keep) {
    std::lock_guard lock(mutex_);
    // Sessions share one lifetime, so the newest expire last (and, made in
    // the same millisecond, were inserted last).
    const std::string insertion = db_.postgres() ? "seq" : "rowid";
    Statement(db_,
              "DELETE FROM sessions WHERE user_id = ?1 AND substr(device_id, 1, length(?2)) = ?2 "
              "AND id NOT IN (SELECT id FROM sessions WHERE user_id = ?1 AND "
              "substr(device_id, 1, length(?2)) = ?2 ORDER BY expires_ms DESC, " +
                  insertion + " DESC LIMIT ?3)")
        .bind(1, userId)
        .bind(2, devicePrefix)
        .bind(3, keep)
        .run();
}

std::optional<std::int64_t> Store::createFacebookUser(const FacebookUser &user) {
    std::lock_guard lock(mutex_);
    Statement q(db_, "INSERT INTO fb_users(email, first_name, last_name, pw_salt, pw_hash, "
                     "pw_iterations) VALUES(?,?,?,?,?,?)");
    q.bind(1, user.email)
        .bind(2, user.firstName)
        .bind(3, user.lastName)
        .bindBlob(4, user.password.salt)
        .bindBlob(5, user.password.hash)
        .bind(6, user.password.iterations);
    try {
        q.run();
    } catch (const DbError &e) {
        if (e.constraintViolation())
            return std::nullopt;
        throw;
    }
    return db_.lastInsertId();
}

std::optional<FacebookUser> Store::findFacebookUserByEmail(const std::string &email) {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT id, email, first_name, last_name, pw_salt, pw_hash, pw_iterations "
                     "FROM fb_users WHERE " +
                         std::string(emailIs(db_)));
    q.bind(1, email);
    if (!q.step())
        return std::nullopt;
    return readFacebookUser(q);
}

std::string Store::createFacebookToken(std::int64_t fbUserId, int lifetimeSeconds) {
    const std::string token = crypto::randomHex(32);
    std::lock_guard lock(mutex_);
    const std::int64_t now = nowMs();
    Statement(db_, "DELETE FROM fb_tokens WHERE expires_ms < ?").bind(1, now).run();
    Statement(db_, "INSERT INTO fb_tokens(token, fb_user_id, expires_ms) VALUES(?,?,?)")
        .bind(1, crypto::sha256Hex(token))
        .bind(2, fbUserId)
        .bind(3, now + std::int64_t(lifetimeSeconds) * 1000)
        .run();
    return token;
}

std::optional<FacebookUser> Store::findFacebookUserByToken(const std::string &token) {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT u.id, u.email, u.first_name, u.last_name, u.pw_salt, u.pw_hash, "
                     "u.pw_iterations FROM fb_tokens t JOIN fb_users u ON u.id = t.fb_user_id "
                     "WHERE t.token = ? AND t.expires_ms >= ?");
    q.bind(1, crypto::sha256Hex(token)).bind(2, nowMs());
    if (!q.step())
        return std::nullopt;
    return readFacebookUser(q);
}

} // namespace cloud
