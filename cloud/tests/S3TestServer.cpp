#include "S3TestServer.h"

#include "Crypto.h"
#include "TestChild.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace cloudtest {

namespace {

// Not a time limit of the test: the store either says "ready" or has died
// well within this.
constexpr int kStartGuardMs = 120 * 1000;

std::string readAll(const fs::path &path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

S3TestServer &S3TestServer::shared() {
    static S3TestServer server;
    return server;
}

S3TestServer::S3TestServer() {
    std::string pattern = (fs::temp_directory_path() / "sonarbox-s3-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp");
    folder_ = pattern;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    const fs::path errors = folder_ / "swift.log";
    const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = testchild::spawn({"/usr/bin/python3", SONARBOX_SWIFT_S3_SCRIPT, folder_.string(),
                             "sonarbox", "tester", secret()},
                            fds[1], err);
    ::close(fds[1]);
    if (err >= 0)
        ::close(err);
    std::string line;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartGuardMs);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        char buf[256];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        line.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (line.rfind("ready ", 0) != 0 || (port_ = std::atoi(line.c_str() + 6)) <= 0) {
        const std::string log = readAll(errors);
        shutDown();
        throw std::runtime_error("the S3 test store did not start: " + log);
    }
}

S3TestServer::~S3TestServer() {
    shutDown();
}

void S3TestServer::shutDown() {
    if (pid_ > 0) {
        testchild::signalGroup(pid_, SIGKILL);
        testchild::wait(pid_);
        pid_ = -1;
    }
    std::error_code ec;
    if (!folder_.empty())
        fs::remove_all(folder_, ec);
    folder_.clear();
}

std::string S3TestServer::freshBucket() {
    const std::string bucket =
        "test-" + std::to_string(++buckets_) + "-" + cloud::crypto::randomHex(4);
    cloud::objects::S3Store(options(bucket, folder_ / "spool")).createBucket();
    return bucket;
}

cloud::objects::S3Options S3TestServer::options(const std::string &bucket,
                                                const fs::path &spoolDir) const {
    cloud::objects::S3Options o;
    o.endpoint = endpoint();
    o.bucket = bucket;
    o.credentials = {accessKey(), secret()};
    o.spoolDir = spoolDir;
    return o;
}

std::string S3TestServer::url(const std::string &bucket) const {
    return "s3://" + bucket + "?endpoint=" + endpoint() + "&region=us-east-1";
}

std::uint64_t S3TestServer::bytesSentFor(const std::string &key) const {
    std::ifstream log(folder_ / "access.log");
    std::uint64_t sent = 0;
    for (std::string line; std::getline(log, line);) {
        // … "GET /bucket/key HTTP/1.1" STATUS BYTES SECONDS
        const auto request = line.find("\"GET /");
        const auto end = line.find('"', request + 1);
        if (request == std::string::npos || end == std::string::npos ||
            line.substr(request, end - request).find("/" + key + " ") == std::string::npos)
            continue;
        std::istringstream rest(line.substr(end + 1));
        int status = 0;
        std::uint64_t bytes = 0;
        if (rest >> status >> bytes)
            sent += bytes;
    }
    return sent;
}

int S3TestServer::requestsLike(const std::string &start) const {
    std::ifstream log(folder_ / "access.log");
    int count = 0;
    for (std::string line; std::getline(log, line);)
        count += line.find("\"" + start) != std::string::npos ? 1 : 0;
    return count;
}

void S3TestServer::writeCredentials(const fs::path &path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot write " + path.string());
    std::string text = "access_key_id=";
    text.append(accessKey()).append("\nsecret_access_key=").append(secret()).append("\n");
    const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    if (!written)
        throw std::runtime_error("cannot write " + path.string());
}

} // namespace cloudtest
