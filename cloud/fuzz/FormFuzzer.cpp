// Query strings and url-encoded bodies: every /rest/ parameter, credentials
// included, comes out of these two functions. Beyond not crashing:
//  - a decoded text is never longer than what was sent, and without a '%' or
//    '+' it is what was sent;
//  - any bytes, escaped the way a client escapes them, decode to themselves;
//  - the fields parseForm finds, written out again and parsed, are the same
//    fields in the same order (nothing is lost or invented on the way).
#include "Http.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

[[noreturn]] void failed(const char *why, std::string_view input) {
    std::fprintf(stderr, "form check failed: %s\n  input (%zu bytes): ", why, input.size());
    for (const unsigned char c : input)
        std::fprintf(stderr, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02X", c);
    std::fprintf(stderr, "\n");
    __builtin_trap();
}

// What a browser's form encoding makes: unreserved bytes as they are, a space
// as '+' when `plus`, everything else as %XX (hex case alternating, so that
// both cases are decoded).
std::string encode(std::string_view text, bool plus) {
    static const char upper[] = "0123456789ABCDEF";
    static const char lower[] = "0123456789abcdef";
    std::string out;
    bool useLower = false;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            out += c;
        } else if (c == ' ' && plus) {
            out += '+';
        } else {
            const char *digits = useLower ? lower : upper;
            useLower = !useLower;
            out += '%';
            out += digits[b >> 4];
            out += digits[b & 15];
        }
    }
    return out;
}

using Fields = std::vector<std::pair<std::string, std::string>>;

Fields inOrder(const std::multimap<std::string, std::string> &m) {
    // Equal keys keep their insertion order in a multimap; that order is what
    // Call::params() hands to scrobble and playlists, so it is compared too.
    return Fields(m.begin(), m.end());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);

    for (const bool plus : {false, true}) {
        const std::string decoded = cloud::http::percentDecode(text, plus);
        if (decoded.size() > text.size())
            failed("decoding made the text longer", text);
        const bool escapes = text.find('%') != std::string_view::npos ||
                             (plus && text.find('+') != std::string_view::npos);
        if (!escapes && decoded != text)
            failed("text without escapes changed", text);
        if (cloud::http::percentDecode(encode(text, plus), plus) != text)
            failed("escaped bytes do not decode to themselves", text);
    }

    std::multimap<std::string, std::string> fields;
    cloud::http::parseForm(text, fields);
    std::size_t pieces = 0;
    for (std::size_t start = 0; start <= text.size();) {
        const auto amp = text.find('&', start);
        const std::size_t end = amp == std::string_view::npos ? text.size() : amp;
        pieces += end > start ? 1 : 0;
        if (amp == std::string_view::npos)
            break;
        start = amp + 1;
    }
    if (fields.size() != pieces)
        failed("the field count is not the count of non-empty '&' pieces", text);

    std::string again;
    for (const auto &[key, value] : fields) {
        if (!again.empty())
            again += '&';
        again += encode(key, true) + '=' + encode(value, true);
    }
    std::multimap<std::string, std::string> reparsed;
    cloud::http::parseForm(again, reparsed);
    if (inOrder(reparsed) != inOrder(fields))
        failed("fields written out again parse differently", text);

    // Parsing appends: fields already there stay, and come first among equals.
    std::multimap<std::string, std::string> appended{{"u", "first"}};
    cloud::http::parseForm(text, appended);
    const auto firstU = appended.find("u");
    if (appended.size() != fields.size() + 1 || firstU == appended.end() ||
        firstU->second != "first")
        failed("parsing into a filled map lost or reordered what was there", text);
    return 0;
}
