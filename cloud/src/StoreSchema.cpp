#include "Crypto.h"
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
    : db_(file.string()) {
    createSchema();
}

void Store::createSchema() {
    std::lock_guard lock(mutex_);
    db_.exec(R"SQL(
CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS users (
    id INTEGER PRIMARY KEY,
    email TEXT NOT NULL UNIQUE COLLATE NOCASE,
    first_name TEXT NOT NULL DEFAULT '',
    last_name TEXT NOT NULL DEFAULT '',
    pw_salt BLOB, pw_hash BLOB, pw_iterations INTEGER NOT NULL DEFAULT 0,
    desktop_registered INTEGER NOT NULL DEFAULT 1,
    gracenote_user TEXT NOT NULL DEFAULT '',
    facebook_user_id INTEGER UNIQUE,
    created_ms INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS devices (
    user_id INTEGER NOT NULL REFERENCES users(id),
    device_id TEXT NOT NULL,
    status TEXT NOT NULL DEFAULT '',
    tracks_found INTEGER NOT NULL DEFAULT 0,
    updated_ms INTEGER NOT NULL,
    PRIMARY KEY (user_id, device_id));
CREATE TABLE IF NOT EXISTS sessions (
    id TEXT PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id),
    device_id TEXT NOT NULL,
    expires_ms INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS sessions_by_device ON sessions(user_id, device_id);
CREATE TABLE IF NOT EXISTS fb_users (
    id INTEGER PRIMARY KEY,
    email TEXT NOT NULL UNIQUE COLLATE NOCASE,
    first_name TEXT NOT NULL DEFAULT '',
    last_name TEXT NOT NULL DEFAULT '',
    pw_salt BLOB NOT NULL, pw_hash BLOB NOT NULL, pw_iterations INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS fb_tokens (
    token TEXT PRIMARY KEY,
    fb_user_id INTEGER NOT NULL REFERENCES fb_users(id),
    expires_ms INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS files (
    id INTEGER PRIMARY KEY,
    rel_path TEXT NOT NULL UNIQUE,
    size INTEGER NOT NULL,
    md5 TEXT NOT NULL,
    sha256 TEXT NOT NULL DEFAULT '',
    created_ms INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS catalog (
    id INTEGER PRIMARY KEY,
    file_id INTEGER NOT NULL REFERENCES files(id),
    checksum TEXT NOT NULL,
    fingerprint_id TEXT,
    name TEXT NOT NULL,
    song_name TEXT NOT NULL, artist_name TEXT NOT NULL, album_name TEXT NOT NULL,
    sequence INTEGER NOT NULL DEFAULT 0,
    duration_ms INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS catalog_by_checksum ON catalog(checksum);
CREATE INDEX IF NOT EXISTS catalog_by_fingerprint ON catalog(fingerprint_id);
CREATE TABLE IF NOT EXISTS user_media (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    user_id INTEGER NOT NULL REFERENCES users(id),
    file_id INTEGER NOT NULL REFERENCES files(id),
    name TEXT NOT NULL,
    song_name TEXT NOT NULL, album_name TEXT NOT NULL, artist_name TEXT NOT NULL,
    checksum TEXT NOT NULL,
    fingerprint_id TEXT,
    sequence INTEGER NOT NULL DEFAULT 0,
    media_type TEXT NOT NULL DEFAULT 'AUDIO',
    downloadable INTEGER NOT NULL DEFAULT 1,
    deleted INTEGER NOT NULL DEFAULT 0,
    position INTEGER NOT NULL,
    retired_ms INTEGER,
    replaced_by INTEGER);
CREATE UNIQUE INDEX IF NOT EXISTS user_media_by_checksum ON user_media(user_id, checksum);
CREATE INDEX IF NOT EXISTS user_media_by_position ON user_media(user_id, position);
CREATE TABLE IF NOT EXISTS file_tags (
    file_id INTEGER PRIMARY KEY REFERENCES files(id),
    title TEXT NOT NULL, artist TEXT NOT NULL, album TEXT NOT NULL,
    album_artist TEXT NOT NULL, genre TEXT NOT NULL,
    track INTEGER NOT NULL, disc INTEGER NOT NULL, year INTEGER NOT NULL,
    duration_ms INTEGER NOT NULL, bit_rate INTEGER NOT NULL,
    suffix TEXT NOT NULL, content_type TEXT NOT NULL, has_cover INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS library_songs (
    media_id INTEGER PRIMARY KEY REFERENCES user_media(id),
    user_id INTEGER NOT NULL REFERENCES users(id),
    song_id TEXT NOT NULL UNIQUE,
    album_id TEXT NOT NULL, artist_id TEXT NOT NULL, album_artist_id TEXT NOT NULL,
    file_id INTEGER NOT NULL REFERENCES files(id),
    title TEXT NOT NULL, artist TEXT NOT NULL, album TEXT NOT NULL, album_artist TEXT NOT NULL,
    genre TEXT NOT NULL, track INTEGER NOT NULL, disc INTEGER NOT NULL, year INTEGER NOT NULL,
    duration_ms INTEGER NOT NULL, bit_rate INTEGER NOT NULL,
    suffix TEXT NOT NULL, content_type TEXT NOT NULL, has_cover INTEGER NOT NULL,
    path TEXT NOT NULL, size INTEGER NOT NULL, created_ms INTEGER NOT NULL,
    play_count INTEGER NOT NULL DEFAULT 0, played_ms INTEGER NOT NULL DEFAULT 0,
    search TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS library_by_user ON library_songs(user_id);
CREATE INDEX IF NOT EXISTS library_by_album ON library_songs(user_id, album_id);
CREATE INDEX IF NOT EXISTS library_by_genre ON library_songs(user_id, genre);
CREATE TABLE IF NOT EXISTS library_albums (
    album_id TEXT PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id),
    name TEXT NOT NULL, artist TEXT NOT NULL, artist_id TEXT NOT NULL,
    song_count INTEGER NOT NULL, duration_ms INTEGER NOT NULL, year INTEGER NOT NULL,
    genre TEXT NOT NULL, created_ms INTEGER NOT NULL, cover_song_id TEXT NOT NULL,
    play_count INTEGER NOT NULL DEFAULT 0, played_ms INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS albums_by_name ON library_albums(user_id, name COLLATE NOCASE);
CREATE INDEX IF NOT EXISTS albums_by_artist
    ON library_albums(user_id, artist COLLATE NOCASE, name COLLATE NOCASE);
CREATE INDEX IF NOT EXISTS albums_by_artist_id ON library_albums(user_id, artist_id);
CREATE INDEX IF NOT EXISTS albums_by_created ON library_albums(user_id, created_ms);
CREATE INDEX IF NOT EXISTS albums_by_played ON library_albums(user_id, played_ms);
CREATE TABLE IF NOT EXISTS library_artists (
    artist_id TEXT PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id),
    name TEXT NOT NULL, album_count INTEGER NOT NULL, cover_song_id TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS artists_by_name ON library_artists(user_id, name COLLATE NOCASE);
CREATE TABLE IF NOT EXISTS stars (
    user_id INTEGER NOT NULL REFERENCES users(id),
    item_id TEXT NOT NULL,
    created_ms INTEGER NOT NULL,
    PRIMARY KEY (user_id, item_id));
CREATE TABLE IF NOT EXISTS playlists (
    id INTEGER PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id),
    public_id TEXT NOT NULL UNIQUE,
    name TEXT NOT NULL, comment TEXT NOT NULL DEFAULT '',
    public INTEGER NOT NULL DEFAULT 0,
    created_ms INTEGER NOT NULL, changed_ms INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS playlist_songs (
    playlist_id INTEGER NOT NULL REFERENCES playlists(id),
    position INTEGER NOT NULL,
    media_id INTEGER NOT NULL REFERENCES user_media(id),
    PRIMARY KEY (playlist_id, position));
CREATE TABLE IF NOT EXISTS player_passwords (
    id INTEGER PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id),
    name TEXT NOT NULL,
    key_id TEXT NOT NULL UNIQUE,
    sealed BLOB NOT NULL,
    created_ms INTEGER NOT NULL,
    UNIQUE (user_id, name));
CREATE TABLE IF NOT EXISTS analytics_events (
    id INTEGER PRIMARY KEY,
    received_ms INTEGER NOT NULL,
    content_type TEXT NOT NULL,
    body TEXT NOT NULL,
    fields TEXT NOT NULL);
)SQL");
    addColumnIfMissing("files", "sha256", "TEXT NOT NULL DEFAULT ''");
    // A retired item (an older version of a song, replaced by a newer one) is
    // kept a while, listed to no one, until the clean-up removes it.
    addColumnIfMissing("user_media", "retired_ms", "INTEGER");
    addColumnIfMissing("user_media", "replaced_by", "INTEGER");
    db_.exec("CREATE INDEX IF NOT EXISTS user_media_retired ON user_media(retired_ms) "
             "WHERE retired_ms IS NOT NULL;"
             // What the clean-up asks before it removes a file.
             "CREATE INDEX IF NOT EXISTS user_media_by_file ON user_media(file_id);"
             "CREATE INDEX IF NOT EXISTS catalog_by_file ON catalog(file_id);"
             "CREATE INDEX IF NOT EXISTS playlist_songs_by_media ON playlist_songs(media_id);");
    // Earlier versions kept sessions and sign-in tokens in plain text; those
    // end once (their owners sign in again) and only digests are kept after.
    {
        Statement q(db_, "SELECT 1 FROM meta WHERE key = 'tokens_hashed'");
        if (!q.step())
            db_.exec("DELETE FROM sessions; DELETE FROM fb_tokens;"
                     "INSERT INTO meta(key, value) VALUES('tokens_hashed', 1);");
    }
    db_.exec("DROP INDEX IF EXISTS files_by_md5;"
             "CREATE INDEX IF NOT EXISTS files_by_sha256 ON files(sha256, size);");
    {
        Statement q(db_, "SELECT value FROM meta WHERE key = 'id_key'");
        if (q.step())
            idKey_ = q.text(0);
    }
    if (idKey_.size() != 32) {
        idKey_ = crypto::randomBytes(32);
        Statement(db_, "INSERT OR REPLACE INTO meta(key, value) VALUES('id_key', ?)")
            .bindBlob(1, idKey_)
            .run();
    }
}

// Data folders made by earlier versions get the columns added since.
void Store::addColumnIfMissing(const char *table, const char *column, const char *declaration) {
    Statement q(db_,
                std::string("SELECT 1 FROM pragma_table_info('") + table + "') WHERE name = ?");
    q.bind(1, std::string(column));
    if (q.step())
        return;
    db_.exec(std::string("ALTER TABLE ") + table + " ADD COLUMN " + column + " " + declaration);
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
    Statement(db_, "INSERT OR REPLACE INTO meta(key, value) VALUES('position', ?)")
        .bind(1, next)
        .run();
    return next;
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
