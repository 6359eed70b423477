#include "XmlText.h"

#include "Json.h"

namespace cloud {

void appendXmlEscaped(std::string &out, std::string_view raw) {
    // The document says it is UTF-8: a parameter echoed in an error, or a
    // playlist name, may not be, and one bad byte makes the whole answer
    // unreadable to the player. U+FFFE and U+FFFF are not XML characters.
    const std::string text = json::toValidUtf8(raw);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto b = static_cast<unsigned char>(c);
        if (text.compare(i, 3, "\xEF\xBF\xBE") == 0 || text.compare(i, 3, "\xEF\xBF\xBF") == 0) {
            out += "\xEF\xBF\xBD";
            i += 2;
            continue;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            // XML 1.0 has no way to carry other control characters at all.
            if (b >= 0x20 || c == '\t' || c == '\n' || c == '\r')
                out += c;
        }
    }
}

std::string xmlEscaped(std::string_view raw) {
    std::string out;
    appendXmlEscaped(out, raw);
    return out;
}

} // namespace cloud
