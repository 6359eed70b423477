#include "postings_codec.h"

namespace recog {

void appendVarint(std::string &out, uint64_t value) {
    while (value >= 0x80) {
        out += char((value & 0x7F) | 0x80);
        value >>= 7;
    }
    out += char(value);
}

bool readVarint(const unsigned char *&p, const unsigned char *end, uint64_t &value) {
    value = 0;
    for (int shift = 0; shift < 70 && p < end; shift += 7) {
        const unsigned char byte = *p++;
        value |= uint64_t(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

void appendPostings(std::string &out, const std::vector<uint32_t> &ids) {
    uint32_t previous = 0;
    for (uint32_t id : ids) {
        appendVarint(out, id - previous);
        previous = id;
    }
}

bool readPostings(const unsigned char *&p, const unsigned char *end, uint64_t count, uint32_t maxId,
                  std::vector<uint32_t> &out) {
    uint64_t id = 0;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t gap = 0;
        if (!readVarint(p, end, gap) || gap == 0)
            return false;
        id += gap;
        if (id > maxId)
            return false;
        out.push_back(uint32_t(id));
    }
    return true;
}

} // namespace recog
