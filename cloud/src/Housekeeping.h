// What a server clears away: retired items past their keeping time, and
// stored objects or unfinished uploads that no record names. A household
// server does it at its start and hourly; servers that share a database and
// a bucket leave the second to the gc command, which others may run while
// they serve.
#pragma once

#include "Store.h"
#include "objects/CleanUp.h"

#include <chrono>

namespace cloud {

// Removes the items retired at least `keepRetiredSeconds` ago, and the
// stored files no other record holds. Throws when the database fails; an
// object that cannot be removed is left for the next unreferenced clean-up.
RetiredRemoval removeExpiredRetired(Store &store, objects::ObjectStore &objects,
                                    std::int64_t keepRetiredSeconds);

struct Collected {
    RetiredRemoval retired;
    objects::CleanUpResult objects;
};

// Everything above, then every unrecorded object and unfinished upload last
// changed more than `grace` ago. The grace period keeps what another process
// is uploading or has stored but not yet recorded; without one (0), all of
// them go.
Collected collectGarbage(Store &store, objects::ObjectStore &objects,
                         std::int64_t keepRetiredSeconds, std::chrono::seconds grace);

} // namespace cloud
