// Removes what no record names: objects stored by a process that died (or
// was refused) before recording them, and uploads never finished.
#pragma once

#include "ObjectStore.h"

#include <chrono>
#include <set>
#include <string>

namespace cloud::objects {

struct CleanUpResult {
    int removed = 0;   // stored objects no record names
    int abandoned = 0; // unfinished uploads
    int young = 0;     // either, kept for being newer than the cut-off
};

// Removes every stored object whose key is not in `referenced`, and every
// unfinished upload, last modified before `cutoff`. Younger ones may belong
// to an upload or import under way in another process, which records them
// after `referenced` was read: give the cut-off a grace period before now.
// A server alone on a folder passes time_point::max() at its start.
// Throws ObjectError when the store cannot be listed; a single object that
// cannot be removed is left for the next clean-up.
CleanUpResult cleanUp(ObjectStore &store, const std::set<std::string> &referenced,
                      std::chrono::system_clock::time_point cutoff);

} // namespace cloud::objects
