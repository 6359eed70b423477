#include "lookup_protocol.h"

#include "sqlite_util.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace recog {

namespace {

using nlohmann::json;

constexpr int kMaxDepth = 6;
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Nesting deeper than any valid body is refused before it is parsed.
bool shallow(std::string_view text) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth)
                return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

bool parseObject(std::string_view body, json &out, std::string &error) {
    if (body.size() > kLookupMaxBody) {
        error = "body larger than " + std::to_string(kLookupMaxBody / 1024) + " KiB";
        return false;
    }
    if (!shallow(body)) {
        error = "body nested too deeply";
        return false;
    }
    out = json::parse(body.begin(), body.end(), nullptr, false);
    if (out.is_discarded() || !out.is_object()) {
        error = "body is not a JSON object";
        return false;
    }
    return true;
}

// A text member: absent is empty; anything but a bounded string is refused.
bool text(const json &o, const char *key, std::string &out, std::string &error) {
    const auto it = o.find(key);
    if (it == o.end() || it->is_null())
        return true;
    if (!it->is_string() || it->get_ref<const std::string &>().size() > kLookupMaxText) {
        error = std::string("\"") + key + "\" must be a text of at most 1024 bytes";
        return false;
    }
    out = it->get<std::string>();
    return true;
}

bool itemsMember(const json &value, const char *what, std::vector<uint32_t> &out,
                 std::string &error) {
    if (!value.is_string() || !itemsFromBase64(value.get_ref<const std::string &>(), out) ||
        out.size() > kLookupMaxItems) {
        error = std::string(what) + " must be base64 of at most 4096 items of 4 bytes";
        return false;
    }
    return true;
}

json externalIds(const std::vector<ExternalId> &ids) {
    json a = json::array();
    for (const auto &x : ids)
        a.push_back({{"type", x.type}, {"source", x.source}, {"value", x.value}});
    return a;
}

template <size_t N> json texts(const std::array<std::string, N> &values) {
    json a = json::array();
    for (const auto &v : values)
        a.push_back(v);
    return a;
}

// Readers of an answer: a lookup service is another computer, so its answer
// is checked as closely as a request (the nlohmann accessors throw on a
// wrong type, which decodeAnswer turns into a refusal).
template <size_t N>
void readTexts(const json &o, const char *key, std::array<std::string, N> &out) {
    const json &a = o.at(key);
    if (!a.is_array() || a.size() > N)
        throw std::runtime_error(key);
    for (size_t i = 0; i < a.size(); ++i)
        out[i] = a[i].get<std::string>();
}

std::vector<ExternalId> readExternalIds(const json &o) {
    std::vector<ExternalId> out;
    for (const json &x : o.at("xids"))
        out.push_back({x.at("type").get<std::string>(), x.at("source").get<std::string>(),
                       x.at("value").get<std::string>()});
    return out;
}

// A whole number that fits T. A fraction or a number out of T's range is
// refused, never converted (a double out of range has no int value at all).
template <typename T> T whole(const json &j) {
    if (j.is_number_unsigned()) {
        const auto v = j.get<uint64_t>();
        if (v <= uint64_t(std::numeric_limits<T>::max()))
            return T(v);
    } else if (j.is_number_integer()) {
        const auto v = j.get<int64_t>();
        if (v >= int64_t(std::numeric_limits<T>::min()) &&
            v <= int64_t(std::numeric_limits<T>::max()))
            return T(v);
    }
    throw std::out_of_range("not a whole number in range");
}

const char *methodName(MatchMethod m) {
    return m == MatchMethod::Text         ? "text"
           : m == MatchMethod::Identifier ? "identifier"
                                          : "fingerprint";
}

} // namespace

std::string itemsToBase64(const std::vector<uint32_t> &items) {
    const std::string bytes = encodeItems(items);
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t n = uint32_t(uint8_t(bytes[i])) << 16 |
                           (i + 1 < bytes.size() ? uint32_t(uint8_t(bytes[i + 1])) << 8 : 0) |
                           (i + 2 < bytes.size() ? uint32_t(uint8_t(bytes[i + 2])) : 0);
        out.push_back(kAlphabet[(n >> 18) & 63]);
        out.push_back(kAlphabet[(n >> 12) & 63]);
        out.push_back(i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=');
        out.push_back(i + 2 < bytes.size() ? kAlphabet[n & 63] : '=');
    }
    return out;
}

