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
            std::filesystem::path p{std::string(value)};
            if (p.is_relative() && !baseFolder.empty())
                p = std::filesystem::path(baseFolder) / p;
            out.catalogPath = p.string();
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
    if (out.catalogPath.empty()) {
        error = "initialisation data names no catalogue (catalog=PATH)";
        return false;
    }
    return true;
}

} // namespace recog
