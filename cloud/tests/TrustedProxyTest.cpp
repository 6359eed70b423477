// Behind a load balancer every connection comes from the balancer: with it
// named as a trusted proxy, each client is limited by the address the
// balancer forwards; from anyone else X-Forwarded-For counts for nothing.
#include "SignInThrottle.h"
#include "TestServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace cloudtest;
using cloud::throttle::kAddressFreeFailures;

namespace {

const std::string kPassword = "s3cret pass";
using Headers = std::map<std::string, std::string>;

Headers from(const std::string &forwardedFor) {
    return {{"X-Forwarded-For", forwardedFor}};
}

// A desktop sign-in of bob with a token fetched earlier.
Reply signInWith(TestServer &server, const std::string &token, const Headers &headers) {
    const auto body = TestServer::loginBody("bob@example.org", kPassword, "d1", token);
    return server.post("/Vexmusic/userJson", cloud::json::serialize(body), {}, headers);
}

// Wrong passwords for accounts nobody has: only the address's count grows.
void guess(TestServer &server, const Headers &headers, int count, int first = 0) {
    for (int i = first; i < first + count; ++i)
        EXPECT_EQ(server
                      .login("nobody" + std::to_string(i) + "@example.org", "guess", "d1", nullptr,
                             headers)
                      .member("responseText"),
                  "wrong user name or password");
}

// Whether bob, with his right password, is held back where `headers` say he is.
bool heldBack(TestServer &server, const Headers &headers) {
    const Reply r = server.login("bob@example.org", kPassword, "d1", nullptr, headers);
    EXPECT_TRUE(r.member("responseStatus") == "SUCCESS" ||
                r.member("responseText").find("too many failed sign-ins") != std::string::npos)
        << r.body;
    return r.member("responseStatus") != "SUCCESS";
}

TEST(TrustedProxyTest, ClientsBehindTheProxyAreLimitedEachByItsOwnAddress) {
    TestServer server({"--trusted-proxy", "192.0.2.1", "--trusted-proxy", "127.0.0.1"});
    server.addUser("bob@example.org", kPassword);
    const Headers a = from("203.0.113.7");
    const Headers b = from("198.51.100.9");

    // A signature token belongs to the forwarded address that fetched it.
    const std::string token = server.token(a);
    EXPECT_EQ(signInWith(server, token, b).member("responseText"), "invalid or reused signature");
    EXPECT_EQ(signInWith(server, token, a).member("responseStatus"), "SUCCESS");
    // Several X-Forwarded-For fields read as one list, in their order.
    httplib::Client raw("127.0.0.1", server.port());
    const auto split =
        raw.Post("/Vexmusic/userJson",
                 {{"X-Forwarded-For", "198.51.100.9"}, {"X-Forwarded-For", "203.0.113.7"}},
                 "{\"getToken\":\"\"}", "application/json");
    ASSERT_TRUE(split);
    const auto quote = split->body.find('"');
    const std::string splitToken =
        split->body.substr(quote + 1, split->body.find('"', quote + 1) - quote - 1);
    EXPECT_EQ(signInWith(server, splitToken, a).member("responseStatus"), "SUCCESS");
    // A header the proxy mangled names nobody: the request is the proxy's own,
    // as one without the header is.
    for (const std::string &bad :
         std::vector<std::string>{"not-an-address", "203.0.113.7,", "203.0.113.7:4711",
                                  "[2001:db8::1]", "unknown", std::string(8000, '7')})
        EXPECT_EQ(signInWith(server, server.token(from(bad)), {}).member("responseStatus"),
                  "SUCCESS")
            << bad;

    // A's guessing holds A back, and B not at all.
    guess(server, a, kAddressFreeFailures);
    EXPECT_TRUE(heldBack(server, a));
    EXPECT_FALSE(heldBack(server, b));
    // What the client wrote left of the address the proxy appended changes
    // nothing, nor does a trusted proxy on the way.
    EXPECT_TRUE(heldBack(server, from("198.51.100.9, 203.0.113.7")));
    EXPECT_TRUE(heldBack(server, from("203.0.113.7,192.0.2.1")));
}

TEST(TrustedProxyTest, ForwardedForFromAnyOtherPeerIsIgnored) {
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {}, {"--trusted-proxy", "10.9.8.7"}, {"--trusted-proxy", "::1"}}) {
        TestServer server(args);
        server.addUser("bob@example.org", kPassword);
        // Tokens are the peer's, whatever the header says.
        const std::string token = server.token(from("203.0.113.7"));
        EXPECT_EQ(signInWith(server, token, from("198.51.100.9")).member("responseStatus"),
                  "SUCCESS");
        // A guesser cannot escape the throttle by changing the header.
        for (int i = 0; i < kAddressFreeFailures; ++i)
            guess(server, from("203.0.113." + std::to_string(i)), 1, i);
        EXPECT_TRUE(heldBack(server, from("198.51.100.77")));
        EXPECT_TRUE(heldBack(server, {}));
    }
}

// An HTTP request on a raw connection that stays open; whether it was answered.
bool answered(int fd) {
    const std::string request = "GET /healthz HTTP/1.1\r\nHost: test\r\n\r\n";
    if (fd < 0 || send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
                      static_cast<ssize_t>(request.size()))
        return false;
    char buf[256];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    return n > 0 && std::string(buf, static_cast<std::size_t>(n)).rfind("HTTP/1.1 200", 0) == 0;
}

TEST(TrustedProxyTest, TheProxysConnectionsAreNotHeldToOneAddressesShare) {
    TestServer limited({"--max-connections-per-address", "2"});
    TestServer proxied({"--max-connections-per-address", "2", "--trusted-proxy", "127.0.0.1"});
    std::vector<int> open;
    for (int i = 0; i < 2; ++i) {
        open.push_back(connectLocal(limited.port()));
        EXPECT_TRUE(answered(open.back()));
    }
    const int third = connectLocal(limited.port());
    EXPECT_FALSE(answered(third));
    close(third);
    // A closed connection gives its place back.
    close(open.back());
    open.pop_back();
    bool admitted = false;
    for (int attempt = 0; attempt < 100 && !admitted; ++attempt) {
        const int fd = connectLocal(limited.port());
        admitted = answered(fd);
        close(fd);
        if (!admitted)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(admitted);

    // The balancer's connections carry many clients: they are not counted.
    for (int i = 0; i < 6; ++i) {
        open.push_back(connectLocal(proxied.port()));
        EXPECT_TRUE(answered(open.back())) << i;
    }
    for (const int fd : open)
        close(fd);
}

TEST(TrustedProxyTest, ServersSharingADatabaseCountAForwardedClientAsOne) {
    if (!scaledBackend())
        GTEST_SKIP() << "one process owns a SQLite file";
    TestServer one({"--trusted-proxy", "127.0.0.1"});
    TestServer two(one, {"--trusted-proxy", "127.0.0.1"});
    one.addUser("bob@example.org", kPassword);
    const Headers a = from("203.0.113.7");

    // A token fetched through one server is the same client's through the other.
    EXPECT_EQ(signInWith(two, one.token(a), a).member("responseStatus"), "SUCCESS");
    for (int i = 0; i < kAddressFreeFailures; ++i)
        guess(i % 2 ? one : two, a, 1, i);
    EXPECT_TRUE(heldBack(one, a));
    EXPECT_TRUE(heldBack(two, a));
    EXPECT_FALSE(heldBack(two, from("198.51.100.9")));
}

} // namespace
