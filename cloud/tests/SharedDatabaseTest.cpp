// Two servers on one shared database, as two processes behind a balancer:
// what one knows, the other knows too.
#include "TestServer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <vector>

using namespace cloudtest;

namespace {

constexpr const char *kPassword = "desktop-secret";

TEST(SharedDatabaseTest, TwoServersShareTokensSessionsAndThrottles) {
    if (!scaledBackend())
        GTEST_SKIP() << "one process owns a SQLite file";
    TestServer one;
    TestServer two(one, {});
    one.addUser("ann@example.org", kPassword);
    one.addUser("bob@example.org", kPassword);

    // A token fetched from one server signs in on the other, once.
    const std::string token = one.token();
    const auto body = TestServer::loginBody("ann@example.org", kPassword, "laptop", token);
    const Reply signedIn = two.postJson("/Vexmusic/userJson", body);
    EXPECT_EQ(signedIn.member("responseStatus"), "SUCCESS") << signedIn.body;
    const Reply replayed = one.postJson("/Vexmusic/userJson", body);
    EXPECT_EQ(replayed.member("responseText"), "invalid or reused signature") << replayed.body;

    // A session made on one server works on the other.
    const std::string cookie = one.loginOrFail("bob@example.org", kPassword, "desk");
    EXPECT_EQ(two.listing(cookie, 0).status, 200);

    // Guessing spread over both servers is slowed as on one.
    for (int i = 0; i < 5; ++i) {
        TestServer &server = i % 2 ? one : two;
        EXPECT_EQ(server.login("bob@example.org", "wrong", "desk").member("responseText"),
                  "wrong user name or password");
    }
    for (TestServer *server : {&one, &two}) {
        const Reply r = server->login("bob@example.org", kPassword, "desk");
        EXPECT_NE(r.member("responseText").find("too many failed sign-ins"), std::string::npos)
            << r.body;
    }
    EXPECT_EQ(two.login("ann@example.org", kPassword, "laptop").member("responseStatus"),
              "SUCCESS");
}

// Distinct audio each time, so that no two uploads share their bytes.
std::string filler(std::size_t size, char seed) {
    return wavBytes(size, std::string(1, seed));
}

TEST(SharedDatabaseTest, UploadsThroughBothServersKeepToOneQuota) {
    if (!scaledBackend())
        GTEST_SKIP() << "one process owns a SQLite file";
    TestServer one({"--quota-mib", "1"});
    TestServer two(one, {"--quota-mib", "1"});
    one.addUser("eve@example.org", kPassword);
    const std::string eve = one.loginOrFail("eve@example.org", kPassword, "desk");
    constexpr std::size_t kib = 1024;

    // Each server reads what the account stores afresh, also after the other stored something.
    EXPECT_EQ(
        two.get("/Vexmusic/controllers/DesktopUploadMedia?fileSize=1000", {{"Cookie", eve}}).status,
        200);
    ASSERT_EQ(one.upload(eve, "a.wav", filler(600 * kib, 'a')).status, 200);
    EXPECT_EQ(two.upload(eve, "b.wav", filler(600 * kib, 'b')).status, 507);

    // Uploads at once through both hold room together.
    std::vector<std::future<int>> uploads;
    for (char seed = 'k'; seed < 'q'; ++seed)
        uploads.push_back(std::async(std::launch::async, [&, seed] {
            TestServer &server = seed % 2 ? one : two;
            return server.upload(eve, std::string(1, seed) + ".wav", filler(200 * kib, seed))
                .status;
        }));
    int accepted = 0;
    for (auto &u : uploads)
        accepted += u.get() == 200 ? 1 : 0;
    std::printf("[figure] 1 MiB quota, 600 KiB stored: 6 parallel 200 KiB uploads through two "
                "servers, %d accepted\n",
                accepted);
    EXPECT_LE(accepted, 2);
    // Ended uploads hold no room: at most 1000 KiB are stored, so the account is not full.
    EXPECT_EQ(
        one.get("/Vexmusic/controllers/DesktopUploadMedia?fileSize=1000", {{"Cookie", eve}}).status,
        200);
}

} // namespace
