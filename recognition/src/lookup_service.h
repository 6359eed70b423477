#pragma once

#include "catalog.h"
#include "engine_config.h"
#include "lookup_protocol.h"

#include <memory>

namespace recog {

// Answers lookups over one catalogue with the engine's own identification,
// so that a file gets the same tracks from a lookup service as from a local
// catalogue. Safe to call from several threads at once.
class LookupService {
public:
    LookupService(std::shared_ptr<Catalog> catalog, EngineConfig config)
        : cat_(std::move(catalog))
        , config_(std::move(config)) {}

    LookupAnswer answer(const LookupRequest &request) const;

private:
    std::shared_ptr<Catalog> cat_;
    EngineConfig config_;
};

} // namespace recog
