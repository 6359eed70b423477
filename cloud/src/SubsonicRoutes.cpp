// The music-player API's front door: every /rest/ method, authenticated, in
// XML or JSON (f=json, f=jsonp). Answers are HTTP 200 also when they carry an
// API error, as the API expects; the query, which carries credentials, is
// never logged.
#include "Subsonic.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>
#include <strings.h>
#include <unistd.h>

namespace cloud::subsonic {

namespace {

// Longer parameters are not something a player sends: refused before use.
constexpr std::size_t kMaxParameterBytes = 4096;

bool wantsJson(const http::Request &req, std::string &callback) {
    const std::string format = req.param("f");
    if (format == "jsonp") {
        callback = req.param("callback");
        // A callback is a name, never script text.
        for (const char c : callback) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.' && c != '$')
                callback.clear();
        }
        return true;
    }
    return format == "json";
}

void send(ServerContext &, const http::Request &req, http::Response &res, const Element &e) {
    std::string callback;
    res.status = 200;
    if (wantsJson(req, callback)) {
        if (!callback.empty())
            res.setContent(callback + "(" + toJson(e) + ");", "text/javascript; charset=utf-8");
        else
            res.setContent(toJson(e), "application/json; charset=utf-8");
    } else {
        res.setContent(toXml(e), "text/xml; charset=utf-8");
    }
}

const Methods &methods() {
    static const Methods all = [] {
        Methods m;
        addSystemMethods(m);
        addBrowsingMethods(m);
        addListMethods(m);
        addMediaMethods(m);
        addPlaylistMethods(m);
        addAnnotationMethods(m);
        addListeningMethods(m);
        addInfoMethods(m);
        return m;
    }();
    return all;
}

} // namespace

void dispatch(ServerContext &ctx, const http::Request &req, http::Response &res) {
    std::string name = req.matches.size() > 1 ? req.matches[1] : std::string();
    for (const auto &[key, value] : req.params) {
        if (key.size() > 64 || value.size() > kMaxParameterBytes)
            return send(ctx, req, res,
                        errorResponse(kGeneric, "a parameter is longer than " +
                                                    std::to_string(kMaxParameterBytes) + " bytes"));
    }
    // Players find out what the server offers before they sign in.
    if (name == "getOpenSubsonicExtensions") {
        Element ok = okResponse();
        for (const char *extension :
             {"apiKeyAuthentication", "formPost", "transcodeOffset", "songLyrics"}) {
            Element &e = ok.item("openSubsonicExtensions");
            e.set("name", extension);
            e.value("versions", std::int64_t{1});
        }
        return send(ctx, req, res, ok);
    }
    AuthResult auth = authenticate(ctx, req);
    if (!auth.user) {
        if (auth.retryAfterSeconds > 0)
            res.setHeader("Retry-After", std::to_string(auth.retryAfterSeconds));
        return send(ctx, req, res, errorResponse(auth.code, auth.message));
    }
    const auto method = methods().find(name);
    if (method == methods().end())
        return send(ctx, req, res, errorResponse(kNotFound, "no method \"" + name + "\""));
    Call call{ctx, req, res, std::move(*auth.user)};
    call.json = wantsJson(req, call.callback);
    method->second(call);
}

std::optional<std::string> Call::param(const std::string &name) const {
    const auto it = req.params.find(name);
    if (it == req.params.end())
        return std::nullopt;
    return it->second;
}

std::vector<std::string> Call::params(const std::string &name) const {
    std::vector<std::string> out;
    const auto [first, last] = req.params.equal_range(name);
    for (auto it = first; it != last; ++it)
        out.push_back(it->second);
    return out;
}

bool Call::flag(const std::string &name, bool fallback) const {
    const auto value = param(name);
    if (!value)
        return fallback;
    return *value == "1" || strcasecmp(value->c_str(), "true") == 0;
}

void reply(Call &call, const Element &response) {
    send(call.ctx, call.req, call.res, response);
}

void fail(Call &call, int code, const std::string &message) {
    send(call.ctx, call.req, call.res, errorResponse(code, message));
}

void offload(Call &call, WorkKind kind, std::function<void(Call &)> work) {
    call.res.deferred = [call, kind, work = std::move(work)](std::function<void()> done) {
        const bool queued = call.ctx.work.submit(kind, [call, work, done](bool cancelled) mutable {
            try {
                if (cancelled)
                    fail(call, kGeneric, "the server is stopping");
                else
                    work(call);
            } catch (const std::exception &e) {
                std::fprintf(stderr, "error in a worker: %s\n", e.what());
                call.res.stream.reset();
                if (call.res.fileFd >= 0)
                    ::close(call.res.fileFd);
                call.res.fileFd = -1;
                fail(call, kGeneric, "internal error");
            }
            done();
        });
        if (!queued) {
            Call answer = call;
            fail(answer, kGeneric, "the server is busy: try again shortly");
            done();
        }
    };
}

