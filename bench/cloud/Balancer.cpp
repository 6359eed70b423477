#include "Balancer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace bench {

int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        throw std::runtime_error("no free port");
    close(fd);
    return ntohs(addr.sin_port);
}

std::string haproxyConfig(int port, const std::vector<int> &serverPorts,
                          const std::string &healthPath) {
    std::string c;
    c.append("global\n"
             "    maxconn 4096\n"
             "defaults\n"
             "    mode http\n"
             "    option forwardfor\n"
             "    option redispatch\n"
             "    retries 2\n"
             "    timeout connect 5s\n"
             // A large upload or a slow listing may take minutes on a busy
             // machine; the server closes idle connections itself.
             "    timeout client 10m\n"
             "    timeout server 10m\n"
             "    timeout http-request 1m\n"
             "frontend sonarbox\n"
             "    bind 127.0.0.1:")
        .append(std::to_string(port))
        .append("\n"
                "    default_backend servers\n"
                "backend servers\n"
                "    balance roundrobin\n");
    if (!healthPath.empty())
        c.append("    option httpchk GET ").append(healthPath).append("\n");
    for (std::size_t i = 0; i < serverPorts.size(); ++i)
        c.append("    server s")
            .append(std::to_string(i + 1))
            .append(" 127.0.0.1:")
            .append(std::to_string(serverPorts[i]))
            .append(" check\n");
    return c;
}

Balancer::Balancer(const fs::path &folder, const std::vector<int> &serverPorts) {
    port = freePort();
    const fs::path config = folder / "haproxy.cfg";
    // The tree has no health route yet: the balancer checks that a server
    // takes connections.
    std::ofstream(config) << haproxyConfig(port, serverPorts);
    const std::string bin = "/usr/sbin/haproxy";
    const std::string cfg = config.string();
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        execl(bin.c_str(), bin.c_str(), "-f", cfg.c_str(), "-db", static_cast<char *>(nullptr));
        _exit(127);
    }
    // Ready when it takes a connection.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool up = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
        close(fd);
        if (up)
            return;
        if (std::chrono::steady_clock::now() > deadline || waitpid(pid_, nullptr, WNOHANG) != 0)
            throw std::runtime_error("haproxy did not start (is it installed?)");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

Balancer::~Balancer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

} // namespace bench
