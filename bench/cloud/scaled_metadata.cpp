// Metadata at scale: accounts and library items written straight into the
// database, indexed by the server's own code, then asked through a running
// server: the music-player queries of random accounts and of one large
// account, and that account's whole desktop listing.
#include "BenchLibrary.h"
#include "BenchServer.h"
#include "DesktopClient.h"
#include "LoadFigures.h"
#include "ScaledBackEnd.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    int songs = 1000000;
    int accounts = 10000;
    int big = 100000;
    int queries = 200;
    int sampled = 100;
    int listings = 5;
    std::vector<std::string> engines = {"postgresql", "sqlite"};
};

struct Row {
    std::string label;
    bench::Spread spread;
    int failed = 0;
};

struct EngineRun {
    std::string engine;
    double fillSeconds = 0;
    double indexSeconds = 0;
    double analyzeSeconds = 0;
    std::vector<Row> rows;
    bench::Spread listing;
    std::size_t listed = 0;
    std::size_t listingBytes = 0;
    bool failed = false;
};

const char *const kWords[] = {"blue", "night", "river", "light", "stone", "glass", "fire"};

EngineRun runEngine(const Options &o, const std::string &engine, const fs::path &work,
                    const std::vector<fs::path> &songFiles) {
    EngineRun out;
    out.engine = engine;
    bench::BackEnd backEnd;
    backEnd.data = work / ("data-" + engine);
    fs::create_directories(backEnd.data);
    if (engine == "postgresql")
        backEnd.database = bench::newDatabase();
    const std::string location = backEnd.databaseLocation();
    std::vector<std::string> files(songFiles.begin(), songFiles.end());
    bench::run(std::string(SONARBOX_CLOUD_BINARY) + " import" + bench::shellWords(backEnd.args()) +
               bench::shellWords(files) + " >/dev/null");
    const auto fileIds = bench::fileIdsOf(location, songFiles);
    if (std::count(fileIds.begin(), fileIds.end(), 0) > 0) {
        std::fprintf(stderr, "%s: the songs were not imported\n", engine.c_str());
        out.failed = true;
        return out;
    }

    std::printf("\n%s: %d accounts, %d library items (one account of %d)\n", engine.c_str(),
                o.accounts, o.songs, std::min(o.big, o.songs));
    std::fflush(stdout);
    const auto spread = bench::songsPerAccount(o.songs, o.accounts, o.big);
    auto t = Clock::now();
    {
        cloud::Database db(location);
        cloud::Transaction tx(db);
        const auto ids = bench::addAccounts(
            db, "meta", o.accounts, cloud::PasswordHash::make(bench::kDesktopPassword, 100000));
        for (std::size_t i = 0; i < ids.size(); ++i)
            bench::fillLibrary(db, ids[i], fileIds, spread[i]);
        tx.commit();
    }
    out.fillSeconds = bench::secondsSince(t);
    std::printf("  written in %.1f s (%.0f items/s)\n", out.fillSeconds, o.songs / out.fillSeconds);
    std::fflush(stdout);
    t = Clock::now();
    bench::indexLibrary(location);
    out.indexSeconds = bench::secondsSince(t);
    std::printf("  indexed in %.1f s (%.0f items/s)\n", out.indexSeconds,
                o.songs / out.indexSeconds);
    if (backEnd.scaled()) {
        // What autovacuum does soon after a load this size; done at once so
        // that the figures do not depend on when it comes.
        t = Clock::now();
        cloud::Database(location).exec("ANALYZE");
        out.analyzeSeconds = bench::secondsSince(t);
        std::printf("  ANALYZE in %.1f s\n", out.analyzeSeconds);
    }
    std::fflush(stdout);

    // Player passwords for the large account and a random sample of the rest.
    std::mt19937 rng(11);
    std::vector<int> sample;
    {
        std::set<int> chosen;
        const int others = o.accounts - 1;
        while (static_cast<int>(chosen.size()) < std::min(o.sampled, others))
            chosen.insert(1 + static_cast<int>(rng() % static_cast<unsigned>(others)));
        sample.assign(chosen.begin(), chosen.end());
    }
    std::map<int, bench::PlayerAccount> players;
    {
        cloud::Store store(location);
        for (const int i : sample)
            players[i] =
                bench::addPlayerPassword(store, backEnd.data, bench::accountEmail("meta", i));
        players[0] = bench::addPlayerPassword(store, backEnd.data, bench::accountEmail("meta", 0));
    }

    bench::Server server(backEnd.data, backEnd.sharedArgs());
    httplib::Client cli("127.0.0.1", server.port);
    cli.set_keep_alive(true);
    cli.set_read_timeout(120, 0);
    const auto measure = [&](const std::string &label, const std::string &method,
                             const std::function<std::pair<int, std::string>(int)> &query) {
        Row row;
        row.label = label;
        std::vector<double> ms;
        for (int i = 0; i < o.queries; ++i) {
            const auto [account, text] = query(i);
            const std::string path =
                "/rest/" + method + "?" + bench::playerAuth(players[account]) + "&" + text;
            const auto t0 = Clock::now();
            auto r = cli.Get(path);
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            if (!r || r->status != 200 || r->body.find("\"status\":\"ok\"") == std::string::npos)
                ++row.failed;
        }
        row.spread = bench::spreadOf(ms);
        std::printf("  %-58s %9.1f %9.1f%s\n", label.c_str(), row.spread.median, row.spread.p90,
                    row.failed ? (" (" + std::to_string(row.failed) + " failed)").c_str() : "");
        std::fflush(stdout);
        out.rows.push_back(row);
    };
    const std::string heading =
        "query (a random account: one of " + std::to_string(sample.size()) + " sampled)";
    std::printf("  %-58s %9s %9s\n", heading.c_str(), "median ms", "p90 ms");
    const auto randomAccount = [&] { return sample[rng() % sample.size()]; };
    const auto songsOf = [&](int account) { return std::max(1, spread[std::size_t(account)]); };
    const std::string many = "random accounts";
    measure("search3 (a word; 20 each), " + many, "search3", [&](int i) {
        return std::make_pair(randomAccount(), std::string("query=") + kWords[i % 7]);
    });
    measure("search3 (a song number), " + many, "search3", [&](int) {
        const int a = randomAccount();
        return std::make_pair(a, "query=" + std::to_string(rng() % unsigned(songsOf(a))));
    });
    for (const char *type : {"newest", "alphabeticalByName", "alphabeticalByArtist", "random"})
        measure(std::string("getAlbumList2 ") + type + " size=50, " + many, "getAlbumList2",
                [&, type](int) {
                    return std::make_pair(randomAccount(),
                                          std::string("type=") + type + "&size=50");
                });
    const std::string large = "the " + std::to_string(songsOf(0)) + "-song account";
    measure("search3 (a word; 20 each), " + large, "search3",
            [&](int i) { return std::make_pair(0, std::string("query=") + kWords[i % 7]); });
    measure("search3 (a song number), " + large, "search3", [&](int i) {
        return std::make_pair(0, "query=" + std::to_string(i * 2459 % songsOf(0)));
    });
    for (const char *type : {"newest", "alphabeticalByName", "alphabeticalByArtist", "random"})
        measure(std::string("getAlbumList2 ") + type + " size=50, " + large, "getAlbumList2",
                [&, type](int i) {
                    return std::make_pair(
                        0, std::string("type=") + type + "&size=50&offset=" +
                               std::to_string(i * 50 % std::max(1, songsOf(0) / 10)));
                });

    // The large account's whole listing, as a desktop's first sync asks it.
    bench::DesktopClient desktop(server.port, bench::accountEmail("meta", 0));
    if (!desktop.login()) {
        std::fprintf(stderr, "%s: the desktop sign-in failed\n", engine.c_str());
        out.failed = true;
        return out;
    }
    std::vector<double> ms;
    for (int i = 0; i < o.listings; ++i) {
        const auto t0 = Clock::now();
        const auto text = desktop.listingText(0);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        const auto v = text ? cloud::json::parse(*text) : std::nullopt;
        const auto *items = v ? v->find("updatedUserMedias") : nullptr;
        out.listed = items && items->isArray() ? items->asArray().size() : 0;
        out.listingBytes = text ? text->size() : 0;
        if (out.listed != std::size_t(songsOf(0)))
            out.failed = true;
    }
    out.listing = bench::spreadOf(ms);
    std::printf("  desktop listing of %zu items (%.1f MiB), %d times: median %.0f ms, worst "
                "%.0f ms\n",
                out.listed, out.listingBytes / 1048576.0, o.listings, out.listing.median,
                out.listing.worst);
    for (const auto &row : out.rows)
        out.failed = out.failed || row.failed > 0;
    return out;
}

} // namespace

