// Music-player requests through the real /rest/ dispatch, in process, against
// a real server state: one account with a player password, an API key, a web
// session and three imported songs (an MP3 with a cover, a FLAC, a WAV).
// "Never a 500 a client can cause": an exception out of a method (which the
// HTTP layer turns into a 500; on a worker, into the error "internal error")
// or a 5xx status stops the run, and so does an answer the client could not
// use: JSON that does not parse, XML or text that is not UTF-8 or holds what
// XML forbids, a header with a line break, a file range outside the file or
// a Content-Range that is not what is sent.
//
// Each input is up to four requests, separated by a line "%%":
//
//     GET getSong token          HTTP method, API method, how it signs in
//     id=@S0&f=json              the query
//     Range: bytes=0-99          header lines, up to an empty line
//                                (then an url-encoded body, for a POST)
//
// Sign-in: token (u, t, s), plain (u, p), hex (u, p=enc:…), key (apiKey), web
// (the web player's cookie) or none (only what the query says). The opaque IDs
// and secrets of this run are written as @S0-@S2 (songs), @A0-@A2 (albums),
// @R0-@R2 (artists), @L0 (the account's first playlist when the request is
// made), @U (the account), @P (the player password), @K (the API key) and @W
// (the web session). The server state is set back after every input, so a
// crash found replays from its input alone.
#include "Crypto.h"
#include "Importer.h"
#include "Json.h"
#include "Library.h"
#include "PlayerSecrets.h"
#include "ServerContext.h"
#include "Subsonic.h"

#include <sqlite3.h>

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;
using namespace cloud;

