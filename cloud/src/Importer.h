// Adds audio files to the service's catalogue, so that catalogue matches can
// succeed: the file's bytes, MD5 and tags, and, when a recognition catalogue is
// given, the recognition engine's identifier of the same recording.
#pragma once

#include "Store.h"
#include "objects/ObjectStore.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace cloud {

class Database;

// Looks recordings up in a recognition catalogue (read only).
class RecognitionCatalog {
public:
    explicit RecognitionCatalog(const std::filesystem::path &file);
    ~RecognitionCatalog();
    // The identifier of the track made from this file: by the recorded source
    // path, then by its file name, then by title and artist (and album when
    // several tracks share those).
    std::optional<std::string> identify(const std::filesystem::path &file, const Tags &tags);

private:
    std::unique_ptr<Database> db_;
};

struct ImportResult {
    std::int64_t catalogId = 0;
    std::string checksum;
    std::optional<std::string> fingerprintId;
    Tags tags;
};

// Throws std::exception with a message when the file cannot be imported.
ImportResult importFile(Store &store, objects::ObjectStore &objects,
                        const std::filesystem::path &file, RecognitionCatalog *recognition);

} // namespace cloud
