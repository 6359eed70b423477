#include "engine_config.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>

namespace recog {

namespace {

constexpr size_t kMaxDataBytes = 64 * 1024;

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

bool parseNumber(std::string_view text, double low, double high, double &out) {
    const std::string copy(text);
    char *end = nullptr;
    const double v = std::strtod(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size() || !(v >= low && v <= high))
        return false;
    out = v;
    return true;
}

bool validUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size())
            return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2)
                return false;
        i += len;
    }
    return true;
}

// Relative paths of the data start at the folder the deployment named.
std::string fromBase(std::string_view value, const std::string &baseFolder) {
    std::filesystem::path p{std::string(value)};
    if (p.is_relative() && !baseFolder.empty())
        p = std::filesystem::path(baseFolder) / p;
    return p.string();
}

} // namespace

bool validClientId(std::string_view id) {
    if (id.size() != 7)
        return false;
    for (char c : id)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool validClientTag(std::string_view tag) {
    if (tag.size() != 32)
        return false;
    for (char c : tag)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

bool validLookupUrl(std::string_view url) {
    std::string_view rest;
    bool secure = false;
    if (url.rfind("https://", 0) == 0) {
        rest = url.substr(8);
        secure = true;
    } else if (url.rfind("http://", 0) == 0) {
        rest = url.substr(7);
    } else {
        return false;
    }
    for (char c : url)
        if (static_cast<unsigned char>(c) <= ' ' || c == '\\' || c == 0x7F)
            return false;
    const std::string_view authority = rest.substr(0, rest.find('/'));
    if (authority.empty() || authority.find('@') != std::string_view::npos)
        return false;
    if (secure)
        return true;
    std::string_view host = authority;
    if (host.front() == '[') {
        host = host.substr(0, host.find(']') + 1);
        return host == "[::1]";
    }
    host = host.substr(0, host.find(':'));
    if (host == "localhost")
        return true;
    // 127.0.0.0/8 in dotted form only.
    if (host.rfind("127.", 0) != 0)
        return false;
    int dots = 0;
    for (char c : host)
        if (c == '.')
            ++dots;
        else if (c < '0' || c > '9')
            return false;
    return dots == 3;
}

bool EngineConfig::parse(std::string_view data, const std::string &baseFolder, EngineConfig &out,
                         std::string &error) {
    out = EngineConfig{};
    if (data.size() > kMaxDataBytes) {
        error = "initialisation data larger than 64 KiB";
        return false;
    }
    if (data.find('\0') != std::string_view::npos || !validUtf8(data)) {
        error = "initialisation data is not UTF-8 text";
        return false;
    }
    int lineNo = 0;
    while (!data.empty()) {
        const auto nl = data.find('\n');
        const std::string_view raw = data.substr(0, nl);
        data = nl == std::string_view::npos ? std::string_view() : data.substr(nl + 1);
        ++lineNo;
        const std::string_view line = trim(raw);
        if (line.empty() || line.front() == '#')
            continue;
        const auto eq = line.find('=');
        const std::string where = "initialisation data line " + std::to_string(lineNo) + ": ";
        if (eq == std::string_view::npos) {
            error = where + "expected key=value";
            return false;
        }
        const std::string key(trim(line.substr(0, eq)));
        const std::string_view value = trim(line.substr(eq + 1));
        double v = 0;
        bool ok = true;
        if (key == "catalog") {
            ok = !value.empty();
            out.catalogPath = fromBase(value, baseFolder);
        } else if (key == "lookup") {
            // Said in full: a home server's http:// address is the likely slip.
            if (!validLookupUrl(value)) {
                error = where + "lookup takes an https:// address, or an http:// one of this "
                                "computer (127.0.0.1, [::1], localhost): the engine's credentials "
                                "travel with every lookup";
                return false;
            }
            out.lookupUrl = value;
        } else if (key == "ca_file") {
            ok = !value.empty();
            out.caFile = fromBase(value, baseFolder);
        } else if (key == "timeout_ms") {
            ok = parseNumber(value, 100, 600000, v);
            out.timeoutMs = long(v);
        } else if (key == "client_id") {
            ok = validClientId(value);
            out.clientId = value;
        } else if (key == "client_tag") {
            ok = validClientTag(value);
            out.clientTag = value;
        } else if (key == "accept_ber") {
            ok = parseNumber(value, 0.01, 0.45, out.match.acceptBer);
        } else if (key == "short_accept_ber") {
            ok = parseNumber(value, 0.01, 0.45, out.match.shortAcceptBer);
        } else if (key == "max_offset") {
            ok = parseNumber(value, 0, 2000, v);
            out.match.maxOffset = int(v);
        } else if (key == "max_candidates") {
            ok = parseNumber(value, 1, 1000, v);
            out.match.maxCandidates = size_t(v);
        } else if (key == "min_seconds") {
            ok = parseNumber(value, 1, 600, out.match.minSeconds);
        } else if (key == "tie_margin") {
            ok = parseNumber(value, 0, 0.5, out.tieMargin);
        } else if (key == "trackid_results") {
            ok = parseNumber(value, 1, 100, v);
            out.trackIdResults = int(v);
        } else {
            error = where + "unknown key \"" + key + "\"";
            return false;
        }
        if (!ok) {
            error = where + "bad value for \"" + key + "\"";
            return false;
        }
    }
    if (out.catalogPath.empty() == out.lookupUrl.empty()) {
        error = out.catalogPath.empty()
                    ? "initialisation data names no catalogue (catalog=PATH or lookup=URL)"
                    : "initialisation data names both a catalogue and a lookup service";
        return false;
    }
    if (!out.caFile.empty() && out.lookupUrl.empty()) {
        error = "ca_file is for a lookup service (lookup=URL)";
        return false;
    }
    return true;
}

} // namespace recog
