// What players keep of a person's listening, so that another player (or the
// web player after a reload) takes it up: the play queue, bookmarks, ratings
// and what each player plays now.
#include "Library.h"

namespace cloud {

std::optional<PlayQueue> Store::playQueue(std::int64_t userId) {
    std::lock_guard lock(mutex_);
    PlayQueue queue;
    {
        Statement q(db_, "SELECT current_media_id, position_ms, changed_ms, changed_by "
                         "FROM play_queues WHERE user_id = ?");
        q.bind(1, userId);
        if (!q.step())
            return std::nullopt;
        queue.currentMediaId = q.isNull(0) ? 0 : q.integer(0);
        queue.positionMs = q.integer(1);
        queue.changedMs = q.integer(2);
        queue.changedBy = q.text(3);
    }
    Statement q(db_, "SELECT media_id FROM play_queue_songs WHERE user_id = ? ORDER BY position");
    q.bind(1, userId);
    while (q.step())
        queue.mediaIds.push_back(q.integer(0));
    return queue;
}

void Store::savePlayQueue(std::int64_t userId, const PlayQueue &queue) {
    std::lock_guard lock(mutex_);
    Transaction tx(db_);
    Statement(db_, "DELETE FROM play_queue_songs WHERE user_id = ?").bind(1, userId).run();
    if (queue.mediaIds.empty()) {
        Statement(db_, "DELETE FROM play_queues WHERE user_id = ?").bind(1, userId).run();
        tx.commit();
        return;
    }
    Statement upsert(db_, "INSERT INTO play_queues(user_id, current_media_id, position_ms, "
                          "changed_ms, changed_by) VALUES(?,?,?,?,?) ON CONFLICT(user_id) DO "
                          "UPDATE SET current_media_id = excluded.current_media_id, "
                          "position_ms = excluded.position_ms, changed_ms = excluded.changed_ms, "
                          "changed_by = excluded.changed_by");
    upsert.bind(1, userId);
    if (queue.currentMediaId > 0)
        upsert.bind(2, queue.currentMediaId);
    else
        upsert.bindNull(2);
    upsert.bind(3, queue.positionMs).bind(4, queue.changedMs).bind(5, queue.changedBy).run();
    // The songs as one list parameter, read back as rows (as playlists keep theirs).
    Statement(db_, std::string("INSERT INTO play_queue_songs(user_id, position, media_id) "
                               "SELECT ?, key, value FROM ")
                       .append(db_.integerRows()))
        .bind(1, userId)
        .bind(2, db_.integerList(queue.mediaIds))
        .run();
    tx.commit();
}

std::vector<Bookmark> Store::bookmarks(std::int64_t userId) {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT media_id, position_ms, comment, created_ms, changed_ms "
                     "FROM bookmarks WHERE user_id = ? ORDER BY changed_ms DESC");
    q.bind(1, userId);
    std::vector<Bookmark> out;
    while (q.step())
        out.push_back(Bookmark{q.integer(0), q.integer(1), q.text(2), q.integer(3), q.integer(4)});
    return out;
}

void Store::saveBookmark(std::int64_t userId, const Bookmark &b) {
    std::lock_guard lock(mutex_);
    Statement(db_, "INSERT INTO bookmarks(user_id, media_id, position_ms, comment, created_ms, "
                   "changed_ms) VALUES(?1,?2,?3,?4,?5,?5) ON CONFLICT(user_id, media_id) DO UPDATE "
                   "SET position_ms = excluded.position_ms, comment = excluded.comment, "
                   "changed_ms = excluded.changed_ms")
        .bind(1, userId)
        .bind(2, b.mediaId)
        .bind(3, b.positionMs)
        .bind(4, b.comment)
        .bind(5, b.changedMs)
        .run();
}

bool Store::deleteBookmark(std::int64_t userId, std::int64_t mediaId) {
    std::lock_guard lock(mutex_);
    Statement(db_, "DELETE FROM bookmarks WHERE user_id = ? AND media_id = ?")
        .bind(1, userId)
        .bind(2, mediaId)
        .run();
    return db_.changes() > 0;
}

void Store::setRating(std::int64_t userId, const std::string &itemId, int rating) {
    std::lock_guard lock(mutex_);
    if (rating <= 0) {
        Statement(db_, "DELETE FROM ratings WHERE user_id = ? AND item_id = ?")
            .bind(1, userId)
            .bind(2, itemId)
            .run();
        return;
    }
    Statement(db_, "INSERT INTO ratings(user_id, item_id, rating) VALUES(?,?,?) "
                   "ON CONFLICT(user_id, item_id) DO UPDATE SET rating = excluded.rating")
        .bind(1, userId)
        .bind(2, itemId)
        .bind(3, rating)
        .run();
}

void Store::setNowPlaying(std::int64_t userId, const NowPlaying &playing) {
    std::lock_guard lock(mutex_);
    Statement(db_, "INSERT INTO now_playing(user_id, player, media_id, started_ms) "
                   "VALUES(?,?,?,?) ON CONFLICT(user_id, player) DO UPDATE SET "
                   "media_id = excluded.media_id, started_ms = excluded.started_ms")
        .bind(1, userId)
        .bind(2, playing.player)
        .bind(3, playing.mediaId)
        .bind(4, playing.startedMs)
        .run();
}

std::vector<NowPlaying> Store::nowPlaying(std::int64_t userId, std::int64_t graceMs) {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT n.media_id, n.player, n.started_ms FROM now_playing n "
                     "JOIN library_songs s ON s.media_id = n.media_id "
                     "WHERE n.user_id = ? AND n.started_ms + s.duration_ms + ? >= ? "
                     "ORDER BY n.started_ms DESC");
    q.bind(1, userId).bind(2, graceMs).bind(3, nowMs());
    std::vector<NowPlaying> out;
    while (q.step())
        out.push_back(NowPlaying{q.integer(0), q.text(1), q.integer(2)});
    return out;
}

void Store::handOverListeningLocked(std::int64_t userId, std::int64_t mediaId,
                                    std::int64_t replacedBy) {
    Statement(db_, "UPDATE play_queue_songs SET media_id = ? WHERE user_id = ? AND media_id = ?")
        .bind(1, replacedBy)
        .bind(2, userId)
        .bind(3, mediaId)
        .run();
    Statement(db_, "UPDATE play_queues SET current_media_id = ? WHERE user_id = ? "
                   "AND current_media_id = ?")
        .bind(1, replacedBy)
        .bind(2, userId)
        .bind(3, mediaId)
        .run();
    // A bookmark follows unless the new version has one of its own.
    Statement(db_, "UPDATE bookmarks SET media_id = ?1 WHERE user_id = ?2 AND media_id = ?3 "
                   "AND NOT EXISTS (SELECT 1 FROM bookmarks WHERE user_id = ?2 AND media_id = ?1)")
        .bind(1, replacedBy)
        .bind(2, userId)
        .bind(3, mediaId)
        .run();
    forgetListeningLocked(mediaId);
}

void Store::forgetListeningLocked(std::int64_t mediaId) {
    for (const char *table : {"play_queue_songs", "bookmarks", "now_playing"})
        Statement(db_, std::string("DELETE FROM ").append(table).append(" WHERE media_id = ?"))
            .bind(1, mediaId)
            .run();
}

} // namespace cloud
