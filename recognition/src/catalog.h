#pragma once

#include "catalog_records.h"
#include "fingerprint_index.h"
#include "record_source.h"
#include "sqlite_util.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace recog {

// A catalogue: the database of tracks with their descriptive values, albums
// and contributors, and beside it the fingerprint index (the stored items of
// every track and the inverted index of their keys). Database reads are
// serialised by an internal mutex so that one open catalogue can serve the
// caller's thread and a query worker; the index is read without locking.
class Catalog : public RecordSource {
public:
    // Format 1 kept fingerprints and postings in the database.
    static constexpr int kSchemaVersion = 2;

    ~Catalog() override;
    Catalog(const Catalog &) = delete;
    Catalog &operator=(const Catalog &) = delete;

    // Opens an existing catalogue; null with a reason when the file is
    // missing, unreadable, not a database or not a catalogue, when it has an
    // older format (with the command that converts it), or when its index is
    // missing or damaged.
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
    // The stored items of a track (its first kStoredItems).
    std::vector<uint32_t> fingerprint(int64_t trackId);
    // The index as it is now; a writer's change replaces it, so hold the
    // pointer for the length of one query.
    std::shared_ptr<const FingerprintIndex> index();
    uint64_t indexGeneration();
    std::string indexPath() const { return indexPathFor(path_); }
    // For a writer that holds mutex().
    std::shared_ptr<const FingerprintIndex> indexUnlocked() const { return index_; }
    uint64_t indexGenerationUnlocked() const { return indexGeneration_; }
    bool adoptIndexUnlocked(uint64_t generation, std::string &error);

    std::optional<TrackRecord> track(int64_t id) override;
    std::optional<AlbumRecord> album(int64_t id) override;
    std::optional<ContributorRecord> contributor(int64_t id) override;
    std::optional<TrackRecord> trackByTui(const std::string &tui, const std::string &tag);
    // Tracks whose normalised title equals `titleKey` (see textKey()).
    std::vector<int64_t> tracksByTitleKey(const std::string &titleKey);

    sqlite3 *db() const { return db_; }
    std::mutex &mutex() { return mutex_; }

private:
    Catalog() = default;
    bool prepare(bool writable, std::string &error);
    bool openIndex(uint64_t generation, bool writable, std::string &error);
    std::vector<ExternalId> externalIds(const char *owner, int64_t id);

    sqlite3 *db_ = nullptr;
    std::string path_;
    std::string userKey_;
    std::mutex mutex_;
    std::shared_ptr<const FingerprintIndex> index_;
    uint64_t indexGeneration_ = 0;
};

// Lower-case, punctuation-free, single-spaced form of a text, used to compare
// titles and names from tags with those of the catalogue.
std::string textKey(const std::string &text);

} // namespace recog
