// Lower bit rates for players: `stream` with maxBitRate or format against the
// real server, the answers decoded again with FFmpeg to see what they are.
#include "TestServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using namespace cloudtest;

namespace {

// What a stream decodes to: every packet of its audio decoded, so a damaged
// stream shows as errors and its length is what a player would hear.
struct Decoded {
    std::string codec;
    int sampleRate = 0;
    double seconds = 0;
    int errors = 0;
};

Decoded decode(const std::string &bytes) {
    TempDir dir;
    const fs::path file = dir.path() / "stream";
    std::ofstream(file, std::ios::binary) << bytes;
    Decoded d;
    AVFormatContext *format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0) {
        d.errors = 1;
        return d;
    }
    const AVCodec *codec = nullptr;
    const int index = avformat_find_stream_info(format, nullptr) < 0
                          ? -1
                          : av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    AVCodecContext *ctx = index >= 0 ? avcodec_alloc_context3(codec) : nullptr;
    if (!ctx || avcodec_parameters_to_context(ctx, format->streams[index]->codecpar) < 0 ||
        avcodec_open2(ctx, codec, nullptr) < 0) {
        d.errors = 1;
    } else {
        d.codec = codec->name;
        d.sampleRate = ctx->sample_rate;
        AVPacket *packet = av_packet_alloc();
        AVFrame *frame = av_frame_alloc();
        std::int64_t samples = 0;
        const auto drain = [&] {
            while (avcodec_receive_frame(ctx, frame) >= 0) {
                samples += frame->nb_samples;
                av_frame_unref(frame);
            }
        };
        while (av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == index) {
                if (avcodec_send_packet(ctx, packet) < 0)
                    ++d.errors;
                drain();
            }
            av_packet_unref(packet);
        }
        avcodec_send_packet(ctx, nullptr);
        drain();
        d.seconds = ctx->sample_rate > 0 ? double(samples) / ctx->sample_rate : 0;
        av_frame_free(&frame);
        av_packet_free(&packet);
    }
    avcodec_free_context(&ctx);
    avformat_close_input(&format);
    return d;
}

double kbps(const std::string &bytes, double seconds) {
    return seconds > 0 ? bytes.size() * 8 / seconds / 1000 : 0;
}

// The whole answer as it came over the wire, until the server closed.
std::string rawGet(int port, const std::string &path) {
    const int fd = connectLocal(port, 10000);
    const std::string request = "GET " + path +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                "Connection: close\r\n\r\n";
    std::string reply;
    if (fd < 0 || ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0)
        return reply;
    char buf[16384];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
        reply.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return reply;
}

// The server's open descriptors. On the scaled back end its connections to
// the object store are kept for the next request, so sockets are not counted
// there: encoders and the files they read are what must go.
std::size_t openFiles(pid_t pid) {
    std::size_t n = 0;
    for (const auto &entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        std::error_code ec;
        const auto target = fs::read_symlink(entry.path(), ec).string();
        if (!scaledBackend() || target.rfind("socket:", 0) != 0)
            ++n;
    }
    return n;
}

class TranscodeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        av_log_set_level(AV_LOG_QUIET); // decode() judges the streams itself
        server = new TestServer();
        media = new TempDir();
        server->addUser("ann@example.com", "ann-secret");
        server->addUser("bob@example.com", "bob-secret");
        const fs::path dir = media->path();
        const std::string tags = "-metadata artist='Ann Band' -metadata album='Long Play' ";
        // Title, file name, bytes.
        std::vector<std::tuple<std::string, std::string, std::string>> songs{
            {"Twenty", "twenty.mp3",
             readFile(makeSong(dir, "twenty.mp3", 440, tags + "-metadata title=Twenty", true, 20))},
            {"Lossless", "lossless.flac",
             readFile(makeSong(dir, "lossless.flac", 550, tags + "-metadata title=Lossless", false,
                               12))},
            {"Minute", "minute.mp3",
             readFile(
                 makeSong(dir, "minute.mp3", 660, tags + "-metadata title=Minute", false, 60))}};
        // The first 40 % of a song, as an interrupted copy leaves it. Its index
        // comes first, so the demuxer finds the data missing (not a mere end).
        const std::string cut = readFile(makeSong(
            dir, "cut.m4a", 770, tags + "-metadata title=Cut -movflags +faststart", false, 20));
        songs.emplace_back("Cut", "cut.m4a", cut.substr(0, cut.size() * 2 / 5));
        files = new std::map<std::string, std::string>;
        const std::string session = server->loginOrFail("ann@example.com", "ann-secret");
        for (const auto &[title, name, bytes] : songs) {
            server->upload(session, name, bytes);
            (*files)[title] = bytes;
        }
        const std::string bob = server->loginOrFail("bob@example.com", "bob-secret");
        server->upload(bob, "bob.mp3",
                       readFile(makeSong(dir, "bob.mp3", 880, "-metadata title=Bobs", false)));
        ann = new PlayerCredentials(addPlayerPassword(*server, "ann@example.com", "phone"));
        bobKey = new std::string(addPlayerPassword(*server, "bob@example.com", "phone").apiKey);
        ids = new std::map<std::string, std::string>(songIds(ann->apiKey));
        bobSong = new std::string(songIds(*bobKey).begin()->second);
    }
    static void TearDownTestSuite() {
        delete server;
        delete media;
        delete files;
        delete ann;
        delete bobKey;
        delete ids;
        delete bobSong;
    }

    static std::map<std::string, std::string> songIds(const std::string &apiKey) {
        const Reply r = server->get("/rest/search3?f=json&query=&apiKey=" + apiKey);
        std::map<std::string, std::string> out;
        const auto v = r.json();
        const auto *songs = v ? v->find("subsonic-response") : nullptr;
        songs = songs && songs->find("searchResult3") ? songs->find("searchResult3")->find("song")
                                                      : nullptr;
        if (!songs)
            throw std::runtime_error("no songs: " + r.body);
        for (const auto &s : songs->asArray())
            out[s.find("title") ? s.find("title")->asString() : ""] = s.find("id")->asString();
        return out;
    }

    static Reply stream(const std::string &title, const std::string &query) {
        return server->get("/rest/stream?apiKey=" + ann->apiKey + "&id=" + ids->at(title) + "&" +
                           query);
    }

    static inline TestServer *server = nullptr;
    static inline TempDir *media = nullptr;
    static inline std::map<std::string, std::string> *files = nullptr;
    static inline PlayerCredentials *ann = nullptr;
    static inline std::string *bobKey = nullptr;
    static inline std::map<std::string, std::string> *ids = nullptr;
    static inline std::string *bobSong = nullptr;
};

