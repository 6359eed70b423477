#include "catalog.h"

#include "catalog_schema.h"
#include "index_writer.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <openssl/rand.h>
#include <sqlite3.h>

namespace recog {

namespace {

std::string hex(const unsigned char *data, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

using Span = std::span<const uint32_t>;

std::string columnOr(const Statement &s, int column) {
    return s.isNull(column) ? std::string() : s.text(column);
}

} // namespace

Catalog::~Catalog() {
    if (db_)
        sqlite3_close(db_);
}

std::unique_ptr<Catalog> Catalog::open(const std::string &path, bool writable, std::string &error) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = "catalogue " + path + " does not exist or is not a file";
        return nullptr;
    }
    std::unique_ptr<Catalog> cat(new Catalog);
    cat->path_ = path;
    const int flags =
        (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path.c_str(), &cat->db_, flags, nullptr) != SQLITE_OK) {
        error = "cannot open catalogue " + path + ": " +
                (cat->db_ ? sqlite3_errmsg(cat->db_) : "out of memory");
        return nullptr;
    }
    if (!cat->prepare(writable, error)) {
        error = "catalogue " + path + " is not usable: " + error;
        return nullptr;
    }
    return cat;
}

std::unique_ptr<Catalog> Catalog::create(const std::string &path, std::string &error) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        error = path + " already exists";
        return nullptr;
    }
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        error = "cannot create " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return nullptr;
    }
    unsigned char key[32];
    bool ok = RAND_bytes(key, sizeof key) == 1;
    if (!ok)
        error = "no random bytes for the user key";
    ok = ok && execute(db, "BEGIN", error) && execute(db, kCatalogSchema, error);
    if (ok) {
        Statement meta(db, "INSERT INTO meta(key, value) VALUES (?, ?)");
        meta.bind(1, "schema").bind(2, std::to_string(kSchemaVersion));
        ok = meta.step() == SQLITE_DONE;
        meta.reset();
        meta.bind(1, "user_key").bind(2, hex(key, sizeof key));
        ok = ok && meta.step() == SQLITE_DONE;
        meta.reset();
        meta.bind(1, "index_generation").bind(2, "0");
        ok = ok && meta.step() == SQLITE_DONE;
        if (!ok)
            error = sqlite3_errmsg(db);
    }
    ok = ok && writeFingerprintIndex(
                   indexPathFor(path), 0, 0, [](uint32_t) { return Span(); }, error);
    ok = ok && execute(db, "COMMIT", error);
    sqlite3_close(db);
    if (!ok) {
        std::filesystem::remove(path, ec);
        std::filesystem::remove(indexPathFor(path), ec);
        return nullptr;
    }
    return open(path, true, error);
}

bool Catalog::prepare(bool writable, std::string &error) {
    sqlite3_busy_timeout(db_, 5000);
    Statement meta(db_, "SELECT key, value FROM meta");
    if (!meta.valid()) {
        error = sqlite3_errmsg(db_);
        return false;
    }
    std::string schema, generation;
    int rc;
    while ((rc = meta.step()) == SQLITE_ROW) {
        if (meta.text(0) == "schema")
            schema = meta.text(1);
        else if (meta.text(0) == "user_key")
            userKey_ = meta.text(1);
        else if (meta.text(0) == "index_generation")
            generation = meta.text(1);
    }
    if (rc != SQLITE_DONE) {
        error = sqlite3_errmsg(db_);
        return false;
    }
    if (schema == "1") {
        error = "it has the format of an older version (catalogue format 1); convert it with "
                "\"tonemill-catalog upgrade " +
                path_ + "\"";
        return false;
    }
    if (schema != std::to_string(kSchemaVersion)) {
        error = schema.empty() ? "no schema version" : "unknown schema version " + schema;
        return false;
    }
    if (userKey_.size() < 32) {
        error = "no user key";
        return false;
    }
    char *end = nullptr;
    const unsigned long long gen = std::strtoull(generation.c_str(), &end, 10);
    if (generation.empty() || *end != '\0') {
        error = "no index generation";
        return false;
    }
    return openIndex(gen, writable, error);
}

bool Catalog::openIndex(uint64_t generation, bool writable, std::string &error) {
    auto index = FingerprintIndex::open(indexPath(), generation, error);
    if (!index) {
        // A writer that stopped after its database commit left the new index
        // complete beside the old one: finish its work.
        const std::string fresh = indexPath() + ".new";
        std::string ignored;
        index = FingerprintIndex::open(fresh, generation, ignored);
        std::error_code ec;
        if (index && writable)
            std::filesystem::rename(fresh, indexPath(), ec);
        if (!index)
            return false;
    }
    indexGeneration_ = generation;
    index_ = std::move(index);
    return true;
}

std::shared_ptr<const FingerprintIndex> Catalog::index() {
    std::lock_guard lock(mutex_);
    return index_;
}

uint64_t Catalog::indexGeneration() {
    std::lock_guard lock(mutex_);
    return indexGeneration_;
}

bool Catalog::adoptIndexUnlocked(uint64_t generation, std::string &error) {
    auto index = FingerprintIndex::open(indexPath(), generation, error);
    if (!index)
        return false;
    indexGeneration_ = generation;
    index_ = std::move(index);
    return true;
}

namespace {
int64_t countOf(sqlite3 *db, const char *sql) {
    Statement s(db, sql);
    return s.step() == SQLITE_ROW ? s.integer(0) : 0;
}
} // namespace

int64_t Catalog::trackCount() {
    std::lock_guard lock(mutex_);
    return countOf(db_, "SELECT count(*) FROM tracks");
}

