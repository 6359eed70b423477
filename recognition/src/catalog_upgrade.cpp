#include "catalog_upgrade.h"

#include "fingerprint_index.h"
#include "index_keys.h"
#include "index_writer.h"
#include "sqlite_util.h"

#include <filesystem>
#include <memory>

namespace recog {

namespace {

struct DbCloser {
    void operator()(sqlite3 *db) const { sqlite3_close(db); }
};

std::string metaValue(sqlite3 *db, const char *key) {
    Statement s(db, "SELECT value FROM meta WHERE key = ?");
    s.bind(1, key);
    return s.valid() && s.step() == SQLITE_ROW ? s.text(0) : std::string();
}

} // namespace

bool upgradeCatalog(const std::string &path, int &tracks, std::string &error) {
    tracks = 0;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = "catalogue " + path + " does not exist or is not a file";
        return false;
    }
    sqlite3 *raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, DbCloser> db(raw);
    if (rc != SQLITE_OK) {
        error = "cannot open catalogue " + path;
        return false;
    }
    sqlite3_busy_timeout(db.get(), 5000);
    const std::string schema = metaValue(db.get(), "schema");
    if (schema != "1") {
        error = schema.empty()
                    ? path + " is not a catalogue"
                    : path + " has catalogue format " + schema + ", only format 1 is converted";
        return false;
    }
    if (!execute(db.get(), "BEGIN IMMEDIATE", error))
        return false;
    std::vector<std::vector<uint32_t>> stored(1);
    {
        Statement s(db.get(), "SELECT id, fingerprint FROM tracks ORDER BY id");
        while (s.valid() && s.step() == SQLITE_ROW) {
            const int64_t id = s.integer(0);
            if (id < 1 || id > int64_t(UINT32_MAX - 2)) {
                error = "track id " + std::to_string(id) + " is out of range";
                return false;
            }
            size_t bytes = 0;
            const void *p = s.blob(1, bytes);
            std::vector<uint32_t> items = decodeItems(p, bytes);
            items.resize(std::min(items.size(), kStoredItems));
            stored.resize(size_t(id) + 1);
            stored[size_t(id)] = std::move(items);
            ++tracks;
        }
    }
    const std::string index = indexPathFor(path), fresh = index + ".new";
    const uint32_t maxId = uint32_t(stored.size() - 1);
    const bool ok =
        writeFingerprintIndex(
            fresh, 1, maxId, [&](uint32_t id) { return std::span<const uint32_t>(stored[id]); },
            error) &&
        execute(db.get(),
                "DROP TABLE postings; ALTER TABLE tracks DROP COLUMN fingerprint; "
                "UPDATE meta SET value = '2' WHERE key = 'schema'; "
                "INSERT OR REPLACE INTO meta(key, value) VALUES ('index_generation', '1'); "
                "COMMIT",
                error);
    if (!ok) {
        std::string ignored;
        execute(db.get(), "ROLLBACK", ignored);
        std::filesystem::remove(fresh, ec);
        return false;
    }
    std::filesystem::rename(fresh, index, ec);
    if (ec) {
        error = "cannot write " + index + ": " + ec.message();
        return false;
    }
    // The space the fingerprints took goes back to the file system.
    std::string ignored;
    execute(db.get(), "VACUUM", ignored);
    return true;
}

} // namespace recog
