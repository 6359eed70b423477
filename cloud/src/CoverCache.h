// Scaled covers kept in memory, so that a grid of album cards does not decode
// the same pictures again at every visit. Bounded in bytes: the least
// recently used leave first. A file without a usable picture is remembered
// too, as an empty entry, so that it is not read again either.
#pragma once

#include "CoverArt.h"

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace cloud {

class CoverCache {
public:
    explicit CoverCache(std::size_t capacityBytes)
        : capacity_(capacityBytes) {}

    // What was found for `key`: nullopt when nothing is known, a null picture
    // when the file had none to give.
    std::optional<std::shared_ptr<const Picture>> find(const std::string &key);
    void put(const std::string &key, std::shared_ptr<const Picture> picture);

    std::size_t bytes() const;

private:
    struct Entry {
        std::string key;
        std::shared_ptr<const Picture> picture;
        std::size_t cost;
    };
    std::size_t capacity_;
    mutable std::mutex mutex_;
    std::size_t bytes_ = 0;
    std::list<Entry> order_; // most recently used first
    std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};

} // namespace cloud
