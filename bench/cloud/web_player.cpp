// The web player's scenario of cloud_load: one account of N songs (100,000 by
// default), a browser that is signed in opens the server's address; the time
// to the first paint and to the painted album list, over R fresh browser
// profiles, and the bytes of the page as served (web_first_paint.mjs, with
// the browser tests' puppeteer-core).
//
//   cloud_load --web [--songs 100000] [--runs 5]
#include "BenchLibrary.h"
#include "BenchServer.h"
#include "DesktopClient.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

int webLoad(int argc, char **argv) {
    int songs = 100000;
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--songs")
            songs = std::stoi(argv[i + 1]);
        else if (a == "--runs")
            runs = std::stoi(argv[i + 1]);
    }
    char tmpl[] = "/tmp/sonarbox-cloud-web-XXXXXX";
    const fs::path work = mkdtemp(tmpl);
    const fs::path data = work / "data";
    const auto listener = bench::addPlayerAccount(data, "listener@bench.example");
    if (listener.password.empty()) {
        std::fprintf(stderr, "no account\n");
        return 1;
    }
    // One short song stands behind every library item: only the lists matter here.
    const fs::path song = work / "song.mp3";
    bench::run("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=440:duration=5 '" +
               song.string() + "'");
    bench::run(std::string(SONARBOX_CLOUD_BINARY) + " import --data '" + data.string() + "' '" +
               song.string() + "'");
    const auto fileIds = bench::fileIdsOf(bench::sqliteOf(data), {song});
    bench::fillLibrary(bench::sqliteOf(data), listener.email, fileIds, songs);
    bench::indexLibrary(bench::sqliteOf(data));
    std::printf("library: %d songs (%d albums) in one account\n", songs, (songs + 9) / 10);
    std::fflush(stdout);

    int status = 1;
    {
        bench::Server server(data);
        const std::string command =
            "node '" SONARBOX_WEB_FIRST_PAINT "'" +
            bench::shellWords({SONARBOX_WEB_PLAYER_DIR,
                               "http://127.0.0.1:" + std::to_string(server.port), listener.email,
                               bench::kDesktopPassword, std::to_string(runs)});
        status = std::system(command.c_str()) == 0 ? 0 : 1;
    }
    std::error_code ec;
    fs::remove_all(work, ec);
    return status;
}
