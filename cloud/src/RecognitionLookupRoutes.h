// POST /recognition/v1/lookup: the recognition engines of the household's
// computers ask this server who their files are, over its own recognition
// catalogue (Config::recognitionCatalog), instead of each keeping a copy.
#pragma once

#include "Config.h"
#include "HttpServer.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace cloud {

class SharedDatabase;

// Nothing is added without a catalogue. Throws std::runtime_error when the
// catalogue cannot be opened or the credentials are malformed. With `shared`,
// the lookup limits count every server's lookups (SharedState.h).
void addRecognitionLookupRoutes(http::HttpServer &server, const Config &config,
                                const std::shared_ptr<SharedDatabase> &shared = nullptr);

// "ID:TAG,ID:TAG" (7 digits, 32 upper-case hex digits); throws when malformed.
std::vector<std::pair<std::string, std::string>> parseRecognitionClients(const std::string &text);

} // namespace cloud
