#include "Store.h"

namespace cloud {

namespace {

constexpr const char *kCatalogColumns =
    "id, file_id, checksum, fingerprint_id, name, song_name, artist_name, album_name, "
    "sequence, duration_ms";

CatalogItem readCatalog(const Statement &q) {
    CatalogItem c;
    c.id = q.integer(0);
    c.fileId = q.integer(1);
    c.checksum = q.text(2);
    c.fingerprintId = q.optionalText(3);
    c.name = q.text(4);
    c.tags.title = q.text(5);
    c.tags.artist = q.text(6);
    c.tags.album = q.text(7);
    c.tags.track = static_cast<int>(q.integer(8));
    c.tags.durationMs = q.integer(9);
    return c;
}

constexpr const char *kMediaColumns =
    "id, user_id, file_id, name, song_name, album_name, artist_name, checksum, fingerprint_id, "
    "sequence, downloadable, deleted, position, retired_ms IS NOT NULL";

UserMedia readMedia(const Statement &q) {
    UserMedia m;
    m.id = q.integer(0);
    m.userId = q.integer(1);
    m.fileId = q.integer(2);
    m.name = q.text(3);
    m.songName = q.text(4);
    m.albumName = q.text(5);
    m.artistName = q.text(6);
    m.checksum = q.text(7);
    m.fingerprintId = q.optionalText(8);
    m.sequence = static_cast<int>(q.integer(9));
    m.downloadable = q.integer(10) != 0;
    m.deleted = q.integer(11) != 0;
    m.position = q.integer(12);
    m.retired = q.integer(13) != 0;
    return m;
}

std::string select(const char *columns, const char *rest) {
    return std::string("SELECT ") + columns + " " + rest;
}

} // namespace

StoredFile Store::addFile(const StoredFile &file, bool &reused) {
    std::lock_guard lock(mutex_);
    Transaction tx(db_);
    StoredFile out = addFileLocked(file, reused);
    tx.commit();
    return out;
}

StoredFile Store::addFileLocked(const StoredFile &file, bool &reused) {
    {
        // Two files are the same only when their SHA-256 and size agree; files
        // recorded before SHA-256 was kept have none and are never shared.
        Statement q(db_, "SELECT id, rel_path, size, md5, sha256 FROM files "
                         "WHERE sha256 = ? AND size = ? AND sha256 <> ''");
        q.bind(1, file.sha256).bind(2, file.size);
        if (q.step()) {
            reused = true;
            return StoredFile{q.integer(0), q.text(1), q.integer(2), q.text(3), q.text(4)};
        }
    }
    Statement(db_, "INSERT INTO files(rel_path, size, md5, sha256, created_ms) VALUES(?,?,?,?,?)")
        .bind(1, file.relPath)
        .bind(2, file.size)
        .bind(3, file.md5)
        .bind(4, file.sha256)
        .bind(5, nowMs())
        .run();
    StoredFile out = file;
    out.id = db_.lastInsertId();
    reused = false;
    return out;
}

std::optional<StoredFile> Store::findFile(std::int64_t id) {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT id, rel_path, size, md5, sha256 FROM files WHERE id = ?");
    q.bind(1, id);
    if (!q.step())
        return std::nullopt;
    return StoredFile{q.integer(0), q.text(1), q.integer(2), q.text(3), q.text(4)};
}

std::set<std::string> Store::referencedFiles() {
    std::lock_guard lock(mutex_);
    std::set<std::string> out;
    Statement q(db_, "SELECT rel_path FROM files");
    while (q.step())
        out.insert(q.text(0));
    return out;
}

std::int64_t Store::addCatalogItem(const CatalogItem &item) {
    std::lock_guard lock(mutex_);
    Transaction tx(db_);
    {
        // Importing the same file twice refreshes its entry instead of doubling it.
        Statement q(db_, "SELECT id FROM catalog WHERE checksum = ?");
        q.bind(1, item.checksum);
        if (q.step()) {
            const std::int64_t id = q.integer(0);
            Statement(db_, "UPDATE catalog SET fingerprint_id = COALESCE(?, fingerprint_id), "
                           "song_name = ?, artist_name = ?, album_name = ?, sequence = ? "
                           "WHERE id = ?")
                .bind(1, item.fingerprintId)
                .bind(2, item.tags.title)
                .bind(3, item.tags.artist)
                .bind(4, item.tags.album)
                .bind(5, item.tags.track)
                .bind(6, id)
                .run();
            tx.commit();
            return id;
        }
    }
    Statement(db_, "INSERT INTO catalog(file_id, checksum, fingerprint_id, name, song_name, "
                   "artist_name, album_name, sequence, duration_ms) VALUES(?,?,?,?,?,?,?,?,?)")
        .bind(1, item.fileId)
        .bind(2, item.checksum)
        .bind(3, item.fingerprintId)
        .bind(4, item.name)
        .bind(5, item.tags.title)
        .bind(6, item.tags.artist)
        .bind(7, item.tags.album)
        .bind(8, item.tags.track)
        .bind(9, item.tags.durationMs)
        .run();
    const std::int64_t id = db_.lastInsertId();
    tx.commit();
    return id;
}

std::optional<CatalogItem> Store::findCatalogByChecksum(const std::string &checksum) {
    std::lock_guard lock(mutex_);
    Statement q(db_, select(kCatalogColumns, "FROM catalog WHERE checksum = ? LIMIT 1"));
    q.bind(1, checksum);
    if (!q.step())
        return std::nullopt;
    return readCatalog(q);
}

std::optional<CatalogItem> Store::findCatalogByFingerprint(const std::string &fingerprintId) {
    std::lock_guard lock(mutex_);
    Statement q(
        db_, select(kCatalogColumns, "FROM catalog WHERE fingerprint_id = ? ORDER BY id LIMIT 1"));
    q.bind(1, fingerprintId);
    if (!q.step())
        return std::nullopt;
    return readCatalog(q);
}

std::int64_t Store::catalogSize() {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT COUNT(*) FROM catalog");
    q.step();
    return q.integer(0);
}

std::optional<UserMedia> Store::findUserMediaByChecksum(std::int64_t userId,
                                                        const std::string &checksum) {
    std::lock_guard lock(mutex_);
    Statement q(db_, select(kMediaColumns, "FROM user_media WHERE user_id = ? AND checksum = ? "
                                           "AND retired_ms IS NULL"));
    q.bind(1, userId).bind(2, checksum);
    if (!q.step())
        return std::nullopt;
    return readMedia(q);
}

std::optional<UserMedia> Store::findUserMedia(std::int64_t mediaId) {
    std::lock_guard lock(mutex_);
    Statement q(db_, select(kMediaColumns, "FROM user_media WHERE id = ?"));
    q.bind(1, mediaId);
    if (!q.step())
        return std::nullopt;
    return readMedia(q);
}

UserMedia Store::addUserMedia(UserMedia media) {
    std::lock_guard lock(mutex_);
    Transaction tx(db_);
    UserMedia out = addUserMediaLocked(std::move(media));
    tx.commit();
    return out;
}

UserMedia Store::addUpload(const StoredFile &file, UserMedia media, bool &fileReused, bool *added,
                           const Tags *tags) {
    std::lock_guard lock(mutex_);
    if (added)
        *added = false;
    Transaction tx(db_);
    if (auto owned = userMediaLocked(media.userId, media.checksum)) {
        // Uploading a song the user already has changes nothing; one retired
        // is listed again, with the file it had.
        fileReused = true;
        if (!owned->retired)
            return *owned;
        reviveLocked(*owned);
        tx.commit();
        if (added)
            *added = true;
        return *owned;
    }
    media.fileId = addFileLocked(file, fileReused).id;
    if (tags && !fileReused) {
        // The same transaction: an upload is never listed without its tags.
        setFileTagsLocked(media.fileId, *tags);
    }
    UserMedia out = addUserMediaLocked(std::move(media));
    tx.commit();
    if (added)
        *added = true;
    return out;
}

std::optional<UserMedia> Store::userMediaLocked(std::int64_t userId, const std::string &checksum) {
    Statement q(db_, select(kMediaColumns, "FROM user_media WHERE user_id = ? AND checksum = ?"));
    q.bind(1, userId).bind(2, checksum);
    if (!q.step())
        return std::nullopt;
    return readMedia(q);
}

UserMedia Store::addUserMediaLocked(UserMedia media) {
    if (auto owned = userMediaLocked(media.userId, media.checksum)) {
        if (owned->retired)
            reviveLocked(*owned);
        return *owned;
    }
    media.position = nextPosition();
    Statement(db_, "INSERT INTO user_media(user_id, file_id, name, song_name, album_name, "
                   "artist_name, checksum, fingerprint_id, sequence, downloadable, deleted, "
                   "position) VALUES(?,?,?,?,?,?,?,?,?,?,?,?)")
        .bind(1, media.userId)
        .bind(2, media.fileId)
        .bind(3, media.name)
        .bind(4, media.songName)
        .bind(5, media.albumName)
        .bind(6, media.artistName)
        .bind(7, media.checksum)
        .bind(8, media.fingerprintId)
        .bind(9, media.sequence)
        .bind(10, media.downloadable ? 1 : 0)
        .bind(11, media.deleted ? 1 : 0)
        .bind(12, media.position)
        .run();
    media.id = db_.lastInsertId();
    indexSongLocked(media);
    return media;
}

Listing Store::listChanges(std::int64_t userId, std::int64_t since) {
    std::lock_guard lock(mutex_);
    Listing listing;
    {
        Statement q(db_, "SELECT value FROM meta WHERE key='position'");
        if (q.step())
            listing.position = q.integer(0);
    }
    // A position this server never handed out (a reset data folder) gets the
    // full listing rather than an empty one forever.
    if (since > listing.position)
        since = 0;
    // A full listing (position 0) leaves out what was deleted; a change listing
    // reports deletions so the client can forget them. Retired items are in
    // neither: the client that retired one knows, and others see the
    // replacement arrive.
    Statement q(db_, select(kMediaColumns, "FROM user_media WHERE user_id = ? AND position > ? "
                                           "AND (? > 0 OR deleted = 0) AND retired_ms IS NULL "
                                           "ORDER BY position"));
    q.bind(1, userId).bind(2, since).bind(3, since);
    while (q.step())
        listing.items.push_back(readMedia(q));
    return listing;
}

std::int64_t Store::userMediaCount(std::int64_t userId) {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT COUNT(*) FROM user_media WHERE user_id = ? AND retired_ms IS NULL");
    q.bind(1, userId);
    q.step();
    return q.integer(0);
}

std::int64_t storedBytesOf(Database &db, std::int64_t userId) {
    // Retired items wait for the clean-up at the server's cost, not the account's.
    Statement q(db, "SELECT COALESCE(SUM(f.size), 0) FROM user_media m "
                    "JOIN files f ON f.id = m.file_id WHERE m.user_id = ? "
                    "AND m.retired_ms IS NULL");
    q.bind(1, userId);
    q.step();
    return q.integer(0);
}

std::int64_t Store::storedBytes(std::int64_t userId) {
    std::lock_guard lock(mutex_);
    return storedBytesOf(db_, userId);
}

} // namespace cloud
