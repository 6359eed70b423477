#include "HttpRange.h"

#include <charconv>
#include <strings.h>

namespace cloud::http {

namespace {

bool number(std::string_view text, std::uint64_t &out) {
    if (text.empty() || text.size() > 19)
        return false;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && ptr == text.data() + text.size();
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

RangeKind parseRange(std::string_view header, std::uint64_t size, ByteRange &range) {
    header = trimmed(header);
    if (header.size() < 6 || strncasecmp(header.data(), "bytes=", 6) != 0)
        return RangeKind::Whole;
    const std::string_view bounds = trimmed(header.substr(6));
    // Several ranges would need a multipart answer; the whole file is as correct.
    if (bounds.find(',') != std::string_view::npos)
        return RangeKind::Whole;
    const auto dash = bounds.find('-');
    if (dash == std::string_view::npos)
        return RangeKind::Whole;
    const std::string_view from = trimmed(bounds.substr(0, dash));
    const std::string_view to = trimmed(bounds.substr(dash + 1));
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    if (from.empty()) {
        // The last b bytes.
        if (!number(to, b))
            return RangeKind::Whole;
        if (b == 0 || size == 0)
            return RangeKind::Unsatisfiable;
        range.first = b >= size ? 0 : size - b;
        range.last = size - 1;
        return RangeKind::Partial;
    }
    if (!number(from, a))
        return RangeKind::Whole;
    if (to.empty()) {
        b = size == 0 ? 0 : size - 1;
    } else if (!number(to, b) || b < a) {
        return RangeKind::Whole;
    }
    if (a >= size)
        return RangeKind::Unsatisfiable;
    range.first = a;
    range.last = b >= size ? size - 1 : b;
    return RangeKind::Partial;
}

std::optional<ByteRange> answerRange(Response &res, std::string_view header, std::uint64_t size) {
    ByteRange range;
    const RangeKind kind = parseRange(header, size, range);
    if (kind == RangeKind::Unsatisfiable) {
        res.status = 416;
        res.body.clear();
        res.setHeader("Content-Range", "bytes */" + std::to_string(size));
        return std::nullopt;
    }
    res.setHeader("Accept-Ranges", "bytes");
    if (kind == RangeKind::Whole) {
        res.status = 200;
        return ByteRange{0, size > 0 ? size - 1 : 0};
    }
    res.status = 206;
    res.setHeader("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                       std::to_string(range.last) + "/" + std::to_string(size));
    return range;
}

} // namespace cloud::http
