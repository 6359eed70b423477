#pragma once

#include "index_format.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace recog {

// A fingerprint index file mapped read-only. Every read is checked against
// the file's bounds, so a damaged file gives empty answers, never a crash.
// Immutable once open: any number of threads may read it.
class FingerprintIndex {
public:
    ~FingerprintIndex();
    FingerprintIndex(const FingerprintIndex &) = delete;
    FingerprintIndex &operator=(const FingerprintIndex &) = delete;

    // Null with a reason when the file is missing, not an index, of another
    // format version, truncated, or of another generation than `generation`.
    static std::unique_ptr<FingerprintIndex> open(const std::string &path, uint64_t generation,
                                                  std::string &error);

    const IndexHeader &header() const { return *header_; }
    uint32_t maxTrackId() const { return header_->maxTrackId; }

    // Stored items of a track; empty for an id the index does not hold.
    std::span<const uint32_t> items(int64_t trackId) const;
    // Appends the ids of the tracks whose stored items hold `key`; false
    // when the key's entry is damaged.
    bool postings(uint32_t key, std::vector<uint32_t> &out) const;

private:
    FingerprintIndex() = default;

    void *map_ = nullptr;
    size_t size_ = 0;
    const IndexHeader *header_ = nullptr;
    const uint32_t *firstItem_ = nullptr;
    const uint32_t *items_ = nullptr;
    const uint32_t *bucketStart_ = nullptr;
    const unsigned char *postings_ = nullptr;
};

// The index file that belongs to a catalogue database.
std::string indexPathFor(const std::string &databasePath);

} // namespace recog