namespace {

constexpr int kMaxRequests = 4;
constexpr const char *kEmail = "fuzz@example.org";

struct World {
    fs::path root;
    Config config;
    fs::path pristine; // the database as set up, copied back before each input
    sqlite3 *restore = nullptr;
    std::string restoreSql;
    std::int64_t userId = 0;
    std::string password; // the player password
    std::string apiKey;
    std::string webSession;
    std::vector<std::string> songs, albums, artists;
    std::unique_ptr<ServerContext> ctx;
    // SONARBOX_FUZZ_SHOW=1 prints each request and its answer: what a seed reaches.
    bool show = false;
};

World *world = nullptr;

[[noreturn]] void setUpFailed(const std::string &what) {
    std::fprintf(stderr, "subsonic fuzzer set-up: %s\n", what.c_str());
    std::exit(1);
}

void run(const std::string &command) {
    if (std::system(command.c_str()) != 0)
        setUpFailed("failed: " + command);
}

// Real songs, made the way the tests make theirs: short, tagged, and each a
// container the server stores.
std::vector<fs::path> makeSongs(const fs::path &dir) {
    const std::string ff = "ffmpeg -nostdin -hide_banner -loglevel error -y ";
    const std::string tone = "-f lavfi -i sine=frequency=";
    const fs::path cover = dir / "cover.png";
    const fs::path mp3 = dir / "first.mp3";
    const fs::path flac = dir / "second.flac";
    const fs::path wav = dir / "third.wav";
    run(ff + "-f lavfi -i testsrc=size=96x64:rate=1 -frames:v 1 '" + cover.string() + "'");
    run(ff + tone + "440:duration=3 -i '" + cover.string() +
        "' -map 0 -map 1 -c:a libmp3lame -b:a 128k -c:v png -disposition:v attached_pic "
        "-id3v2_version 3 -metadata title='First Song' -metadata artist='Ann Artist' "
        "-metadata album='Album One' -metadata genre=Jazz -metadata date=1999 "
        "-metadata track=1/2 '" +
        mp3.string() + "'");
    run(ff + tone +
        "660:duration=3 -c:a flac -metadata title='Second Song' "
        "-metadata artist='Ben Band' -metadata album='Album Two' "
        "-metadata genre='Rock & Roll' -metadata date=2011 '" +
        flac.string() + "'");
    run(ff + tone + "880:duration=2 -ac 2 -ar 22050 -c:a pcm_s16le '" + wav.string() + "'");
    return {mp3, flac, wav};
}

std::string replaceAll(std::string text, std::string_view what, const std::string &with) {
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

void setUp() {
    World &w = *world;
    // In memory where there is a place for it: SQLite's syncs then cost nothing.
    std::string dir =
        (fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) /
        "sonarbox-subsonic-fuzz-XXXXXX";
    if (!mkdtemp(dir.data()))
        setUpFailed("no temporary folder");
    w.root = dir;
    std::atexit([] {
        std::error_code ec;
        world->ctx.reset();
        sqlite3_close(world->restore);
        fs::remove_all(world->root, ec);
    });
    fs::create_directories(w.root / "songs");
    w.config.dataDir = w.root / "data";
    // A sign-in password is never checked here; the decoy hash costs nothing.
    w.config.pbkdf2Iterations = 1;
    fs::create_directories(w.config.dataDir);
    const auto files = makeSongs(w.root / "songs");

    {
        ServerContext ctx(w.config);
        User user;
        user.email = kEmail;
        user.password = PasswordHash::make("sign-in password", 1);
        user.hasPassword = true;
        user.desktopRegistered = true;
        const auto id = ctx.store.createUser(user);
        if (!id)
            setUpFailed("no account");
        w.userId = *id;
        const auto made = createPlayerPassword(ctx.store, ctx.playerSecrets, w.userId, "fuzz");
        if (!made)
            setUpFailed("no player password");
        w.password = made->password;
        w.apiKey = made->apiKey;
        w.webSession = ctx.store.createSession(w.userId, "web:fuzz", 24 * 3600);
        // The songs join the library as a catalogue match does: imported into
        // the catalogue, then taken into the account's library.
        for (const auto &file : files) {
            const ImportResult imported = importFile(ctx.store, *ctx.objects, file, nullptr);
            const auto item = ctx.store.findCatalogByChecksum(imported.checksum);
            if (!item)
                setUpFailed("import of " + file.string() + " left no catalogue item");
            UserMedia media;
            media.userId = w.userId;
            media.fileId = item->fileId;
            media.name = item->name;
            media.songName = item->tags.title.empty() ? item->name : item->tags.title;
            media.albumName = item->tags.album.empty() ? "Unknown" : item->tags.album;
            media.artistName = item->tags.artist.empty() ? "Unknown" : item->tags.artist;
            media.checksum = item->checksum;
            media.sequence = item->tags.track;
            ctx.store.addUserMedia(media);
        }
        SongQuery all;
        all.addedOrder = true;
        for (const auto &song : ctx.store.songs(w.userId, all)) {
            w.songs.push_back(song.id);
            w.albums.push_back(song.albumId);
            w.artists.push_back(song.artistId);
        }
        if (w.songs.size() != files.size())
            setUpFailed("the library holds " + std::to_string(w.songs.size()) + " songs, not " +
                        std::to_string(files.size()));
    }
    // The context is closed: the database file is whole, without a log beside it.
    w.pristine = w.root / "pristine.sqlite";
    fs::copy_file(w.config.dataDir / "cloud.sqlite", w.pristine);
    w.ctx = std::make_unique<ServerContext>(w.config);
}

// The server may answer a method from its worker pool (Response::deferred),
// make a stream's next piece there (BodyStream::kNotReady and its wake call)
// and keep scaled covers (ServerContext::covers). Where it does, this target
// waits and resets as the HTTP layer would; the checks are templates so that
// it builds, and fuzzes the same way, where the server does all of it on the
// calling thread.
template <typename Context, typename Settings>
void emptyCoverCache(Context &ctx, const Settings &config) {
    if constexpr (requires {
                      ctx.covers;
                      config.coverCacheBytes;
                  }) {
        std::destroy_at(&ctx.covers);
        std::construct_at(&ctx.covers, config.coverCacheBytes);
    }
}

template <typename Answer> void awaitDeferred(Answer &res) {
    if constexpr (requires { res.deferred; }) {
        if (!res.deferred)
            return;
        std::promise<void> done;
        std::future<void> answered = done.get_future();
        res.deferred([&done] { done.set_value(); });
        answered.wait();
    }
}

// One read as the HTTP layer makes it: a stream with nothing ready yet is
// read again once it has called its wake function.
template <typename Stream> long readLikeTheServer(Stream &stream, char *out, std::size_t max) {
    if constexpr (requires {
                      stream.setWake([] {});
                      Stream::kNotReady;
                  }) {
        struct Wake {
            std::mutex mutex;
            std::condition_variable woken;
            bool called = false;
        };
        const auto wake = std::make_shared<Wake>();
        stream.setWake([wake] {
            std::lock_guard lock(wake->mutex);
            wake->called = true;
            wake->woken.notify_all();
        });
        for (;;) {
            const long n = stream.read(out, max);
            if (n != Stream::kNotReady)
                return n;
            std::unique_lock lock(wake->mutex);
            wake->woken.wait(lock, [&wake] { return wake->called; });
            wake->called = false;
        }
    } else {
        return stream.read(out, max);
    }
}

// Back to the state the set-up left, without reopening the store (whose
// schema checks cost more than most requests): the tables are copied back
// from the pristine file over a connection of this program's own, and the
// context's in-memory state that requests change is made anew.
void resetState() {
    World &w = *world;
    if (!w.restore) {
        const std::string db = (w.config.dataDir / "cloud.sqlite").string();
        if (sqlite3_open(db.c_str(), &w.restore) != SQLITE_OK)
            setUpFailed("cannot open " + db);
        sqlite3_busy_timeout(w.restore, 5000);
        const std::string attach =
            "PRAGMA synchronous=OFF; ATTACH '" + w.pristine.string() + "' AS pristine";
        std::string tables;
        sqlite3_exec(w.restore, attach.c_str(), nullptr, nullptr, nullptr);
        sqlite3_exec(
            w.restore, "SELECT name FROM pristine.sqlite_master WHERE type = 'table'",
            [](void *out, int, char **values, char **) {
                auto &sql = *static_cast<std::string *>(out);
                const std::string table = std::string("\"") + values[0] + "\"";
                sql += "DELETE FROM main." + table + "; INSERT INTO main." + table +
                       " SELECT * FROM pristine." + table + ";";
                return 0;
            },
            &tables, nullptr);
        if (tables.empty())
            setUpFailed("the pristine database has no tables");
        w.restoreSql = "BEGIN; " + tables + " COMMIT;";
    }
    char *error = nullptr;
    if (sqlite3_exec(w.restore, w.restoreSql.c_str(), nullptr, nullptr, &error) != SQLITE_OK)
        setUpFailed(std::string("restoring the tables: ") + (error ? error : "?"));
    // Failed sign-ins of the last input must not slow this one down, and a
    // cover cached by it must not spare this one the decoding.
    std::destroy_at(&w.ctx->playerThrottle);
    std::construct_at(&w.ctx->playerThrottle);
    emptyCoverCache(*w.ctx, w.config);
}

std::string substitute(std::string text, ServerContext &ctx) {
    World &w = *world;
    if (text.find('@') == std::string::npos)
        return text;
    if (text.find("@L0") != std::string::npos) {
        const auto lists = ctx.store.playlists(w.userId);
        text = replaceAll(std::move(text), "@L0", lists.empty() ? "" : lists.front().id);
    }
    for (std::size_t i = 0; i < w.songs.size(); ++i) {
        const std::string n = std::to_string(i);
        text = replaceAll(std::move(text), "@S" + n, w.songs[i]);
        text = replaceAll(std::move(text), "@A" + n, w.albums[i]);
        text = replaceAll(std::move(text), "@R" + n, w.artists[i]);
    }
    text = replaceAll(std::move(text), "@U", kEmail);
    text = replaceAll(std::move(text), "@P", w.password);
    text = replaceAll(std::move(text), "@K", w.apiKey);
    text = replaceAll(std::move(text), "@W", w.webSession);
    return text;
}

struct Exchange {
    http::Request req;
    http::Response res;
};

[[noreturn]] void failed(const char *why, const Exchange &ex) {
    std::fprintf(stderr, "subsonic check failed: %s\n  %s %s\n  status %d\n", why,
                 ex.req.method.c_str(), ex.req.target.c_str(), ex.res.status);
    for (const auto &[name, value] : ex.req.headers)
        std::fprintf(stderr, "  > %s: %s\n", name.c_str(), value.c_str());
    for (const auto &[name, value] : ex.res.headers)
        std::fprintf(stderr, "  < %s: %s\n", name.c_str(), value.c_str());
    std::fprintf(stderr, "  body: %.400s\n", ex.res.body.c_str());
    __builtin_trap();
}

std::string header(const http::Response &res, const char *name) {
    for (const auto &[n, v] : res.headers) {
        if (strcasecmp(n.c_str(), name) == 0)
            return v;
    }
    return {};
}

// XML 1.0 characters only: no control characters but tab and line ends,
// and neither U+FFFE nor U+FFFF (the text is known to be UTF-8 already).
bool isXmlText(std::string_view text) {
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 && c != '\t' && c != '\n' && c != '\r')
            return false;
    }
    return text.find("\xEF\xBF\xBE") == std::string_view::npos &&
           text.find("\xEF\xBF\xBF") == std::string_view::npos;
}

