// What a hostile or careless player, upload or device can try against the real
// server: files that make the demuxer read elsewhere, files that are no audio,
// covers that would take the server's memory, more streams than are fair, and
// failed credentials that would lock others out.
#include "Crypto.h"
#include "TestChild.h"
#include "TestServer.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <zlib.h>

#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <set>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using cloud::json::Value;
using namespace cloudtest;

namespace {

const std::string kPassword = "desktop secret";

// The API error of a reply as code and message; code -1 when it is none.
struct ApiError {
    std::int64_t code = -1;
    std::string message;
};

ApiError apiError(const Reply &r) {
    const auto v = r.json();
    const Value *response = v ? v->find("subsonic-response") : nullptr;
    const Value *error = response ? response->find("error") : nullptr;
    if (!error)
        return {};
    const Value *code = error->find("code");
    const Value *message = error->find("message");
    return {code && code->isInteger() ? code->asInteger() : -2,
            message && message->isString() ? message->asString() : std::string()};
}

std::string header(const Reply &r, const std::string &name) {
    const auto it = r.headers.find(name);
    return it == r.headers.end() ? std::string() : it->second;
}

std::string tokenAuth(const std::string &user, const std::string &password) {
    const std::string salt = cloud::crypto::randomHex(6);
    return "u=" + percentEncode(user) + "&t=" + md5Hex(password + salt) + "&s=" + salt;
}

// The key of the only stored object, the stored copy of a single upload.
std::string onlyStoredKey(const TestServer &server) {
    const auto keys = server.storedKeys();
    if (keys.size() != 1)
        throw std::runtime_error("expected one stored file, found " + std::to_string(keys.size()));
    return keys.front();
}

std::string firstSongId(TestServer &server, const std::string &apiKey) {
    const auto v = server.get("/rest/search3?f=json&query=&apiKey=" + apiKey).json();
    const Value *result = v ? v->find("subsonic-response") : nullptr;
    result = result ? result->find("searchResult3") : nullptr;
    const Value *songs = result ? result->find("song") : nullptr;
    if (!songs || songs->asArray().empty())
        throw std::runtime_error("no songs");
    return songs->asArray().front().find("id")->asString();
}

// Notices any opening of one file, by anyone.
class OpenWatch {
public:
    explicit OpenWatch(const fs::path &file)
        : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ < 0 || inotify_add_watch(fd_, file.c_str(), IN_OPEN | IN_ACCESS) < 0)
            throw std::runtime_error("cannot watch " + file.string());
    }
    ~OpenWatch() { ::close(fd_); }
    bool seen() const {
        char events[4096];
        return ::read(fd_, events, sizeof events) > 0;
    }

private:
    int fd_;
};

// The peak resident memory of a process, in MiB.
long peakMemoryMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6)) / 1024;
    }
    return -1;
}

void putBigEndian(std::string &out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

// A PNG of width × height pixels of one colour: a few hundred kilobytes that
// decode to three bytes a pixel.
std::string plainPng(int width, int height) {
    std::string png("\x89PNG\r\n\x1a\n", 8);
    const auto chunk = [&png](const char *type, const std::string &data) {
        putBigEndian(png, static_cast<std::uint32_t>(data.size()));
        const std::string body = type + data;
        png += body;
        putBigEndian(
            png, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef *>(body.data()),
                                                  static_cast<uInt>(body.size()))));
    };
    std::string header;
    putBigEndian(header, static_cast<std::uint32_t>(width));
    putBigEndian(header, static_cast<std::uint32_t>(height));
    header += std::string("\x08\x02\x00\x00\x00", 5); // 8-bit RGB
    chunk("IHDR", header);
    // Every row: filter "none", then the pixels.
    std::string row(1 + 3 * static_cast<std::size_t>(width), '\0');
    for (std::size_t i = 1; i < row.size(); i += 3)
        row[i + 2] = '\xC0';
    z_stream z{};
    deflateInit(&z, Z_BEST_COMPRESSION);
    std::string compressed;
    std::vector<unsigned char> out(1 << 16);
    for (int y = 0; y < height; ++y) {
        z.next_in = reinterpret_cast<Bytef *>(row.data());
        z.avail_in = static_cast<uInt>(row.size());
        const int flush = y + 1 == height ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, flush);
            compressed.append(reinterpret_cast<char *>(out.data()), out.size() - z.avail_out);
        } while (z.avail_out == 0 || (flush == Z_FINISH && z.avail_in > 0));
    }
    deflateEnd(&z);
    chunk("IDAT", compressed);
    chunk("IEND", "");
    return png;
}

