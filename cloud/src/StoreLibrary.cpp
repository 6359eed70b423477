// The music-player view of the libraries: one row per library item with the
// file's tags, and albums, artists and genres grouped from those rows.
#include "Crypto.h"
#include "Library.h"

#include <cctype>
#include <variant>

namespace cloud {

namespace {

std::string folded(std::string_view text) {
    std::string out;
    for (const char c : text)
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string orUnknown(const std::string &s) {
    return s.empty() ? "Unknown" : s;
}

// `column` holds `text` anywhere, ignoring ASCII case: the clause, whose one
// parameter takes likePattern(text).
std::string containsClause(const Database &db, const char *column) {
    return std::string(column).append(" ").append(db.like()).append(" ? ESCAPE '\\'");
}

std::string likePattern(const std::string &text) {
    std::string out = "%";
    for (const char c : text) {
        if (c == '%' || c == '_' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "%";
}

// A WHERE clause built with its bound values, bound in order.
struct Filter {
    std::string sql;
    std::vector<std::variant<std::int64_t, std::string>> values;

    void add(const std::string &clause, std::variant<std::int64_t, std::string> value) {
        sql += " AND " + clause;
        values.push_back(std::move(value));
    }
    void add(const std::string &clause) { sql += " AND " + clause; }
    int bind(Statement &q, int index = 1) const {
        for (const auto &v : values) {
            if (const auto *i = std::get_if<std::int64_t>(&v))
                q.bind(index++, *i);
            else
                q.bind(index++, std::get<std::string>(v));
        }
        return index;
    }
};

constexpr const char *kSongColumns =
    "s.media_id, s.file_id, s.song_id, s.album_id, s.artist_id, s.album_artist_id, s.title, "
    "s.artist, s.album, s.album_artist, s.genre, s.track, s.disc, s.year, s.duration_ms, "
    "s.bit_rate, s.suffix, s.content_type, s.has_cover, s.path, s.size, s.created_ms, "
    "s.play_count, s.played_ms, COALESCE(st.created_ms, 0), COALESCE(ra.rating, 0)";

// The account's star and rating of each row's item (`alias`.`column` its public ID).
std::string marksOf(const char *alias, const char *column) {
    const std::string item = std::string(alias).append(".").append(column);
    const std::string user = std::string(alias).append(".user_id");
    return " LEFT JOIN stars st ON st.user_id = " + user + " AND st.item_id = " + item +
           " LEFT JOIN ratings ra ON ra.user_id = " + user + " AND ra.item_id = " + item;
}

Song readSong(const Statement &q) {
    Song s;
    s.mediaId = q.integer(0);
    s.fileId = q.integer(1);
    s.id = q.text(2);
    s.albumId = q.text(3);
    s.artistId = q.text(4);
    s.albumArtistId = q.text(5);
    s.tags.title = q.text(6);
    s.tags.artist = q.text(7);
    s.tags.album = q.text(8);
    s.tags.albumArtist = q.text(9);
    s.tags.genre = q.text(10);
    s.tags.track = static_cast<int>(q.integer(11));
    s.tags.disc = static_cast<int>(q.integer(12));
    s.tags.year = static_cast<int>(q.integer(13));
    s.tags.durationMs = q.integer(14);
    s.tags.bitRateKbps = static_cast<int>(q.integer(15));
    s.tags.suffix = q.text(16);
    s.tags.contentType = q.text(17);
    s.tags.hasCover = q.integer(18) != 0;
    s.path = q.text(19);
    s.size = q.integer(20);
    s.createdMs = q.integer(21);
    s.playCount = static_cast<int>(q.integer(22));
    s.playedMs = q.integer(23);
    s.starredMs = q.integer(24);
    s.rating = static_cast<int>(q.integer(25));
    return s;
}

// Columns: ID, name, album count, cover song, starred, rating.
Artist readArtist(const Statement &q) {
    Artist a;
    a.id = q.text(0);
    a.name = q.text(1);
    a.albumCount = static_cast<int>(q.integer(2));
    a.coverSongId = q.text(3);
    a.starredMs = q.integer(4);
    a.rating = static_cast<int>(q.integer(5));
    return a;
}

// A file whose tags were never read still plays: its kind is guessed from its name.
Tags guessedTags(const std::string &name) {
    Tags t;
    const auto dot = name.rfind('.');
    t.suffix = dot == std::string::npos ? "" : folded(name.substr(dot + 1));
    t.contentType = t.suffix == "mp3"    ? "audio/mpeg"
                    : t.suffix == "flac" ? "audio/flac"
                    : t.suffix == "ogg"  ? "audio/ogg"
                    : t.suffix == "m4a"  ? "audio/mp4"
                                         : "application/octet-stream";
    return t;
}

} // namespace

std::string Store::publicId(const char *kind, std::int64_t userId, std::string_view key) const {
    // The account is part of every ID: the same album in two libraries has two
    // IDs, and none can be guessed from another.
    const std::string mac = crypto::hmacSha256(
        idKey_, std::string(kind) + '\0' + std::to_string(userId) + '\0' + std::string(key));
    return std::string(kind) + crypto::toHex(mac).substr(0, 22);
}

void Store::setFileTags(std::int64_t fileId, const Tags &tags) {
    std::lock_guard lock(mutex_);
    setFileTagsLocked(fileId, tags);
}

void Store::setFileTags(const std::vector<std::pair<std::int64_t, Tags>> &batch) {
    std::lock_guard lock(mutex_);
    Transaction tx(db_);
    for (const auto &[fileId, tags] : batch)
        setFileTagsLocked(fileId, tags);
    tx.commit();
}

void Store::setFileTagsLocked(std::int64_t fileId, const Tags &t) {
    Statement(db_, "INSERT INTO file_tags(file_id, title, artist, album, album_artist, "
                   "genre, track, disc, year, duration_ms, bit_rate, suffix, content_type, "
                   "has_cover) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?) ON CONFLICT(file_id) DO "
                   "UPDATE SET title = excluded.title, artist = excluded.artist, "
                   "album = excluded.album, album_artist = excluded.album_artist, "
                   "genre = excluded.genre, track = excluded.track, disc = excluded.disc, "
                   "year = excluded.year, duration_ms = excluded.duration_ms, "
                   "bit_rate = excluded.bit_rate, suffix = excluded.suffix, "
                   "content_type = excluded.content_type, has_cover = excluded.has_cover")
        .bind(1, fileId)
        .bind(2, t.title)
        .bind(3, t.artist)
        .bind(4, t.album)
        .bind(5, t.albumArtist)
        .bind(6, t.genre)
        .bind(7, t.track)
        .bind(8, t.disc)
        .bind(9, t.year)
        .bind(10, t.durationMs)
        .bind(11, t.bitRateKbps)
        .bind(12, t.suffix)
        .bind(13, t.contentType)
        .bind(14, t.hasCover ? 1 : 0)
        .run();
}

std::vector<std::pair<std::int64_t, std::string>> Store::filesWithoutTags() {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<std::int64_t, std::string>> out;
    Statement q(db_, "SELECT f.id, f.rel_path FROM files f LEFT JOIN file_tags t "
                     "ON t.file_id = f.id WHERE t.file_id IS NULL");
    while (q.step())
        out.emplace_back(q.integer(0), q.text(1));
    return out;
}

void Store::indexSongLocked(const UserMedia &media) {
    Tags t = guessedTags(media.name);
    std::int64_t size = 0;
    {
        Statement q(db_, "SELECT t.genre, t.track, t.disc, t.year, t.duration_ms, t.bit_rate, "
                         "t.suffix, t.content_type, t.has_cover, t.album_artist, f.size "
                         "FROM files f LEFT JOIN file_tags t ON t.file_id = f.id WHERE f.id = ?");
        q.bind(1, media.fileId);
        if (q.step()) {
            size = q.integer(10);
            if (!q.isNull(0)) {
                t.genre = q.text(0);
                t.track = static_cast<int>(q.integer(1));
                t.disc = static_cast<int>(q.integer(2));
                t.year = static_cast<int>(q.integer(3));
                t.durationMs = q.integer(4);
                t.bitRateKbps = static_cast<int>(q.integer(5));
                // What the demuxer could not name keeps the guess from the file name.
                if (!q.text(7).empty()) {
                    t.suffix = q.text(6);
                    t.contentType = q.text(7);
                }
                t.hasCover = q.integer(8) != 0;
                t.albumArtist = q.text(9);
            }
        }
    }
    // Title, artist and album are the library item's own (what the desktop saw
    // or the catalogue says); the rest comes from the file.
    t.title = orUnknown(media.songName);
    t.artist = orUnknown(media.artistName);
    t.album = orUnknown(media.albumName);
    if (t.albumArtist.empty())
        t.albumArtist = t.artist;
    if (t.track == 0)
        t.track = media.sequence;
    const std::string albumKey = folded(t.albumArtist) + '\x1f' + folded(t.album);
    const std::string songId = publicId("tr", media.userId, std::to_string(media.id));
    const std::string albumId = publicId("al", media.userId, albumKey);
    const std::string artistId = publicId("ar", media.userId, folded(t.albumArtist));
    const std::int64_t created = media.position > 0 ? media.position : nowMs();
    const std::string cover = t.hasCover ? songId : std::string();
    Statement(db_, "INSERT INTO library_songs(media_id, user_id, song_id, album_id, "
                   "artist_id, album_artist_id, file_id, title, artist, album, album_artist, "
                   "genre, track, disc, year, duration_ms, bit_rate, suffix, content_type, "
                   "has_cover, path, size, created_ms, search) "
                   "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)")
        .bind(1, media.id)
        .bind(2, media.userId)
        .bind(3, songId)
        .bind(4, albumId)
        .bind(5, publicId("ar", media.userId, folded(t.artist)))
        .bind(6, artistId)
        .bind(7, media.fileId)
        .bind(8, t.title)
        .bind(9, t.artist)
        .bind(10, t.album)
        .bind(11, t.albumArtist)
        .bind(12, t.genre)
        .bind(13, t.track)
        .bind(14, t.disc)
        .bind(15, t.year)
        .bind(16, t.durationMs)
        .bind(17, t.bitRateKbps)
        .bind(18, t.suffix)
        .bind(19, t.contentType)
        .bind(20, t.hasCover ? 1 : 0)
        .bind(21, t.albumArtist + "/" + t.album + "/" + media.name)
        .bind(22, size)
        .bind(23, created)
        .bind(24, t.title + '\x1f' + t.artist + '\x1f' + t.album)
        .run();

    // Albums and artists are kept summed up as songs arrive, so that their
    // lists never group a whole library per request.
    bool newAlbum = true;
    {
        Statement q(db_, "SELECT 1 FROM library_albums WHERE album_id = ?");
        q.bind(1, albumId);
        newAlbum = !q.step();
    }
    Statement(db_, std::string("INSERT INTO library_albums AS a(album_id, user_id, name, artist, "
                               "artist_id, song_count, duration_ms, year, genre, created_ms, "
                               "cover_song_id) VALUES(?,?,?,?,?,1,?,?,?,?,?) "
                               "ON CONFLICT(album_id) DO UPDATE SET "
                               "song_count = a.song_count + 1, "
                               "duration_ms = a.duration_ms + excluded.duration_ms, year = ")
                       .append(db_.greatest())
                       .append("(a.year, excluded.year), genre = CASE WHEN a.genre = '' THEN "
                               "excluded.genre ELSE a.genre END, created_ms = ")
                       .append(db_.least())
                       .append("(a.created_ms, excluded.created_ms), cover_song_id = CASE WHEN "
                               "a.cover_song_id = '' THEN excluded.cover_song_id ELSE "
                               "a.cover_song_id END"))
        .bind(1, albumId)
        .bind(2, media.userId)
        .bind(3, t.album)
        .bind(4, t.albumArtist)
        .bind(5, artistId)
        .bind(6, t.durationMs)
        .bind(7, t.year)
        .bind(8, t.genre)
        .bind(9, created)
        .bind(10, cover)
        .run();
    Statement(db_, "INSERT INTO library_artists AS r(artist_id, user_id, name, album_count, "
                   "cover_song_id) VALUES(?,?,?,?,?) ON CONFLICT(artist_id) DO UPDATE SET "
                   "album_count = r.album_count + excluded.album_count, "
                   "cover_song_id = CASE WHEN r.cover_song_id = '' THEN excluded.cover_song_id "
                   "ELSE r.cover_song_id END")
        .bind(1, artistId)
        .bind(2, media.userId)
        .bind(3, t.albumArtist)
        .bind(4, newAlbum ? 1 : 0)
        .bind(5, cover)
        .run();
}

// The counterpart of indexSongLocked: the album and artist sums become what
// they would be had the song never joined, from the songs still there.
void Store::unindexSongLocked(std::int64_t mediaId) {
    std::int64_t userId = 0;
    std::string songId;
    std::string albumId;
    std::string artistId;
    {
        Statement q(db_, "SELECT user_id, song_id, album_id, album_artist_id FROM library_songs "
                         "WHERE media_id = ?");
        q.bind(1, mediaId);
        if (!q.step())
            return;
        userId = q.integer(0);
        songId = q.text(1);
        albumId = q.text(2);
        artistId = q.text(3);
    }
    Statement(db_, "DELETE FROM library_songs WHERE media_id = ?").bind(1, mediaId).run();
    std::int64_t remaining = 0;
    {
        Statement q(db_, "SELECT COUNT(*) FROM library_songs WHERE user_id = ? AND album_id = ?");
        q.bind(1, userId).bind(2, albumId);
        q.step();
        remaining = q.integer(0);
    }
    if (remaining == 0) {
        Statement(db_, "DELETE FROM library_albums WHERE album_id = ?").bind(1, albumId).run();
        Statement(db_, "UPDATE library_artists SET album_count = album_count - 1 "
                       "WHERE artist_id = ?")
            .bind(1, artistId)
            .run();
        Statement(db_, "DELETE FROM library_artists WHERE artist_id = ? AND album_count <= 0")
            .bind(1, artistId)
            .run();
    } else {
        // Genre and cover are the first song's that has one, as when the album was built.
        Statement(db_, "UPDATE library_albums SET "
                       "song_count = ?3, "
                       "duration_ms = (SELECT SUM(duration_ms) FROM library_songs "
                       "WHERE user_id = ?1 AND album_id = ?2), "
                       "year = (SELECT MAX(year) FROM library_songs WHERE user_id = ?1 "
                       "AND album_id = ?2), "
                       "created_ms = (SELECT MIN(created_ms) FROM library_songs "
                       "WHERE user_id = ?1 AND album_id = ?2), "
                       "genre = COALESCE((SELECT genre FROM library_songs WHERE user_id = ?1 "
                       "AND album_id = ?2 AND genre <> '' ORDER BY media_id LIMIT 1), ''), "
                       "cover_song_id = COALESCE((SELECT song_id FROM library_songs "
                       "WHERE user_id = ?1 AND album_id = ?2 AND has_cover <> 0 "
                       "ORDER BY media_id LIMIT 1), '') "
                       "WHERE album_id = ?2")
            .bind(1, userId)
            .bind(2, albumId)
            .bind(3, remaining)
            .run();
    }
    Statement(db_, "UPDATE library_artists SET cover_song_id = COALESCE((SELECT cover_song_id "
                   "FROM library_albums WHERE user_id = ?1 AND artist_id = ?2 "
                   "AND cover_song_id <> '' ORDER BY created_ms LIMIT 1), '') "
                   "WHERE artist_id = ?2 AND cover_song_id = ?3")
        .bind(1, userId)
        .bind(2, artistId)
        .bind(3, songId)
        .run();
}

int Store::indexLibrary() {
    std::lock_guard lock(mutex_);
    Transaction tx(db_);
    std::vector<UserMedia> missing;
    {
        Statement q(db_, "SELECT m.id, m.user_id, m.file_id, m.name, m.song_name, m.album_name, "
                         "m.artist_name, m.sequence, m.position FROM user_media m "
                         "LEFT JOIN library_songs s ON s.media_id = m.id "
                         "WHERE s.media_id IS NULL AND m.deleted = 0 "
                         "AND m.retired_ms IS NULL");
        while (q.step()) {
            UserMedia m;
            m.id = q.integer(0);
            m.userId = q.integer(1);
            m.fileId = q.integer(2);
            m.name = q.text(3);
            m.songName = q.text(4);
            m.albumName = q.text(5);
            m.artistName = q.text(6);
            m.sequence = static_cast<int>(q.integer(7));
            m.position = q.integer(8);
            missing.push_back(std::move(m));
        }
    }
    for (const auto &m : missing)
        indexSongLocked(m);
    tx.commit();
    return static_cast<int>(missing.size());
}

std::vector<Song> Store::songs(std::int64_t userId, const SongQuery &query) {
    Filter f;
    if (!query.id.empty())
        f.add("s.song_id = ?", query.id);
    if (!query.mediaIds.empty()) {
        // One parameter however many items: a variable each would meet SQLite's
        // limit on variables with a long enough list.
        f.add(std::string("s.media_id IN (SELECT value FROM ").append(db_.integerRows()) + ")",
              db_.integerList(query.mediaIds));
    }
    if (!query.albumId.empty())
        f.add("s.album_id = ?", query.albumId);
    if (!query.genre.empty())
        f.add("s.genre = ?", query.genre);
    if (query.fromYear)
        f.add("s.year >= ?", std::int64_t{*query.fromYear});
    if (query.toYear)
        f.add("s.year <= ?", std::int64_t{*query.toYear});
    if (query.starredOnly)
        f.add("st.created_ms IS NOT NULL");
    if (!query.text.empty())
        f.add(containsClause(db_, "s.search"), likePattern(query.text));
    if (!query.artist.empty()) {
        f.add("(lower(s.artist) = lower(?) OR lower(s.album_artist) = lower(?))", query.artist);
        f.values.emplace_back(query.artist);
    }
    const std::string disc = std::string(db_.greatest()) + "(s.disc, 1)";
    const std::string order = query.random       ? "random()"
                              : query.addedOrder ? "s.media_id"
                              : query.mostPlayed ? "s.play_count DESC, " + db_.nocase("s.title")
                              : query.albumId.empty()
                                  ? db_.nocase("s.album_artist") + ", " + db_.nocase("s.album") +
                                        ", " + disc + ", s.track, s.title"
                                  : disc + ", s.track, " + db_.nocase("s.title");
    std::lock_guard lock(mutex_);
    Statement q(db_, std::string("SELECT ")
                         .append(kSongColumns)
                         .append(" FROM library_songs s")
                         .append(marksOf("s", "song_id"))
                         .append(" WHERE s.user_id = ?")
                         .append(f.sql)
                         .append(" ORDER BY ")
                         .append(order)
                         .append(" LIMIT ? OFFSET ?"));
    q.bind(1, userId);
    const int next = f.bind(q, 2);
    q.bind(next, query.limit).bind(next + 1, query.offset);
    std::vector<Song> out;
    while (q.step())
        out.push_back(readSong(q));
    return out;
}

std::vector<Album> Store::albums(std::int64_t userId, const AlbumQuery &query) {
    Filter f;
    if (!query.id.empty())
        f.add("a.album_id = ?", query.id);
    if (!query.artistId.empty())
        f.add("a.artist_id = ?", query.artistId);
    if (!query.songArtistId.empty())
        f.add("a.album_id IN (SELECT album_id FROM library_songs WHERE user_id = a.user_id "
              "AND artist_id = ?)",
              query.songArtistId);
    if (!query.text.empty())
        f.add(containsClause(db_, "a.name"), likePattern(query.text));
    std::string order = db_.nocase("a.name");
    switch (query.order) {
    case AlbumOrder::Random:
        order = "random()";
        break;
    case AlbumOrder::Newest:
        order = "a.created_ms DESC";
        break;
    case AlbumOrder::Frequent:
        f.add("a.play_count > 0");
        order = "a.play_count DESC, " + db_.nocase("a.name");
        break;
    case AlbumOrder::Recent:
        f.add("a.played_ms > 0");
        order = "a.played_ms DESC";
        break;
    case AlbumOrder::ByName:
        break;
    case AlbumOrder::ByArtist:
        order = db_.nocase("a.artist") + ", " + db_.nocase("a.name");
        break;
    case AlbumOrder::Starred:
        f.add("st.created_ms IS NOT NULL");
        break;
    case AlbumOrder::Highest:
        f.add("ra.rating > 0");
        order = "ra.rating DESC, " + db_.nocase("a.name");
        break;
    case AlbumOrder::ByYear: {
        const bool down = query.fromYear > query.toYear;
        f.add("a.year BETWEEN ? AND ?", std::int64_t{down ? query.toYear : query.fromYear});
        f.values.emplace_back(std::int64_t{down ? query.fromYear : query.toYear});
        order = down ? "a.year DESC" : "a.year";
        break;
    }
    case AlbumOrder::ByGenre:
        f.add("a.genre = ?", query.genre);
        break;
    }
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT a.album_id, a.name, a.artist, a.artist_id, a.song_count, "
                     "a.duration_ms, a.year, a.genre, a.created_ms, a.cover_song_id, "
                     "a.play_count, a.played_ms, COALESCE(st.created_ms, 0), "
                     "COALESCE(ra.rating, 0) FROM library_albums a" +
                         marksOf("a", "album_id") + " WHERE a.user_id = ?" + f.sql + " ORDER BY " +
                         order + " LIMIT ? OFFSET ?");
    q.bind(1, userId);
    const int next = f.bind(q, 2);
    q.bind(next, query.limit).bind(next + 1, query.offset);
    std::vector<Album> out;
    while (q.step()) {
        Album a;
        a.id = q.text(0);
        a.name = q.text(1);
        a.artist = q.text(2);
        a.artistId = q.text(3);
        a.songCount = static_cast<int>(q.integer(4));
        a.durationMs = q.integer(5);
        a.year = static_cast<int>(q.integer(6));
        a.genre = q.text(7);
        a.createdMs = q.integer(8);
        a.coverSongId = q.text(9);
        a.playCount = static_cast<int>(q.integer(10));
        a.playedMs = q.integer(11);
        a.starredMs = q.integer(12);
        a.rating = static_cast<int>(q.integer(13));
        out.push_back(std::move(a));
    }
    return out;
}

std::vector<Artist> Store::artists(std::int64_t userId, const ArtistQuery &query) {
    Filter f;
    if (!query.id.empty())
        f.add("r.artist_id = ?", query.id);
    if (!query.text.empty())
        f.add(containsClause(db_, "r.name"), likePattern(query.text));
    if (query.starredOnly)
        f.add("st.created_ms IS NOT NULL");
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT r.artist_id, r.name, r.album_count, r.cover_song_id, "
                     "COALESCE(st.created_ms, 0), COALESCE(ra.rating, 0) FROM library_artists r" +
                         marksOf("r", "artist_id") + " WHERE r.user_id = ?" + f.sql + " ORDER BY " +
                         db_.nocase("r.name") + " LIMIT ? OFFSET ?");
    q.bind(1, userId);
    const int next = f.bind(q, 2);
    q.bind(next, query.limit).bind(next + 1, query.offset);
    std::vector<Artist> out;
    while (q.step())
        out.push_back(readArtist(q));
    if (out.empty() && !query.id.empty())
        if (auto a = songArtistLocked(userId, query.id))
            out.push_back(std::move(*a));
    return out;
}

// An artist of songs only (a compilation's track artist, listed under no
// album of their own): the albums holding their songs are theirs.
std::optional<Artist> Store::songArtistLocked(std::int64_t userId, const std::string &id) {
    Statement q(db_, "SELECT MIN(s.artist_id), MIN(s.artist), COUNT(DISTINCT s.album_id), "
                     "COALESCE(MIN(CASE WHEN s.has_cover <> 0 THEN s.song_id END), ''), "
                     "COALESCE(MAX(st.created_ms), 0), COALESCE(MAX(ra.rating), 0) "
                     "FROM library_songs s" +
                         marksOf("s", "artist_id") +
                         " WHERE s.user_id = ? AND s.artist_id = ? HAVING COUNT(*) > 0");
    q.bind(1, userId).bind(2, id);
    if (!q.step())
        return std::nullopt;
    return readArtist(q);
}

std::vector<Genre> Store::genres(std::int64_t userId) {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT genre, COUNT(*), COUNT(DISTINCT album_id) FROM library_songs "
                     "WHERE user_id = ? AND genre <> '' GROUP BY genre ORDER BY genre");
    q.bind(1, userId);
    std::vector<Genre> out;
    while (q.step())
        out.push_back(
            Genre{q.text(0), static_cast<int>(q.integer(1)), static_cast<int>(q.integer(2))});
    return out;
}

std::int64_t Store::libraryChangedMs(std::int64_t userId) {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT COALESCE(MAX(created_ms), 0) FROM library_songs WHERE user_id = ?");
    q.bind(1, userId);
    q.step();
    return q.integer(0);
}

void Store::setStarred(std::int64_t userId, const std::string &itemId, bool starred) {
    std::lock_guard lock(mutex_);
    if (starred)
        Statement(db_, "INSERT INTO stars(user_id, item_id, created_ms) VALUES(?,?,?) "
                       "ON CONFLICT DO NOTHING")
            .bind(1, userId)
            .bind(2, itemId)
            .bind(3, nowMs())
            .run();
    else
        Statement(db_, "DELETE FROM stars WHERE user_id = ? AND item_id = ?")
            .bind(1, userId)
            .bind(2, itemId)
            .run();
}

void Store::addPlay(std::int64_t userId, std::int64_t mediaId, std::int64_t whenMs) {
    std::lock_guard lock(mutex_);
    Statement(db_, std::string("UPDATE library_songs SET play_count = play_count + 1, "
                               "played_ms = ")
                       .append(db_.greatest())
                       .append("(played_ms, ?) WHERE user_id = ? AND media_id = ?"))
        .bind(1, whenMs)
        .bind(2, userId)
        .bind(3, mediaId)
        .run();
    Statement(db_, std::string("UPDATE library_albums SET play_count = play_count + 1, "
                               "played_ms = ")
                       .append(db_.greatest())
                       .append("(played_ms, ?) WHERE user_id = ? AND album_id = (SELECT album_id "
                               "FROM library_songs WHERE user_id = ? AND media_id = ?)"))
        .bind(1, whenMs)
        .bind(2, userId)
        .bind(3, userId)
        .bind(4, mediaId)
        .run();
}

} // namespace cloud
