#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace recog {

// Raw value Chromaprint gives for digital silence; it says nothing about a
// recording and would tie every catalogue track together.
inline constexpr uint32_t kSilenceItem = 627964279;

// About 120 s of items (one item per 1365 samples at 11,025 Hz) go into the
// index for each catalogue track.
inline constexpr size_t kIndexedItems = 970;

// The index key of an item: its top 24 bits. Shorter keys survive more bit
// errors; 24 bits still keep posting lists short in large catalogues.
inline uint32_t indexKey(uint32_t item) {
    return item >> 8;
}

// Sorted, distinct index keys of the first `limit` items, silence left out.
std::vector<uint32_t> indexKeys(const std::vector<uint32_t> &items, size_t limit = SIZE_MAX);

} // namespace recog
