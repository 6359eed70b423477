#include "CleanUp.h"

#include <cstdio>
#include <vector>

namespace cloud::objects {

CleanUpResult cleanUp(ObjectStore &store, const std::set<std::string> &referenced,
                      std::chrono::system_clock::time_point cutoff) {
    // Listed first, removed after: a store's listing pages must not shift
    // under it.
    std::vector<ObjectEntry> doomed;
    CleanUpResult result;
    store.list([&](const ObjectEntry &entry) {
        if (!entry.unfinished && referenced.count(entry.key))
            return;
        if (entry.modified >= cutoff)
            ++result.young;
        else
            doomed.push_back(entry);
    });
    for (const ObjectEntry &entry : doomed) {
        try {
            if (entry.unfinished) {
                store.abandon(entry);
                ++result.abandoned;
            } else {
                store.remove(entry.key);
                ++result.removed;
            }
        } catch (const ObjectError &e) {
            std::fprintf(stderr, "the clean-up could not remove %s: %s\n", entry.key.c_str(),
                         e.what());
        }
    }
    return result;
}

} // namespace cloud::objects
