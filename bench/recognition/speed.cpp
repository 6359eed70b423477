// Recognition speed: building and opening a large catalogue, its size,
// identifying one fingerprint, fingerprinting 45 s of CD-quality audio, and
// how close unknown recordings come to being taken for a catalogue track.
//   recognition_speed [--tracks N] [--dir DIR] [--queries N] [--unknown N] [--lookup]
// The catalogue is synthetic (random fingerprints) and is kept in DIR between
// runs. Of the --unknown queries, half are random fingerprints and half are
// generated music at the speeds the engine tries, matched as the engine does
// (its own speed, then the others). With --lookup the same identification
// queries are also asked of sonarbox-cloud's lookup service on 127.0.0.1 over
// that catalogue, and the time the service reports (Server-Timing) is told
// apart from the rest (network, HTTP, encoding).
#include "catalog_writer.h"
#include "fingerprinter.h"
#include "index_keys.h"
#include "lookup_client.h"
#include "lookup_server.h"
#include "matcher.h"
#include "music_synth.h"
#include "speed_search.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gnsdk.h>
#include <random>
#include <time.h>

using namespace recog;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Processor time of this process (all its threads): on a shared machine the
// wall clock also counts the time other processes had the processor.
double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Wall and processor time of one operation.
struct Timing {
    std::vector<double> wall, cpu;
    template <typename F> void measure(F &&f) {
        const auto t = Clock::now();
        const double c = cpuMs();
        f();
        cpu.push_back(cpuMs() - c);
        wall.push_back(msSince(t));
    }
};

struct Stats {
    double median, p95, min;
};

Stats stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 95 / 100)], v.front()};
}

std::vector<uint32_t> randomItems(std::mt19937 &rng, size_t n) {
    std::vector<uint32_t> v(n);
    for (auto &x : v)
        x = rng();
    return v;
}

bool buildSynthetic(const std::string &path, int tracks) {
    std::fprintf(stderr, "building a synthetic catalogue of %d tracks in %s\n", tracks,
                 path.c_str());
    std::string error;
    auto cat = Catalog::create(path + ".part", error);
    if (!cat) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    std::mt19937 rng(42);
    std::vector<NewTrack> all;
    all.resize(size_t(tracks));
    for (int i = 0; i < tracks; ++i) {
        NewTrack &t = all[size_t(i)];
        t.title = "Track " + std::to_string(i + 1);
        t.artist = "Artist " + std::to_string(i / 100 + 1);
        t.album = "Album " + std::to_string(i / 10 + 1);
        t.trackNumber = i % 10 + 1;
        t.duration = 180;
        // The catalogue keeps no more than this of a fingerprint.
        t.fingerprint = randomItems(rng, kStoredItems);
    }
    const auto t0 = Clock::now();
    const bool ok = CatalogWriter(*cat).addTracks(
        all,
        [](size_t done, size_t total) {
            if (done % 10000 == 0)
                std::fprintf(stderr, "  %zu/%zu tracks\n", done, total);
        },
        error);
    if (!ok) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    cat.reset();
    const double seconds = msSince(t0) / 1000;
    std::filesystem::rename(path + ".part", path);
    std::filesystem::rename(indexPathFor(path + ".part"), indexPathFor(path));
    std::fprintf(stderr, "  built in %.0f s\n", seconds);
    // Kept with the catalogue, since later runs reuse it.
    std::FILE *f = std::fopen((path + ".build").c_str(), "w");
    if (f) {
        std::fprintf(f, "%.1f s, %.0f tracks/s\n", seconds, tracks / seconds);
        std::fclose(f);
    }
    return true;
}

// The identification queries: excerpts of catalogue fingerprints with noise,
// and fingerprints of nothing in the catalogue.
struct IdentifyQuery {
    std::vector<uint32_t> items;
    int64_t expect = 0; // 0: not in the catalogue
};

struct LookupFigures {
    std::vector<double> known, unknown;               // wall ms of each exchange
    std::vector<double> knownOutside, unknownOutside; // of which outside the service
    int correct = 0, falseMatches = 0, failures = 0;
};

