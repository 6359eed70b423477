#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace recog {

// Raw value Chromaprint gives for digital silence; it says nothing about a
// recording and would tie every catalogue track together.
inline constexpr uint32_t kSilenceItem = 627964279;

// Items (one per 1365 samples at 11,025 Hz) kept and indexed per catalogue
// track: about 60 s, what a query of 45 s reaches at the largest offset the
// matcher searches by default (120 items, 15 s). Keeping no more is what holds
// a track to a few KiB.
inline constexpr size_t kStoredItems = 485;

// The index key of an item: its top 24 bits. Shorter keys survive more bit
// errors; 24 bits still keep posting lists short in large catalogues.
inline uint32_t indexKey(uint32_t item) {
    return item >> 8;
}

// Sorted, distinct index keys of the first `limit` items, silence left out.
std::vector<uint32_t> indexKeys(std::span<const uint32_t> items, size_t limit = SIZE_MAX);

} // namespace recog