int scaledMetadata(int argc, char **argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const std::string v = argv[i + 1];
        if (a == "--engines") {
            o.engines.clear();
            std::istringstream in(v);
            for (std::string e; std::getline(in, e, ',');)
                o.engines.push_back(e);
            continue;
        }
        const int n = std::stoi(v);
        if (a == "--songs")
            o.songs = n;
        else if (a == "--accounts")
            o.accounts = std::max(2, n);
        else if (a == "--big")
            o.big = n;
        else if (a == "--queries")
            o.queries = n;
        else if (a == "--sampled")
            o.sampled = std::max(1, n);
        else if (a == "--listings")
            o.listings = std::max(1, n);
    }
    char tmpl[] = "/tmp/sonarbox-cloud-metadata-XXXXXX";
    const fs::path work = mkdtemp(tmpl);
    std::vector<fs::path> songFiles;
    for (int i = 0; i < 4; ++i) {
        const fs::path f = work / ("s" + std::to_string(i) + ".mp3");
        bench::run("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=" +
                   std::to_string(300 + 70 * i) + ":duration=5 -metadata genre=Bench '" +
                   f.string() + "'");
        songFiles.push_back(f);
    }
    std::vector<EngineRun> runs;
    for (const auto &engine : o.engines) {
        if (engine != "postgresql" && engine != "sqlite") {
            std::fprintf(stderr, "unknown engine %s (postgresql or sqlite)\n", engine.c_str());
            return 2;
        }
        runs.push_back(runEngine(o, engine, work, songFiles));
    }

    std::printf("\n%-58s", "median / p90 ms");
    for (const auto &r : runs)
        std::printf(" %17s", r.engine.c_str());
    std::printf("\n");
    for (std::size_t row = 0; !runs.empty() && row < runs[0].rows.size(); ++row) {
        std::printf("%-58s", runs[0].rows[row].label.c_str());
        for (const auto &r : runs) {
            if (row < r.rows.size())
                std::printf(" %8.1f /%7.1f", r.rows[row].spread.median, r.rows[row].spread.p90);
        }
        std::printf("\n");
    }
    std::printf("%-58s", "desktop listing of the large account, median / worst");
    for (const auto &r : runs)
        std::printf(" %8.0f /%7.0f", r.listing.median, r.listing.worst);
    std::printf("\n%-58s", "written / indexed, items per second");
    for (const auto &r : runs)
        std::printf(" %8.0f /%7.0f", o.songs / std::max(r.fillSeconds, 1e-9),
                    o.songs / std::max(r.indexSeconds, 1e-9));
    std::printf("\n");

    std::error_code ec;
    fs::remove_all(work, ec);
    bool failed = false;
    for (const auto &r : runs)
        failed = failed || r.failed;
    return failed ? 1 : 0;
}
