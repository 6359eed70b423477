#include "index_writer.h"

#include "index_format.h"
#include "index_keys.h"
#include "postings_codec.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <unistd.h>
#include <vector>

namespace recog {

namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

bool put(FILE *f, const void *data, size_t bytes) {
    return bytes == 0 || std::fwrite(data, 1, bytes, f) == bytes;
}

// Every (key, track) pair of the index, grouped by bucket, and within a
// bucket sorted by key, then track.
struct Pairs {
    uint32_t dirBits = 8;
    std::vector<uint64_t> start; // per bucket, and the end
    std::vector<uint64_t> pairs; // key << 32 | track id
};

Pairs invert(uint32_t maxTrackId, const ItemsOf &itemsOf) {
    Pairs out;
    uint64_t total = 0;
    for (uint32_t id = 1; id <= maxTrackId; ++id)
        total += indexKeys(itemsOf(id)).size();
    out.dirBits = directoryBitsFor(total);
    const uint32_t lowBits = uint32_t(kKeyBits) - out.dirBits;
    out.start.assign((size_t(1) << out.dirBits) + 1, 0);
    for (uint32_t id = 1; id <= maxTrackId; ++id)
        for (uint32_t key : indexKeys(itemsOf(id)))
            ++out.start[(key >> lowBits) + 1];
    for (size_t b = 1; b < out.start.size(); ++b)
        out.start[b] += out.start[b - 1];
    out.pairs.resize(total);
    std::vector<uint64_t> next(out.start.begin(), out.start.end() - 1);
    for (uint32_t id = 1; id <= maxTrackId; ++id)
        for (uint32_t key : indexKeys(itemsOf(id)))
            out.pairs[next[key >> lowBits]++] = uint64_t(key) << 32 | id;
    for (size_t b = 0; b + 1 < out.start.size(); ++b)
        std::sort(out.pairs.begin() + long(out.start[b]),
                  out.pairs.begin() + long(out.start[b + 1]));
    return out;
}

} // namespace

bool writeFingerprintIndex(const std::string &path, uint64_t generation, uint32_t maxTrackId,
                           const ItemsOf &itemsOf, std::string &error) {
    IndexHeader h{};
    std::memcpy(h.magic, kIndexMagic, sizeof kIndexMagic);
    h.version = kIndexVersion;
    h.storedItems = uint32_t(kStoredItems);
    h.maxTrackId = maxTrackId;
    h.generation = generation;

    std::vector<uint32_t> firstItem(size_t(maxTrackId) + 2, 0);
    uint64_t items = 0;
    for (uint32_t id = 1; id <= maxTrackId; ++id) {
        firstItem[id] = uint32_t(items);
        items += itemsOf(id).size();
        if (items > std::numeric_limits<uint32_t>::max()) {
            error = "too many fingerprint items for one index";
            return false;
        }
    }
    firstItem[size_t(maxTrackId) + 1] = uint32_t(items);
    h.itemCount = items;

    const Pairs all = invert(maxTrackId, itemsOf);
    h.dirBits = all.dirBits;
    h.postingCount = all.pairs.size();
    std::vector<uint32_t> bucketStart((size_t(1) << h.dirBits) + 1, 0);
    std::string postings;
    postings.reserve(size_t(h.postingCount) * 3);
    std::vector<uint32_t> ids;
    const uint32_t lowMask = (1u << (uint32_t(kKeyBits) - h.dirBits)) - 1;
    for (size_t bucket = 0; bucket + 1 < all.start.size(); ++bucket) {
        bucketStart[bucket] = uint32_t(postings.size());
        uint32_t previousLow = 0;
        for (uint64_t i = all.start[bucket], end = all.start[bucket + 1]; i < end;) {
            const uint32_t key = uint32_t(all.pairs[i] >> 32);
            ids.clear();
            for (; i < end && uint32_t(all.pairs[i] >> 32) == key; ++i)
                ids.push_back(uint32_t(all.pairs[i]));
            const uint32_t low = key & lowMask;
            appendVarint(postings, low - previousLow);
            appendVarint(postings, ids.size());
            appendPostings(postings, ids);
            previousLow = low;
            ++h.keyCount;
        }
        if (postings.size() > std::numeric_limits<uint32_t>::max()) {
            error = "the catalogue's postings exceed what one index can address";
            return false;
        }
    }
    bucketStart.back() = uint32_t(postings.size());
    h.postingBytes = postings.size();

    std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    std::setvbuf(f.get(), nullptr, _IOFBF, 1 << 20);
    bool ok = put(f.get(), &h, sizeof h) &&
              put(f.get(), firstItem.data(), firstItem.size() * sizeof(uint32_t));
    for (uint32_t id = 1; ok && id <= maxTrackId; ++id) {
        const auto span = itemsOf(id);
        ok = put(f.get(), span.data(), span.size_bytes());
    }
    ok = ok && put(f.get(), bucketStart.data(), bucketStart.size() * sizeof(uint32_t)) &&
         put(f.get(), postings.data(), postings.size()) && std::fflush(f.get()) == 0 &&
         fsync(fileno(f.get())) == 0;
    if (!ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace recog
