#include "index_keys.h"

#include <algorithm>

namespace recog {

std::vector<uint32_t> indexKeys(std::span<const uint32_t> items, size_t limit) {
    const size_t n = std::min(items.size(), limit);
    std::vector<uint32_t> keys;
    keys.reserve(n);
    for (size_t i = 0; i < n; ++i)
        if (items[i] != kSilenceItem)
            keys.push_back(indexKey(items[i]));
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

} // namespace recog
