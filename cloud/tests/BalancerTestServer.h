// HAProxy from the system in front of several sonarbox-cloud processes on
// 127.0.0.1, as a deployment past one machine puts it: round robin, health
// checks on /healthz, the client's address passed on in X-Forwarded-For, and
// a request whose server went down before it was sent tried on another.
// Started with a configuration of the test's own, and gone with the test.
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace cloudtest {

class BalancerTestServer {
public:
    // Balances over the servers listening on `ports`; throws when HAProxy does
    // not start.
    explicit BalancerTestServer(const std::vector<int> &ports);
    ~BalancerTestServer();
    BalancerTestServer(const BalancerTestServer &) = delete;
    BalancerTestServer &operator=(const BalancerTestServer &) = delete;

    int port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // Waits until the balancer counts `up` of its servers as up (its own
    // health checks), at most `timeoutMs`; false when it did not.
    bool waitForServersUp(int up, int timeoutMs = 10000) const;

private:
    std::filesystem::path folder_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// A port nobody listens on right now, on 127.0.0.1.
int freeLocalPort();

} // namespace cloudtest
