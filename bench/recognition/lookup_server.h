// sonarbox-cloud answering recognition lookups over a catalogue on 127.0.0.1,
// for the benchmarks' --lookup runs; stopped, and its data folder removed,
// with the object.
#pragma once

#include "BenchServer.h"

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

namespace recog::bench {

class LookupServer {
public:
    static constexpr const char *kClientId = "1234567";
    static constexpr const char *kClientTag = "0123456789ABCDEF0123456789ABCDEF";

    explicit LookupServer(const std::string &catalogue)
        : data_(std::filesystem::temp_directory_path() /
                ("recognition-lookup-bench-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(data_);
        // No rate limit worth the name: the benchmark is the only client.
        server_ = std::make_unique<::bench::Server>(
            data_, std::vector<std::string>{
                       "--recognition-catalog", catalogue, "--recognition-clients",
                       std::string(kClientId) + ":" + kClientTag, "--recognition-rate", "1000000"});
        url = "http://127.0.0.1:" + std::to_string(server_->port) + "/recognition/v1/lookup";
    }
    ~LookupServer() {
        server_.reset();
        std::error_code ec;
        std::filesystem::remove_all(data_, ec);
    }
    LookupServer(const LookupServer &) = delete;
    LookupServer &operator=(const LookupServer &) = delete;

    std::string url;

private:
    std::filesystem::path data_;
    std::unique_ptr<::bench::Server> server_;
};

} // namespace recog::bench
