#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace recog {

// The stored items of track `id` (at most kStoredItems), empty for an id
// that is not a track. Called a few times per track while an index is written.
using ItemsOf = std::function<std::span<const uint32_t>(uint32_t id)>;

// Writes the fingerprint index of tracks 1 to `maxTrackId` to `path`
// (replacing it), flushed to disk. False with a reason when the file cannot be
// written or the catalogue exceeds what the format can address.
bool writeFingerprintIndex(const std::string &path, uint64_t generation, uint32_t maxTrackId,
                           const ItemsOf &itemsOf, std::string &error);

} // namespace recog