LookupFigures identifyThroughLookup(const std::string &db,
                                    const std::vector<IdentifyQuery> &queries) {
    recog::bench::LookupServer server(db);
    LookupClient client(LookupEndpoint{server.url, "", 60000, recog::bench::LookupServer::kClientId,
                                       recog::bench::LookupServer::kClientTag});
    LookupFigures f;
    for (const IdentifyQuery &q : queries) {
        LookupRequest request;
        request.items = q.items;
        request.seconds = 45;
        LookupAnswer answer;
        LookupFailure failure;
        const double total = client.totalSeconds(), service = client.serviceSeconds();
        if (!client.ask(request, answer, failure)) {
            ++f.failures;
            std::fprintf(stderr, "%s\n", failure.text.c_str());
            continue;
        }
        const double wall = (client.totalSeconds() - total) * 1e3;
        const double inside = (client.serviceSeconds() - service) * 1e3;
        (q.expect ? f.known : f.unknown).push_back(wall);
        (q.expect ? f.knownOutside : f.unknownOutside).push_back(wall - inside);
        const bool found = !answer.found.empty();
        if (q.expect)
            f.correct += found && answer.found.front().trackId == q.expect;
        else
            f.falseMatches += found;
    }
    return f;
}

struct Impostors {
    int random = 0, music = 0, accepted = 0, atOtherSpeed = 0;
    double closest = 1.0;
    double seconds = 0;
    std::string speeds;
    Timing search; // the search at other speeds of music matching nothing at its own
};

void closer(Impostors &imp, const MatchOutcome &m) {
    if (!m.candidates.empty())
        imp.closest = std::min(imp.closest, m.candidates.front().score);
}

// The speed of the engine's set nearest to `speed`, or 1.
double nearestTrial(double speed) {
    double best = 1.0;
    for (double s : trialSpeeds())
        if (std::abs(s - speed) < std::abs(best - speed))
            best = s;
    return best;
}

// Unknown queries as the engine meets them; none may be accepted.
Impostors impostors(const Matcher &matcher, int count) {
    const double speeds[] = {1.0, 1.005, 0.99, 1.02, 0.96, 25.0 / 24.0};
    Impostors imp;
    for (double s : speeds)
        imp.speeds += (imp.speeds.empty() ? "" : ", ") + speedText(s);
    const auto t0 = Clock::now();
    std::mt19937 rng(99);
    for (int q = 0; q < count; ++q) {
        if (q % 2 == 0) {
            const auto items = randomItems(rng, 340);
            const MatchOutcome m = matcher.match(items, 45);
            imp.accepted += m.anyAccepted();
            closer(imp, matcher.nearest(items, 16));
            ++imp.random;
            continue;
        }
        // Songs of seeds no catalogue test uses, short and at a low rate to
        // keep the run short.
        testaudio::SongSpec recipe;
        recipe.seed = 500000 + uint32_t(q);
        recipe.seconds = 25;
        recipe.sampleRate = kFingerprintRate;
        const auto pcm = testaudio::synthesizeSong(recipe);
        const double speed = speeds[size_t(q / 2) % std::size(speeds)];
        Fingerprinter fp;
        std::string error;
        if (!fp.start(int(std::lround(kFingerprintRate * speed)), 2, 0, error))
            continue;
        fp.keepSignal();
        if (!fp.feed(pcm.data(), pcm.size() / 2, error) || !fp.finish(error))
            continue;
        ++imp.music;
        MatchOutcome m = matcher.match(fp.items(), fp.seconds());
        closer(imp, matcher.nearest(fp.items(), 16));
        const std::vector<int16_t> signal = fp.takeSignal();
        if (!m.anyAccepted()) {
            SpeedOutcome other;
            imp.search.measure([&] { other = matchAtOtherSpeeds(matcher, signal); });
            imp.atOtherSpeed += other.match.anyAccepted();
            m = std::move(other.match);
        }
        imp.accepted += m.anyAccepted();
        if (const double trial = nearestTrial(speed); trial != 1.0) {
            std::vector<uint32_t> items;
            if (itemsAtSpeed(signal, trial, 0, items, error))
                closer(imp, matcher.nearest(items, 16));
        }
    }
    imp.seconds = msSince(t0) / 1000;
    return imp;
}

} // namespace

