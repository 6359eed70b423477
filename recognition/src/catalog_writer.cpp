#include "catalog_writer.h"

#include "digest.h"
#include "index_keys.h"
#include "index_writer.h"

#include <algorithm>
#include <filesystem>
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

} // namespace

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

namespace {
std::vector<uint32_t> storedPart(const std::vector<uint32_t> &items) {
    return {items.begin(), items.begin() + long(std::min(items.size(), kStoredItems))};
}
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
                  "title_key, artist, track_number, duration, source) VALUES "
                  "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    ins.bind(1, rec.gnid).bind(2, rec.tui).bind(3, rec.tuiTag).bind(4, albumId).bind(5, artistId);
    ins.bind(6, title).bind(7, textKey(title)).bind(8, artist);
    t.trackNumber > 0 ? ins.bind(9, int64_t(t.trackNumber)) : ins.bindNull(9);
    ins.bindReal(10, t.duration);
    t.source.empty() ? ins.bindNull(11) : ins.bind(11, t.source);
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

bool CatalogWriter::commitWithIndex(Transaction &tx, uint32_t firstId,
                                    const std::vector<std::vector<uint32_t>> &added,
                                    std::string &error) {
    // Called with the catalogue's mutex held: read its state directly.
    const std::shared_ptr<const FingerprintIndex> old = cat_.indexUnlocked();
    const uint64_t generation = cat_.indexGenerationUnlocked() + 1;
    const uint32_t maxId = firstId + uint32_t(added.size()) - 1;
    if (firstId <= old->maxTrackId()) {
        error = "new track ids overlap those of the index";
        return false;
    }
    const ItemsOf itemsOf = [&](uint32_t id) -> std::span<const uint32_t> {
        if (id >= firstId)
            return added[id - firstId];
        return old->items(id);
    };
    const std::string fresh = cat_.indexPath() + ".new";
    Statement gen(cat_.db(), "UPDATE meta SET value = ? WHERE key = 'index_generation'");
    gen.bind(1, std::to_string(generation));
    std::error_code ec;
    if (!writeFingerprintIndex(fresh, generation, maxId, itemsOf, error) ||
        gen.step() != SQLITE_DONE || !tx.commit(error)) {
        if (error.empty())
            error = std::string("cannot update the catalogue: ") + sqlite3_errmsg(cat_.db());
        std::filesystem::remove(fresh, ec);
        return false;
    }
    std::filesystem::rename(fresh, cat_.indexPath(), ec);
    if (ec) {
        error = "cannot replace " + cat_.indexPath() + ": " + ec.message();
        return false;
    }
    return cat_.adoptIndexUnlocked(generation, error);
}

std::optional<TrackRecord> CatalogWriter::addTrack(const NewTrack &track, std::string &error) {
    std::lock_guard lock(cat_.mutex());
    Transaction tx(cat_.db());
    if (!tx.active()) {
        error = std::string("catalogue is busy or read-only: ") + sqlite3_errmsg(cat_.db());
        return std::nullopt;
    }
    auto rec = insertTrack(track, error);
    if (!rec || !commitWithIndex(tx, uint32_t(rec->id), {storedPart(track.fingerprint)}, error))
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
    if (tracks.empty())
        return tx.commit(error);
    std::vector<std::vector<uint32_t>> added;
    added.reserve(tracks.size());
    uint32_t firstId = 0;
    for (size_t i = 0; i < tracks.size(); ++i) {
        auto rec = insertTrack(tracks[i], error);
        if (!rec)
            return false;
        if (i == 0)
            firstId = uint32_t(rec->id);
        if (rec->id != int64_t(firstId + i)) {
            error = "track ids are not consecutive";
            return false;
        }
        added.push_back(storedPart(tracks[i].fingerprint));
        if (progress)
            progress(i + 1, tracks.size());
    }
    return commitWithIndex(tx, firstId, added, error);
}

} // namespace recog
