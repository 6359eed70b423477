// Stored objects as HTTP answers. A local file goes to the HTTP layer as it
// is (sent without copying); a remote object is read on the worker pool a
// piece at a time while the client takes the previous piece, so neither an
// event thread waits for the store nor a whole song sits in memory.
#pragma once

#include "Http.h"
#include "WorkPool.h"
#include "objects/ObjectStore.h"

#include <functional>
#include <memory>
#include <string>

namespace cloud {

// Answers `res` with the object, or the one byte range the request's
// `rangeHeader` asks for (206 with Content-Range; 416 past the end).
void sendObject(http::Response &res, std::unique_ptr<objects::ObjectReader> reader,
                const std::string &rangeHeader, const std::string &contentType, WorkPool &pool);

// Opens `key` and hands the reader (null when the object is missing) to
// `opened`, which fills `res`: at once for a local store, else on a worker,
// the answer deferred until then. A store that fails is answered by
// `unavailable` (and logged).
void withObject(http::Response &res, objects::ObjectStore &store, WorkPool &pool,
                const std::string &key,
                std::function<void(std::unique_ptr<objects::ObjectReader>)> opened,
                std::function<void()> unavailable);

} // namespace cloud
