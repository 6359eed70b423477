// Covers from the cover cache: how long a getCoverArt takes once the cover
// was made, against its first request, which decodes (and scales) the
// embedded picture or draws a cover for an album without art. One client on
// one keep-alive connection with token credentials, each request a full
// answer of the player API (authentication, library look-up, the bytes).
//
//   cloud_load --covers [--requests 500] [--cover-pixels 3000]
#include "BenchLibrary.h"
#include "BenchServer.h"
#include "LoadFigures.h"

#include <httplib.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    int requests = 500;
    int coverPixels = 3000;
};

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// A song of five seconds, with the picture embedded when one is given.
fs::path makeSong(const fs::path &dir, const std::string &name, const fs::path &picture) {
    const fs::path f = dir / name;
    const std::string withPicture =
        picture.empty() ? std::string()
                        : " -i '" + picture.string() +
                              "' -map 0:a -map 1:v -c:v copy -disposition:v attached_pic "
                              "-id3v2_version 3";
    bench::run("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=440:duration=5" +
               withPicture + " -c:a libmp3lame -b:a 128k '" + f.string() + "'");
    return f;
}

struct Case {
    std::string what;
    std::string query;
};

} // namespace

int coverCache(int argc, char **argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--requests")
            o.requests = std::stoi(argv[i + 1]);
        else if (a == "--cover-pixels")
            o.coverPixels = std::stoi(argv[i + 1]);
        else {
            std::fprintf(stderr, "unknown option %s\n", a.c_str());
            return 2;
        }
    }
    char tmpl[] = "/tmp/sonarbox-cloud-covers-XXXXXX";
    const fs::path work = mkdtemp(tmpl);
    const fs::path data = work / "data";
    const fs::path picture = work / "cover.jpg";
    const std::string side = std::to_string(o.coverPixels);
    bench::run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=" + side + "x" + side +
               ":rate=1 -frames:v 1 -q:v 3 '" + picture.string() + "'");
    const fs::path withCover = makeSong(work, "cover.mp3", picture);
    const fs::path plain = makeSong(work, "plain.mp3", {});
    bench::run(std::string(SONARBOX_CLOUD_BINARY) + " import --data '" + data.string() + "' '" +
               withCover.string() + "' '" + plain.string() + "'");
    const auto covers = bench::addPlayerAccount(data, "covers@bench.example");
    const auto drawn = bench::addPlayerAccount(data, "drawn@bench.example");
    const std::string database = bench::sqliteOf(data);
    const auto ids = bench::fileIdsOf(database, {withCover, plain});
    if (covers.password.empty() || drawn.password.empty() || ids.size() != 2 || ids[0] == 0 ||
        ids[1] == 0) {
        std::fprintf(stderr, "setting up failed (accounts, or songs not imported)\n");
        return 1;
    }
    bench::fillLibrary(database, covers.email, {ids[0]}, 10);
    bench::fillLibrary(database, drawn.email, {ids[1]}, 10);
    bench::indexLibrary(database);
    const std::string song = bench::songIdsOf(database, covers.email).front();

    int status = 0;
    {
        bench::Server server(data);
        httplib::Client client("127.0.0.1", server.port);
        client.set_keep_alive(true);
        client.set_read_timeout(60, 0);
        // The album of the account whose songs embed no picture.
        const auto list =
            client.Get("/rest/getAlbumList2?type=newest&size=1&" + bench::playerAuth(drawn));
        const std::string body = list ? list->body : std::string();
        const auto at = body.find("\"id\":\"al");
        const std::string album = at == std::string::npos ? std::string() : body.substr(at + 6, 24);
        const std::vector<std::pair<Case, const bench::PlayerAccount *>> cases = {
            {{"embedded " + side + " px JPEG, size=300", "id=" + song + "&size=300"}, &covers},
            {{"embedded picture as stored (no size)", "id=" + song}, &covers},
            {{"album without art, drawn, size=300", "id=" + album + "&size=300"}, &drawn},
        };
        std::printf("getCoverArt, one keep-alive connection, %d requests each after the first\n",
                    o.requests);
        std::printf("%-40s %9s %9s %8s %8s %9s\n", "cover", "first ms", "median ms", "p90 ms",
                    "max ms", "bytes");
        for (const auto &[c, account] : cases) {
            std::vector<double> ms;
            std::size_t bytes = 0;
            double first = 0;
            for (int i = 0; i <= o.requests; ++i) {
                const auto t = Clock::now();
                const auto r =
                    client.Get("/rest/getCoverArt?" + bench::playerAuth(*account) + "&" + c.query);
                const double took = msSince(t);
                if (!r || r->status != 200 ||
                    r->get_header_value("Content-Type").rfind("image/", 0) != 0) {
                    std::fprintf(stderr, "%s: no picture (%s)\n", c.what.c_str(),
                                 r ? r->body.substr(0, 200).c_str() : "no answer");
                    status = 1;
                    break;
                }
                bytes = r->body.size();
                if (i == 0)
                    first = took;
                else
                    ms.push_back(took);
            }
            std::printf("%-40s %9.1f %9.2f %8.2f %8.2f %9zu\n", c.what.c_str(), first,
                        bench::median(ms), bench::percentile(ms, 90),
                        ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()), bytes);
        }
    }
    std::error_code ec;
    fs::remove_all(work, ec);
    return status;
}
