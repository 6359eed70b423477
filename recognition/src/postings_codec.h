#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace recog {

// Posting lists are sorted track ids stored as the gaps between neighbours
// (the first as its distance from 0), each gap in 7-bit groups, lowest
// first, the top bit of a byte saying that another follows. In a catalogue of
// a million tracks most gaps take two or three bytes instead of four.
void appendVarint(std::string &out, uint64_t value);

// Reads one varint from [p, end); false when it runs past `end` or is longer
// than ten bytes.
bool readVarint(const unsigned char *&p, const unsigned char *end, uint64_t &value);

// Appends `ids` (sorted, distinct, all above 0) gap-coded.
void appendPostings(std::string &out, const std::vector<uint32_t> &ids);

// Decodes `count` gap-coded ids from [p, end) onto `out`, leaving `p` after
// them. False (with `out` holding what was read) when the bytes end early,
// a gap is 0, or an id exceeds `maxId`: a damaged index.
bool readPostings(const unsigned char *&p, const unsigned char *end, uint64_t count, uint32_t maxId,
                  std::vector<uint32_t> &out);

} // namespace recog