bool itemsFromBase64(std::string_view text, std::vector<uint32_t> &out) {
    out.clear();
    if (text.size() % 4 != 0)
        return false;
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t n = 0;
        int pad = 0;
        for (size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            int v = -1;
            if (c >= 'A' && c <= 'Z')
                v = c - 'A';
            else if (c >= 'a' && c <= 'z')
                v = c - 'a' + 26;
            else if (c >= '0' && c <= '9')
                v = c - '0' + 52;
            else if (c == '+')
                v = 62;
            else if (c == '/')
                v = 63;
            else if (c == '=' && i + 4 == text.size() && k >= 2)
                v = 0, ++pad;
            if (v < 0 || (pad > 0 && c != '='))
                return false;
            n = n << 6 | uint32_t(v);
        }
        bytes.push_back(char(n >> 16));
        if (pad < 2)
            bytes.push_back(char(n >> 8));
        if (pad < 1)
            bytes.push_back(char(n));
    }
    if (bytes.size() % 4 != 0)
        return false;
    out = decodeItems(bytes.data(), bytes.size());
    return true;
}

std::string encodeRequest(const LookupRequest &r) {
    json o = {{"seconds", r.seconds},
              {"limit", r.limit},
              {"tags",
               {{"artist", r.albumArtist},
                {"album", r.albumTitle},
                {"title", r.trackTitle},
                {"number", r.trackNumber}}}};
    if (!r.items.empty())
        o["items"] = itemsToBase64(r.items);
    if (!r.tui.empty() || !r.tuiTag.empty()) {
        o["tui"] = r.tui;
        o["tui_tag"] = r.tuiTag;
    }
    if (r.otherSpeeds)
        o["other_speeds"] = true;
    if (!r.slices.empty()) {
        json a = json::array();
        for (const auto &s : r.slices)
            a.push_back(itemsToBase64(s));
        o["slices"] = std::move(a);
    }
    return o.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool decodeRequest(std::string_view body, LookupRequest &out, std::string &error) {
    out = LookupRequest{};
    json o;
    if (!parseObject(body, o, error))
        return false;
    if (const auto it = o.find("items");
        it != o.end() && !itemsMember(*it, "\"items\"", out.items, error))
        return false;
    if (const auto it = o.find("seconds"); it != o.end()) {
        if (!it->is_number() || !std::isfinite(it->get<double>()) || it->get<double>() < 0 ||
            it->get<double>() > 3600) {
            error = "\"seconds\" must be a number from 0 to 3600";
            return false;
        }
        out.seconds = it->get<double>();
    }
    if (const auto it = o.find("limit"); it != o.end()) {
        if (!it->is_number_unsigned() || it->get<uint64_t>() < 1 ||
            it->get<uint64_t>() > kLookupMaxLimit) {
            error = "\"limit\" must be a whole number from 1 to 100";
            return false;
        }
        out.limit = uint32_t(it->get<uint64_t>());
    }
    if (const auto it = o.find("tags"); it != o.end()) {
        if (!it->is_object()) {
            error = "\"tags\" must be an object";
            return false;
        }
        if (!text(*it, "artist", out.albumArtist, error) ||
            !text(*it, "album", out.albumTitle, error) ||
            !text(*it, "title", out.trackTitle, error) ||
            !text(*it, "number", out.trackNumber, error))
            return false;
    }
    if (!text(o, "tui", out.tui, error) || !text(o, "tui_tag", out.tuiTag, error))
        return false;
    if (const auto it = o.find("other_speeds"); it != o.end()) {
        if (!it->is_boolean()) {
            error = "\"other_speeds\" must be true or false";
            return false;
        }
        out.otherSpeeds = it->get<bool>();
    }
    if (const auto it = o.find("slices"); it != o.end()) {
        if (!it->is_array() || it->size() > kLookupMaxSlices) {
            error = "\"slices\" must be a list of at most 32 fingerprints";
            return false;
        }
        for (const json &s : *it) {
            out.slices.emplace_back();
            if (!itemsMember(s, "every slice", out.slices.back(), error))
                return false;
        }
    }
    return true;
}

std::string encodeAnswer(const LookupAnswer &a) {
    json found = json::array();
    for (const auto &f : a.found)
        found.push_back({{"track", f.trackId},
                         {"album", f.albumId},
                         {"score", f.score},
                         {"method", methodName(f.method)}});
    json tracks = json::array();
    for (const auto &t : a.tracks)
        tracks.push_back({{"id", t.id},
                          {"gnid", t.gnid},
                          {"tui", t.tui},
                          {"tui_tag", t.tuiTag},
                          {"title", t.title},
                          {"artist", t.artist},
                          {"number", t.trackNumber},
                          {"mood", texts(t.mood)},
                          {"tempo", texts(t.tempo)},
                          {"genre", texts(t.genre)},
                          {"album", t.albumId},
                          {"contributor", t.contributorId},
                          {"duration", t.duration},
                          {"xids", externalIds(t.externalIds)}});
    json albums = json::array();
    for (const auto &al : a.albums)
        albums.push_back({{"id", al.id},
                          {"gnid", al.gnid},
                          {"title", al.title},
                          {"artist", al.artist},
                          {"label", al.label},
                          {"genre", texts(al.genre)},
                          {"contributor", al.contributorId},
                          {"xids", externalIds(al.externalIds)}});
    json contributors = json::array();
    for (const auto &c : a.contributors)
        contributors.push_back({{"id", c.id},
                                {"gnuid", c.gnuid},
                                {"name", c.name},
                                {"era", texts(c.era)},
                                {"origin", texts(c.origin)}});
    json o = {{"found", std::move(found)},
              {"tracks", std::move(tracks)},
              {"albums", std::move(albums)},
              {"contributors", std::move(contributors)},
              {"try_speeds", a.trySpeeds},
              {"strongest_slice", a.strongestSlice},
              {"log", a.log}};
    return o.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool decodeAnswer(std::string_view body, LookupAnswer &out, std::string &error) {
    out = LookupAnswer{};
    json o;
    if (!parseObject(body, o, error)) {
        error = "lookup answer: " + error;
        return false;
    }
    try {
        for (const json &f : o.at("found")) {
            Identification id;
            id.trackId = whole<int64_t>(f.at("track"));
            id.albumId = whole<int64_t>(f.at("album"));
            id.score = f.at("score").get<double>();
            const std::string m = f.at("method").get<std::string>();
            id.method = m == "text"         ? MatchMethod::Text
                        : m == "identifier" ? MatchMethod::Identifier
                                            : MatchMethod::Fingerprint;
            out.found.push_back(id);
        }
        for (const json &j : o.at("tracks")) {
            TrackRecord t;
            t.id = whole<int64_t>(j.at("id"));
            t.gnid = j.at("gnid").get<std::string>();
            t.tui = j.at("tui").get<std::string>();
            t.tuiTag = j.at("tui_tag").get<std::string>();
            t.title = j.at("title").get<std::string>();
            t.artist = j.at("artist").get<std::string>();
            t.trackNumber = whole<int>(j.at("number"));
            readTexts(j, "mood", t.mood);
            readTexts(j, "tempo", t.tempo);
            readTexts(j, "genre", t.genre);
            t.albumId = whole<int64_t>(j.at("album"));
            t.contributorId = whole<int64_t>(j.at("contributor"));
            t.duration = j.at("duration").get<double>();
            t.externalIds = readExternalIds(j);
            out.tracks.push_back(std::move(t));
        }
        for (const json &j : o.at("albums")) {
            AlbumRecord a;
            a.id = whole<int64_t>(j.at("id"));
            a.gnid = j.at("gnid").get<std::string>();
            a.title = j.at("title").get<std::string>();
            a.artist = j.at("artist").get<std::string>();
            a.label = j.at("label").get<std::string>();
            readTexts(j, "genre", a.genre);
            a.contributorId = whole<int64_t>(j.at("contributor"));
            a.externalIds = readExternalIds(j);
            out.albums.push_back(std::move(a));
        }
        for (const json &j : o.at("contributors")) {
            ContributorRecord c;
            c.id = whole<int64_t>(j.at("id"));
            c.gnuid = j.at("gnuid").get<std::string>();
            c.name = j.at("name").get<std::string>();
            readTexts(j, "era", c.era);
            readTexts(j, "origin", c.origin);
            out.contributors.push_back(std::move(c));
        }
        out.trySpeeds = o.at("try_speeds").get<bool>();
        out.strongestSlice = whole<int>(o.at("strongest_slice"));
        for (const json &line : o.at("log"))
            out.log.push_back(line.get<std::string>());
    } catch (const std::exception &) {
        error = "lookup answer: members missing or of the wrong type";
        out = LookupAnswer{};
        return false;
    }
    return true;
}

} // namespace recog
