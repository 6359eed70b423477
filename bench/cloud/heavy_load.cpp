// The event threads against heavy work: how long a ping of an account of its
// own waits while other clients keep the server's worker pool busy. Phases:
// nothing else; C clients asking for covers of large pictures (6000 × 6000
// PNG) at sizes the cover cache seldom holds; R readers pulling transcoded
// streams (maxBitRate=64) as fast as they come, four to an account so that
// only the server's bound refuses them; and covers and readers together.
// Each phase also gives the server's peak memory (VmHWM, reset as the phase
// begins) and its processor time.
//
//   cloud_load --heavy [--covers 8] [--readers 32,128] [--pings 300] [--ping-gap-ms 20]
//                      [--retry-ms 250] [--song-seconds 60] [--cover-pixels 6000]
//                      [--workers N] [--threads N]
//
// --retry-ms: how long a reader refused with "too many streams" waits before
// it asks again (a player would give up; asking again keeps the pressure on).
#include "BenchLibrary.h"
#include "BenchServer.h"
#include "LoadFigures.h"

#include <httplib.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    int covers = 8;
    std::vector<int> readers = {32, 128};
    int pings = 300;
    int pingGapMs = 20;
    int retryMs = 250;
    int songSeconds = 60;
    int coverPixels = 6000;
    int workers = 0; // the server's own choice
    int threads = 0;
};

constexpr int kReadersPerAccount = 4;
constexpr int kCoverSongs = 4;
constexpr int kStreamSongs = 4;
constexpr int kLargestCoverSize = 2048;

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Sleeps up to `ms`, waking early when the phase ends.
void pause(int ms, const std::atomic<bool> &stop) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!stop && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

struct Tally {
    std::mutex mutex;
    std::vector<double> coverMs;
    std::atomic<long> coversDone{0};
    std::atomic<long> streamsBegun{0};
    std::atomic<long> streamsWhole{0};
    std::atomic<long> tooMany{0};
    std::atomic<long> busy{0};
    std::atomic<long> failed{0};
    std::atomic<long> readersRefused{0};
    std::atomic<long> readersNeverServed{0};
    std::atomic<unsigned long long> streamBytes{0};
};

void coverClient(int port, const bench::PlayerAccount &account,
                 const std::vector<std::string> &songs, unsigned seed,
                 const std::atomic<bool> &stop, Tally &tally) {
    std::mt19937 rng(seed);
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_read_timeout(120, 0);
    std::vector<double> mine;
    while (!stop) {
        const std::string &id = songs[rng() % songs.size()];
        const int size = 64 + static_cast<int>(rng() % (kLargestCoverSize - 64 + 1));
        const auto t = Clock::now();
        auto r = client.Get("/rest/getCoverArt?" + bench::playerAuth(account) + "&id=" + id +
                            "&size=" + std::to_string(size));
        const double ms = msSince(t);
        const auto answer =
            r ? bench::classify(r->status, r->get_header_value("Content-Type"), r->body)
              : bench::Answer::Failed;
        if (answer == bench::Answer::Image) {
            ++tally.coversDone;
            mine.push_back(ms);
        } else if (answer == bench::Answer::Busy) {
            ++tally.busy;
        } else {
            ++tally.failed;
            pause(100, stop);
        }
    }
    std::lock_guard lock(tally.mutex);
    tally.coverMs.insert(tally.coverMs.end(), mine.begin(), mine.end());
}

void reader(int port, const bench::PlayerAccount &account, const std::vector<std::string> &songs,
            unsigned seed, int retryMs, const std::atomic<bool> &stop, Tally &tally) {
    std::mt19937 rng(seed);
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_read_timeout(60, 0);
    bool refused = false;
    bool served = false;
    while (!stop) {
        const std::string &id = songs[rng() % songs.size()];
        int status = 0;
        std::string type;
        std::string body;
        bool audio = false;
        auto r = client.Get(
            "/rest/stream?" + bench::playerAuth(account) + "&id=" + id + "&maxBitRate=64", {},
            [&](const httplib::Response &res) {
                status = res.status;
                type = res.get_header_value("Content-Type");
                audio = bench::classify(status, type, {}) == bench::Answer::Audio;
                return true;
            },
            [&](const char *data, std::size_t n) {
                if (audio)
                    tally.streamBytes += n;
                else if (body.size() < 4096)
                    body.append(data, n);
                return !stop.load();
            });
        switch (bench::classify(status, type, body)) {
        case bench::Answer::Audio:
            ++tally.streamsBegun;
            served = true;
            if (r)
                ++tally.streamsWhole;
            break;
        case bench::Answer::TooManyStreams:
            ++tally.tooMany;
            refused = true;
            pause(retryMs, stop);
            break;
        case bench::Answer::Busy:
            ++tally.busy;
            pause(retryMs, stop);
            break;
        default:
            // A request cut short by the phase's end is no failure.
            if (!stop) {
                ++tally.failed;
                pause(retryMs, stop);
            }
        }
    }
    tally.readersRefused += refused ? 1 : 0;
    tally.readersNeverServed += served ? 0 : 1;
}

