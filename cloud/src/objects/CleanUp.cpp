#include "CleanUp.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace cloud::objects {

namespace {
// As many as one request of an S3 store takes.
constexpr std::size_t kRemoveAtOnce = 1000;
} // namespace

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
    std::vector<std::string> keys;
    for (const ObjectEntry &entry : doomed) {
        if (!entry.unfinished) {
            keys.push_back(entry.key);
            continue;
        }
        try {
            store.abandon(entry);
            ++result.abandoned;
        } catch (const ObjectError &e) {
            std::fprintf(stderr, "the clean-up could not remove %s: %s\n", entry.key.c_str(),
                         e.what());
        }
    }
    for (std::size_t at = 0; at < keys.size(); at += kRemoveAtOnce) {
        const std::vector<std::string> batch(
            keys.begin() + static_cast<std::ptrdiff_t>(at),
            keys.begin() + static_cast<std::ptrdiff_t>(std::min(keys.size(), at + kRemoveAtOnce)));
        std::vector<std::pair<std::string, std::string>> failed;
        try {
            failed = store.removeMany(batch);
        } catch (const ObjectError &e) {
            for (const std::string &key : batch)
                failed.emplace_back(key, e.what());
        }
        result.removed += static_cast<int>(batch.size() - failed.size());
        for (const auto &[key, why] : failed)
            std::fprintf(stderr, "the clean-up could not remove %s: %s\n", key.c_str(),
                         why.c_str());
    }
    return result;
}

} // namespace cloud::objects
