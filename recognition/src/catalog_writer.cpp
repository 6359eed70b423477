#include "catalog_writer.h"

#include "digest.h"
#include "index_keys.h"

#include <algorithm>
#include <sqlite3.h>

namespace recog {

namespace {

constexpr char kSep = '\x1f';

std::string prefixed(char prefix, std::string_view seed, size_t bytes) {
    const auto d = sha256(seed);
    return std::string(1, prefix) + toHex(d.data(), bytes, true);
}

std::string nonEmpty(const std::string &value, const std::string &fallback) {
    return value.empty() ? fallback : value;
}

// Rolls back unless committed.
class Transaction {
public:
    explicit Transaction(sqlite3 *db)
        : db_(db) {
        std::string ignored;
        active_ = execute(db_, "BEGIN IMMEDIATE", ignored);
    }
    ~Transaction() {
        if (active_) {
            std::string ignored;
            execute(db_, "ROLLBACK", ignored);
        }
    }
    bool active() const { return active_; }
    bool commit(std::string &error) {
        if (!execute(db_, "COMMIT", error))
            return false;
        active_ = false;
        return true;
    }

private:
    sqlite3 *db_;
    bool active_ = false;
};

} // namespace

std::string contributorGnuid(const std::string &nameKey) {
    return prefixed('C', "contributor" + std::string(1, kSep) + nameKey, 10);
}

std::string albumGnid(const std::string &albumKey) {
    return prefixed('A', "album" + std::string(1, kSep) + albumKey, 10);
}

int64_t CatalogWriter::contributorFor(const std::string &name, std::string &error) {
    const std::string key = textKey(name);
    Statement find(cat_.db(), "SELECT id FROM contributors WHERE name_key = ?");
    find.bind(1, key);
    if (find.step() == SQLITE_ROW)
        return find.integer(0);
    Statement ins(cat_.db(), "INSERT INTO contributors(gnuid, name, name_key) VALUES (?, ?, ?)");
    ins.bind(1, contributorGnuid(key)).bind(2, name).bind(3, key);
    if (ins.step() != SQLITE_DONE) {
        error = std::string("cannot add contributor: ") + sqlite3_errmsg(cat_.db());
        return 0;
    }
    return sqlite3_last_insert_rowid(cat_.db());
}

int64_t CatalogWriter::albumFor(const NewTrack &t, int64_t contributorId, std::string &error) {
    const std::string artist = nonEmpty(t.albumArtist, t.artist);
    const std::string key = textKey(artist) + kSep + textKey(t.album);
    Statement find(cat_.db(), "SELECT id FROM albums WHERE album_key = ?");
    find.bind(1, key);
    if (find.step() == SQLITE_ROW) {
        const int64_t id = find.integer(0);
        // Later files may name a label or genre the first did not.
        Statement upd(cat_.db(), "UPDATE albums SET label = coalesce(label, ?), genre1 = "
                                 "coalesce(genre1, ?) WHERE id = ?");
        t.label.empty() ? upd.bindNull(1) : upd.bind(1, t.label);
        t.genre.empty() ? upd.bindNull(2) : upd.bind(2, t.genre);
        upd.bind(3, id);
        upd.step();
        return id;
    }
    Statement ins(cat_.db(), "INSERT INTO albums(gnid, title, artist, album_key, label, genre1, "
                             "contributor_id) VALUES (?, ?, ?, ?, ?, ?, ?)");
    ins.bind(1, albumGnid(key)).bind(2, t.album).bind(3, artist).bind(4, key);
    t.label.empty() ? ins.bindNull(5) : ins.bind(5, t.label);
    t.genre.empty() ? ins.bindNull(6) : ins.bind(6, t.genre);
    ins.bind(7, contributorId);
    if (ins.step() != SQLITE_DONE) {
        error = std::string("cannot add album: ") + sqlite3_errmsg(cat_.db());
        return 0;
    }
    return sqlite3_last_insert_rowid(cat_.db());
}

std::optional<TrackRecord> CatalogWriter::insertTrack(const NewTrack &t, std::string &error) {
    if (t.fingerprint.empty()) {
        error = "no fingerprint";
        return std::nullopt;
    }
    const std::string title = nonEmpty(t.title, "Untitled");
    const std::string artist = nonEmpty(t.artist, nonEmpty(t.albumArtist, "Unknown Artist"));
    NewTrack track = t;
    track.title = title;
    track.artist = artist;
    track.album = nonEmpty(t.album, "Unknown Album");

    const int64_t artistId = contributorFor(artist, error);
    const std::string albumArtist = nonEmpty(track.albumArtist, artist);
    const int64_t albumArtistId =
        artistId && albumArtist != artist ? contributorFor(albumArtist, error) : artistId;
    const int64_t albumId = albumArtistId ? albumFor(track, albumArtistId, error) : 0;
    if (!albumId)
        return std::nullopt;

    // The track's identity within its album: its number and its title.
    const std::string seed = std::to_string(albumId) + kSep + textKey(albumArtist) + kSep +
                             textKey(track.album) + kSep + std::to_string(t.trackNumber) + kSep +
                             textKey(title);
    const auto d = sha256("track" + std::string(1, kSep) + seed);
    uint64_t n = 0;
    for (int i = 0; i < 8; ++i)
        n = n << 8 | d[size_t(i)];
    TrackRecord rec;
    rec.gnid = "T" + toHex(d.data(), 10, true);
    rec.tui = std::to_string(100000000 + n % 900000000);
    rec.tuiTag = toHex(d.data() + 16, 16, true);

    Statement ins(cat_.db(),
                  "INSERT INTO tracks(gnid, tui, tui_tag, album_id, contributor_id, title, "
                  "title_key, artist, track_number, duration, source, fingerprint) VALUES "
                  "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    const std::string blob = encodeItems(t.fingerprint);
    ins.bind(1, rec.gnid).bind(2, rec.tui).bind(3, rec.tuiTag).bind(4, albumId).bind(5, artistId);
    ins.bind(6, title).bind(7, textKey(title)).bind(8, artist);
    t.trackNumber > 0 ? ins.bind(9, int64_t(t.trackNumber)) : ins.bindNull(9);
    ins.bindReal(10, t.duration);
    t.source.empty() ? ins.bindNull(11) : ins.bind(11, t.source);
    ins.bindBlob(12, blob.data(), blob.size());
    if (ins.step() != SQLITE_DONE) {
        const int ext = sqlite3_extended_errcode(cat_.db());
        error = ext == SQLITE_CONSTRAINT_UNIQUE
                    ? "track " + std::to_string(t.trackNumber) + " \"" + title + "\" of \"" +
                          track.album + "\" is already in the catalogue"
                    : std::string("cannot add track: ") + sqlite3_errmsg(cat_.db());
        return std::nullopt;
    }
    rec.id = sqlite3_last_insert_rowid(cat_.db());
    rec.title = title;
    rec.artist = artist;
    rec.trackNumber = t.trackNumber;
    rec.albumId = albumId;
    rec.contributorId = artistId;
    rec.duration = t.duration;
    rec.source = t.source;
    return rec;
}

bool CatalogWriter::mergePostings(std::vector<std::pair<uint32_t, uint32_t>> &pairs,
                                  std::string &error) {
    std::sort(pairs.begin(), pairs.end());
    Statement get(cat_.db(), "SELECT tracks FROM postings WHERE key = ?");
    Statement put(cat_.db(), "INSERT OR REPLACE INTO postings(key, tracks) VALUES (?, ?)");
    std::vector<uint32_t> ids;
    for (size_t i = 0; i < pairs.size();) {
        const uint32_t key = pairs[i].first;
        ids.clear();
        get.bind(1, int64_t(key));
        if (get.step() == SQLITE_ROW) {
            size_t bytes = 0;
            const void *p = get.blob(0, bytes);
            ids = decodeItems(p, bytes);
        }
        get.reset();
        for (; i < pairs.size() && pairs[i].first == key; ++i)
            ids.push_back(pairs[i].second);
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        const std::string blob = encodeItems(ids);
        put.bind(1, int64_t(key)).bindBlob(2, blob.data(), blob.size());
        if (put.step() != SQLITE_DONE) {
            error = std::string("cannot update the index: ") + sqlite3_errmsg(cat_.db());
            return false;
        }
        put.reset();
    }
    return true;
}

std::optional<TrackRecord> CatalogWriter::addTrack(const NewTrack &track, std::string &error) {
    std::lock_guard lock(cat_.mutex());
    Transaction tx(cat_.db());
    if (!tx.active()) {
        error = std::string("catalogue is busy or read-only: ") + sqlite3_errmsg(cat_.db());
        return std::nullopt;
    }
    auto rec = insertTrack(track, error);
    if (!rec)
        return std::nullopt;
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (uint32_t key : indexKeys(track.fingerprint, kIndexedItems))
        pairs.emplace_back(key, uint32_t(rec->id));
    if (!mergePostings(pairs, error) || !tx.commit(error))
        return std::nullopt;
    return rec;
}

bool CatalogWriter::addTracks(const std::vector<NewTrack> &tracks,
                              const std::function<void(size_t, size_t)> &progress,
                              std::string &error) {
    std::lock_guard lock(cat_.mutex());
    Transaction tx(cat_.db());
    if (!tx.active()) {
        error = std::string("catalogue is busy or read-only: ") + sqlite3_errmsg(cat_.db());
        return false;
    }
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (size_t i = 0; i < tracks.size(); ++i) {
        auto rec = insertTrack(tracks[i], error);
        if (!rec)
            return false;
        for (uint32_t key : indexKeys(tracks[i].fingerprint, kIndexedItems))
            pairs.emplace_back(key, uint32_t(rec->id));
        if (progress)
            progress(i + 1, tracks.size());
    }
    return mergePostings(pairs, error) && tx.commit(error);
}

} // namespace recog
