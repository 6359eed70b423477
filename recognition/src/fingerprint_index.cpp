#include "fingerprint_index.h"

#include "postings_codec.h"

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace recog {

std::string indexPathFor(const std::string &databasePath) {
    return databasePath + ".index";
}

FingerprintIndex::~FingerprintIndex() {
    if (map_)
        munmap(map_, size_);
}

std::unique_ptr<FingerprintIndex> FingerprintIndex::open(const std::string &path,
                                                         uint64_t generation, std::string &error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "fingerprint index " + path + " is missing or unreadable: " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || size_t(st.st_size) < sizeof(IndexHeader)) {
        ::close(fd);
        error = "fingerprint index " + path + " is too short to be one";
        return nullptr;
    }
    std::unique_ptr<FingerprintIndex> index(new FingerprintIndex);
    index->size_ = size_t(st.st_size);
    void *map = mmap(nullptr, index->size_, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED) {
        error = "cannot map fingerprint index " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    index->map_ = map;
    const auto *base = static_cast<const unsigned char *>(map);
    const auto *h = reinterpret_cast<const IndexHeader *>(base);
    const std::string where = "fingerprint index " + path;
    if (std::memcmp(h->magic, kIndexMagic, sizeof kIndexMagic) != 0) {
        error = where + " is not a fingerprint index";
        return nullptr;
    }
    if (h->version != kIndexVersion) {
        error = where + " has format version " + std::to_string(h->version) +
                ", this engine reads version " + std::to_string(kIndexVersion);
        return nullptr;
    }
    if (h->dirBits < 1 || h->dirBits > uint32_t(kKeyBits) || indexFileSize(*h) != index->size_) {
        error = where + " is truncated or damaged";
        return nullptr;
    }
    if (h->generation != generation) {
        error = where + " is of generation " + std::to_string(h->generation) +
                " but the catalogue expects " + std::to_string(generation) +
                " (a change to the catalogue was interrupted; add its tracks again to a new "
                "catalogue)";
        return nullptr;
    }
    index->header_ = h;
    index->firstItem_ = reinterpret_cast<const uint32_t *>(base + sizeof(IndexHeader));
    index->items_ = index->firstItem_ + h->maxTrackId + 2;
    index->bucketStart_ = index->items_ + h->itemCount;
    index->postings_ = reinterpret_cast<const unsigned char *>(index->bucketStart_ +
                                                               (size_t(1) << h->dirBits) + 1);
    return index;
}

std::span<const uint32_t> FingerprintIndex::items(int64_t trackId) const {
    if (trackId < 1 || trackId > int64_t(header_->maxTrackId))
        return {};
    const uint32_t from = firstItem_[trackId], to = firstItem_[trackId + 1];
    if (from > to || to > header_->itemCount)
        return {};
    return {items_ + from, to - from};
}

bool FingerprintIndex::postings(uint32_t key, std::vector<uint32_t> &out) const {
    const uint32_t lowBits = uint32_t(kKeyBits) - header_->dirBits;
    const uint32_t bucket = (key & ((1u << kKeyBits) - 1)) >> lowBits;
    const uint32_t low = key & ((1u << lowBits) - 1);
    const uint32_t from = bucketStart_[bucket], to = bucketStart_[bucket + 1];
    if (from > to || to > header_->postingBytes)
        return false;
    const unsigned char *p = postings_ + from, *end = postings_ + to;
    uint64_t current = 0;
    bool first = true;
    while (p < end) {
        uint64_t gap = 0, count = 0;
        if (!readVarint(p, end, gap) || !readVarint(p, end, count) || (!first && gap == 0))
            return false;
        current += gap;
        first = false;
        if (current > low)
            return true;
        if (current == low)
            return readPostings(p, end, count, header_->maxTrackId, out);
        // Not this key: step over its ids.
        for (uint64_t i = 0; i < count; ++i) {
            uint64_t skipped = 0;
            if (!readVarint(p, end, skipped))
                return false;
        }
    }
    return true;
}

} // namespace recog
