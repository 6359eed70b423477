#include "Migrations.h"

#include "Database.h"

#include <functional>
#include <vector>

namespace cloud {

namespace {

// The schema a household server's SQLite file has had since before versions
// were counted. Every statement may run again: a file made by an older
// version is brought up to this one in place.
constexpr const char *kSqliteSchema = R"SQL(
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
)SQL";

// Data folders made by earlier versions get the columns added since.
void addColumnIfMissing(Database &db, const char *table, const char *column,
                        const char *declaration) {
    Statement q(db, std::string("SELECT 1 FROM pragma_table_info('") + table + "') WHERE name = ?");
    q.bind(1, std::string(column));
    if (q.step())
        return;
    db.exec(std::string("ALTER TABLE ") + table + " ADD COLUMN " + column + " " + declaration);
}

void sqliteFirstVersion(Database &db) {
    db.exec(kSqliteSchema);
    addColumnIfMissing(db, "files", "sha256", "TEXT NOT NULL DEFAULT ''");
    // A retired item (an older version of a song, replaced by a newer one) is
    // kept a while, listed to no one, until the clean-up removes it.
    addColumnIfMissing(db, "user_media", "retired_ms", "INTEGER");
    addColumnIfMissing(db, "user_media", "replaced_by", "INTEGER");
    db.exec("CREATE INDEX IF NOT EXISTS user_media_retired ON user_media(retired_ms) "
            "WHERE retired_ms IS NOT NULL;"
            // What the clean-up asks before it removes a file.
            "CREATE INDEX IF NOT EXISTS user_media_by_file ON user_media(file_id);"
            "CREATE INDEX IF NOT EXISTS catalog_by_file ON catalog(file_id);"
            "CREATE INDEX IF NOT EXISTS playlist_songs_by_media ON playlist_songs(media_id);");
    // Earlier versions kept sessions and sign-in tokens in plain text; those
    // end once (their owners sign in again) and only digests are kept after.
    {
        Statement q(db, "SELECT 1 FROM meta WHERE key = 'tokens_hashed'");
        if (!q.step())
            db.exec("DELETE FROM sessions; DELETE FROM fb_tokens;"
                    "INSERT INTO meta(key, value) VALUES('tokens_hashed', 1);");
    }
    db.exec("DROP INDEX IF EXISTS files_by_md5;"
            "CREATE INDEX IF NOT EXISTS files_by_sha256 ON files(sha256, size);");
}

// The same tables on PostgreSQL: 64-bit integers throughout (times are
// milliseconds), generated IDs, and case-blind lookups through lower().
constexpr const char *kPostgresSchema = R"SQL(
CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE users (
    id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
    email TEXT NOT NULL,
    first_name TEXT NOT NULL DEFAULT '',
    last_name TEXT NOT NULL DEFAULT '',
    pw_salt BYTEA, pw_hash BYTEA, pw_iterations BIGINT NOT NULL DEFAULT 0,
    desktop_registered BIGINT NOT NULL DEFAULT 1,
    gracenote_user TEXT NOT NULL DEFAULT '',
    facebook_user_id BIGINT UNIQUE,
    created_ms BIGINT NOT NULL);
CREATE UNIQUE INDEX users_by_email ON users(lower(email));
CREATE TABLE devices (
    user_id BIGINT NOT NULL REFERENCES users(id),
    device_id TEXT NOT NULL,
    status TEXT NOT NULL DEFAULT '',
    tracks_found BIGINT NOT NULL DEFAULT 0,
    updated_ms BIGINT NOT NULL,
    PRIMARY KEY (user_id, device_id));
CREATE TABLE sessions (
    id TEXT PRIMARY KEY,
    user_id BIGINT NOT NULL REFERENCES users(id),
    device_id TEXT NOT NULL,
    expires_ms BIGINT NOT NULL,
    seq BIGINT GENERATED ALWAYS AS IDENTITY);
CREATE INDEX sessions_by_device ON sessions(user_id, device_id);
CREATE INDEX sessions_by_expiry ON sessions(expires_ms);
CREATE TABLE fb_users (
    id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
    email TEXT NOT NULL,
    first_name TEXT NOT NULL DEFAULT '',
    last_name TEXT NOT NULL DEFAULT '',
    pw_salt BYTEA NOT NULL, pw_hash BYTEA NOT NULL, pw_iterations BIGINT NOT NULL);
CREATE UNIQUE INDEX fb_users_by_email ON fb_users(lower(email));
CREATE TABLE fb_tokens (
    token TEXT PRIMARY KEY,
    fb_user_id BIGINT NOT NULL REFERENCES fb_users(id),
    expires_ms BIGINT NOT NULL);
CREATE TABLE files (
    id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
    rel_path TEXT NOT NULL UNIQUE,
    size BIGINT NOT NULL,
    md5 TEXT NOT NULL,
    sha256 TEXT NOT NULL DEFAULT '',
    created_ms BIGINT NOT NULL);
CREATE INDEX files_by_sha256 ON files(sha256, size);
CREATE TABLE catalog (
    id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
    file_id BIGINT NOT NULL REFERENCES files(id),
    checksum TEXT NOT NULL,
    fingerprint_id TEXT,
    name TEXT NOT NULL,
    song_name TEXT NOT NULL, artist_name TEXT NOT NULL, album_name TEXT NOT NULL,
    sequence BIGINT NOT NULL DEFAULT 0,
    duration_ms BIGINT NOT NULL DEFAULT 0);
CREATE INDEX catalog_by_checksum ON catalog(checksum);
CREATE INDEX catalog_by_fingerprint ON catalog(fingerprint_id);
CREATE INDEX catalog_by_file ON catalog(file_id);
CREATE TABLE user_media (
    id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
    user_id BIGINT NOT NULL REFERENCES users(id),
    file_id BIGINT NOT NULL REFERENCES files(id),
    name TEXT NOT NULL,
    song_name TEXT NOT NULL, album_name TEXT NOT NULL, artist_name TEXT NOT NULL,
    checksum TEXT NOT NULL,
    fingerprint_id TEXT,
    sequence BIGINT NOT NULL DEFAULT 0,
    media_type TEXT NOT NULL DEFAULT 'AUDIO',
    downloadable BIGINT NOT NULL DEFAULT 1,
    deleted BIGINT NOT NULL DEFAULT 0,
    position BIGINT NOT NULL,
    retired_ms BIGINT,
    replaced_by BIGINT);
CREATE UNIQUE INDEX user_media_by_checksum ON user_media(user_id, checksum);
CREATE INDEX user_media_by_position ON user_media(user_id, position);
CREATE INDEX user_media_retired ON user_media(retired_ms) WHERE retired_ms IS NOT NULL;
CREATE INDEX user_media_by_file ON user_media(file_id);
CREATE TABLE file_tags (
    file_id BIGINT PRIMARY KEY REFERENCES files(id),
    title TEXT NOT NULL, artist TEXT NOT NULL, album TEXT NOT NULL,
    album_artist TEXT NOT NULL, genre TEXT NOT NULL,
    track BIGINT NOT NULL, disc BIGINT NOT NULL, year BIGINT NOT NULL,
    duration_ms BIGINT NOT NULL, bit_rate BIGINT NOT NULL,
    suffix TEXT NOT NULL, content_type TEXT NOT NULL, has_cover BIGINT NOT NULL);
CREATE TABLE library_songs (
    media_id BIGINT PRIMARY KEY REFERENCES user_media(id),
    user_id BIGINT NOT NULL REFERENCES users(id),
    song_id TEXT NOT NULL UNIQUE,
    album_id TEXT NOT NULL, artist_id TEXT NOT NULL, album_artist_id TEXT NOT NULL,
    file_id BIGINT NOT NULL REFERENCES files(id),
    title TEXT NOT NULL, artist TEXT NOT NULL, album TEXT NOT NULL, album_artist TEXT NOT NULL,
    genre TEXT NOT NULL, track BIGINT NOT NULL, disc BIGINT NOT NULL, year BIGINT NOT NULL,
    duration_ms BIGINT NOT NULL, bit_rate BIGINT NOT NULL,
    suffix TEXT NOT NULL, content_type TEXT NOT NULL, has_cover BIGINT NOT NULL,
    path TEXT NOT NULL, size BIGINT NOT NULL, created_ms BIGINT NOT NULL,
    play_count BIGINT NOT NULL DEFAULT 0, played_ms BIGINT NOT NULL DEFAULT 0,
    search TEXT NOT NULL);
CREATE INDEX library_by_user ON library_songs(user_id);
CREATE INDEX library_by_album ON library_songs(user_id, album_id);
CREATE INDEX library_by_genre ON library_songs(user_id, genre);
CREATE TABLE library_albums (
    album_id TEXT PRIMARY KEY,
    user_id BIGINT NOT NULL REFERENCES users(id),
    name TEXT NOT NULL, artist TEXT NOT NULL, artist_id TEXT NOT NULL,
    song_count BIGINT NOT NULL, duration_ms BIGINT NOT NULL, year BIGINT NOT NULL,
    genre TEXT NOT NULL, created_ms BIGINT NOT NULL, cover_song_id TEXT NOT NULL,
    play_count BIGINT NOT NULL DEFAULT 0, played_ms BIGINT NOT NULL DEFAULT 0);
CREATE INDEX albums_by_name ON library_albums(user_id, lower(name));
CREATE INDEX albums_by_artist ON library_albums(user_id, lower(artist), lower(name));
CREATE INDEX albums_by_artist_id ON library_albums(user_id, artist_id);
CREATE INDEX albums_by_created ON library_albums(user_id, created_ms);
CREATE INDEX albums_by_played ON library_albums(user_id, played_ms);
CREATE TABLE library_artists (
    artist_id TEXT PRIMARY KEY,
    user_id BIGINT NOT NULL REFERENCES users(id),
    name TEXT NOT NULL, album_count BIGINT NOT NULL, cover_song_id TEXT NOT NULL);
CREATE INDEX artists_by_name ON library_artists(user_id, lower(name));
CREATE TABLE stars (
    user_id BIGINT NOT NULL REFERENCES users(id),
    item_id TEXT NOT NULL,
    created_ms BIGINT NOT NULL,
    PRIMARY KEY (user_id, item_id));
CREATE TABLE playlists (
    id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
    user_id BIGINT NOT NULL REFERENCES users(id),
    public_id TEXT NOT NULL UNIQUE,
    name TEXT NOT NULL, comment TEXT NOT NULL DEFAULT '',
    public BIGINT NOT NULL DEFAULT 0,
    created_ms BIGINT NOT NULL, changed_ms BIGINT NOT NULL);
CREATE INDEX playlists_by_user ON playlists(user_id);
CREATE TABLE playlist_songs (
    playlist_id BIGINT NOT NULL REFERENCES playlists(id),
    position BIGINT NOT NULL,
    media_id BIGINT NOT NULL REFERENCES user_media(id),
    PRIMARY KEY (playlist_id, position));
CREATE INDEX playlist_songs_by_media ON playlist_songs(media_id);
CREATE TABLE player_passwords (
    id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
    user_id BIGINT NOT NULL REFERENCES users(id),
    name TEXT NOT NULL,
    key_id TEXT NOT NULL UNIQUE,
    sealed BYTEA NOT NULL,
    created_ms BIGINT NOT NULL,
    UNIQUE (user_id, name));
CREATE TABLE analytics_events (
    id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
    received_ms BIGINT NOT NULL,
    content_type TEXT NOT NULL,
    body TEXT NOT NULL,
    fields TEXT NOT NULL);
)SQL";