std::optional<std::string> required(Call &call, const std::string &name) {
    auto value = call.param(name);
    if (!value || value->empty()) {
        fail(call, kMissingParameter, "required parameter \"" + name + "\" is missing");
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> integer(Call &call, const std::string &name, std::int64_t fallback,
                                    std::int64_t min, std::int64_t max) {
    const auto text = call.param(name);
    if (!text || text->empty())
        return fallback;
    std::int64_t v = 0;
    const auto [ptr, ec] = std::from_chars(text->data(), text->data() + text->size(), v);
    if (ec == std::errc::result_out_of_range && ptr == text->data() + text->size())
        return text->front() == '-' ? min : max;
    if (ec != std::errc() || ptr != text->data() + text->size()) {
        fail(call, kGeneric, "parameter \"" + name + "\" must be a whole number");
        return std::nullopt;
    }
    return std::clamp(v, min, max);
}

std::optional<int> number(Call &call, const std::string &name, int fallback, int min, int max) {
    const auto v = integer(call, name, fallback, min, max);
    if (!v)
        return std::nullopt;
    return static_cast<int>(*v);
}

bool isWellFormedId(const std::string &id) {
    if (id.size() != 24 || !std::islower(static_cast<unsigned char>(id[0])) ||
        !std::islower(static_cast<unsigned char>(id[1])))
        return false;
    return id.find_first_not_of("0123456789abcdef", 2) == std::string::npos;
}

namespace {

// The caller's item that an ID of that kind ("tr", "al", "ar") names.
template <class Item, class Query>
std::optional<Item> findById(Call &call, const std::string &id, const char *kind,
                             std::vector<Item> (Store::*list)(std::int64_t, const Query &)) {
    if (!isWellFormedId(id) || id.rfind(kind, 0) != 0)
        return std::nullopt;
    Query q;
    q.id = id;
    auto found = (call.ctx.store.*list)(call.userId(), q);
    if (found.empty())
        return std::nullopt;
    return std::move(found.front());
}

} // namespace

std::optional<Song> findSong(Call &call, const std::string &id) {
    return findById(call, id, "tr", &Store::songs);
}

std::optional<Song> requiredSong(Call &call) {
    const auto id = required(call, "id");
    if (!id)
        return std::nullopt;
    auto song = findSong(call, *id);
    if (!song)
        fail(call, kNotFound, "song not found");
    return song;
}

std::optional<Artist> findArtist(Call &call, const std::string &id) {
    return findById(call, id, "ar", &Store::artists);
}

std::optional<Album> findAlbum(Call &call, const std::string &id) {
    return findById(call, id, "al", &Store::albums);
}

bool isKnownItem(Call &call, const std::string &id) {
    return findSong(call, id) || findAlbum(call, id) || findArtist(call, id);
}

std::optional<std::vector<std::int64_t>> mediaIdsOf(Call &call,
                                                    const std::vector<std::string> &ids) {
    if (ids.size() > kMaxPlaylistEntries) {
        fail(call, kGeneric, "at most " + std::to_string(kMaxPlaylistEntries) + " songs");
        return std::nullopt;
    }
    // A song named many times is looked up once.
    std::map<std::string, std::int64_t> known;
    std::vector<std::int64_t> out;
    out.reserve(ids.size());
    for (const auto &id : ids) {
        auto it = known.find(id);
        if (it == known.end()) {
            const auto song = findSong(call, id);
            if (!song) {
                fail(call, kNotFound, "song not found");
                return std::nullopt;
            }
            it = known.emplace(id, song->mediaId).first;
        }
        out.push_back(it->second);
    }
    return out;
}

std::vector<Song> songsInOrder(Call &call, const std::vector<std::int64_t> &mediaIds) {
    // Each song read once, however often the list holds it.
    const std::set<std::int64_t> distinct(mediaIds.begin(), mediaIds.end());
    SongQuery q;
    q.mediaIds.assign(distinct.begin(), distinct.end());
    q.limit = static_cast<int>(q.mediaIds.size());
    std::map<std::int64_t, Song> songs;
    if (!q.mediaIds.empty()) {
        for (auto &song : call.ctx.store.songs(call.userId(), q))
            songs.emplace(song.mediaId, std::move(song));
    }
    std::vector<Song> out;
    out.reserve(mediaIds.size());
    for (const auto mediaId : mediaIds) {
        if (const auto it = songs.find(mediaId); it != songs.end())
            out.push_back(it->second);
    }
    return out;
}

std::string isoTime(std::int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms % 1000));
    return buf;
}

void describe(Element &e, const Song &s) {
    e.set("id", s.id)
        .set("parent", s.albumId)
        .set("isDir", false)
        .set("title", s.tags.title)
        .set("album", s.tags.album)
        .set("artist", s.tags.artist);
    if (s.tags.track > 0)
        e.set("track", s.tags.track);
    if (s.tags.year > 0)
        e.set("year", s.tags.year);
    if (!s.tags.genre.empty())
        e.set("genre", s.tags.genre);
    if (s.tags.hasCover)
        e.set("coverArt", s.id);
    e.set("size", s.size)
        .set("contentType", s.tags.contentType)
        .set("suffix", s.tags.suffix)
        .set("duration", static_cast<std::int64_t>((s.tags.durationMs + 500) / 1000))
        .set("bitRate", s.tags.bitRateKbps)
        .set("path", s.path);
    if (s.tags.disc > 0)
        e.set("discNumber", s.tags.disc);
    e.set("created", isoTime(s.createdMs))
        .set("albumId", s.albumId)
        .set("artistId", s.artistId)
        .set("type", "music")
        .set("mediaType", "song")
        .set("playCount", s.playCount);
    if (s.playedMs > 0)
        e.set("played", isoTime(s.playedMs));
    if (s.starredMs > 0)
        e.set("starred", isoTime(s.starredMs));
    if (s.rating > 0)
        e.set("userRating", s.rating);
}