// An MP3 of two seconds that embeds a PNG cover of width × height.
std::string songWithCover(const fs::path &dir, int width, int height) {
    const std::string name = "cover-" + std::to_string(width);
    const fs::path picture = dir / (name + ".png");
    std::ofstream(picture, std::ios::binary) << plainPng(width, height);
    const fs::path out = dir / (name + ".mp3");
    const std::string cmd =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=300:duration=2 -i '" +
        picture.string() +
        "' -map 0:a -map 1:v -c:v copy -disposition:v attached_pic -id3v2_version 3 "
        "-metadata title=Covered -b:a 64k '" +
        out.string() + "'";
    if (testchild::shell(cmd) != 0)
        throw std::runtime_error("ffmpeg failed: " + cmd);
    return readFile(out);
}

// Status and media type of a GET that may wait long for a busy worker (a
// loaded or sanitized build decodes slowly): past the usual client time-out.
std::pair<int, std::string> patientGet(int port, const std::string &path) {
    httplib::Client cli("127.0.0.1", port);
    cli.set_read_timeout(180, 0);
    const auto result = cli.Get(path.c_str());
    if (!result)
        return {0, {}};
    return {result->status, result->get_header_value("Content-Type")};
}

// One account whose library is one song with a cover of width × height, and
// the account's phone.
struct CoveredSong {
    CoveredSong(int width, int height) {
        server.addUser("ann@example.org", kPassword);
        const std::string ann = server.loginOrFail("ann@example.org", kPassword);
        const Reply up =
            server.upload(ann, "covered.mp3", songWithCover(work.path(), width, height));
        if (up.status != 200)
            throw std::runtime_error("upload refused: " + up.body);
        phone = addPlayerPassword(server, "ann@example.org", "phone");
        id = firstSongId(server, phone.apiKey);
    }
    TestServer server;
    TempDir work;
    PlayerCredentials phone;
    std::string id;
};

// A request whose answer is left unread after its first bytes, as a player
// that has buffered enough holds it; closed when the object goes.
class HeldRequest {
public:
    HeldRequest(int port, const std::string &path)
        : fd_(connectLocal(port, 30000)) {
        const std::string request =
            "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        if (fd_ < 0 || ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) < 0)
            return;
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n > 0)
            head_.assign(buf, static_cast<std::size_t>(n));
    }
    ~HeldRequest() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    HeldRequest(const HeldRequest &) = delete;
    HeldRequest &operator=(const HeldRequest &) = delete;
    const std::string &head() const { return head_; }

private:
    int fd_;
    std::string head_;
};