bool isRouteName(std::string_view name) {
    if (name.empty() || name.size() > 64)
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

std::string_view line(std::string_view &text) {
    const auto end = text.find('\n');
    const std::string_view first = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    return first;
}

// The request as the HTTP layer would hand it over; false when the router
// would not reach /rest/ with it (another method, a name outside the pattern).
bool build(std::string_view block, ServerContext &ctx, http::Request &req) {
    World &w = *world;
    std::string_view first = line(block);
    const auto space = first.find(' ');
    req.method = std::string(first.substr(0, space));
    first = space == std::string_view::npos ? std::string_view() : first.substr(space + 1);
    const auto space2 = first.find(' ');
    std::string_view name = first.substr(0, space2);
    const std::string_view auth =
        space2 == std::string_view::npos ? std::string_view() : first.substr(space2 + 1);
    if (name.size() > 5 && name.substr(name.size() - 5) == ".view")
        name.remove_suffix(5);
    if ((req.method != "GET" && req.method != "POST" && req.method != "HEAD") || !isRouteName(name))
        return false;

    std::string credentials;
    const std::string salt = "f00d5a17";
    if (auth == "token")
        credentials = std::string("u=") + kEmail + "&s=" + salt +
                      "&t=" + crypto::md5HexUpper(w.password + salt);
    else if (auth == "plain")
        credentials = std::string("u=") + kEmail + "&p=" + w.password;
    else if (auth == "hex")
        credentials = std::string("u=") + kEmail + "&p=enc:" + crypto::toHex(w.password);
    else if (auth == "key")
        credentials = "apiKey=" + w.apiKey;
    if (auth == "web")
        req.headers.emplace("Cookie", "sonarbox_web=" + w.webSession);

    const std::string query = substitute(std::string(line(block)), ctx);
    req.path = "/rest/" + std::string(name) + ".view";
    req.target = req.path + "?" + credentials + (credentials.empty() ? "" : "&") + query;
    req.matches = {req.path, std::string(name)};
    req.remoteAddress = "192.0.2.7";
    req.limitKey = "192.0.2.7";
    http::parseForm(std::string_view(req.target).substr(req.target.find('?') + 1), req.params);

    for (std::string_view h = line(block); !h.empty(); h = line(block)) {
        const auto colon = h.find(':');
        if (colon == std::string_view::npos || colon == 0)
            continue;
        std::string_view value = h.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        req.headers.emplace(std::string(h.substr(0, colon)), substitute(std::string(value), ctx));
    }
    if (req.headers.size() > 100)
        return false; // 431 before any route
    if (req.method == "POST") {
        req.body = substitute(std::string(block), ctx);
        if (strncasecmp(req.header("Content-Type").c_str(), "application/x-www-form-urlencoded",
                        33) == 0)
            http::parseForm(req.body, req.params);
    }
    return true;
}

void checkAnswer(Exchange &ex) {
    const http::Response &res = ex.res;
    if (res.status >= 500)
        failed("a server error", ex);
    // A worker's exception is answered as the API's error "internal error".
    if (res.body.find("\"message\":\"internal error\"") != std::string::npos ||
        res.body.find("message=\"internal error\"") != std::string::npos)
        failed("an exception on a worker (answered as \"internal error\")", ex);
    for (const auto &[name, value] : res.headers) {
        if (name.find_first_of("\r\n") != std::string::npos ||
            value.find_first_of("\r\n") != std::string::npos)
            failed("a line break in a header", ex);
    }
    const std::string type = header(res, "Content-Type");
    const bool text = type.rfind("text/", 0) == 0 || type.rfind("application/json", 0) == 0;
    if (res.fileFd < 0 && !res.stream && res.status == 200 && text) {
        if (!json::isValidUtf8(res.body))
            failed("an answer that is not UTF-8", ex);
        std::string_view payload = res.body;
        if (type.rfind("text/javascript", 0) == 0) {
            const auto open = payload.find('(');
            if (open == std::string_view::npos || payload.size() < open + 3 ||
                payload.substr(payload.size() - 2) != ");")
                failed("JSONP that is not callback(…);", ex);
            payload = payload.substr(open + 1, payload.size() - open - 3);
        }
        if (type.rfind("application/json", 0) == 0 || type.rfind("text/javascript", 0) == 0) {
            const auto value = json::parse(payload);
            if (!value || !value->isObject() || !value->find("subsonic-response"))
                failed("JSON that does not parse into a subsonic-response", ex);
        } else if (type.rfind("text/xml", 0) == 0) {
            if (res.body.rfind("<?xml", 0) != 0 ||
                res.body.find("<subsonic-response") == std::string::npos)
                failed("XML without its subsonic-response", ex);
            if (!isXmlText(res.body))
                failed("XML with characters XML does not allow", ex);
        }
    }
    if (res.status == 416) {
        if (res.fileFd >= 0 || header(res, "Content-Range").rfind("bytes */", 0) != 0)
            failed("a 416 without \"bytes */size\"", ex);
    }
    if (res.fileFd >= 0) {
        struct stat st {};
        if (::fstat(res.fileFd, &st) != 0)
            failed("a file answer with a closed descriptor", ex);
        const auto size = static_cast<std::uint64_t>(st.st_size);
        if (res.fileOffset > size || res.fileSize > size - res.fileOffset)
            failed("a file range outside the file", ex);
        const std::string range = header(res, "Content-Range");
        if (res.status == 206) {
            const std::string expected = "bytes " + std::to_string(res.fileOffset) + "-" +
                                         std::to_string(res.fileOffset + res.fileSize - 1) + "/" +
                                         std::to_string(size);
            if (res.fileSize == 0 || range != expected)
                failed("a 206 whose Content-Range is not what is sent", ex);
        } else if (res.status == 200) {
            if (res.fileOffset != 0 || res.fileSize != size || !range.empty())
                failed("a 200 that is not the whole file", ex);
        } else {
            failed("a file sent with a status other than 200 or 206", ex);
        }
    }
    if (res.stream) {
        // The HTTP layer pulls 32 KiB at a time; a few pulls cover the
        // encoder's start and its first frames.
        std::vector<char> buffer(32 * 1024);
        for (int i = 0; i < 3; ++i) {
            const long n = readLikeTheServer(*res.stream, buffer.data(), buffer.size());
            if (n < -1 || n > static_cast<long>(buffer.size()))
                failed("a stream read out of bounds", ex);
            if (n <= 0)
                break;
        }
    }
}

// Mutations that know the form of an input: a parameter's value swapped for
// one a player should not send, a parameter added, another method asked with
// the same parameters. Byte-level mutation seldom turns "1990" into "x" at
// exactly that place; these make each such step one mutation away.
const char *const kValues[] = {"",
                               "x",
                               "-1",
                               "0",
                               "2147483648",
                               "99999999999999999999",
                               "1.5",
                               "%FF%FE",
                               "%00",
                               "%EF%BF%BF",
                               "true",
                               "@S0",
                               "@S2",
                               "@A0",
                               "@R1",
                               "@L0",
                               "@K",
                               "@U",
                               "tr0000000000000000000000",
                               "al",
                               "../../etc/passwd",
                               "%22%22",
                               "*"};
const char *const kParameters[] = {
    "id",         "size",       "offset",     "count",      "type",        "fromYear",
    "toYear",     "genre",      "query",      "songId",     "songIdToAdd", "songIndexToRemove",
    "playlistId", "name",       "comment",    "public",     "albumId",     "artistId",
    "time",       "submission", "maxBitRate", "format",     "timeOffset",  "f",
    "callback",   "username",   "songCount",  "songOffset", "albumCount",  "artistCount"};
const char *const kMethods[] = {
    "ping",           "getLicense",      "getUser",           "getMusicFolders",
    "getIndexes",     "getArtists",      "getArtist",         "getAlbum",
    "getSong",        "getGenres",       "getMusicDirectory", "getAlbumList2",
    "getRandomSongs", "getSongsByGenre", "search3",           "getStarred2",
    "stream",         "download",        "getCoverArt",       "getPlaylists",
    "getPlaylist",    "createPlaylist",  "updatePlaylist",    "deletePlaylist",
    "star",           "unstar",          "scrobble"};

template <typename T, std::size_t N> const char *pick(const T (&list)[N], std::minstd_rand &rng) {
    return list[rng() % N];
}

// The first line of each request and the query after it, as offsets.
std::vector<std::pair<std::size_t, std::size_t>> requestLines(const std::string &text) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    std::size_t start = 0;
    for (;;) {
        const auto query = text.find('\n', start);
        if (query == std::string::npos)
            break;
        out.emplace_back(start, query + 1);
        const auto next = text.find("\n%%\n", query);
        if (next == std::string::npos)
            break;
        start = next + 4;
    }
    return out;
}

