// Reads title, artist, album, track number and duration of an audio file.
#pragma once

#include "Store.h"

#include <optional>
#include <string>

namespace cloud {

// nullopt when the file is not audio that the demuxers recognise. The quick
// form reads only the container's header (tags, an estimated duration); the
// thorough one also probes the streams for an exact duration.
enum class TagDepth { Quick, Thorough };
std::optional<Tags> readTags(const std::string &path, TagDepth depth = TagDepth::Thorough);

} // namespace cloud
