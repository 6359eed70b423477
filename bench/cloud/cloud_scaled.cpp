// Benchmarks of the scaled back end: servers on a PostgreSQL database and a
// bucket of an S3-compatible store, both started privately on 127.0.0.1,
// with the household server (SQLite and the data folder) beside them where
// the same benchmark runs on both.
//
//   cloud_scaled metadata [--songs 1000000] [--accounts 10000] [--big 100000]
//                         [--queries 200] [--sampled 100] [--listings 5]
//                         [--engines postgresql,sqlite]
//   cloud_scaled uploads  [--files 10] [--file-mb 20]
//   cloud_scaled gc       [--objects 100000] [--referenced-percent 50] [--workers 4]
//                         [--object-bytes 1024] [--household: a data folder and SQLite]
//   cloud_scaled balanced [--servers 0,1,2] [cloud_load's options: --clients 50
//                         --seconds 30 --file-mb 5 --curl-files 10]
//                         0 is the household server without a balancer; N > 0 is
//                         N servers sharing a database and a bucket behind HAProxy
#include "BalancerTestServer.h"
#include "BenchServer.h"
#include "LoadFigures.h"
#include "LoadRun.h"
#include "ScaledBackEnd.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

int scaledMetadata(int argc, char **argv); // scaled_metadata.cpp
int scaledUploads(int argc, char **argv);  // scaled_uploads.cpp
int scaledGc(int argc, char **argv);       // scaled_gc.cpp

namespace {

int balanced(int argc, char **argv) {
    const bench::LoadOptions o = bench::loadOptionsFrom(argc, argv);
    std::vector<int> servers = {0, 1, 2};
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--servers")
            servers = bench::parseCounts(argv[i + 1], 0);
    }
    int status = 0;
    for (const int count : servers) {
        char tmpl[] = "/tmp/sonarbox-cloud-balanced-XXXXXX";
        const fs::path work = mkdtemp(tmpl);
        const bench::BackEnd backEnd = bench::makeBackEnd(work / "data", count > 0);
        if (count == 0)
            std::printf("\n== the household server (SQLite, data folder), no balancer ==\n");
        else
            std::printf("\n== %d server%s on one PostgreSQL database and one bucket, through "
                        "HAProxy ==\n",
                        count, count == 1 ? "" : "s");
        const auto catalogue = bench::setUpLoad(o, work, backEnd.args());
        {
            std::vector<std::unique_ptr<bench::Server>> running;
            std::vector<int> ports;
            for (int i = 0; i < std::max(count, 1); ++i) {
                running.push_back(
                    std::make_unique<bench::Server>(backEnd.data, backEnd.sharedArgs()));
                ports.push_back(running.back()->port);
            }
            std::unique_ptr<cloudtest::BalancerTestServer> balancer;
            if (count > 0) {
                balancer = std::make_unique<cloudtest::BalancerTestServer>(ports);
                if (!balancer->waitForServersUp(count))
                    throw std::runtime_error("the balancer does not see its servers up");
            }
            status |= bench::runLoad(o, balancer ? balancer->port() : ports[0], work, catalogue);
        }
        std::error_code ec;
        fs::remove_all(work, ec);
    }
    return status;
}

} // namespace

int main(int argc, char **argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "metadata")
        return scaledMetadata(argc - 1, argv + 1);
    if (mode == "uploads")
        return scaledUploads(argc - 1, argv + 1);
    if (mode == "gc")
        return scaledGc(argc - 1, argv + 1);
    if (mode == "balanced")
        return balanced(argc - 1, argv + 1);
    std::fprintf(stderr, "usage: cloud_scaled metadata|uploads|gc|balanced [options]\n");
    return 2;
}