struct Phase {
    std::string name;
    int covers = 0;
    int readers = 0;
    // Measured:
    bench::Spread ping;
    long pingFailures = 0;
    double seconds = 0;
    double serverCpuPercent = 0;
    long peakKiB = 0;
    std::vector<double> coverMs;
    long coversDone = 0, streamsBegun = 0, streamsWhole = 0, tooMany = 0, busy = 0, failed = 0;
    long readersRefused = 0, readersNeverServed = 0;
    double streamMiB = 0;
};

} // namespace

int heavyLoad(int argc, char **argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const std::string v = argv[i + 1];
        if (a == "--readers")
            o.readers = bench::parseCounts(v);
        else if (a == "--covers")
            o.covers = std::stoi(v);
        else if (a == "--pings")
            o.pings = std::stoi(v);
        else if (a == "--ping-gap-ms")
            o.pingGapMs = std::stoi(v);
        else if (a == "--retry-ms")
            o.retryMs = std::stoi(v);
        else if (a == "--song-seconds")
            o.songSeconds = std::stoi(v);
        else if (a == "--cover-pixels")
            o.coverPixels = std::stoi(v);
        else if (a == "--workers")
            o.workers = std::stoi(v);
        else if (a == "--threads")
            o.threads = std::stoi(v);
        else {
            std::fprintf(stderr, "unknown option %s\n", a.c_str());
            return 2;
        }
    }
    if (o.readers.empty() || o.pings <= 0) {
        std::fprintf(stderr, "--readers takes counts such as 32,128; --pings a count\n");
        return 2;
    }

    char tmpl[] = "/tmp/sonarbox-cloud-heavy-XXXXXX";
    const fs::path work = mkdtemp(tmpl);
    const fs::path data = work / "data";
    const auto setupStart = Clock::now();

    // One large picture, embedded in songs of their own: a cover is cached by
    // file and size, so each song is a cover to decode at every size.
    const fs::path picture = work / "cover.png";
    const std::string side = std::to_string(o.coverPixels);
    bench::run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=" + side + "x" + side +
               ":rate=1 -frames:v 1 '" + picture.string() + "'");
    std::vector<fs::path> coverFiles;
    std::vector<fs::path> streamFiles;
    std::string files;
    for (int i = 0; i < kCoverSongs; ++i) {
        const fs::path f = work / ("cover" + std::to_string(i) + ".mp3");
        bench::run("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=" +
                   std::to_string(500 + 40 * i) + ":duration=5 -i '" + picture.string() +
                   "' -map 0:a -map 1:v -c:a libmp3lame -b:a 128k -c:v copy "
                   "-disposition:v attached_pic -id3v2_version 3 '" +
                   f.string() + "'");
        coverFiles.push_back(f);
        files += " '" + f.string() + "'";
    }
    for (int i = 0; i < kStreamSongs; ++i) {
        const fs::path f = work / ("song" + std::to_string(i) + ".mp3");
        bench::run("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=" +
                   std::to_string(300 + 70 * i) + ":duration=" + std::to_string(o.songSeconds) +
                   " -b:a 192k '" + f.string() + "'");
        streamFiles.push_back(f);
        files += " '" + f.string() + "'";
    }
    bench::run(std::string(SONARBOX_CLOUD_BINARY) + " import --data '" + data.string() + "'" +
               files);

    const int readerAccounts =
        (*std::max_element(o.readers.begin(), o.readers.end()) + kReadersPerAccount - 1) /
        kReadersPerAccount;
    const auto pinger = bench::addPlayerAccount(data, "pinger@bench.example");
    const auto coverAccount = bench::addPlayerAccount(data, "covers@bench.example");
    std::vector<bench::PlayerAccount> readers;
    for (int i = 0; i < readerAccounts; ++i)
        readers.push_back(
            bench::addPlayerAccount(data, "reader" + std::to_string(i) + "@bench.example"));
    bool accountsMade = !pinger.password.empty() && !coverAccount.password.empty();
    for (const auto &r : readers)
        accountsMade = accountsMade && !r.password.empty();
    const std::string database = bench::sqliteOf(data);
    const auto coverIds = bench::fileIdsOf(database, coverFiles);
    const auto streamIds = bench::fileIdsOf(database, streamFiles);
    if (!accountsMade || std::count(coverIds.begin(), coverIds.end(), 0) > 0 ||
        std::count(streamIds.begin(), streamIds.end(), 0) > 0) {
        std::fprintf(stderr, "setting up failed (accounts, or songs not imported)\n");
        return 1;
    }
    bench::fillLibrary(database, coverAccount.email, coverIds, kCoverSongs);
    for (const auto &r : readers)
        bench::fillLibrary(database, r.email, streamIds, kStreamSongs);
    bench::indexLibrary(database);
    const auto coverSongs = bench::songIdsOf(database, coverAccount.email);
    std::vector<std::vector<std::string>> readerSongs;
    for (const auto &r : readers)
        readerSongs.push_back(bench::songIdsOf(database, r.email));

    std::vector<std::string> serverArgs = {"--max-connections-per-address", "1024"};
    if (o.workers > 0)
        serverArgs.insert(serverArgs.end(), {"--workers", std::to_string(o.workers)});
    if (o.threads > 0)
        serverArgs.insert(serverArgs.end(), {"--threads", std::to_string(o.threads)});
    bench::Server server(data, serverArgs);
    std::printf("set up in %.1f s: %d × %d PNG covers in %d songs, %d songs of %d s at 192 kbit/s "
                "in each of %d reader accounts; server: --workers %s --threads %s\n",
                msSince(setupStart) / 1000, o.coverPixels, o.coverPixels, kCoverSongs, kStreamSongs,
                o.songSeconds, readerAccounts,
                o.workers > 0 ? std::to_string(o.workers).c_str() : "(default)",
                o.threads > 0 ? std::to_string(o.threads).c_str() : "(default)");
    std::fflush(stdout);

    std::vector<Phase> phases;
    phases.push_back({"nothing else", 0, 0});
    phases.push_back({std::to_string(o.covers) + " cover clients", o.covers, 0});
    for (const int r : o.readers)
        phases.push_back({std::to_string(r) + " stream readers", 0, r});
    for (const int r : o.readers)
        phases.push_back({std::to_string(o.covers) + " covers + " + std::to_string(r) + " readers",
                          o.covers, r});

    httplib::Client pingClient("127.0.0.1", server.port);
    pingClient.set_keep_alive(true);
    pingClient.set_read_timeout(60, 0);
    const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    long overallPeakKiB = server.peakResidentKiB();
    for (std::size_t index = 0; index < phases.size(); ++index) {
        Phase &phase = phases[index];
        // Seeds of their own in each phase: covers asked for in an earlier
        // phase would come from the cache.
        const unsigned seed = 100000u * unsigned(index + 1);
        // What the last phase left behind (streams cut short, covers under
        // way) settles first.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        server.resetPeakResident();
        const long long ticksBefore = server.processorTicks();
        Tally tally;
        std::atomic<bool> stop{false};
        const auto started = Clock::now();
        std::vector<std::thread> load;
        for (int c = 0; c < phase.covers; ++c)
            load.emplace_back(coverClient, server.port, std::cref(coverAccount),
                              std::cref(coverSongs), seed + unsigned(c), std::cref(stop),
                              std::ref(tally));
        for (int r = 0; r < phase.readers; ++r) {
            const auto account = static_cast<std::size_t>(r / kReadersPerAccount);
            load.emplace_back(reader, server.port, std::cref(readers[account]),
                              std::cref(readerSongs[account]), seed + 1000u + unsigned(r),
                              o.retryMs, std::cref(stop), std::ref(tally));
        }
        // The load gets going before the pings begin: connections made,
        // the first covers queued, the first streams past their lead.
        if (!load.empty())
            std::this_thread::sleep_for(std::chrono::seconds(2));
        std::vector<double> pings;
        for (int i = 0; i < o.pings; ++i) {
            const auto t = Clock::now();
            auto r = pingClient.Get("/rest/ping?" + bench::playerAuth(pinger));
            const double ms = msSince(t);
            if (r && r->status == 200 && r->body.find("\"status\":\"ok\"") != std::string::npos)
                pings.push_back(ms);
            else
                ++phase.pingFailures;
            std::this_thread::sleep_for(std::chrono::milliseconds(o.pingGapMs));
        }
        // The phase ends with the pings; covers still queued are waited for
        // (a client cannot take back its request) but not timed.
        stop = true;
        phase.seconds = msSince(started) / 1000;
        phase.serverCpuPercent = 100.0 *
                                 static_cast<double>(server.processorTicks() - ticksBefore) /
                                 ticksPerSecond / phase.seconds;
        const auto streamBytes = tally.streamBytes.load();
        for (auto &t : load)
            t.join();
        phase.ping = bench::spreadOf(pings);
        phase.peakKiB = server.peakResidentKiB();
        overallPeakKiB = std::max(overallPeakKiB, phase.peakKiB);
        phase.coverMs = tally.coverMs;
        phase.coversDone = tally.coversDone;
        phase.streamsBegun = tally.streamsBegun;
        phase.streamsWhole = tally.streamsWhole;
        phase.tooMany = tally.tooMany;
        phase.busy = tally.busy;
        phase.failed = tally.failed;
        phase.readersRefused = tally.readersRefused;
        phase.readersNeverServed = tally.readersNeverServed;
        phase.streamMiB = static_cast<double>(streamBytes) / (1024.0 * 1024.0);
        std::printf("  %s: %.1f s\n", phase.name.c_str(), phase.seconds);
        std::fflush(stdout);
    }

    std::printf("\nping of another account, %d a phase, %d ms apart (ms)\n", o.pings, o.pingGapMs);
    std::printf("%-28s %6s %8s %8s %8s %8s %7s %8s %9s\n", "phase", "pings", "median", "p90", "p99",
                "worst", "failed", "cpu %", "peak MiB");
    for (const auto &p : phases)
        std::printf("%-28s %6zu %8.2f %8.2f %8.2f %8.2f %7ld %8.0f %9.1f\n", p.name.c_str(),
                    p.ping.count, p.ping.median, p.ping.p90, p.ping.p99, p.ping.worst,
                    p.pingFailures, p.serverCpuPercent, static_cast<double>(p.peakKiB) / 1024);

    std::printf("\nthe load beside it (cpu %%: the server's, of one core; peak: VmHWM)\n");
    std::printf("%-28s %6s %7s %11s %8s %6s %10s %9s %8s %7s %6s %6s\n", "phase", "secs", "covers",
                "cover med", "streams", "whole", "too many", "refused", "unserved", "MiB/s", "busy",
                "failed");
    for (const auto &p : phases) {
        const std::string refused =
            p.readers ? std::to_string(p.readersRefused) + "/" + std::to_string(p.readers) : "-";
        const std::string unserved = p.readers ? std::to_string(p.readersNeverServed) : "-";
        std::printf("%-28s %6.1f %7ld %9.0f ms %8ld %6ld %10ld %9s %8s %7.2f %6ld %6ld\n",
                    p.name.c_str(), p.seconds, p.coversDone, bench::median(p.coverMs),
                    p.streamsBegun, p.streamsWhole, p.tooMany, refused.c_str(), unserved.c_str(),
                    p.streamMiB / p.seconds, p.busy, p.failed);
    }
    std::printf("covers: answered, of those asked for in the phase (median: from the asking, "
                "queue included); streams: audio answers, whole: of them read to the end; too "
                "many: \"too many streams\" answers; refused: readers refused at least once; "
                "unserved: readers never given a stream; MiB/s: audio over the phase\n");
    std::printf("server peak over the run (VmHWM): %.1f MiB\n",
                static_cast<double>(overallPeakKiB) / 1024);

    long failures = 0;
    for (const auto &p : phases)
        failures += p.pingFailures + p.failed;
    std::error_code ec;
    fs::remove_all(work, ec);
    return failures == 0 ? 0 : 1;
}
