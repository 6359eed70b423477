// gc over many objects: small objects put into a bucket (or a household data
// folder) by a few workers at once, a share of them named by file records,
// then `sonarbox-cloud gc --grace-minutes 0` timed, beside a listing of the
// store alone (the first half of gc's work).
#include "BenchLibrary.h"
#include "BenchServer.h"
#include "LoadFigures.h"
#include "ScaledBackEnd.h"
#include "objects/ObjectStore.h"

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

std::size_t listed(const bench::BackEnd &backEnd) {
    const auto store =
        cloud::objects::openObjectStore(backEnd.objects, backEnd.data, backEnd.credentials);
    std::size_t n = 0;
    store->list([&](const cloud::objects::ObjectEntry &) { ++n; });
    return n;
}

} // namespace

int scaledGc(int argc, char **argv) {
    int objects = 100000;
    int referencedPercent = 50;
    int workers = 4;
    int objectBytes = 1024;
    bool household = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--household") {
            household = true;
            continue;
        }
        if (i + 1 >= argc)
            break;
        const int v = std::stoi(argv[++i]);
        if (a == "--objects")
            objects = std::max(1, v);
        else if (a == "--referenced-percent")
            referencedPercent = std::clamp(v, 0, 100);
        else if (a == "--workers")
            workers = std::max(1, v);
        else if (a == "--object-bytes")
            objectBytes = std::max(1, v);
    }
    char tmpl[] = "/tmp/sonarbox-cloud-gc-XXXXXX";
    const fs::path work = mkdtemp(tmpl);
    const bench::BackEnd backEnd = bench::makeBackEnd(work / "data", !household);

    // The objects, each worker on a connection of its own.
    std::printf("putting %d objects of %d bytes with %d workers into %s\n", objects, objectBytes,
                workers, household ? "the data folder (SQLite)" : "a bucket (PostgreSQL)");
    std::fflush(stdout);
    std::vector<std::string> keys;
    std::mutex mutex;
    std::atomic<int> next{0};
    std::atomic<int> failed{0};
    auto t = Clock::now();
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            const auto store =
                cloud::objects::openObjectStore(backEnd.objects, backEnd.data, backEnd.credentials);
            std::mt19937_64 rng(static_cast<unsigned>(w));
            std::string bytes(static_cast<std::size_t>(objectBytes), '\0');
            std::vector<std::string> mine;
            for (int i = next++; i < objects; i = next++) {
                for (auto &c : bytes)
                    c = static_cast<char>(rng());
                try {
                    auto incoming = store->create();
                    if (!incoming->write(bytes.data(), bytes.size())) {
                        ++failed;
                        continue;
                    }
                    mine.push_back(incoming->commit());
                } catch (const std::exception &) {
                    ++failed;
                }
            }
            std::lock_guard lock(mutex);
            keys.insert(keys.end(), mine.begin(), mine.end());
        });
    }
    for (auto &th : threads)
        th.join();
    const double putSeconds = bench::secondsSince(t);
    std::printf("  put %zu in %.1f s (%.0f objects/s), %d failed\n", keys.size(), putSeconds,
                keys.size() / putSeconds, failed.load());
    std::fflush(stdout);

    // A share of the objects, spread evenly, are recorded files; gc must keep those.
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (bench::inShare(i, referencedPercent))
            kept.push_back(keys[i]);
    {
        // A household server's file gets its tables from the first program that opens it.
        cloud::Store{backEnd.databaseLocation()};
        cloud::Database db(backEnd.databaseLocation());
        cloud::Transaction tx(db);
        for (std::size_t first = 0; first < kept.size(); first += 500) {
            const std::size_t rows = std::min<std::size_t>(500, kept.size() - first);
            cloud::Statement q(db, bench::multiRowInsert("INSERT INTO files(rel_path, size, md5, "
                                                         "sha256, created_ms)",
                                                         5, static_cast<int>(rows)));
            int p = 1;
            for (std::size_t i = first; i < first + rows; ++i) {
                q.bind(p, kept[i])
                    .bind(p + 1, objectBytes)
                    .bind(p + 2, kept[i])
                    .bind(p + 3, kept[i])
                    .bind(p + 4, cloud::nowMs());
                p += 5;
            }
            q.run();
        }
        tx.commit();
    }

    t = Clock::now();
    const std::size_t before = listed(backEnd);
    const double listSeconds = bench::secondsSince(t);
    std::printf("  listed %zu in %.1f s (%.0f objects/s)\n", before, listSeconds,
                before / listSeconds);
    std::fflush(stdout);

    t = Clock::now();
    const std::string output =
        bench::run(std::string(SONARBOX_CLOUD_BINARY) + " gc" + bench::shellWords(backEnd.args()) +
                   " --grace-minutes 0 2>&1");
    const double gcSeconds = bench::secondsSince(t);
    const auto report = bench::parseGcReport(output);
    const std::size_t after = listed(backEnd);
    if (!report) {
        std::fprintf(stderr, "gc said: %s\n", output.c_str());
        return 1;
    }
    const double removeSeconds = std::max(gcSeconds - listSeconds, 1e-9);
    std::printf("\n%-44s %10s %10s %12s\n", "gc --grace-minutes 0", "objects", "seconds",
                "objects/s");
    std::printf("%-44s %10zu %10.1f %12.0f\n", "listed (the listing alone)", before, listSeconds,
                before / listSeconds);
    std::printf("%-44s %10ld %10.1f %12.0f\n", "removed (gc's time less the listing)",
                report->removed, removeSeconds, report->removed / removeSeconds);
    std::printf("%-44s %10zu %10.1f %12.0f\n", "gc in all (listed)", before, gcSeconds,
                before / gcSeconds);
    std::printf("kept %zu recorded of %zu; %zu in the store after gc\n", kept.size(), before,
                after);
    std::error_code ec;
    fs::remove_all(work, ec);
    const bool right =
        report->removed == static_cast<long>(keys.size() - kept.size()) && after == kept.size();
    if (!right)
        std::printf("WRONG: gc should have removed %zu and kept %zu\n", keys.size() - kept.size(),
                    kept.size());
    return right && failed == 0 ? 0 : 1;
}