TEST_F(TranscodeTest, MaxBitRateGivesMp3AtThatRateStreamedAsItIsMade) {
    for (const int rate : {48, 80}) { // under the FLAC's own rate of about 100 kb/s
        Reply r = stream("Lossless", "maxBitRate=" + std::to_string(rate));
        ASSERT_EQ(r.status, 200) << rate;
        EXPECT_EQ(r.headers["content-type"], "audio/mpeg");
        // Made while it is sent: no length is known up front.
        EXPECT_EQ(r.headers.count("content-length"), 0u);
        EXPECT_EQ(r.headers["transfer-encoding"], "chunked");
        const Decoded d = decode(r.body);
        EXPECT_EQ(d.codec, "mp3float");
        EXPECT_EQ(d.errors, 0);
        EXPECT_NEAR(d.seconds, 12, 0.2);
        EXPECT_NEAR(kbps(r.body, d.seconds), rate, rate * 0.15);
    }
    // From an MP3 too, and from a later point on.
    const Reply late = stream("Twenty", "maxBitRate=96&timeOffset=15");
    const Decoded d = decode(late.body);
    EXPECT_EQ(d.errors, 0);
    EXPECT_NEAR(d.seconds, 5, 0.3);
    EXPECT_NEAR(kbps(late.body, d.seconds), 96, 96 * 0.15);

    EXPECT_NE(
        server->get("/rest/stream?f=json&maxBitRate=64&apiKey=" + ann->apiKey + "&id=" + *bobSong)
            .body.find("\"code\":70"),
        std::string::npos)
        << "another account's song";
}

// A player that asks for the length (estimateContentLength) gets a stream of
// exactly the length it is told, and may seek in it by bytes: a range maps to
// the time it stands for at the target rate.
TEST_F(TranscodeTest, AStatedLengthIsKeptAndRangesSeekByTime) {
    const auto length = [](const Reply &r) {
        return r.headers.count("content-length") ? std::stoll(r.headers.at("content-length")) : -1;
    };
    Reply whole = stream("Lossless", "maxBitRate=64&estimateContentLength=True");
    ASSERT_EQ(whole.status, 200);
    EXPECT_EQ(whole.headers["accept-ranges"], "bytes");
    // 12 seconds at 64 kb/s: 8,000 bytes a second, padded or cut to the byte.
    EXPECT_NEAR(length(whole), 96000, 200);
    EXPECT_EQ(static_cast<long long>(whole.body.size()), length(whole));
    Decoded d = decode(whole.body);
    EXPECT_EQ(d.errors, 0);
    EXPECT_NEAR(d.seconds, 12, 0.2);

    const long long total = length(whole);
    const Reply later =
        server->get("/rest/stream?apiKey=" + ann->apiKey + "&id=" + ids->at("Lossless") +
                        "&maxBitRate=64&estimateContentLength=1",
                    {{"Range", "bytes=32000-"}});
    EXPECT_EQ(later.status, 206);
    EXPECT_EQ(later.headers.at("content-range"),
              "bytes 32000-" + std::to_string(total - 1) + "/" + std::to_string(total));
    EXPECT_EQ(static_cast<long long>(later.body.size()), total - 32000);
    d = decode(later.body);
    EXPECT_EQ(d.errors, 0);
    EXPECT_NEAR(d.seconds, 8, 0.3); // from 4 seconds in
    const Reply past =
        server->get("/rest/stream?apiKey=" + ann->apiKey + "&id=" + ids->at("Lossless") +
                        "&maxBitRate=64&estimateContentLength=true",
                    {{"Range", "bytes=" + std::to_string(total) + "-"}});
    EXPECT_EQ(past.status, 416);
    EXPECT_EQ(past.headers.at("content-range"), "bytes */" + std::to_string(total));

    // From a time offset, in Opus too.
    const Reply late = stream("Twenty", "format=opus&maxBitRate=48&timeOffset=15&"
                                        "estimateContentLength=true");
    // 5 seconds at 48 kb/s, and Ogg's pages: 6,100 bytes a second and 512.
    EXPECT_NEAR(length(late), 5 * 6100 + 512, 300);
    EXPECT_EQ(static_cast<long long>(late.body.size()), length(late));
    d = decode(late.body);
    EXPECT_EQ(d.codec, "opus");
    EXPECT_NEAR(d.seconds, 5, 0.3);
}

