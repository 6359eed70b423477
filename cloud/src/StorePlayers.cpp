// Player passwords: only their sealed form is stored (PlayerSecrets opens it).
#include "Library.h"

namespace cloud {

namespace {

constexpr const char *kColumns =
    "id, user_id, name, key_id, sealed, created_ms, COALESCE(last_used_ms, 0)";

PlayerPassword readPassword(const Statement &q) {
    return PlayerPassword{q.integer(0), q.integer(1), q.text(2),   q.text(3),
                          q.text(4),    q.integer(5), q.integer(6)};
}

} // namespace

std::optional<PlayerPassword> Store::addPlayerPassword(const PlayerPassword &password) {
    std::lock_guard lock(mutex_);
    {
        Statement q(db_, "SELECT 1 FROM player_passwords WHERE user_id = ? AND name = ?");
        q.bind(1, password.userId).bind(2, password.name);
        if (q.step())
            return std::nullopt;
    }
    PlayerPassword out = password;
    out.createdMs = nowMs();
    Statement(db_, "INSERT INTO player_passwords(user_id, name, key_id, sealed, created_ms) "
                   "VALUES(?,?,?,?,?)")
        .bind(1, out.userId)
        .bind(2, out.name)
        .bind(3, out.keyId)
        .bindBlob(4, out.sealed)
        .bind(5, out.createdMs)
        .run();
    out.id = db_.lastInsertId();
    return out;
}

std::vector<PlayerPassword> Store::playerPasswords(std::int64_t userId) {
    std::lock_guard lock(mutex_);
    Statement q(db_, std::string("SELECT ") + kColumns +
                         " FROM player_passwords WHERE user_id = ? ORDER BY name");
    q.bind(1, userId);
    std::vector<PlayerPassword> out;
    while (q.step())
        out.push_back(readPassword(q));
    return out;
}

std::optional<PlayerPassword> Store::findPlayerPasswordByKey(const std::string &keyId) {
    std::lock_guard lock(mutex_);
    Statement q(db_, std::string("SELECT ") + kColumns + " FROM player_passwords WHERE key_id = ?");
    q.bind(1, keyId);
    if (!q.step())
        return std::nullopt;
    return readPassword(q);
}

void Store::setPlayerPasswordUsed(std::int64_t id, std::int64_t whenMs) {
    std::lock_guard lock(mutex_);
    Statement(db_, std::string("UPDATE player_passwords SET last_used_ms = ")
                       .append(db_.greatest())
                       .append("(COALESCE(last_used_ms, 0), ?) WHERE id = ?"))
        .bind(1, whenMs)
        .bind(2, id)
        .run();
}

bool Store::removePlayerPassword(std::int64_t userId, const std::string &name) {
    std::lock_guard lock(mutex_);
    Statement(db_, "DELETE FROM player_passwords WHERE user_id = ? AND name = ?")
        .bind(1, userId)
        .bind(2, name)
        .run();
    return db_.changes() > 0;
}

} // namespace cloud
