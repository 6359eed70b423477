// Older versions of songs. A retired item stays in the database (and its file
// on disk) for a while, listed to no one, so that a resent request still
// finds it and the person's undo can bring it back; then the clean-up deletes it.
#include "Store.h"

#include <set>

namespace cloud {

namespace {

// A star or rating (by the song's public ID) passes to the replacement,
// unless it has one of its own.
void handOverMark(Database &db, const char *table, std::int64_t userId, const std::string &from,
                  const std::string &to) {
    Statement(db, std::string("UPDATE ")
                      .append(table)
                      .append(" SET item_id = ?1 WHERE user_id = ?2 AND item_id = ?3 AND NOT "
                              "EXISTS (SELECT 1 FROM ")
                      .append(table)
                      .append(" WHERE user_id = ?2 AND item_id = ?1)"))
        .bind(1, to)
        .bind(2, userId)
        .bind(3, from)
        .run();
    Statement(
        db, std::string("DELETE FROM ").append(table).append(" WHERE user_id = ? AND item_id = ?"))
        .bind(1, userId)
        .bind(2, from)
        .run();
}

} // namespace

RetireResult Store::retireUserMedia(std::int64_t userId, std::int64_t mediaId,
                                    std::int64_t replacedBy) {
    std::lock_guard lock(mutex_);
    RetireResult result;
    if (mediaId == replacedBy) {
        result.status = RetireStatus::UnknownReplacement;
        return result;
    }
    Transaction tx(db_);
    {
        Statement q(db_, "SELECT m.retired_ms IS NOT NULL, m.replaced_by, f.size FROM user_media m "
                         "JOIN files f ON f.id = m.file_id "
                         "WHERE m.id = ? AND m.user_id = ? AND m.deleted = 0");
        q.bind(1, mediaId).bind(2, userId);
        if (!q.step())
            return result;
        if (q.integer(0) != 0) {
            // The client resends when it never saw the answer.
            if (q.integer(1) == replacedBy)
                result.status = RetireStatus::AlreadyRetired;
            return result;
        }
        result.freedBytes = q.integer(2);
    }
    {
        Statement q(db_, "SELECT 1 FROM user_media WHERE id = ? AND user_id = ? AND deleted = 0 "
                         "AND retired_ms IS NULL");
        q.bind(1, replacedBy).bind(2, userId);
        if (!q.step()) {
            result.status = RetireStatus::UnknownReplacement;
            result.freedBytes = 0;
            return result;
        }
    }
    // A star and a rating follow the song (the replacement may have its own).
    const std::string from = publicId("tr", userId, std::to_string(mediaId));
    const std::string to = publicId("tr", userId, std::to_string(replacedBy));
    handOverMark(db_, "stars", userId, from, to);
    handOverMark(db_, "ratings", userId, from, to);
    replaceInPlaylistsLocked(userId, mediaId, replacedBy);
    handOverListeningLocked(userId, mediaId, replacedBy);
    unindexSongLocked(mediaId);
    // A new position: listings move on past the change.
    Statement(db_, "UPDATE user_media SET retired_ms = ?, replaced_by = ?, position = ? "
                   "WHERE id = ?")
        .bind(1, nowMs())
        .bind(2, replacedBy)
        .bind(3, nextPosition())
        .bind(4, mediaId)
        .run();
    tx.commit();
    result.status = RetireStatus::Retired;
    return result;
}

void Store::reviveLocked(UserMedia &media) {
    media.retired = false;
    media.position = nextPosition();
    Statement(db_, "UPDATE user_media SET retired_ms = NULL, replaced_by = NULL, position = ? "
                   "WHERE id = ?")
        .bind(1, media.position)
        .bind(2, media.id)
        .run();
    indexSongLocked(media);
}

RetiredRemoval Store::removeRetired(std::int64_t cutoffMs) {
    std::lock_guard lock(mutex_);
    Transaction tx(db_);
    RetiredRemoval removal;
    std::vector<std::int64_t> items;
    std::set<std::int64_t> files;
    {
        Statement q(db_, "SELECT id, file_id FROM user_media "
                         "WHERE retired_ms IS NOT NULL AND retired_ms <= ?");
        q.bind(1, cutoffMs);
        while (q.step()) {
            items.push_back(q.integer(0));
            files.insert(q.integer(1));
        }
    }
    for (const auto id : items) {
        Statement(db_, "DELETE FROM playlist_songs WHERE media_id = ?").bind(1, id).run();
        forgetListeningLocked(id);
        Statement(db_, "DELETE FROM user_media WHERE id = ?").bind(1, id).run();
    }
    // Identical bytes are stored once: a file goes only when no library
    // (of any account) and no catalogue entry holds it any more.
    for (const auto fileId : files) {
        {
            Statement q(db_, "SELECT rel_path FROM files f WHERE id = ? "
                             "AND NOT EXISTS (SELECT 1 FROM user_media WHERE file_id = f.id) "
                             "AND NOT EXISTS (SELECT 1 FROM catalog WHERE file_id = f.id)");
            q.bind(1, fileId);
            if (!q.step())
                continue;
            removal.files.push_back(q.text(0));
        }
        Statement(db_, "DELETE FROM file_tags WHERE file_id = ?").bind(1, fileId).run();
        Statement(db_, "DELETE FROM files WHERE id = ?").bind(1, fileId).run();
    }
    tx.commit();
    removal.items = static_cast<int>(items.size());
    return removal;
}

} // namespace cloud