// What servers that share the database share besides (SharedState.h). A
// household server's file gets the tables too, unused, so that both engines
// count the same versions; SQLite's statements may run again, as its first
// version's do.
std::string sharedStateSchema(const Database &db) {
    const std::string integer = db.postgres() ? "BIGINT" : "INTEGER";
    const std::string seq = db.postgres() ? "seq BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY"
                                          : "seq INTEGER PRIMARY KEY";
    const std::string table = db.postgres() ? "CREATE TABLE " : "CREATE TABLE IF NOT EXISTS ";
    const std::string index = db.postgres() ? "CREATE INDEX " : "CREATE INDEX IF NOT EXISTS ";
    return table + "sign_in_tokens (" + seq +
           ", token TEXT NOT NULL UNIQUE, client TEXT NOT NULL, expires_ms " + integer +
           " NOT NULL);" + index + "sign_in_tokens_by_client ON sign_in_tokens(client, seq);" +
           index + "sign_in_tokens_by_expiry ON sign_in_tokens(expires_ms);" + table +
           "throttles (kind TEXT NOT NULL, key TEXT NOT NULL, failures " + integer +
           " NOT NULL, last_failure_ms " + integer + " NOT NULL, blocked_until_ms " + integer +
           " NOT NULL, PRIMARY KEY (kind, key));" + index +
           "throttles_by_last_failure ON throttles(last_failure_ms);" + table +
           "rate_buckets (kind TEXT NOT NULL, key TEXT NOT NULL, milli_tokens " + integer +
           " NOT NULL, updated_ms " + integer + " NOT NULL, PRIMARY KEY (kind, key));" + index +
           "rate_buckets_by_update ON rate_buckets(kind, updated_ms);";
}

