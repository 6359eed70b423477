#include "PostgresTestServer.h"

#include "Database.h"
#include "TestChild.h"

#include <libpq-fe.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace cloudtest {

namespace {

const char *kBin = "/usr/lib/postgresql/15/bin/";

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

// As root, the server and its tools run as "postgres"; else as the caller.
std::vector<std::string> asServerUser() {
    if (geteuid() != 0)
        return {};
    return {"setpriv", "--reuid=postgres", "--regid=postgres", "--init-groups"};
}

void ownedByServerUser(const fs::path &path) {
    if (geteuid() != 0)
        return;
    const passwd *pw = getpwnam("postgres");
    if (!pw || chown(path.c_str(), pw->pw_uid, pw->pw_gid) != 0)
        throw std::runtime_error("cannot hand " + path.string() + " to the postgres user");
}

std::string quoted(const std::vector<std::string> &argv) {
    std::string out;
    for (const auto &a : argv)
        out += "'" + a + "' ";
    return out;
}

} // namespace

PostgresTestServer &PostgresTestServer::shared() {
    static PostgresTestServer server;
    return server;
}

PostgresTestServer::PostgresTestServer() {
    // Straight under /tmp: a test's own temporary folder is its user's alone,
    // and the server's user must enter every folder above its data.
    std::string pattern = "/tmp/sonarbox-pg-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    // The server's user must enter every folder above its data folder.
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const fs::path data = fs::path(dir_) / "data";
    const fs::path sockets = fs::path(dir_) / "sockets";
    fs::create_directory(data);
    fs::create_directory(sockets);
    ownedByServerUser(data);
    ownedByServerUser(sockets);

    std::vector<std::string> initdb = asServerUser();
    initdb.insert(initdb.end(),
                  {std::string(kBin) + "initdb", "-D", data.string(), "-U", "postgres", "-A",
                   "trust", "--no-locale", "-E", "UTF8", "--no-sync"});
    std::string output;
    if (testchild::shell(quoted(initdb) + "2>&1", &output) != 0)
        throw std::runtime_error("initdb failed: " + output);

    port_ = freePort();
    std::vector<std::string> argv = asServerUser();
    argv.insert(argv.end(),
                {std::string(kBin) + "postgres", "-D", data.string(), "-k", sockets.string(), "-p",
                 std::to_string(port_), "-c", "listen_addresses=127.0.0.1", "-c", "fsync=off", "-c",
                 "full_page_writes=off", "-c", "synchronous_commit=off", "-c",
                 "max_connections=200"});
    const std::string log = (fs::path(dir_) / "server.log").string();
    const int err = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    // Through a shell that ends it with the test: the server runs as another
    // user, and a change of user clears the death signal.
    pid_ = testchild::spawnShell("exec " + quoted(argv), err, err);
    if (err >= 0)
        close(err);
    if (pid_ < 0)
        throw std::runtime_error("cannot start postgres");
    const std::string probe = url("postgres");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (PQping(probe.c_str()) != PQPING_OK) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("postgres did not start; see " + log);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

PostgresTestServer::~PostgresTestServer() {
    if (pid_ > 0) {
        testchild::signalGroup(pid_, SIGTERM);
        testchild::wait(pid_);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

std::string PostgresTestServer::url(const std::string &database) const {
    return "postgresql://postgres@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

std::string PostgresTestServer::createDatabase() {
    const std::string name =
        "test_" + std::to_string(getpid()) + "_" + std::to_string(++databases_);
    cloud::Database admin(url("postgres"));
    admin.exec("CREATE DATABASE " + name);
    return url(name);
}

} // namespace cloudtest
