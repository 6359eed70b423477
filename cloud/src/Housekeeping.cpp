#include "Housekeeping.h"

#include <cstdio>

namespace cloud {

RetiredRemoval removeExpiredRetired(Store &store, objects::ObjectStore &objects,
                                    std::int64_t keepRetiredSeconds) {
    RetiredRemoval removal = store.removeRetired(nowMs() - keepRetiredSeconds * 1000);
    for (const auto &key : removal.files) {
        // One that stays is unrecorded now, and the next clean-up takes it.
        try {
            objects.remove(key);
        } catch (const objects::ObjectError &e) {
            std::fprintf(stderr, "cannot remove a retired file: %s\n", e.what());
        }
    }
    return removal;
}

Collected collectGarbage(Store &store, objects::ObjectStore &objects,
                         std::int64_t keepRetiredSeconds, std::chrono::seconds grace) {
    Collected out;
    out.retired = removeExpiredRetired(store, objects, keepRetiredSeconds);
    // The records are read before the listing: an object stored after this
    // read is young, and the grace period keeps it.
    const auto referenced = store.referencedFiles();
    // No grace at all takes everything unrecorded, however the store's
    // clock rounds the times it reports.
    const auto cutoff = grace.count() == 0 ? std::chrono::system_clock::time_point::max()
                                           : std::chrono::system_clock::now() - grace;
    out.objects = objects::cleanUp(objects, referenced, cutoff);
    return out;
}

} // namespace cloud