// Uploads in flight of servers that share the database (SharedQuotaLedger):
// a row each until the upload ends or, when its server was killed, expires.
// The same text on both engines (BIGINT is an integer column to SQLite too),
// and it may run again on SQLite.
constexpr const char *kUploadReservationsSchema = R"SQL(
CREATE TABLE IF NOT EXISTS upload_reservations (
    id TEXT PRIMARY KEY,
    user_id BIGINT NOT NULL,
    bytes BIGINT NOT NULL,
    expires_ms BIGINT NOT NULL);
CREATE INDEX IF NOT EXISTS upload_reservations_by_user ON upload_reservations(user_id);
CREATE INDEX IF NOT EXISTS upload_reservations_by_expiry ON upload_reservations(expires_ms);
)SQL";

// What players keep of a person's listening: the play queue (one per
// account), bookmarks, ratings, what each player is playing now, and when
// each player password was last used. Library items are named by their row,
// without a reference: a retired item's rows are handed on or removed by the
// store itself, as its playlist entries are. The same text on both engines,
// and it may run again on SQLite.
constexpr const char *kListeningSchema = R"SQL(
CREATE TABLE IF NOT EXISTS play_queues (
    user_id BIGINT PRIMARY KEY REFERENCES users(id),
    current_media_id BIGINT,
    position_ms BIGINT NOT NULL,
    changed_ms BIGINT NOT NULL,
    changed_by TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS play_queue_songs (
    user_id BIGINT NOT NULL REFERENCES users(id),
    position BIGINT NOT NULL,
    media_id BIGINT NOT NULL,
    PRIMARY KEY (user_id, position));
CREATE INDEX IF NOT EXISTS play_queue_songs_by_media ON play_queue_songs(media_id);
CREATE TABLE IF NOT EXISTS bookmarks (
    user_id BIGINT NOT NULL REFERENCES users(id),
    media_id BIGINT NOT NULL,
    position_ms BIGINT NOT NULL,
    comment TEXT NOT NULL,
    created_ms BIGINT NOT NULL,
    changed_ms BIGINT NOT NULL,
    PRIMARY KEY (user_id, media_id));
CREATE INDEX IF NOT EXISTS bookmarks_by_media ON bookmarks(media_id);
CREATE TABLE IF NOT EXISTS ratings (
    user_id BIGINT NOT NULL REFERENCES users(id),
    item_id TEXT NOT NULL,
    rating BIGINT NOT NULL,
    PRIMARY KEY (user_id, item_id));
CREATE TABLE IF NOT EXISTS now_playing (
    user_id BIGINT NOT NULL REFERENCES users(id),
    player TEXT NOT NULL,
    media_id BIGINT NOT NULL,
    started_ms BIGINT NOT NULL,
    PRIMARY KEY (user_id, player));
CREATE INDEX IF NOT EXISTS now_playing_by_media ON now_playing(media_id);
)SQL";