void describe(Element &e, const Album &a) {
    // An album without art has a cover drawn for it (getCoverArt).
    e.set("id", a.id)
        .set("name", a.name)
        .set("artist", a.artist)
        .set("artistId", a.artistId)
        .set("coverArt", a.id)
        .set("songCount", a.songCount)
        .set("duration", static_cast<std::int64_t>((a.durationMs + 500) / 1000))
        .set("playCount", a.playCount)
        .set("created", isoTime(a.createdMs));
    if (a.year > 0)
        e.set("year", a.year);
    if (!a.genre.empty())
        e.set("genre", a.genre);
    if (a.playedMs > 0)
        e.set("played", isoTime(a.playedMs));
    if (a.starredMs > 0)
        e.set("starred", isoTime(a.starredMs));
    if (a.rating > 0)
        e.set("userRating", a.rating);
}

void describeDirectory(Element &e, const Album &a) {
    e.set("id", a.id)
        .set("parent", a.artistId)
        .set("isDir", true)
        .set("title", a.name)
        .set("album", a.name)
        .set("artist", a.artist);
    if (a.year > 0)
        e.set("year", a.year);
    if (!a.genre.empty())
        e.set("genre", a.genre);
    e.set("coverArt", a.id)
        .set("duration", static_cast<std::int64_t>((a.durationMs + 500) / 1000))
        .set("playCount", a.playCount)
        .set("created", isoTime(a.createdMs))
        .set("artistId", a.artistId);
    if (a.playedMs > 0)
        e.set("played", isoTime(a.playedMs));
    if (a.starredMs > 0)
        e.set("starred", isoTime(a.starredMs));
    if (a.rating > 0)
        e.set("userRating", a.rating);
}

void describe(Element &e, const Artist &a) {
    e.set("id", a.id).set("name", a.name);
    if (!a.coverSongId.empty())
        e.set("coverArt", a.id);
    e.set("albumCount", a.albumCount);
    if (a.starredMs > 0)
        e.set("starred", isoTime(a.starredMs));
    if (a.rating > 0)
        e.set("userRating", a.rating);
}

void describeIndexEntry(Element &e, const Artist &a) {
    e.set("id", a.id).set("name", a.name);
    if (a.starredMs > 0)
        e.set("starred", isoTime(a.starredMs));
    if (a.rating > 0)
        e.set("userRating", a.rating);
}

void describe(Element &e, const Playlist &p, const User &owner) {
    e.set("id", p.id)
        .set("name", p.name)
        .set("comment", p.comment)
        .set("owner", owner.email)
        .set("public", p.isPublic)
        .set("songCount", p.songCount)
        .set("duration", static_cast<std::int64_t>((p.durationMs + 500) / 1000))
        .set("created", isoTime(p.createdMs))
        .set("changed", isoTime(p.changedMs));
}

} // namespace cloud::subsonic

namespace cloud {

namespace {

// Players that run in a browser on another address call the API across
// origins, so any origin may read its answers. Never with credentials: an
// answer is the player's own credentials' (a request of another origin is
// never let in by the web session's cookie, SubsonicAuth.cpp).
void allowAnyOrigin(http::Response &res) {
    res.setHeader("Access-Control-Allow-Origin", "*");
    res.setHeader("Access-Control-Expose-Headers",
                  "Content-Length, Content-Range, Accept-Ranges, Content-Disposition");
}

// A header list as a preflight asks for it, when it is one: names and commas.
bool isHeaderList(const std::string &text) {
    return text.size() <= 1024 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ||
                      c == ',' || c == ' ';
           });
}

void preflight(const http::Request &req, http::Response &res) {
    res.status = 204;
    allowAnyOrigin(res);
    res.setHeader("Access-Control-Allow-Methods", "GET, POST, OPTIONS");
    const std::string asked = req.header("Access-Control-Request-Headers");
    if (!asked.empty() && isHeaderList(asked))
        res.setHeader("Access-Control-Allow-Headers", asked);
    res.setHeader("Access-Control-Max-Age", "86400");
}

} // namespace

void addSubsonicRoutes(http::HttpServer &server, ServerContext &ctx) {
    const auto handler = [&ctx](const http::Request &req, http::Response &res) {
        allowAnyOrigin(res);
        subsonic::dispatch(ctx, req, res);
    };
    const std::string pattern = R"(/rest/([A-Za-z0-9]{1,64})(?:\.view)?)";
    server.get(pattern, handler);
    server.post(pattern, handler);
    server.options(pattern, preflight);
}

} // namespace cloud
