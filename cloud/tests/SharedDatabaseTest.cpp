// Two servers on one shared database, as two processes behind a balancer:
// what one knows, the other knows too.
#include "TestServer.h"

#include <gtest/gtest.h>

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
    cloud::json::Value args;
    args.set("username", "ann@example.org");
    args.set("password", kPassword);
    args.set("hashedPassword", "");
    args.set("appId", "desktop");
    args.set("deviceId", "laptop");
    args.set("signature", TestServer::signature("ann@example.org", kPassword, "laptop", token));
    cloud::json::Value body;
    body.set("loginDesktop", args);
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

} // namespace