void addListening(Database &db) {
    db.exec(kListeningSchema);
    if (db.postgres())
        db.exec("ALTER TABLE player_passwords ADD COLUMN IF NOT EXISTS last_used_ms BIGINT");
    else
        addColumnIfMissing(db, "player_passwords", "last_used_ms", "BIGINT");
}

struct Migration {
    std::function<void(Database &)> sqlite;
    std::function<void(Database &)> postgres;
};

const std::vector<Migration> &migrations() {
    static const std::vector<Migration> list = {
        {sqliteFirstVersion, [](Database &db) { db.exec(kPostgresSchema); }},
        {[](Database &db) { db.exec(sharedStateSchema(db)); },
         [](Database &db) { db.exec(sharedStateSchema(db)); }},
        {[](Database &db) { db.exec(kUploadReservationsSchema); },
         [](Database &db) { db.exec(kUploadReservationsSchema); }},
        {addListening, addListening},
    };
    return list;
}

bool hasMeta(Database &db) {
    Statement q(db, db.postgres() ? "SELECT 1 FROM pg_tables WHERE tablename = 'meta' "
                                    "AND schemaname = current_schema()"
                                  : "SELECT 1 FROM sqlite_master WHERE type = 'table' "
                                    "AND name = 'meta'");
    return q.step();
}

