// Reads title, artist, album, track number and duration of an audio file.
#pragma once

#include "Store.h"
#include "objects/ObjectStore.h"

#include <memory>

#include <optional>
#include <string>

namespace cloud {

// nullopt when the file is not audio that the demuxers recognise. The quick
// form reads only the first 64 KiB (tags, an estimated duration and bit
// rate); the thorough one probes the streams further for exact figures.
enum class TagDepth { Quick, Thorough };
std::optional<Tags> readTags(std::unique_ptr<objects::ObjectReader> reader,
                             TagDepth depth = TagDepth::Thorough);
std::optional<Tags> readTags(const std::string &path, TagDepth depth = TagDepth::Thorough);

} // namespace cloud
