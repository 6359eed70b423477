// The music-player scenario of cloud_load: one account of N songs (100,000 by
// default) answers search3 and getAlbumList2, then C clients stream and seek
// for S seconds, every byte checked against the stored file; last, transcoded
// streams: the first byte, the encoder's speed over the first 30 s of audio,
// and the pace after them.
//
//   cloud_load --stream [--songs 100000] [--clients 50] [--seconds 30] [--queries 40]
//                       [--pace-seconds 8]
#include "BenchLibrary.h"
#include "BenchServer.h"
#include "LoadFigures.h"

#include <httplib.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    int songs = 100000;
    int clients = 50;
    int seconds = 30;
    int queries = 40;
    int paceSeconds = 8;
};

using bench::run;
using bench::Server;

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

} // namespace

int streamLoad(int argc, char **argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const int v = std::stoi(argv[i + 1]);
        if (a == "--songs")
            o.songs = v;
        else if (a == "--clients")
            o.clients = v;
        else if (a == "--seconds")
            o.seconds = v;
        else if (a == "--queries")
            o.queries = v;
        else if (a == "--pace-seconds")
            o.paceSeconds = std::max(2, v);
    }
    char tmpl[] = "/tmp/sonarbox-cloud-stream-XXXXXX";
    const fs::path work = mkdtemp(tmpl);
    const fs::path data = work / "data";
    const std::string bin = SONARBOX_CLOUD_BINARY;
    const auto listener = bench::addPlayerAccount(data, "listener@bench.example");
    if (listener.password.empty()) {
        std::fprintf(stderr, "no player password\n");
        return 1;
    }

    // Four 3-minute songs at 192 kbit/s (about 4 MiB each).
    std::vector<std::string> contents;
    std::vector<fs::path> paths;
    std::string files;
    for (int i = 0; i < 4; ++i) {
        const fs::path f = work / ("s" + std::to_string(i) + ".mp3");
        run("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=" +
            std::to_string(300 + 70 * i) + ":duration=180 -b:a 192k -metadata genre=Bench '" +
            f.string() + "'");
        std::ifstream in(f, std::ios::binary);
        contents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        paths.push_back(f);
        files += " '" + f.string() + "'";
    }
    run(bin + " import --data " + data.string() + files);
    const auto fileIds = bench::fileIdsOf(bench::sqliteOf(data), paths);
    std::printf("setting up: %d songs in one account over %zu files\n", o.songs, fileIds.size());
    auto t0 = Clock::now();
    bench::fillLibrary(bench::sqliteOf(data), listener.email, fileIds, o.songs);
    bench::indexLibrary(bench::sqliteOf(data));
    std::printf("library of %d songs made in %.1f s\n", o.songs, msSince(t0) / 1000);

    Server server(data, {"--max-connections-per-address", "1024"});
    const auto auth = [&listener] { return bench::playerAuth(listener); };
    httplib::Client cli("127.0.0.1", server.port);
    cli.set_keep_alive(true);

    // Query latencies.
    std::printf("\n%-40s %10s %10s\n", "query", "median ms", "p90 ms");
    std::vector<std::string> songIds;
    const auto measure = [&](const std::string &label, const std::string &method,
                             const std::function<std::string(int)> &query) {
        std::vector<double> ms;
        for (int i = 0; i < o.queries; ++i) {
            const auto t = Clock::now();
            auto r = cli.Get("/rest/" + method + "?" + auth() + "&" + query(i));
            ms.push_back(msSince(t));
            if (!r || r->status != 200 || r->body.find("\"status\":\"ok\"") == std::string::npos) {
                std::fprintf(stderr, "%s failed\n", label.c_str());
                std::exit(1);
            }
            if (songIds.size() < 1000) {
                static const std::regex id("\"id\":\"(tr[0-9a-f]{22})\"");
                for (auto it = std::sregex_iterator(r->body.begin(), r->body.end(), id);
                     it != std::sregex_iterator(); ++it)
                    songIds.push_back((*it)[1]);
            }
        }
        std::printf("%-40s %10.1f %10.1f\n", label.c_str(), bench::median(ms),
                    bench::percentile(ms, 90));
    };
    const char *words[] = {"blue", "night", "river", "light", "stone", "glass", "fire"};
    measure("search3 (a word; 20 each)", "search3",
            [&](int i) { return std::string("query=") + words[i % 7]; });
    measure("search3 (a song number)", "search3",
            [&](int i) { return "query=" + std::to_string(i * 2459 % o.songs); });
    measure("search3 (empty: page 1 of everything)", "search3",
            [](int) { return std::string("query=&songCount=100"); });
    for (const char *type :
         {"newest", "alphabeticalByName", "alphabeticalByArtist", "random", "frequent"})
        measure(
            std::string("getAlbumList2 type=") + type + " size=50", "getAlbumList2", [type](int i) {
                return std::string("type=") + type + "&size=50&offset=" + std::to_string(i * 50);
            });
    // Streaming: each client plays songs whole or seeks to random ranges.
    std::atomic<long> requests{0};
    std::atomic<long> errors{0};
    std::atomic<long long> bytes{0};
    std::mutex latMutex;
    std::vector<double> firstByte;
    const auto deadline = Clock::now() + std::chrono::seconds(o.seconds);
    std::vector<std::thread> threads;
    for (int c = 0; c < o.clients; ++c) {
        threads.emplace_back([&, c] {
            std::mt19937 rng(static_cast<unsigned>(c));
            httplib::Client client("127.0.0.1", server.port);
            client.set_keep_alive(true);
            client.set_read_timeout(30, 0);
            std::vector<double> mine;
            while (Clock::now() < deadline) {
                const std::string &id = songIds[rng() % songIds.size()];
                httplib::Headers headers;
                const bool seek = rng() % 4 != 0;
                std::size_t from = 0;
                std::size_t length = 0;
                if (seek) {
                    from = rng() % 3000000;
                    length = 65536 + rng() % 262144;
                    headers.emplace("Range", "bytes=" + std::to_string(from) + "-" +
                                                 std::to_string(from + length - 1));
                }
                const auto t = Clock::now();
                auto r = client.Get("/rest/stream?" + auth() + "&id=" + id, headers);
                mine.push_back(msSince(t));
                ++requests;
                bool ok = r && (r->status == (seek ? 206 : 200));
                if (ok) {
                    bytes += static_cast<long long>(r->body.size());
                    ok = false;
                    for (const auto &content : contents) {
                        if (seek ? content.size() > from &&
                                       content.compare(from, length, r->body) == 0
                                 : content == r->body)
                            ok = true;
                    }
                }
                if (!ok)
                    ++errors;
            }
            std::lock_guard lock(latMutex);
            firstByte.insert(firstByte.end(), mine.begin(), mine.end());
        });
    }
    for (auto &t : threads)
        t.join();
    std::printf("\nstreaming: %d clients for %d s (3 in 4 requests seek to a 64-320 KiB range)\n",
                o.clients, o.seconds);
    std::printf("requests %ld, errors %ld, %.1f MiB/s, request median %.1f ms, p99 %.1f ms\n",
                requests.load(), errors.load(),
                static_cast<double>(bytes.load()) / (1024.0 * 1024.0) / o.seconds,
                bench::median(firstByte), bench::percentile(firstByte, 99));

    // Transcoded streams: the server encodes the first 30 s of audio (the
    // lead) as fast as it can, then paces the rest to 4 × real time, so the
    // time of a whole song measures the pacing. Each song is asked for alone
    // up to the end of its lead: the first byte's wait, and the time to 30 s of
    // audio, which is the encoder's speed. Then one stream of each format at
    // once, read as fast as it comes up to --pace-seconds past the lead.
    struct Asked {
        const char *query;
        int kbps; // constant bit rate: bytes tell seconds of audio
    };
    const Asked asked[] = {{"maxBitRate=96", 96},
                           {"format=opus&maxBitRate=64", 64},
                           {"format=mp3&maxBitRate=128", 128}};
    long transcodeErrors = 0;
    long refusals = 0;
    // Reads one transcoded stream until `enough` says so; its arrivals, or
    // none when the answer was no stream. "too many streams" is asked again:
    // the server may not have seen the last stream's reader leave yet.
    const auto readStream = [&](const std::string &songId, const Asked &a,
                                const std::function<bool(const bench::Arrival &)> &enough) {
        for (int attempt = 0; attempt < 50; ++attempt) {
            httplib::Client client("127.0.0.1", server.port);
            client.set_read_timeout(60, 0);
            std::vector<bench::Arrival> arrivals;
            int status = 0;
            std::string type;
            std::string body;
            bool audio = false;
            const auto t = Clock::now();
            client.Get(
                "/rest/stream?" + auth() + "&id=" + songId + "&" + a.query, {},
                [&](const httplib::Response &res) {
                    status = res.status;
                    type = res.get_header_value("Content-Type");
                    audio = bench::classify(status, type, {}) == bench::Answer::Audio;
                    return true;
                },
                [&](const char *data, std::size_t n) {
                    if (!audio) {
                        body.append(data, n);
                        return true;
                    }
                    const std::uint64_t before = arrivals.empty() ? 0 : arrivals.back().total;
                    arrivals.push_back({msSince(t), before + n});
                    return !enough(arrivals.back());
                });
            const auto answer = bench::classify(status, type, body);
            if (answer == bench::Answer::Audio)
                return arrivals;
            if (answer != bench::Answer::TooManyStreams)
                break;
            ++refusals;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ++transcodeErrors;
        return std::vector<bench::Arrival>{};
    };
    constexpr double kLeadSeconds = 30;
    std::printf("\n%-28s %6s %14s %16s %12s\n", "transcoded stream", "songs", "first byte ms",
                "30 s of audio ms", "x real time");
    for (const auto &a : asked) {
        const auto leadBytes =
            static_cast<std::uint64_t>(kLeadSeconds * bench::bytesPerAudioSecond(a.kbps));
        std::vector<double> first;
        std::vector<double> lead;
        for (int i = 0; i < 4; ++i) {
            const auto arrivals =
                readStream(songIds[std::size_t(i)], a,
                           [&](const bench::Arrival &last) { return last.total >= leadBytes; });
            const auto reached = bench::msToReach(arrivals, leadBytes);
            if (!reached) {
                ++transcodeErrors;
                continue;
            }
            first.push_back(arrivals.front().ms);
            lead.push_back(*reached);
        }
        if (lead.empty())
            continue;
        std::printf("%-28s %6zu %14.1f %16.1f %12.0f\n", a.query, lead.size(), bench::median(first),
                    bench::median(lead), kLeadSeconds * 1000 / bench::median(lead));
    }

    // The pace: the window begins 3 s after the first byte, when the lead
    // has long arrived.
    const double paceFromMs = 3000;
    const double paceToMs = paceFromMs + 1000.0 * o.paceSeconds;
    std::printf("\npace after the lead: one stream of each at once, %.0f-%.0f s after its first "
                "byte\n",
                paceFromMs / 1000, paceToMs / 1000);
    std::printf("%-28s %18s %12s\n", "transcoded stream", "audio in window s", "x real time");
    std::vector<std::vector<bench::Arrival>> paced(std::size(asked));
    {
        std::vector<std::thread> readers;
        for (std::size_t k = 0; k < std::size(asked); ++k)
            readers.emplace_back([&, k] {
                paced[k] = readStream(songIds[k], asked[k], [&](const bench::Arrival &last) {
                    return last.ms >= paceToMs + 500;
                });
            });
        for (auto &t : readers)
            t.join();
    }
    for (std::size_t k = 0; k < std::size(asked); ++k) {
        if (paced[k].empty())
            continue;
        const double from = paced[k].front().ms + paceFromMs;
        const double to = paced[k].front().ms + paceToMs;
        const auto pace = bench::paceWithin(paced[k], from, to, asked[k].kbps);
        if (!pace) {
            ++transcodeErrors;
            continue;
        }
        const auto totalBy = [&](double ms) {
            std::uint64_t total = 0;
            for (const auto &arrival : paced[k])
                if (arrival.ms <= ms)
                    total = arrival.total;
            return double(total);
        };
        std::printf("%-28s %18.1f %12.2f\n", asked[k].query,
                    (totalBy(to) - totalBy(from)) / bench::bytesPerAudioSecond(asked[k].kbps),
                    *pace);
    }
    std::printf("transcoding errors %ld (\"too many streams\" asked again: %ld)\n", transcodeErrors,
                refusals);
    fs::remove_all(work);
    return errors.load() == 0 && transcodeErrors == 0 ? 0 : 1;
}
