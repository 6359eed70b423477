// The picture a song file embeds (its cover), optionally scaled down.
#pragma once

#include "objects/ObjectStore.h"

#include <memory>
#include <optional>
#include <string>

namespace cloud {

struct Picture {
    std::string bytes;
    std::string contentType;
};

// nullopt when the file embeds no picture the decoders can read. With
// `maxSize` > 0 a larger picture is scaled to fit in maxSize × maxSize and sent
// as JPEG; a smaller one is returned as stored.
std::optional<Picture> readCover(std::unique_ptr<objects::ObjectReader> reader, int maxSize);

} // namespace cloud
