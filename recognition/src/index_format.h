#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace recog {

// The fingerprint index beside a catalogue database (file name: the
// database's with ".index" appended). It holds what matching reads on every
// query, laid out to be mapped into memory and used in place:
//
//   header        IndexHeader
//   track table   uint32 firstItem[maxTrackId + 2]: track t's items are
//                 items[firstItem[t], firstItem[t + 1])
//   items         uint32 items[itemCount]: the first kStoredItems fingerprint
//                 items of each track, which is all that rescoring can reach
//   directory     uint32 bucketStart[2^dirBits + 1]: byte offsets into the
//                 postings of the buckets of keys (key >> (24 - dirBits))
//   postings      per bucket, per key present in ascending order:
//                 varint(key gap within the bucket, the first from 0),
//                 varint(track count), the gap-coded track ids
//
// All numbers are little-endian. The database's meta table names the index
// generation it was written with, so that an index left behind by an
// interrupted change is noticed rather than trusted.
inline constexpr char kIndexMagic[8] = {'S', 'B', 'F', 'P', 'I', 'D', 'X', '\n'};
inline constexpr uint32_t kIndexVersion = 1;

struct IndexHeader {
    char magic[8];
    uint32_t version;
    uint32_t storedItems; // items kept per track
    uint32_t maxTrackId;
    uint32_t dirBits;
    uint64_t itemCount;
    uint64_t postingBytes;
    uint64_t keyCount; // distinct keys present
    uint64_t postingCount;
    uint64_t generation;
};
static_assert(sizeof(IndexHeader) == 64);
static_assert(std::endian::native == std::endian::little,
              "the index is mapped as it lies on disk, which is little-endian");

inline constexpr int kKeyBits = 24;

// One bucket per two postings or so, between 256 buckets (a small
// catalogue's index stays small) and 2^22 (four keys a bucket when every key
// is present, which a lookup steps through quickly).
inline uint32_t directoryBitsFor(uint64_t postingCount) {
    uint32_t bits = 8;
    while (bits < 22 && (uint64_t(2) << (bits + 1)) <= postingCount)
        ++bits;
    return bits;
}

inline uint64_t indexFileSize(const IndexHeader &h) {
    return sizeof(IndexHeader) + 4 * (uint64_t(h.maxTrackId) + 2) + 4 * h.itemCount +
           4 * ((uint64_t(1) << h.dirBits) + 1) + h.postingBytes;
}

} // namespace recog