TEST(HostileUploadTest, OnlyAudioOfAnAcceptedFormatIsStored) {
    TestServer server;
    TempDir work;
    server.addUser("ann@example.org", kPassword);
    const std::string ann = server.loginOrFail("ann@example.org", kPassword);
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"notes.mp3", "These are my notes, not a song.\n"},
        {"noise.mp3", std::string(40000, 'x')},
        {"header-only.wav", wavBytes(4096, "x").substr(0, 44)},
    };
    for (const auto &[name, bytes] : refused) {
        const Reply r = server.upload(ann, name, bytes);
        EXPECT_EQ(r.status, 415) << name;
        EXPECT_EQ(r.member("responseText"), "the file is not audio of an accepted format") << name;
        EXPECT_EQ(header(r, "x-content-type-options"), "nosniff") << name;
    }
    EXPECT_EQ(server.storedCount(), 0);
    EXPECT_EQ(server.unfinishedCount(), 0);

    // Every kind of file the desktop client offers is taken, and listed as what it is.
    const auto make = [&work](const std::string &name, const std::string &args) {
        const fs::path out = work.path() / name;
        const std::string cmd = "ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                                "sine=frequency=500:duration=1 " +
                                args + " '" + out.string() + "'";
        if (testchild::shell(cmd) != 0)
            throw std::runtime_error("ffmpeg failed: " + cmd);
        return readFile(out);
    };
    const fs::path svx = work.path() / "voice.8svx";
    ASSERT_EQ(testchild::shell("sox -n -r 8000 -c 1 '" + svx.string() + "' synth 1 sine 500"), 0);
    const std::map<std::string, std::pair<std::string, std::string>> accepted = {
        {"a.mp3", {make("a.mp3", "-b:a 96k"), "mp3"}},
        {"b.m4a", {make("b.m4a", "-c:a aac"), "m4a"}},
        {"c.aac", {make("c.aac", "-c:a aac -f adts"), "aac"}},
        {"d.aif", {make("d.aif", "-f aiff"), "aiff"}},
        {"e.iff", {readFile(svx), "iff"}},
        {"f.ra", {make("f.ra", "-ar 8000 -ac 1 -c:a real_144 -f rm"), "ra"}},
        {"g.wav", {make("g.wav", ""), "wav"}},
        {"h.wma", {make("h.wma", "-c:a wmav2 -f asf"), "wma"}},
        {"i.ogg", {make("i.ogg", "-c:a libvorbis"), "ogg"}},
        {"j.mpa", {make("j.mpa", "-c:a mp2 -f mp2"), "mp3"}},
        {"k.flac", {make("k.flac", ""), "flac"}},
    };
    for (const auto &[name, file] : accepted) {
        const Reply r = server.upload(ann, name, file.first);
        EXPECT_EQ(r.status, 200) << name << ": " << r.body;
    }
    const PlayerCredentials phone = addPlayerPassword(server, "ann@example.org", "phone");
    const auto listed = server.get("/rest/search3?f=json&query=&apiKey=" + phone.apiKey).json();
    ASSERT_TRUE(listed);
    std::set<std::string> suffixes;
    for (const auto &song :
         listed->find("subsonic-response")->find("searchResult3")->find("song")->asArray())
        suffixes.insert(song.find("suffix")->asString());
    EXPECT_EQ(suffixes, (std::set<std::string>{"aac", "aiff", "flac", "iff", "m4a", "mp3", "ogg",
                                               "ra", "wav", "wma"}));
}

TEST(HostileUploadTest, AStoredPlaylistStreamsNothingFromOutside) {
    // A server of an earlier version took anything as a song; what it stored
    // is served as it is, and what it names is never read.
    CoveredSong song(300, 200);
    TestServer &server = song.server;
    const PlayerCredentials &phone = song.phone;
    const std::string &id = song.id;
    const fs::path secret =
        makeAudio(song.work.path(), "secret.flac", 440, "Secret", "Other", "Hers");
    const std::string playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10.0,\n" +
                                 secret.string() + "\n#EXT-X-ENDLIST\n";
    server.stop();
    const auto objects = server.objects();
    auto replaced = objects->createAt(onlyStoredKey(server));
    ASSERT_TRUE(replaced->write(playlist.data(), playlist.size()));
    replaced->commit();
    server.start();

    const OpenWatch watch(secret);
    for (const char *query : {"maxBitRate=64", "format=opus", "maxBitRate=64&timeOffset=3"}) {
        const Reply r =
            server.get("/rest/stream?apiKey=" + phone.apiKey + "&id=" + id + "&" + query);
        EXPECT_EQ(r.status, 200) << query;
        EXPECT_EQ(r.body, playlist) << query;
        EXPECT_EQ(header(r, "x-content-type-options"), "nosniff");
    }
    const Reply cover =
        server.get("/rest/getCoverArt?f=json&size=64&apiKey=" + phone.apiKey + "&id=" + id);
    EXPECT_EQ(apiError(cover).code, 70);
    EXPECT_FALSE(watch.seen()) << "the server opened " << secret;
}

