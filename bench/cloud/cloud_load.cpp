// Load benchmark: N concurrent clients sign in, list, match and upload against
// one sonarbox-cloud on 127.0.0.1, then every confirmed upload is checked.
// A second phase compares single-stream upload throughput with curl's.
//
//   cloud_load [--clients 50] [--seconds 30] [--file-mb 5] [--curl-files 10]
//              [--slow-clients 0]   attackers sending a header line every 5 s
//   cloud_load --stream …   the music-player scenario (stream_load.cpp)
//   cloud_load --heavy …    pings beside covers and transcoding (heavy_load.cpp)
//   cloud_load --web …      the web player's first paint on a large library (web_player.cpp)
//   cloud_load --covers …   covers from the cover cache (cover_cache.cpp)
// The same load through a balancer to servers on PostgreSQL and a bucket is
// cloud_scaled balanced.
#include "BenchServer.h"
#include "LoadRun.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

int streamLoad(int argc, char **argv); // stream_load.cpp
int heavyLoad(int argc, char **argv);  // heavy_load.cpp
int webLoad(int argc, char **argv);    // web_player.cpp
int coverCache(int argc, char **argv); // cover_cache.cpp

int main(int argc, char **argv) {
    if (argc > 1 && std::string(argv[1]) == "--stream")
        return streamLoad(argc - 1, argv + 1);
    if (argc > 1 && std::string(argv[1]) == "--heavy")
        return heavyLoad(argc - 1, argv + 1);
    if (argc > 1 && std::string(argv[1]) == "--web")
        return webLoad(argc - 1, argv + 1);
    if (argc > 1 && std::string(argv[1]) == "--covers")
        return coverCache(argc - 1, argv + 1);
    const bench::LoadOptions o = bench::loadOptionsFrom(argc, argv);

    char tmpl[] = "/tmp/sonarbox-cloud-bench-XXXXXX";
    const fs::path work = mkdtemp(tmpl);
    const fs::path data = work / "data";
    const auto catalogue = bench::setUpLoad(o, work, {"--data", data.string()});
    int status = 1;
    {
        bench::Server server(data);
        status = bench::runLoad(o, server.port, work, catalogue);
    }
    std::error_code ec;
    fs::remove_all(work, ec);
    return status;
}