int64_t Catalog::albumCount() {
    std::lock_guard lock(mutex_);
    return countOf(db_, "SELECT count(*) FROM albums");
}

int64_t Catalog::contributorCount() {
    std::lock_guard lock(mutex_);
    return countOf(db_, "SELECT count(*) FROM contributors");
}

int64_t Catalog::highestTrackId() {
    std::lock_guard lock(mutex_);
    return countOf(db_, "SELECT coalesce(max(id), 0) FROM tracks");
}

int64_t Catalog::indexKeyCount() {
    return int64_t(index()->header().keyCount);
}

std::vector<uint32_t> Catalog::postings(uint32_t key) {
    std::vector<uint32_t> out;
    index()->postings(key, out);
    return out;
}

std::vector<uint32_t> Catalog::fingerprint(int64_t trackId) {
    const auto held = index();
    const auto span = held->items(trackId);
    return {span.begin(), span.end()};
}

std::vector<ExternalId> Catalog::externalIds(const char *owner, int64_t id) {
    std::vector<ExternalId> out;
    Statement s(db_, "SELECT type, source, value FROM external_ids WHERE owner = ? AND "
                     "owner_id = ? ORDER BY id");
    s.bind(1, owner).bind(2, id);
    while (s.step() == SQLITE_ROW)
        out.push_back({s.text(0), columnOr(s, 1), s.text(2)});
    return out;
}

namespace {
constexpr const char *kTrackColumns =
    "SELECT id, gnid, tui, tui_tag, title, artist, track_number, mood1, mood2, tempo1, tempo2, "
    "tempo3, genre1, genre2, genre3, album_id, contributor_id, duration, source FROM tracks ";

TrackRecord readTrack(const Statement &s) {
    TrackRecord t;
    t.id = s.integer(0);
    t.gnid = s.text(1);
    t.tui = s.text(2);
    t.tuiTag = s.text(3);
    t.title = s.text(4);
    t.artist = s.text(5);
    t.trackNumber = int(s.integer(6));
    for (int i = 0; i < 2; ++i)
        t.mood[size_t(i)] = columnOr(s, 7 + i);
    for (int i = 0; i < 3; ++i) {
        t.tempo[size_t(i)] = columnOr(s, 9 + i);
        t.genre[size_t(i)] = columnOr(s, 12 + i);
    }
    t.albumId = s.integer(15);
    t.contributorId = s.isNull(16) ? 0 : s.integer(16);
    t.duration = s.real(17);
    t.source = columnOr(s, 18);
    return t;
}
} // namespace

std::optional<TrackRecord> Catalog::track(int64_t id) {
    std::lock_guard lock(mutex_);
    Statement s(db_, std::string(kTrackColumns).append("WHERE id = ?"));
    s.bind(1, id);
    if (s.step() != SQLITE_ROW)
        return std::nullopt;
    TrackRecord t = readTrack(s);
    t.externalIds = externalIds("track", id);
    return t;
}

std::optional<TrackRecord> Catalog::trackByTui(const std::string &tui, const std::string &tag) {
    int64_t id = 0;
    {
        std::lock_guard lock(mutex_);
        Statement s(db_, "SELECT id FROM tracks WHERE tui = ? AND tui_tag = ?");
        s.bind(1, tui).bind(2, tag);
        if (s.step() != SQLITE_ROW)
            return std::nullopt;
        id = s.integer(0);
    }
    return track(id);
}

std::vector<int64_t> Catalog::tracksByTitleKey(const std::string &titleKey) {
    std::lock_guard lock(mutex_);
    std::vector<int64_t> out;
    Statement s(db_, "SELECT id FROM tracks WHERE title_key = ? ORDER BY id LIMIT 64");
    s.bind(1, titleKey);
    while (s.step() == SQLITE_ROW)
        out.push_back(s.integer(0));
    return out;
}

std::optional<AlbumRecord> Catalog::album(int64_t id) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT id, gnid, title, artist, label, genre1, genre2, genre3, "
                     "contributor_id FROM albums WHERE id = ?");
    s.bind(1, id);
    if (s.step() != SQLITE_ROW)
        return std::nullopt;
    AlbumRecord a;
    a.id = s.integer(0);
    a.gnid = s.text(1);
    a.title = s.text(2);
    a.artist = s.text(3);
    a.label = columnOr(s, 4);
    for (int i = 0; i < 3; ++i)
        a.genre[size_t(i)] = columnOr(s, 5 + i);
    a.contributorId = s.isNull(8) ? 0 : s.integer(8);
    a.externalIds = externalIds("album", id);
    return a;
}

std::optional<ContributorRecord> Catalog::contributor(int64_t id) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT id, gnuid, name, era1, era2, era3, origin1, origin2, origin3, "
                     "origin4 FROM contributors WHERE id = ?");
    s.bind(1, id);
    if (s.step() != SQLITE_ROW)
        return std::nullopt;
    ContributorRecord c;
    c.id = s.integer(0);
    c.gnuid = s.text(1);
    c.name = s.text(2);
    for (int i = 0; i < 3; ++i)
        c.era[size_t(i)] = columnOr(s, 3 + i);
    for (int i = 0; i < 4; ++i)
        c.origin[size_t(i)] = columnOr(s, 6 + i);
    return c;
}

std::string textKey(const std::string &text) {
    std::string out;
    bool space = false;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c >= 0x80) {
            if (space && !out.empty())
                out += ' ';
            space = false;
            out += char(std::tolower(c));
        } else {
            space = true;
        }
    }
    return out;
}

} // namespace recog
