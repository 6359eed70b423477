// Attacks on the HTTP layer as a hostile client would make them: header
// floods, bodies without a length, smuggled requests, slow and idle clients.
// Each prints the figure it checks.
#include "TestServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

using namespace cloudtest;
using Clock = std::chrono::steady_clock;

namespace {

bool sendAll(int fd, const std::string &bytes) {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// Everything the server sends until it closes the connection or falls silent.
std::string readAll(int fd) {
    std::string reply;
    char buf[4096];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof buf, 0)) > 0)
        reply.append(buf, static_cast<std::size_t>(n));
    return reply;
}

// True when the server closed its side (recv gives 0 rather than timing out).
bool closedByServer(int fd) {
    char c;
    return recv(fd, &c, 1, 0) == 0;
}

long residentKib(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

double secondsFor(TestServer &server) {
    const auto start = Clock::now();
    const Reply r = server.get("/");
    EXPECT_EQ(r.status, 200);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool analyticsHold(TestServer &server, const std::string &text) {
    return server.get("/collect/events").body.find(text) != std::string::npos;
}

TEST(HardeningTest, HeaderFloodsAreCappedAndMemoryStaysBounded) {
    TestServer server;
    const long before = residentKib(server.pid());
    // Endless header lines on several connections: each is cut off with 431
    // (or dropped) once its bounded buffer is full.
    std::vector<std::thread> floods;
    std::atomic<int> refused{0};
    for (int c = 0; c < 8; ++c) {
        floods.emplace_back([&] {
            const int fd = connectLocal(server.port());
            std::string head = "GET / HTTP/1.1\r\nHost: x\r\n";
            for (int i = 0; i < 20000 && sendAll(fd, head); ++i)
                head = "X-Filler-" + std::to_string(i) + ": " + std::string(100, 'f') + "\r\n";
            const std::string reply = readAll(fd);
            if (reply.empty() || reply.find(" 431 ") != std::string::npos)
                ++refused;
            close(fd);
        });
    }
    for (auto &t : floods)
        t.join();
    const long after = residentKib(server.pid());
    std::printf("header flood: resident %ld KiB before, %ld KiB after\n", before, after);
    EXPECT_EQ(refused, 8);
    EXPECT_LT(after - before, 16 * 1024);

    // Many small header fields fit in the buffer but not under the count cap.
    std::string many = "GET / HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 150; ++i)
        many += "X-" + std::to_string(i) + ": 1\r\n";
    const int fd = connectLocal(server.port());
    sendAll(fd, many + "\r\n");
    const std::string reply = readAll(fd);
    close(fd);
    EXPECT_NE(reply.find(" 431 "), std::string::npos) << reply.substr(0, 200);
    EXPECT_LT(secondsFor(server), 1.0);
}

TEST(HardeningTest, RefusedBodiesAreNeverRunAsRequests) {
    TestServer server;
    const std::string smuggled = "GET /collect?smuggled=b HTTP/1.1\r\nHost: x\r\n\r\n";
    struct Case {
        std::string head;
        const char *status;
    };
    const std::vector<Case> cases = {
        // No length: refused without reading what follows.
        {"POST /collect HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\n\r\n", " 411 "},
        // Transfer-Encoding on a JSON path, even beside a length.
        {"POST /Vexmusic/userJson HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n"
         "Content-Length: " +
             std::to_string(smuggled.size()) + "\r\n\r\n",
         " 400 "},
        // Over the limit by its declared length.
        {"POST /Vexmusic/userJson HTTP/1.1\r\nHost: x\r\nContent-Length: 5000000\r\n\r\n", " 413 "},
        // An upload without a session.
        {"POST /Vexmusic/controllers/DesktopUploadMedia HTTP/1.1\r\nHost: x\r\n"
         "Content-Type: multipart/form-data; boundary=BX\r\nContent-Length: " +
             std::to_string(smuggled.size()) + "\r\n\r\n",
         " 401 "},
    };
    for (const auto &c : cases) {
        const int fd = connectLocal(server.port());
        ASSERT_TRUE(sendAll(fd, c.head + smuggled));
        const auto start = Clock::now();
        const std::string reply = readAll(fd);
        // Closed at once rather than left open for the next request.
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << c.head;
        EXPECT_NE(reply.find(c.status), std::string::npos) << c.head << "\n" << reply;
        EXPECT_EQ(reply.find("HTTP/1.1", 5), std::string::npos) << "a second answer: " << reply;
        close(fd);
    }
    EXPECT_FALSE(analyticsHold(server, "smuggled"));
    // The same request on its own is served, so the check above can fail.
    const int fd = connectLocal(server.port());
    sendAll(fd, smuggled);
    EXPECT_NE(readAll(fd).find(" 200 "), std::string::npos);
    close(fd);
    EXPECT_TRUE(analyticsHold(server, "smuggled"));
}

TEST(HardeningTest, RefusalClosesTheConnection) {
    TestServer server;
    const int fd = connectLocal(server.port());
    sendAll(fd, "POST /collect HTTP/1.1\r\nHost: x\r\n\r\n");
    char buf[1024];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    ASSERT_GT(n, 0);
    EXPECT_NE(std::string(buf, static_cast<std::size_t>(n)).find(" 411 "), std::string::npos);
    EXPECT_TRUE(closedByServer(fd));
    close(fd);
}

TEST(HardeningTest, SlowAndIdleClientsDoNotDelayOthers) {
    TestServer server;
    const double alone = secondsFor(server);
    std::vector<int> slow;
    std::vector<int> idle;
    for (int i = 0; i < 100; ++i) {
        const int s = connectLocal(server.port());
        sendAll(s, "GET / HTTP/1.1\r\n");
        slow.push_back(s);
        // A keep-alive connection that finished one request and stays open.
        const int k = connectLocal(server.port());
        sendAll(k, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
        char buf[8192];
        recv(k, buf, sizeof buf, 0);
        idle.push_back(k);
    }
    double worst = 0;
    for (int round = 0; round < 3; ++round) {
        for (const int s : slow)
            sendAll(s, "X-Slow: " + std::to_string(round) + "\r\n");
        worst = std::max(worst, secondsFor(server));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    std::printf("normal request: %.3f s alone, at worst %.3f s beside 100 slow and 100 idle "
                "clients\n",
                alone, worst);
    EXPECT_LT(worst, 1.0);
    for (const int fd : slow)
        close(fd);
    for (const int fd : idle)
        close(fd);
}

} // namespace

namespace {

std::int64_t dataBytes(const TestServer &server) {
    std::int64_t total = 0;
    for (const char *name : {"cloud.sqlite", "cloud.sqlite-wal"}) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(server.dataDir() / name, ec);
        total += ec ? 0 : static_cast<std::int64_t>(size);
    }
    return total;
}

std::string exchange(int port, const std::string &request) {
    const int fd = connectLocal(port);
    sendAll(fd, request);
    std::string reply = readAll(fd);
    close(fd);
    return reply;
}

TEST(HardeningTest, AnalyticsStoreEachEventOnceAndBoundedPerAddress) {
    TestServer server;
    const auto post = [&](const std::string &body) {
        return server.post("/collect", body, {}, {{"Content-Type", "application/json"}});
    };
    // Twenty events of 40 KB in one request: stored once each, not once per event
    // with the whole request beside it.
    std::string list = "[";
    for (int i = 0; i < 20; ++i)
        list += std::string(i ? "," : "") + "{\"n\":" + std::to_string(i) + ",\"pad\":\"" +
                std::string(40000, 'p') + "\"}";
    list += "]";
    const std::int64_t before = dataBytes(server);
    EXPECT_EQ(post(list).status, 200);
    const std::int64_t grown = dataBytes(server) - before;
    std::printf("analytics: %zu bytes sent, %lld bytes stored\n", list.size(),
                static_cast<long long>(grown));
    EXPECT_LT(grown, static_cast<std::int64_t>(list.size()) * 3);

    std::string tooMany = "[";
    for (int i = 0; i < 21; ++i)
        tooMany += std::string(i ? "," : "") + "{\"n\":" + std::to_string(i) + "}";
    EXPECT_EQ(post(tooMany + "]").status, 400);

    // One address sending as fast as it can is held back.
    int limited = 0;
    for (int i = 0; i < 120; ++i)
        limited += server.get("/collect?burst=" + std::to_string(i)).status == 429 ? 1 : 0;
    std::printf("analytics: %d of 120 rapid requests refused\n", limited);
    EXPECT_GT(limited, 40);
}

TEST(HardeningTest, SignInStandInTrustsItsOwnAddressOnly) {
    TestServer server;
    const std::string port = std::to_string(server.port());
    // The Host header names the attacker's site: its redirect address is still refused.
    const std::string forged =
        exchange(server.port(), "GET /oauth/authorize?client_id=1&redirect_uri=http%3A%2F%2Fevil."
                                "example%2Fconnect%2Flogin_success.html HTTP/1.1\r\n"
                                "Host: evil.example\r\nConnection: close\r\n\r\n");
    EXPECT_NE(forged.find(" 400 "), std::string::npos) << forged.substr(0, 300);
    const std::string own = exchange(
        server.port(),
        "GET /connect/uiserver.php?client_id=1&redirect_uri=http%3A%2F%2F127.0.0.1%3A" + port +
            "%2Fconnect%2Flogin_success.html HTTP/1.1\r\n"
            "Host: evil.example\r\nConnection: close\r\n\r\n");
    EXPECT_NE(own.find(" 200 "), std::string::npos) << own.substr(0, 300);
    EXPECT_NE(own.find("X-Frame-Options: DENY"), std::string::npos) << own.substr(0, 300);
}

TEST(HardeningTest, SessionsLogsAndFieldsResistForgery) {
    TestServer server;
    server.addUser("log@example.org", "log password");
    const std::string cookie = server.loginOrFail("log@example.org", "log password");
    const std::string id = TestServer::sessionId(cookie);
    // Only a cookie named exactly JSESSIONID counts.
    EXPECT_EQ(server.listing("XJSESSIONID=" + id, 0).status, 401);
    EXPECT_EQ(server.listing("other=1; JSESSIONID=" + id, 0).status, 200);

    // Names and device IDs beyond 256 bytes are refused.
    Reply r = server.post("/Vexmusic/userJson",
                          "{\"updateDeviceServiceStatus\":{\"status\":\"ok\"}}", cookie);
    EXPECT_EQ(r.status, 200);
    cloud::json::Value args;
    args.set("username", "log@example.org");
    args.set("password", "log password");
    args.set("deviceId", std::string(300, 'd'));
    args.set("signature", "0123456789abcdef0123456789abcdef");
    cloud::json::Value body;
    body.set("loginDesktop", args);
    EXPECT_EQ(server.postJson("/Vexmusic/userJson", body).status, 400);

    // A signed download address and a forged log line never reach the log as such.
    const Reply up = server.upload(cookie, "log.mp3", wavBytes(4096, "bytes to download"));
    const auto mediaId = up.json()->find("purchasedContent")->asArray()[0].find("id")->asInteger();
    Reply redirect;
    EXPECT_EQ(server.download(cookie, mediaId, "log@example.org", "log password", &redirect).status,
              200);
    const std::string location = redirect.headers["location"];
    const auto cdn = location.find("/cdn/");
    ASSERT_NE(cdn, std::string::npos);
    std::string signature;
    for (std::size_t start = cdn; start < location.size();) {
        const auto slash = location.find('/', start + 1);
        const std::string part = location.substr(
            start + 1, slash == std::string::npos ? std::string::npos : slash - start - 1);
        if (part.size() == 64)
            signature = part;
        start = slash == std::string::npos ? location.size() : slash;
    }
    ASSERT_EQ(signature.size(), 64u) << location;
    exchange(server.port(), "GET /x%0AGET%20/forged%20200 HTTP/1.1\r\nHost: x\r\n"
                            "Connection: close\r\n\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string log = readFile(server.dataDir() / "server.log");
    EXPECT_EQ(log.find(signature), std::string::npos);
    EXPECT_NE(log.find("/cdn/"), std::string::npos);
    EXPECT_EQ(log.find("\nGET /forged 200"), std::string::npos) << log;
    EXPECT_NE(log.find("\\x0A"), std::string::npos) << log;
}

} // namespace

namespace {

TEST(HardeningTest, DataFolderIsTheOwnersAlone) {
    TestServer server;
    server.addUser("perm@example.org", "perm password");
    const std::string cookie = server.loginOrFail("perm@example.org", "perm password");
    ASSERT_EQ(server.upload(cookie, "perm.mp3", wavBytes(4096, "private bytes")).status, 200);
    namespace fs = std::filesystem;
    const auto others = fs::perms::group_all | fs::perms::others_all;
    EXPECT_EQ(fs::status(server.dataDir()).permissions() & others, fs::perms::none);
    int checked = 0;
    for (const auto &entry : fs::recursive_directory_iterator(server.dataDir())) {
        if (entry.path().filename() == "server.log") // made by the test, not the server
            continue;
        EXPECT_EQ(entry.status().permissions() & others, fs::perms::none) << entry.path();
        ++checked;
    }
    EXPECT_GE(checked, 4); // the database, media/, incoming/ and the stored file
}

} // namespace

namespace {

TEST(HardeningTest, RemovingADeviceFreesItsSlotAndEndsItsSession) {
    TestServer server({"--device-limit", "1"});
    server.addUser("slot@example.org", "slot password");
    const std::string first = server.loginOrFail("slot@example.org", "slot password", "first");
    EXPECT_EQ(server.login("slot@example.org", "slot password", "second").member("responseStatus"),
              "INVALID_DEVICE_ID");
    EXPECT_NE(server.run({"remove-device", "slot@example.org", "none"}).exitCode, 0);
    const auto removed = server.run({"remove-device", "slot@example.org", "first"});
    EXPECT_EQ(removed.exitCode, 0) << removed.output;
    EXPECT_EQ(server.listing(first, 0).status, 401);
    EXPECT_EQ(server.login("slot@example.org", "slot password", "second").member("responseStatus"),
              "SUCCESS");
}

} // namespace