std::string mutateRequest(std::string text, std::minstd_rand &rng) {
    const auto lines = requestLines(text);
    if (lines.empty())
        return text;
    const auto [first, query] = lines[rng() % lines.size()];
    const auto queryEnd = std::min(text.find('\n', query), text.size());
    switch (rng() % 3) {
    case 0: { // a value swapped
        std::vector<std::size_t> values;
        for (auto at = text.find('=', query); at < queryEnd; at = text.find('=', at + 1))
            values.push_back(at + 1);
        if (values.empty())
            break;
        const std::size_t at = values[rng() % values.size()];
        const std::size_t end = std::min(text.find('&', at), queryEnd);
        text.replace(at, end - at, pick(kValues, rng));
        break;
    }
    case 1: { // a parameter added
        const std::string pair = std::string(pick(kParameters, rng)) + "=" + pick(kValues, rng);
        text.insert(queryEnd, (queryEnd > query ? "&" : "") + pair);
        break;
    }
    default: { // another method
        const auto space = text.find(' ', first);
        const auto space2 = space == std::string::npos ? space : text.find(' ', space + 1);
        if (space2 == std::string::npos || space2 > query)
            break;
        text.replace(space + 1, space2 - space - 1, pick(kMethods, rng));
    }
    }
    return text;
}

} // namespace

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t *data, std::size_t size, std::size_t maxSize);

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t *data, std::size_t size,
                                               std::size_t maxSize, unsigned int seed) {
    std::minstd_rand rng(seed);
    if (rng() % 2 != 0)
        return LLVMFuzzerMutate(data, size, maxSize);
    const std::string out = mutateRequest(std::string(reinterpret_cast<char *>(data), size), rng);
    if (out.size() > maxSize)
        return LLVMFuzzerMutate(data, size, maxSize);
    std::copy(out.begin(), out.end(), data);
    return out.size();
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    world = new World;
    world->show = std::getenv("SONARBOX_FUZZ_SHOW") != nullptr;
    setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char *>(data), size);
    resetState();
    ServerContext &ctx = *world->ctx;
    for (int i = 0; i < kMaxRequests && !input.empty(); ++i) {
        const auto end = input.find("\n%%\n");
        const std::string_view block = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 4);
        Exchange ex;
        if (!build(block, ctx, ex.req))
            continue;
        try {
            subsonic::dispatch(ctx, ex.req, ex.res);
        } catch (const std::exception &e) {
            std::fprintf(stderr, "exception: %s\n", e.what());
            failed("an exception (answered as 500)", ex);
        } catch (...) {
            failed("an exception (answered as 500)", ex);
        }
        awaitDeferred(ex.res);
        checkAnswer(ex);
        if (world->show)
            std::fprintf(stderr, "%s %s -> %d %s %.300s\n", ex.req.method.c_str(),
                         ex.req.target.c_str(), ex.res.status,
                         header(ex.res, "Content-Type").c_str(),
                         ex.res.fileFd >= 0 ? "(file)" : ex.res.body.c_str());
    }
    return 0;
}
