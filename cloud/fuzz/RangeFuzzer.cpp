// The Range header of a song download: whatever a player sends, a partial
// answer must lie inside the file, because its bounds go straight to the
// file-sending call and into the Content-Range header.
//
// Input: one byte that says how many low bits of the size to keep (mod 65:
// small sizes, where the off-by-ones live, come up often), eight bytes of file
// size (little-endian), then the header.
#include "HttpRange.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

namespace {

[[noreturn]] void failed(const char *why, std::string_view header, std::uint64_t size,
                         const cloud::http::ByteRange &r) {
    std::fprintf(stderr, "range check failed: %s\n  header \"%.*s\" size %llu -> %llu-%llu\n", why,
                 static_cast<int>(header.size()), header.data(),
                 static_cast<unsigned long long>(size), static_cast<unsigned long long>(r.first),
                 static_cast<unsigned long long>(r.last));
    __builtin_trap();
}

// The plain "bytes=A-B" / "bytes=A-" / "bytes=-N" forms, spelled exactly so
// (no spaces, no other unit case): the answer for these is known exactly.
struct Plain {
    std::optional<std::uint64_t> from;
    std::optional<std::uint64_t> to;
};

std::optional<std::uint64_t> digits(std::string_view s) {
    if (s.empty() || s.size() > 19 || s.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    std::uint64_t v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

std::optional<Plain> plainForm(std::string_view header) {
    if (header.substr(0, 6) != "bytes=")
        return std::nullopt;
    const std::string_view bounds = header.substr(6);
    const auto dash = bounds.find('-');
    if (dash == std::string_view::npos || bounds.find('-', dash + 1) != std::string_view::npos)
        return std::nullopt;
    const std::string_view a = bounds.substr(0, dash);
    const std::string_view b = bounds.substr(dash + 1);
    Plain p;
    if (!a.empty() && !(p.from = digits(a)))
        return std::nullopt;
    if (!b.empty() && !(p.to = digits(b)))
        return std::nullopt;
    if (!p.from && !p.to)
        return std::nullopt;
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using cloud::http::RangeKind;
    if (size < 9)
        return 0;
    const unsigned width = data[0] % 65;
    std::uint64_t fileSize = 0;
    std::memcpy(&fileSize, data + 1, 8);
    fileSize = width == 64 ? fileSize : fileSize & ((std::uint64_t{1} << width) - 1);
    const std::string_view header(reinterpret_cast<const char *>(data + 9), size - 9);

    cloud::http::ByteRange r;
    const RangeKind kind = cloud::http::parseRange(header, fileSize, r);

    // The same question gets the same answer.
    cloud::http::ByteRange again;
    if (cloud::http::parseRange(header, fileSize, again) != kind ||
        (kind == RangeKind::Partial && (again.first != r.first || again.last != r.last)))
        failed("two calls disagree", header, fileSize, r);

    if (kind == RangeKind::Partial) {
        if (fileSize == 0)
            failed("a part of an empty file", header, fileSize, r);
        if (r.first > r.last)
            failed("first > last", header, fileSize, r);
        if (r.last >= fileSize)
            failed("last >= size", header, fileSize, r);
    }

    const auto plain = plainForm(header);
    if (!plain)
        return 0;
    if (plain->from) {
        const std::uint64_t a = *plain->from;
        const std::uint64_t b = plain->to.value_or(UINT64_MAX);
        if (b < a) {
            if (kind != RangeKind::Whole)
                failed("a backwards range is not ignored", header, fileSize, r);
        } else if (a >= fileSize) {
            if (kind != RangeKind::Unsatisfiable)
                failed("a range past the end is not 416", header, fileSize, r);
        } else if (kind != RangeKind::Partial || r.first != a ||
                   r.last != (b < fileSize ? b : fileSize - 1)) {
            failed("A-B is not answered as A to min(B, size - 1)", header, fileSize, r);
        }
    } else {
        const std::uint64_t n = *plain->to;
        if (n == 0 || fileSize == 0) {
            if (kind != RangeKind::Unsatisfiable)
                failed("an empty suffix is not 416", header, fileSize, r);
        } else if (kind != RangeKind::Partial || r.last != fileSize - 1 ||
                   r.last - r.first + 1 != (n < fileSize ? n : fileSize)) {
            failed("-N is not answered as the last N bytes", header, fileSize, r);
        }
    }
    return 0;
}
