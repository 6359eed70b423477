// The music-player scenario of cloud_load: one account of N songs (100,000 by
// default) answers search3 and getAlbumList2, then C clients stream and seek
// for S seconds, every byte checked against the stored file.
//
//   cloud_load --stream [--songs 100000] [--clients 50] [--seconds 30] [--queries 40]
#include "BenchServer.h"
#include "Crypto.h"
#include "Database.h"
#include "Store.h"

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
};

using bench::run;
using bench::Server;

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * v.size()))];
}

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// The library: a few real files, and N library items over them with names of
// their own (so albums, artists and searches have realistic spreads).
void fillLibrary(const fs::path &data, const std::vector<std::int64_t> &fileIds, int songs) {
    cloud::Database db((data / "cloud.sqlite").string());
    std::int64_t userId = 0;
    {
        cloud::Statement q(db, "SELECT id FROM users WHERE email = 'listener@bench.example'");
        q.step();
        userId = q.integer(0);
    }
    cloud::Transaction tx(db);
    std::mt19937 rng(7);
    const char *words[] = {"blue",  "night", "river", "light", "stone",  "glass", "fire",
                           "north", "dream", "echo",  "storm", "velvet", "iron",  "paper"};
    for (int i = 0; i < songs; ++i) {
        const int artist = i / 20; // 20 songs an artist
        const int album = i / 10;  // 10 songs an album
        const std::string title =
            std::string(words[rng() % 14]) + " " + words[rng() % 14] + " " + std::to_string(i);
        cloud::Statement(db, "INSERT INTO user_media(user_id, file_id, name, song_name, "
                             "album_name, artist_name, checksum, sequence, position) "
                             "VALUES(?,?,?,?,?,?,?,?,?)")
            .bind(1, userId)
            .bind(2, fileIds[static_cast<std::size_t>(i) % fileIds.size()])
            .bind(3, "song" + std::to_string(i) + ".mp3")
            .bind(4, title)
            .bind(5, std::string(words[album % 14]) + " album " + std::to_string(album))
            .bind(6, "Artist " + std::to_string(artist))
            .bind(7, cloud::crypto::randomHex(16))
            .bind(8, i % 10 + 1)
            .bind(9, std::int64_t{1000000} + i)
            .run();
    }
    tx.commit();
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
    }
    char tmpl[] = "/tmp/sonarbox-cloud-stream-XXXXXX";
    const fs::path work = mkdtemp(tmpl);
    const fs::path data = work / "data";
    const std::string bin = SONARBOX_CLOUD_BINARY;
    run(bin + " add-user --data " + data.string() + " listener@bench.example 'bench password'");
    const std::string made =
        run(bin + " add-player-password --data " + data.string() + " listener@bench.example bench");
    std::smatch m;
    if (!std::regex_search(made, m, std::regex("password: ([0-9a-f]+)"))) {
        std::fprintf(stderr, "no player password: %s\n", made.c_str());
        return 1;
    }
    const std::string password = m[1];

    // Four 3-minute songs at 192 kbit/s (about 4 MiB each).
    std::vector<std::string> contents;
    std::string files;
    for (int i = 0; i < 4; ++i) {
        const fs::path f = work / ("s" + std::to_string(i) + ".mp3");
        run("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=" +
            std::to_string(300 + 70 * i) + ":duration=180 -b:a 192k -metadata genre=Bench '" +
            f.string() + "'");
        std::ifstream in(f, std::ios::binary);
        contents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        files += " '" + f.string() + "'";
    }
    run(bin + " import --data " + data.string() + files);
    std::vector<std::int64_t> fileIds;
    {
        cloud::Store store(data / "cloud.sqlite");
        cloud::Database db((data / "cloud.sqlite").string());
        cloud::Statement q(db, "SELECT id FROM files ORDER BY id");
        while (q.step())
            fileIds.push_back(q.integer(0));
    }
    std::printf("setting up: %d songs in one account over %zu files\n", o.songs, fileIds.size());
    auto t0 = Clock::now();
    fillLibrary(data, fileIds, o.songs);
    {
        cloud::Store store(data / "cloud.sqlite");
        store.indexLibrary();
    }
    std::printf("library of %d songs made in %.1f s\n", o.songs, msSince(t0) / 1000);

    Server server(data, {"--max-connections-per-address", "1024"});
    const auto auth = [&password] {
        const std::string salt = cloud::crypto::randomHex(6);
        cloud::crypto::Md5 md5;
        const std::string text = password + salt;
        md5.update(text.data(), text.size());
        return "u=listener%40bench.example&t=" + md5.finalHex() + "&s=" + salt +
               "&v=1.16.1&c=bench&f=json";
    };
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
        std::printf("%-40s %10.1f %10.1f\n", label.c_str(), median(ms), percentile(ms, 0.9));
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
                median(firstByte), percentile(firstByte, 0.99));

    // Transcoding: whole songs of 180 s encoded again as they are sent, one
    // at a time; the first byte's wait and how many times faster than real
    // time the whole arrives.
    std::printf("\n%-34s %6s %14s %14s %12s\n", "transcoded stream", "songs", "first byte ms",
                "whole ms", "x real time");
    long transcodeErrors = 0;
    for (const char *asked :
         {"maxBitRate=96", "format=opus&maxBitRate=64", "format=mp3&maxBitRate=128"}) {
        std::vector<double> first;
        std::vector<double> whole;
        for (int i = 0; i < 4; ++i) {
            httplib::Client client("127.0.0.1", server.port);
            client.set_read_timeout(60, 0);
            const auto t = Clock::now();
            double firstMs = -1;
            std::size_t got = 0;
            auto r = client.Get("/rest/stream?" + auth() + "&id=" + songIds[i] + "&" + asked,
                                [&](const char *, std::size_t n) {
                                    if (firstMs < 0)
                                        firstMs = msSince(t);
                                    got += n;
                                    return true;
                                });
            const double ms = msSince(t);
            if (!r || r->status != 200 || got < 100000) {
                ++transcodeErrors;
                continue;
            }
            first.push_back(firstMs);
            whole.push_back(ms);
        }
        if (whole.empty())
            continue;
        std::printf("%-34s %6zu %14.1f %14.1f %12.0f\n", asked, whole.size(), median(first),
                    median(whole), 180000.0 / median(whole));
    }
    std::printf("transcoding errors %ld\n", transcodeErrors);
    fs::remove_all(work);
    return errors.load() == 0 && transcodeErrors == 0 ? 0 : 1;
}
