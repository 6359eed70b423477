// The reference server of the service protocol. httplib stays out of this
// header: the server object lives behind a pointer.
#pragma once

#include "Config.h"

#include <memory>
#include <string>

namespace cloud {

class CloudServer {
public:
    explicit CloudServer(Config config);
    ~CloudServer();
    CloudServer(const CloudServer &) = delete;
    CloudServer &operator=(const CloudServer &) = delete;

    // Binds host:port (port 0 picks a free one); returns the bound port or -1.
    int bind(const std::string &host, int port);
    // Serves until stop() is called from another thread (or a signal handler thread).
    bool run();
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace cloud