int main(int argc, char **argv) {
    int tracks = 100000, queries = 400, unknownQueries = 1000;
    std::string dir = "/tmp/sonarbox-recognition-speed";
    bool lookup = false;
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--lookup"))
            lookup = true;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--lookup"))
            --i;
        else if (!std::strcmp(argv[i], "--tracks"))
            tracks = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--dir"))
            dir = argv[i + 1];
        else if (!std::strcmp(argv[i], "--queries"))
            queries = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--unknown"))
            unknownQueries = std::atoi(argv[i + 1]);
    }
    std::filesystem::create_directories(dir);
    const std::string db = dir + "/synthetic-" + std::to_string(tracks) + ".db";
    if (!std::filesystem::exists(db) && !buildSynthetic(db, tracks))
        return 1;

    // Opening: the engine's own start-up from initialisation data.
    Timing open;
    const std::string init = "catalog=" + db + "\n";
    for (int i = 0; i < 20; ++i) {
        gnsdk_manager_handle_t m = nullptr;
        gnsdk_error_t rc = 0;
        open.measure([&] { rc = gnsdk_manager_initialize(&m, init.c_str(), init.size()); });
        if (rc != GNSDK_SUCCESS) {
            std::fprintf(stderr, "%s\n", gnsdk_manager_error_info()->error_description);
            return 1;
        }
        gnsdk_manager_shutdown();
    }

    // Identification: excerpts of catalogue fingerprints with 8 % of their
    // bits flipped, and fingerprints of nothing in the catalogue.
    std::string error;
    auto cat = Catalog::open(db, false, error);
    Matcher matcher(*cat, MatchParams{});
    std::mt19937 rng(7);
    std::bernoulli_distribution flip(0.08);
    Timing known, unknown;
    int correct = 0, falseMatches = 0;
    std::vector<IdentifyQuery> asked;
    for (int q = 0; q < queries; ++q) {
        const bool inCatalogue = q % 2 == 0;
        std::vector<uint32_t> items;
        int64_t expect = 0;
        if (inCatalogue) {
            expect = 1 + int64_t(rng() % uint32_t(tracks));
            const auto fp = cat->fingerprint(expect);
            const size_t start = rng() % 100;
            items.assign(fp.begin() + long(start), fp.begin() + long(start + 340));
            for (auto &x : items)
                for (int b = 0; b < 32; ++b)
                    if (flip(rng))
                        x ^= 1u << b;
        } else {
            items = randomItems(rng, 340);
        }
        MatchOutcome out;
        (inCatalogue ? known : unknown).measure([&] { out = matcher.match(items, 45); });
        if (inCatalogue)
            correct += out.anyAccepted() && out.candidates.front().trackId == expect;
        else
            falseMatches += out.anyAccepted();
        asked.push_back({std::move(items), expect});
    }
    const LookupFigures remote = lookup ? identifyThroughLookup(db, asked) : LookupFigures{};

    // Fingerprinting 45 s of 44.1 kHz stereo.
    testaudio::SongSpec recipe;
    recipe.seed = 3;
    recipe.seconds = 45;
    const auto pcm = testaudio::synthesizeSong(recipe);
    Timing fingerprint, kept;
    for (int i = 0; i < 30; ++i) {
        std::vector<uint32_t> items;
        double seconds = 0;
        fingerprint.measure([&] {
            Fingerprinter::compute(pcm.data(), pcm.size() / 2, 44100, 2, 0, items, seconds, error);
        });
        // As the engine fingerprints a query: the signal kept for other speeds.
        kept.measure([&] {
            Fingerprinter fp;
            fp.start(44100, 2, 0, error);
            fp.keepSignal();
            fp.feed(pcm.data(), pcm.size() / 2, error);
            fp.finish(error);
        });
    }

    const Impostors imp = impostors(matcher, unknownQueries);

    std::error_code ec;
    const auto dbBytes = std::filesystem::file_size(db, ec);
    const auto indexBytes = std::filesystem::file_size(indexPathFor(db), ec);
    std::string built = "(built by an earlier run)";
    if (std::FILE *f = std::fopen((db + ".build").c_str(), "r")) {
        char line[128] = "";
        if (std::fgets(line, sizeof line, f))
            built = std::string("built in ") + std::strtok(line, "\n");
        std::fclose(f);
    }
    std::printf("catalogue: %d synthetic tracks, %s\n", tracks, built.c_str());
    std::printf("size: database %.0f MiB + index %.0f MiB = %.0f bytes per track; %lld index "
                "keys\n\n",
                double(dbBytes) / 1048576.0, double(indexBytes) / 1048576.0,
                double(dbBytes + indexBytes) / tracks,
                static_cast<long long>(cat->indexKeyCount()));
    std::printf(
        "| operation | median ms | p95 ms | min ms | median CPU ms | p95 CPU ms | target ms "
        "|\n|---|---|---|---|---|---|---|\n");
    auto row = [](const char *name, const Timing &t, int target) {
        const Stats w = stats(t.wall), c = stats(t.cpu);
        std::printf("| %s | %.2f | %.2f | %.2f | %.2f | %.2f | %d |\n", name, w.median, w.p95,
                    w.min, c.median, c.p95, target);
    };
    row("open catalogue (gnsdk_manager_initialize)", open, 50);
    row("identify, track in catalogue", known, 5);
    row("identify, unknown track", unknown, 5);
    row("fingerprint 45 s of 44.1 kHz stereo", fingerprint, 6);
    row("fingerprint 45 s, signal kept (engine queries)", kept, 6);
    std::printf("\ncorrect: %d of %zu catalogue queries; false matches: %d of %zu unknown\n",
                correct, known.wall.size(), falseMatches, unknown.wall.size());
    if (lookup) {
        std::printf("\nthrough the lookup service on 127.0.0.1 (one connection, kept):\n\n"
                    "| operation | median ms | p95 ms | min ms | outside the service: median ms "
                    "| p95 ms |\n|---|---|---|---|---|---|\n");
        auto lookupRow = [](const char *name, const std::vector<double> &wall,
                            const std::vector<double> &outside) {
            if (wall.empty())
                return;
            const Stats w = stats(wall), o = stats(outside);
            std::printf("| %s | %.2f | %.2f | %.2f | %.2f | %.2f |\n", name, w.median, w.p95, w.min,
                        o.median, o.p95);
        };
        lookupRow("identify, track in catalogue", remote.known, remote.knownOutside);
        lookupRow("identify, unknown track", remote.unknown, remote.unknownOutside);
        std::printf("\ncorrect: %d of %zu catalogue queries; false matches: %d of %zu unknown; "
                    "failed lookups: %d\n",
                    remote.correct, remote.known.size(), remote.falseMatches, remote.unknown.size(),
                    remote.failures);
    }
    std::printf("\nunknown queries: %d random fingerprints, %d of generated music at speeds "
                "%s; accepted: %d; closest impostor (best of the 16 tracks sharing most keys, at "
                "the own speed and at the nearest trial speed): %.3f against an acceptance limit "
                "of %.3f to %.3f; found at another speed: %d; %.1f s\n",
                imp.random, imp.music, imp.speeds.c_str(), imp.accepted, imp.closest,
                MatchParams{}.shortAcceptBer, MatchParams{}.acceptBer, imp.atOtherSpeed,
                imp.seconds);
    if (!imp.search.wall.empty()) {
        const Stats w = stats(imp.search.wall), c = stats(imp.search.cpu);
        std::printf("search at other speeds (25 s of music): median %.2f ms, p95 %.2f ms wall; "
                    "median %.2f ms, p95 %.2f ms CPU\n",
                    w.median, w.p95, c.median, c.p95);
    }
    return 0;
}
