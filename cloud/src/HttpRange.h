// The Range header of a GET, for players that seek in a song they stream.
#pragma once

#include "Http.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace cloud::http {

struct ByteRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0; // inclusive
};

enum class RangeKind {
    Whole,        // no range, or one the server does not honour (several, or malformed)
    Partial,      // `range` holds the satisfiable part
    Unsatisfiable // starts past the end: 416
};

RangeKind parseRange(std::string_view header, std::uint64_t size, ByteRange &range);

// The status and range headers of an answer of `size` bytes to a request
// with that Range header: 416 (and nullopt) past the end, else 206 for a
// range or 200 for the whole, with the bytes to send.
std::optional<ByteRange> answerRange(Response &res, std::string_view header, std::uint64_t size);

} // namespace cloud::http
