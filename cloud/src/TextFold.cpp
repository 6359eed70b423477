#include "TextFold.h"

#include <cctype>
#include <cstdint>

namespace cloud {

namespace {

// Base letters of U+00C0 to U+017F, sixteen a row; "" where there is none (× ÷).
// clang-format off
constexpr const char *kLatin[] = {
    "A", "A", "A", "A", "A", "A", "AE", "C", "E", "E", "E", "E", "I", "I", "I", "I",
    "D", "N", "O", "O", "O", "O", "O", "", "O", "U", "U", "U", "U", "Y", "TH", "ss",
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
    "d", "n", "o", "o", "o", "o", "o", "", "o", "u", "u", "u", "u", "y", "th", "y",
    "A", "a", "A", "a", "A", "a", "C", "c", "C", "c", "C", "c", "C", "c", "D", "d",
    "D", "d", "E", "e", "E", "e", "E", "e", "E", "e", "E", "e", "G", "g", "G", "g",
    "G", "g", "G", "g", "H", "h", "H", "h", "I", "i", "I", "i", "I", "i", "I", "i",
    "I", "i", "IJ", "ij", "J", "j", "K", "k", "k", "L", "l", "L", "l", "L", "l", "L",
    "l", "L", "l", "N", "n", "N", "n", "N", "n", "n", "N", "n", "O", "o", "O", "o",
    "O", "o", "OE", "oe", "R", "r", "R", "r", "R", "r", "S", "s", "S", "s", "S", "s",
    "S", "s", "T", "t", "T", "t", "T", "t", "U", "u", "U", "u", "U", "u", "U", "u",
    "U", "u", "U", "u", "W", "w", "Y", "y", "Y", "Z", "z", "Z", "z", "Z", "z", "s",
};
// clang-format on
constexpr std::uint32_t kFirst = 0xC0;
constexpr std::uint32_t kLast = kFirst + sizeof kLatin / sizeof kLatin[0] - 1;
static_assert(kLast == 0x17F);

// The two-byte sequence at `i` as a code point, or 0 when it is not one.
std::uint32_t twoByteAt(std::string_view s, std::size_t i) {
    if (i + 1 >= s.size())
        return 0;
    const auto lead = static_cast<unsigned char>(s[i]);
    const auto next = static_cast<unsigned char>(s[i + 1]);
    if ((lead & 0xE0) != 0xC0 || (next & 0xC0) != 0x80)
        return 0;
    return ((lead & 0x1Fu) << 6) | (next & 0x3Fu);
}

} // namespace

std::string foldForSorting(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const std::uint32_t cp = twoByteAt(utf8, i);
        if (cp >= kFirst && cp <= kLast && *kLatin[cp - kFirst]) {
            for (const char *c = kLatin[cp - kFirst]; *c; ++c)
                out += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
            ++i;
            continue;
        }
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(utf8[i])));
    }
    return out;
}

std::string indexLetter(std::string_view utf8) {
    const std::string folded = foldForSorting(utf8.substr(0, 2));
    const auto c = folded.empty() ? '#' : folded.front();
    return c >= 'a' && c <= 'z' ? std::string(1, static_cast<char>(c - 'a' + 'A')) : "#";
}

} // namespace cloud
