// Playlists of the music-player view: every query names the owning account,
// so another account's playlist ID finds nothing.
#include "Crypto.h"
#include "Library.h"

#include <algorithm>
#include <set>

namespace cloud {

namespace {

Playlist readPlaylist(const Statement &q) {
    Playlist p;
    p.rowId = q.integer(0);
    p.id = q.text(1);
    p.name = q.text(2);
    p.comment = q.text(3);
    p.isPublic = q.integer(4) != 0;
    p.createdMs = q.integer(5);
    p.changedMs = q.integer(6);
    p.songCount = static_cast<int>(q.integer(7));
    p.durationMs = q.integer(8);
    return p;
}

// Entries whose song left the library are not counted (nor listed).
constexpr const char *kPlaylistSelect =
    "SELECT p.id, p.public_id, p.name, p.comment, p.public, p.created_ms, p.changed_ms, "
    "COUNT(s.media_id), COALESCE(SUM(s.duration_ms), 0) FROM playlists p "
    "LEFT JOIN playlist_songs e ON e.playlist_id = p.id "
    "LEFT JOIN library_songs s ON s.media_id = e.media_id AND s.user_id = p.user_id "
    "WHERE p.user_id = ?";

// The row of the account's playlist of that public ID.
std::optional<std::int64_t> playlistRow(Database &db, std::int64_t userId, const std::string &id) {
    Statement q(db, "SELECT id FROM playlists WHERE user_id = ? AND public_id = ?");
    q.bind(1, userId).bind(2, id);
    if (!q.step())
        return std::nullopt;
    return q.integer(0);
}

// Puts `mediaIds` in the playlist from `firstPosition` on, in their order.
void insertEntries(Database &db, std::int64_t row, std::int64_t firstPosition,
                   const std::vector<std::int64_t> &mediaIds) {
    if (mediaIds.empty())
        return;
    // The entries as one list parameter, read back as rows: a statement with
    // a variable per entry would meet SQLite's limit on variables, and a
    // prepared statement per entry costs a parse each.
    Statement(db, std::string("INSERT INTO playlist_songs(playlist_id, position, media_id) "
                              "SELECT ?, ? + key, value FROM ")
                      .append(db.integerRows()))
        .bind(1, row)
        .bind(2, firstPosition)
        .bind(3, db.integerList(mediaIds))
        .run();
}

// The entries with `from` handed to `to`. In a run of entries of either
// version that held `to` already, the entries of `from` go (so that the
// replacement does not sit there twice); elsewhere `to` takes their place.
std::vector<std::int64_t> handedOver(const std::vector<std::int64_t> &entries, std::int64_t from,
                                     std::int64_t to) {
    std::vector<std::int64_t> out;
    out.reserve(entries.size());
    std::size_t i = 0;
    while (i < entries.size()) {
        if (entries[i] != from && entries[i] != to) {
            out.push_back(entries[i++]);
            continue;
        }
        std::size_t end = i;
        bool heldTo = false;
        while (end < entries.size() && (entries[end] == from || entries[end] == to))
            heldTo = heldTo || entries[end++] == to;
        for (; i < end; ++i) {
            if (entries[i] == to || !heldTo)
                out.push_back(to);
        }
    }
    return out;
}

} // namespace

void Store::replaceInPlaylistsLocked(std::int64_t userId, std::int64_t mediaId,
                                     std::int64_t replacedBy) {
    std::vector<std::int64_t> rows;
    {
        Statement q(db_, "SELECT DISTINCT e.playlist_id FROM playlist_songs e "
                         "JOIN playlists p ON p.id = e.playlist_id "
                         "WHERE e.media_id = ? AND p.user_id = ?");
        q.bind(1, mediaId).bind(2, userId);
        while (q.step())
            rows.push_back(q.integer(0));
    }
    for (const auto row : rows) {
        std::vector<std::int64_t> entries;
        {
            Statement q(db_, "SELECT media_id FROM playlist_songs WHERE playlist_id = ? "
                             "ORDER BY position");
            q.bind(1, row);
            while (q.step())
                entries.push_back(q.integer(0));
        }
        Statement(db_, "DELETE FROM playlist_songs WHERE playlist_id = ?").bind(1, row).run();
        insertEntries(db_, row, 0, handedOver(entries, mediaId, replacedBy));
        Statement(db_, "UPDATE playlists SET changed_ms = ? WHERE id = ?")
            .bind(1, nowMs())
            .bind(2, row)
            .run();
    }
}

std::vector<Playlist> Store::playlists(std::int64_t userId) {
    std::lock_guard lock(mutex_);
    Statement q(db_, std::string(kPlaylistSelect).append(" GROUP BY p.id ORDER BY p.name, p.id"));
    q.bind(1, userId);
    std::vector<Playlist> out;
    while (q.step())
        out.push_back(readPlaylist(q));
    return out;
}

std::optional<Playlist> Store::findPlaylist(std::int64_t userId, const std::string &id) {
    std::lock_guard lock(mutex_);
    std::optional<Playlist> p;
    {
        Statement q(db_, std::string(kPlaylistSelect).append(" AND p.public_id = ? GROUP BY p.id"));
        q.bind(1, userId).bind(2, id);
        if (!q.step())
            return std::nullopt;
        p = readPlaylist(q);
    }
    Statement q(db_, "SELECT e.media_id FROM playlist_songs e JOIN library_songs s "
                     "ON s.media_id = e.media_id AND s.user_id = ? "
                     "WHERE e.playlist_id = ? ORDER BY e.position");
    q.bind(1, userId).bind(2, p->rowId);
    while (q.step())
        p->mediaIds.push_back(q.integer(0));
    return p;
}

std::optional<Playlist> Store::createPlaylist(std::int64_t userId, const std::string &name,
                                              const std::vector<std::int64_t> &mediaIds) {
    if (mediaIds.size() > kMaxPlaylistEntries)
        return std::nullopt;
    std::string id;
    {
        std::lock_guard lock(mutex_);
        Transaction tx(db_);
        id = "pl" + crypto::randomHex(11);
        const std::int64_t now = nowMs();
        Statement(db_, "INSERT INTO playlists(user_id, public_id, name, created_ms, changed_ms) "
                       "VALUES(?,?,?,?,?)")
            .bind(1, userId)
            .bind(2, id)
            .bind(3, name)
            .bind(4, now)
            .bind(5, now)
            .run();
        insertEntries(db_, db_.lastInsertId(), 0, mediaIds);
        tx.commit();
    }
    return findPlaylist(userId, id);
}

PlaylistChange Store::updatePlaylist(std::int64_t userId, const std::string &id,
                                     const std::optional<std::string> &name,
                                     const std::optional<std::string> &comment,
                                     const std::optional<bool> &isPublic,
                                     const std::vector<int> &removeAt,
                                     const std::vector<std::int64_t> &add,
                                     const std::optional<std::vector<std::int64_t>> &replaceWith) {
    std::lock_guard lock(mutex_);
    // The length is checked in the same transaction as the change, so that
    // two requests at once cannot both pass the cap.
    Transaction tx(db_);
    const auto row = playlistRow(db_, userId, id);
    if (!row)
        return PlaylistChange::NotFound;
    const std::set<int> drop(removeAt.begin(), removeAt.end());
    if (!replaceWith && drop.empty()) {
        // Appending alone leaves the entries there as they are.
        if (!add.empty()) {
            Statement q(db_, "SELECT COUNT(*), COALESCE(MAX(position) + 1, 0) "
                             "FROM playlist_songs WHERE playlist_id = ?");
            q.bind(1, *row);
            q.step();
            if (static_cast<std::size_t>(q.integer(0)) + add.size() > kMaxPlaylistEntries)
                return PlaylistChange::TooLong;
            insertEntries(db_, *row, q.integer(1), add);
        }
    } else {
        std::vector<std::int64_t> entries;
        if (replaceWith) {
            entries = *replaceWith;
        } else {
            Statement q(db_, "SELECT media_id FROM playlist_songs WHERE playlist_id = ? "
                             "ORDER BY position");
            q.bind(1, *row);
            while (q.step())
                entries.push_back(q.integer(0));
        }
        std::vector<std::int64_t> kept;
        kept.reserve(entries.size() + add.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (!drop.count(static_cast<int>(i)))
                kept.push_back(entries[i]);
        }
        kept.insert(kept.end(), add.begin(), add.end());
        // A playlist already past the cap may still lose entries.
        const bool adds = replaceWith || !add.empty();
        if (adds && kept.size() > kMaxPlaylistEntries)
            return PlaylistChange::TooLong;
        Statement(db_, "DELETE FROM playlist_songs WHERE playlist_id = ?").bind(1, *row).run();
        insertEntries(db_, *row, 0, kept);
    }
    Statement(db_, "UPDATE playlists SET name = COALESCE(?, name), comment = COALESCE(?, comment), "
                   "public = COALESCE(?, public), changed_ms = ? WHERE id = ?")
        .bind(1, name)
        .bind(2, comment)
        .bind(3, isPublic ? std::optional<std::string>(*isPublic ? "1" : "0") : std::nullopt)
        .bind(4, nowMs())
        .bind(5, *row)
        .run();
    tx.commit();
    return PlaylistChange::Done;
}

bool Store::deletePlaylist(std::int64_t userId, const std::string &id) {
    std::lock_guard lock(mutex_);
    Transaction tx(db_);
    const auto row = playlistRow(db_, userId, id);
    if (!row)
        return false;
    Statement(db_, "DELETE FROM playlist_songs WHERE playlist_id = ?").bind(1, *row).run();
    Statement(db_, "DELETE FROM playlists WHERE id = ?").bind(1, *row).run();
    tx.commit();
    return true;
}

} // namespace cloud
