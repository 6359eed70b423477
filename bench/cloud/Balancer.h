// A balancer in front of several sonarbox-cloud processes on 127.0.0.1:
// Debian's HAProxy, started by the benchmark with a configuration it writes.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace bench {

// A TCP port nobody listens on now.
int freePort();

// HAProxy's configuration for a balancer on 127.0.0.1:`port` in front of
// servers on 127.0.0.1:`serverPorts`, taking turns, each checked by
// `GET healthPath` or, when that is empty, by a TCP connection.
std::string haproxyConfig(int port, const std::vector<int> &serverPorts,
                          const std::string &healthPath = {});

// HAProxy run with haproxyConfig() from `folder` for the benchmark's life.
class Balancer {
public:
    Balancer(const std::filesystem::path &folder, const std::vector<int> &serverPorts);
    ~Balancer();
    Balancer(const Balancer &) = delete;
    Balancer &operator=(const Balancer &) = delete;
    int port = 0;

private:
    pid_t pid_ = -1;
};

} // namespace bench
