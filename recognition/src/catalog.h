#pragma once

#include "catalog_records.h"
#include "sqlite_util.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace recog {

// The catalogue database: tracks with their fingerprints and descriptive
// values, their albums and contributors, and the inverted index of
// fingerprint keys. Reads are serialised by an internal mutex so that one
// open catalogue can serve the caller's thread and a query worker.
class Catalog {
public:
    static constexpr int kSchemaVersion = 1;

    ~Catalog();
    Catalog(const Catalog &) = delete;
    Catalog &operator=(const Catalog &) = delete;

    // Opens an existing catalogue; null with a reason when the file is
    // missing, unreadable, not a database or not a catalogue.
    static std::unique_ptr<Catalog> open(const std::string &path, bool writable,
                                         std::string &error);
    // Creates a new, empty catalogue; fails when the file already exists.
    static std::unique_ptr<Catalog> create(const std::string &path, std::string &error);

    const std::string &path() const { return path_; }
    // Secret that signs serialised users made against this catalogue.
    const std::string &userKey() const { return userKey_; }

    int64_t trackCount();
    int64_t albumCount();
    int64_t contributorCount();
    int64_t indexKeyCount();
    // Cheap upper bound of the track count (no table scan).
    int64_t highestTrackId();

    // Track ids whose index holds `key`; empty when none.
    std::vector<uint32_t> postings(uint32_t key);
    std::vector<uint32_t> fingerprint(int64_t trackId);

    std::optional<TrackRecord> track(int64_t id);
    std::optional<AlbumRecord> album(int64_t id);
    std::optional<ContributorRecord> contributor(int64_t id);
    std::optional<TrackRecord> trackByTui(const std::string &tui, const std::string &tag);
    // Tracks whose normalised title equals `titleKey` (see textKey()).
    std::vector<int64_t> tracksByTitleKey(const std::string &titleKey);

    sqlite3 *db() const { return db_; }
    std::mutex &mutex() { return mutex_; }

private:
    Catalog() = default;
    bool prepare(std::string &error);
    std::vector<ExternalId> externalIds(const char *owner, int64_t id);

    sqlite3 *db_ = nullptr;
    std::string path_;
    std::string userKey_;
    std::mutex mutex_;
    Statement postingStmt_;
    Statement fingerprintStmt_;
};

// Lower-case, punctuation-free, single-spaced form of a text, used to compare
// titles and names from tags with those of the catalogue.
std::string textKey(const std::string &text);

} // namespace recog