std::string tooNew(int version) {
    return "the database's schema is version " + std::to_string(version) +
           ", newer than this sonarbox-cloud knows (" + std::to_string(currentSchemaVersion()) +
           "): run a newer sonarbox-cloud on it";
}

} // namespace

int currentSchemaVersion() {
    return static_cast<int>(migrations().size());
}

int schemaVersion(Database &db) {
    if (!hasMeta(db))
        return 0;
    Statement q(db, "SELECT value FROM meta WHERE key = 'schema_version'");
    return q.step() ? static_cast<int>(std::stoi(q.text(0))) : 0;
}

int migrate(Database &db) {
    int applied = 0;
    for (;;) {
        Transaction tx(db);
        // Read again under the writers' lock: another process may have just
        // taken the same step.
        const int version = schemaVersion(db);
        if (version > currentSchemaVersion())
            throw SchemaError(tooNew(version));
        if (version == currentSchemaVersion())
            return applied;
        const Migration &step = migrations()[static_cast<std::size_t>(version)];
        (db.postgres() ? step.postgres : step.sqlite)(db);
        Statement(db, "INSERT INTO meta(key, value) VALUES('schema_version', ?) "
                      "ON CONFLICT(key) DO UPDATE SET value = excluded.value")
            .bind(1, std::to_string(version + 1))
            .run();
        tx.commit();
        ++applied;
    }
}

void requireCurrentSchema(Database &db) {
    const int version = schemaVersion(db);
    if (version > currentSchemaVersion())
        throw SchemaError(tooNew(version));
    if (version < currentSchemaVersion())
        throw SchemaError("the database's schema is version " + std::to_string(version) +
                          ", this sonarbox-cloud needs version " +
                          std::to_string(currentSchemaVersion()) +
                          ": run sonarbox-cloud migrate --database … first");
}

} // namespace cloud
