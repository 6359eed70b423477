#include "BalancerTestServer.h"

#include "TestChild.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace cloudtest {

namespace {

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// One command on HAProxy's administration socket, and its answer.
std::string adminCommand(const fs::path &socketPath, const std::string &command) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
        const std::string line = command + "\n";
        if (::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
            char buf[4096];
            ssize_t n;
            while ((n = ::read(fd, buf, sizeof buf)) > 0)
                answer.append(buf, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return answer;
}

} // namespace

int freeLocalPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &size) != 0) {
        ::close(fd);
        throw std::runtime_error("no free port");
    }
    ::close(fd);
    return ntohs(addr.sin_port);
}

BalancerTestServer::BalancerTestServer(const std::vector<int> &ports) {
    std::string pattern = (fs::temp_directory_path() / "sonarbox-balancer-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp");
    folder_ = pattern;
    port_ = freeLocalPort();
    std::ostringstream config;
    config << "global\n"
              "    maxconn 1024\n"
              "    stats socket "
           << (folder_ / "admin.sock").string()
           << " mode 600 level admin\n"
              "defaults\n"
              "    mode http\n"
              "    timeout connect 2s\n"
              // Uploads and streams take their time.
              "    timeout client 120s\n"
              "    timeout server 120s\n"
              "    option forwardfor\n"
              "    option redispatch\n"
              "    retries 2\n"
              "frontend cloud\n"
              "    bind 127.0.0.1:"
           << port_
           << "\n"
              "    default_backend servers\n"
              "backend servers\n"
              "    balance roundrobin\n"
              "    option httpchk GET /healthz\n"
              "    default-server inter 200ms fall 2 rise 1\n";
    for (std::size_t i = 0; i < ports.size(); ++i)
        config << "    server s" << i << " 127.0.0.1:" << ports[i] << " check\n";
    const fs::path file = folder_ / "haproxy.cfg";
    std::ofstream(file) << config.str();
    const fs::path log = folder_ / "haproxy.log";
    const int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = testchild::spawn({"/usr/sbin/haproxy", "-db", "-f", file.string()}, err, err);
    if (err >= 0)
        ::close(err);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!accepts(port_) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!accepts(port_)) {
        std::ifstream in(log);
        std::ostringstream text;
        text << in.rdbuf();
        throw std::runtime_error("HAProxy did not start: " + text.str());
    }
}

BalancerTestServer::~BalancerTestServer() {
    if (pid_ > 0) {
        testchild::signalGroup(pid_, SIGKILL);
        testchild::wait(pid_);
    }
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

bool BalancerTestServer::waitForServersUp(int up, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // "show servers state" lists one line per server; its sixth field
        // is the operational state, 2 for up.
        std::istringstream lines(
            adminCommand(folder_ / "admin.sock", "show servers state servers"));
        int counted = 0;
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::vector<std::string> f;
            for (std::string word; fields >> word;)
                f.push_back(word);
            if (f.size() > 5 && f[0] != "#" && f[5] == "2")
                ++counted;
        }
        if (counted == up)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace cloudtest