TEST(HostileCoverTest, AHugeCoverIsRefusedBeforeItIsDecoded) {
    CoveredSong song(12000, 12000);
    TestServer &server = song.server;
    const std::string &id = song.id;
    const PlayerCredentials &phone = song.phone;
    std::vector<std::future<Reply>> covers;
    for (int i = 0; i < 8; ++i)
        covers.push_back(std::async(std::launch::async, [&server, &phone, &id, i] {
            return server.get("/rest/getCoverArt?f=json&apiKey=" + phone.apiKey + "&id=" + id +
                              "&size=" + std::to_string(64 + i));
        }));
    for (auto &c : covers) {
        const ApiError e = apiError(c.get());
        EXPECT_EQ(e.code, 70);
        EXPECT_EQ(e.message, "cover art not found");
    }
    const long peak = peakMemoryMiB(server.pid());
    std::printf("[figure] 8 parallel covers of 12000 x 12000: server peak %ld MiB\n", peak);
    // Decoded, one such picture alone takes 550 MiB.
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 400);
}

TEST(HostileCoverTest, ScaledCoversAreKeptInMemory) {
    CoveredSong song(400, 300);
    TestServer &server = song.server;
    const std::string path = "/rest/getCoverArt?apiKey=" + song.phone.apiKey + "&id=" + song.id;
    const Reply first = server.get(path + "&size=100");
    ASSERT_EQ(first.status, 200);
    ASSERT_EQ(header(first, "content-type"), "image/jpeg");
    // With the file gone, only the kept picture can answer.
    server.objects()->remove(onlyStoredKey(server));
    const Reply again = server.get(path + "&size=100");
    EXPECT_EQ(again.status, 200);
    EXPECT_TRUE(again.body == first.body);
    EXPECT_EQ(apiError(server.get(path + "&size=120&f=json")).code, 70);
}