TEST_F(TranscodeTest, OpusOnRequestAtTheDefaultOrTheAskedRate) {
    for (const auto &[query, rate] : std::vector<std::pair<std::string, int>>{
             {"format=opus", 96}, {"format=OPUS&maxBitRate=48", 48}}) {
        Reply r = stream("Twenty", query);
        ASSERT_EQ(r.status, 200) << query;
        EXPECT_EQ(r.headers["content-type"], "audio/ogg") << query;
        const Decoded d = decode(r.body);
        EXPECT_EQ(d.codec, "opus") << query;
        EXPECT_EQ(d.sampleRate, 48000);
        EXPECT_EQ(d.errors, 0) << query;
        EXPECT_NEAR(d.seconds, 20, 0.2) << query;
        EXPECT_NEAR(kbps(r.body, d.seconds), rate, rate * 0.15) << query;
    }
}

TEST_F(TranscodeTest, TheOriginalWhenNothingWouldBeGained) {
    const std::string &twenty = files->at("Twenty"); // a 128 kb/s MP3
    for (const char *query : {"", "maxBitRate=0", "maxBitRate=320", "format=mp3", "format=raw",
                              "format=raw&maxBitRate=64", "format=aac", "maxBitRate=128"}) {
        Reply r = stream("Twenty", query);
        EXPECT_EQ(r.status, 200) << query;
        EXPECT_TRUE(r.body == twenty) << query << ": " << r.body.size() << " bytes";
    }
    // Where the original goes out, ranges still work.
    EXPECT_EQ(server
                  ->get("/rest/stream?apiKey=" + ann->apiKey + "&id=" + ids->at("Twenty") +
                            "&maxBitRate=320",
                        {{"Range", "bytes=4-9"}})
                  .body,
              twenty.substr(4, 6));
    // A lower limit than the song's own rate does transcode.
    EXPECT_EQ(stream("Twenty", "maxBitRate=127").headers["transfer-encoding"], "chunked");
    EXPECT_NE(stream("Twenty", "maxBitRate=fast").body.find("must be a whole number"),
              std::string::npos);
}

TEST_F(TranscodeTest, DamagedAndForeignFilesLoseNothing) {
    // A file cut short plays as far as it goes, as a complete stream.
    Reply cut = stream("Cut", "maxBitRate=64");
    ASSERT_EQ(cut.status, 200);
    EXPECT_EQ(cut.headers["content-type"], "audio/mpeg");
    const Decoded d = decode(cut.body);
    EXPECT_EQ(d.errors, 0);
    EXPECT_NEAR(d.seconds, 8, 0.6);
    // Ended by the last chunk, not by a dropped connection.
    const std::string wire = rawGet(server->port(), "/rest/stream?apiKey=" + ann->apiKey +
                                                        "&id=" + ids->at("Cut") + "&maxBitRate=64");
    EXPECT_GT(wire.size(), cut.body.size());
    EXPECT_EQ(wire.substr(wire.size() - 7), "\r\n0\r\n\r\n");
}

TEST_F(TranscodeTest, ClientsThatLeaveEarlyLeaveNothingBehind) {
    const std::size_t before = openFiles(server->pid());
    for (int i = 0; i < 8; ++i) {
        httplib::Client cli("127.0.0.1", server->port());
        std::size_t got = 0;
        const auto result =
            cli.Get("/rest/stream?apiKey=" + ann->apiKey + "&id=" + ids->at("Minute") +
                        (i % 2 ? "&format=opus" : "&maxBitRate=64"),
                    [&got](const char *, std::size_t n) {
                        got += n;
                        return false; // hang up after the first piece
                    });
        EXPECT_GT(got, 0u) << i;
    }
    // Every encoder and its file are let go once the server sees the hang-up.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (openFiles(server->pid()) > before && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LE(openFiles(server->pid()), before);

    Reply whole = stream("Minute", "maxBitRate=32");
    EXPECT_EQ(whole.status, 200);
    EXPECT_NEAR(decode(whole.body).seconds, 60, 0.3);
}

} // namespace