TEST(HostileLoadTest, StreamsAreCappedAndPingsAnsweredWhileEveryWorkerIsBusy) {
    // One event thread and three workers: on a server that decoded on its
    // event threads, the ping would wait for every cover before it.
    TestServer server({"--threads", "1", "--workers", "3"});
    TempDir work;
    server.addUser("ann@example.org", kPassword);
    server.addUser("bob@example.org", kPassword);
    const std::string ann = server.loginOrFail("ann@example.org", kPassword);
    const std::string bob = server.loginOrFail("bob@example.org", kPassword);
    ASSERT_EQ(server.upload(ann, "big.mp3", songWithCover(work.path(), 5000, 5000)).status, 200);
    ASSERT_EQ(server
                  .upload(ann, "long.mp3",
                          readFile(makeSong(work.path(), "long.mp3", 440, "-metadata title=Long",
                                            false, 120)))
                  .status,
              200);
    ASSERT_EQ(server
                  .upload(bob, "bob.mp3",
                          readFile(makeSong(work.path(), "bob.mp3", 660, "-metadata title=Bob",
                                            false, 30)))
                  .status,
              200);
    const PlayerCredentials annPhone = addPlayerPassword(server, "ann@example.org", "phone");
    const PlayerCredentials bobPhone = addPlayerPassword(server, "bob@example.org", "phone");
    std::string coverId;
    std::string longId;
    {
        const auto v = server.get("/rest/search3?f=json&query=&apiKey=" + annPhone.apiKey).json();
        for (const auto &s :
             v->find("subsonic-response")->find("searchResult3")->find("song")->asArray())
            (s.find("title")->asString() == "Long" ? longId : coverId) = s.find("id")->asString();
    }
    const std::string stream =
        "/rest/stream?f=json&maxBitRate=64&apiKey=" + annPhone.apiKey + "&id=" + longId;

    // Four streams of one account, as a player preloading on two devices holds them.
    std::vector<std::unique_ptr<HeldRequest>> held;
    for (int i = 0; i < 4; ++i) {
        held.push_back(std::make_unique<HeldRequest>(server.port(), stream));
        EXPECT_NE(held.back()->head().find("audio/mpeg"), std::string::npos) << held.back()->head();
    }
    const Reply fifth = server.get(stream);
    EXPECT_EQ(fifth.status, 200);
    EXPECT_EQ(apiError(fifth).message, "too many streams");
    EXPECT_EQ(apiError(fifth).code, 0);
    // Another account is not held up by the first one's streams.
    const Reply bobs = server.get("/rest/stream?maxBitRate=64&apiKey=" + bobPhone.apiKey +
                                  "&id=" + firstSongId(server, bobPhone.apiKey));
    EXPECT_EQ(header(bobs, "content-type"), "audio/mpeg");

    // Covers of the large picture at sizes never asked before keep the
    // workers that covers may take busy.
    std::atomic<int> coversDone{0};
    std::vector<std::future<std::pair<int, std::string>>> covers;
    for (int i = 0; i < 4; ++i)
        covers.push_back(std::async(std::launch::async, [&, i] {
            auto r = patientGet(server.port(), "/rest/getCoverArt?apiKey=" + annPhone.apiKey +
                                                   "&id=" + coverId +
                                                   "&size=" + std::to_string(100 + i));
            ++coversDone;
            return r;
        }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Reply ping = server.get("/rest/ping?f=json&apiKey=" + bobPhone.apiKey);
    const int doneAtPing = coversDone;
    EXPECT_EQ(ping.status, 200);
    EXPECT_EQ(apiError(ping).code, -1) << ping.body;
    EXPECT_LT(doneAtPing, 4) << "the ping waited for every cover";
    for (auto &c : covers)
        EXPECT_EQ(c.get(), std::make_pair(200, std::string("image/jpeg")));

    // A stream that ends frees its place.
    held.pop_back();
    std::unique_ptr<HeldRequest> again;
    for (int tries = 0; tries < 100; ++tries) {
        again = std::make_unique<HeldRequest>(server.port(), stream);
        if (again->head().find("too many streams") == std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_NE(again->head().find("audio/mpeg"), std::string::npos) << again->head();
}

TEST(PlayerThrottleTest, AForgottenDeviceNeverLocksOutTheAccountsOtherPlayers) {
    TestServer server;
    server.addUser("ann@example.org", kPassword);
    server.addUser("bob@example.org", kPassword);
    const PlayerCredentials phone = addPlayerPassword(server, "ann@example.org", "phone");
    const PlayerCredentials tablet = addPlayerPassword(server, "ann@example.org", "tablet");
    const PlayerCredentials bobs = addPlayerPassword(server, "bob@example.org", "phone");
    ASSERT_EQ(server.run({"remove-player-password", "ann@example.org", "tablet"}).exitCode, 0);
    const auto ping = [&server](const std::string &auth) {
        return server.get("/rest/ping?f=json&" + auth);
    };
    // The revoked tablet polls on, from the same address as the phone, by
    // password and by key: past the account's and the address's allowance.
    std::string lastRefusal;
    for (int i = 0; i < 30; ++i) {
        const ApiError byPassword = apiError(ping(tokenAuth("ann@example.org", tablet.password)));
        EXPECT_EQ(byPassword.code, 40);
        EXPECT_EQ(apiError(ping("apiKey=" + tablet.apiKey)).code, 44);
        lastRefusal = byPassword.message;
    }
    // Guessing is slowed down, for a name and for a whole address: someone in
    // the same household tries keys of their own making.
    EXPECT_NE(lastRefusal.find("try again in"), std::string::npos) << lastRefusal;
    for (int i = 0; i < 25; ++i)
        lastRefusal = apiError(ping("apiKey=" + cloud::crypto::randomHex(20))).message;
    EXPECT_NE(lastRefusal.find("try again in"), std::string::npos) << lastRefusal;
    // ...but the phone's next request goes through, by either scheme, and so
    // does another account's player behind the same address.
    EXPECT_EQ(apiError(ping(tokenAuth("ann@example.org", phone.password))).code, -1);
    EXPECT_EQ(apiError(ping("p=" + phone.password + "&u=ann%40example.org")).code, -1);
    EXPECT_EQ(apiError(ping("apiKey=" + phone.apiKey)).code, -1);
    EXPECT_EQ(apiError(ping("apiKey=" + bobs.apiKey)).code, -1);
}

} // namespace
