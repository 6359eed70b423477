// Password guessing as a hostile client would try it: many guesses at one
// account, guesses spread over accounts from one address, and telling known
// accounts from unknown ones by the time a refusal takes.
#include "Database.h"
#include "TestServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

using namespace cloudtest;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kPassword = "s3cret pass";

TEST(SignInAbuseTest, FailedSignInsBackOffPerAccountAndPerAddress) {
    TestServer server;
    server.addUser("ann@example.org", kPassword);
    server.addUser("bob@example.org", kPassword);

    // Five wrong guesses are answered as such; then the account must wait,
    // even for the right password (which an attacker could not tell apart).
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(server.login("ann@example.org", "guess" + std::to_string(i), "d1")
                      .member("responseText"),
                  "wrong user name or password");
    const Reply blocked = server.login("ANN@example.org", kPassword, "d1");
    EXPECT_EQ(blocked.member("responseStatus"), "FAILED");
    EXPECT_EQ(blocked.member("responseText"), "too many failed sign-ins: try again in 1 seconds");
    EXPECT_EQ(blocked.headers.count("set-cookie"), 0u);
    // Other accounts are not held back by it.
    EXPECT_FALSE(server.loginOrFail("bob@example.org", kPassword).empty());
    // After the wait the owner signs in, and the count starts over.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_FALSE(server.loginOrFail("ann@example.org", kPassword).empty());
    EXPECT_EQ(server.login("ann@example.org", "guess", "d1").member("responseText"),
              "wrong user name or password");

    // One address guessing over many accounts is held back as a whole.
    int refusedAsWrong = 0;
    for (int i = 0; i < 30; ++i) {
        const Reply r = server.login("nobody" + std::to_string(i) + "@example.org", "guess", "d1");
        refusedAsWrong += r.member("responseText") == "wrong user name or password" ? 1 : 0;
    }
    std::printf("[figure] 30 guesses over 30 accounts from one address: %d checked\n",
                refusedAsWrong);
    EXPECT_LE(refusedAsWrong, 20);
    EXPECT_NE(server.login("bob@example.org", kPassword, "d1").member("responseStatus"), "SUCCESS");
}

double medianSeconds(TestServer &server, const std::vector<std::string> &emails) {
    std::vector<double> times;
    for (const auto &email : emails) {
        const auto start = Clock::now();
        const Reply r = server.login(email, "wrong password", "d1");
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        EXPECT_EQ(r.member("responseText"), "wrong user name or password");
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

TEST(SignInAbuseTest, AnUnknownAccountTakesAsLongAsAKnownOne) {
    TestServer server({"--pbkdf2-iterations", "400000"});
    server.addUser("ann@example.org", kPassword, {"--pbkdf2-iterations", "400000"});
    const double known =
        medianSeconds(server, {"ann@example.org", "ann@example.org", "ann@example.org"});
    const double unknown =
        medianSeconds(server, {"x1@example.org", "x2@example.org", "x3@example.org"});
    std::printf("[figure] wrong password: known account %.0f ms, unknown account %.0f ms\n",
                known * 1000, unknown * 1000);
    EXPECT_GT(unknown, known * 0.5);
}

TEST(SignInAbuseTest, ACopyOfTheDatabaseSignsNobodyIn) {
    TestServer server;
    server.addUser("ann@example.org", kPassword);
    const std::string cookie = server.loginOrFail("ann@example.org", kPassword);
    const std::string sessionId = TestServer::sessionId(cookie);
    ASSERT_FALSE(sessionId.empty());

    std::vector<std::string> stored;
    std::string legacyKey;
    {
        cloud::Database db(server.databaseLocation());
        cloud::Statement q(db, "SELECT id FROM sessions");
        while (q.step())
            stored.push_back(q.text(0));
        cloud::Statement k(db, "SELECT COUNT(*) FROM meta WHERE key = 'link_secret'");
        k.step();
        EXPECT_EQ(k.integer(0), 0);
    }
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_NE(stored.front(), sessionId);
    EXPECT_EQ(stored.front().find(sessionId), std::string::npos);
    // What the database holds is no session.
    EXPECT_EQ(server.listing("JSESSIONID=" + stored.front(), 0).status, 401);
    EXPECT_EQ(server.listing(cookie, 0).status, 200);

    // The download-signing key is a file of its owner's alone.
    const auto key = server.dataDir() / "link.key";
    ASSERT_TRUE(std::filesystem::exists(key));
    EXPECT_EQ(std::filesystem::status(key).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(std::filesystem::file_size(key), 32u);
}

int storedIterations(const TestServer &server, const std::string &email) {
    cloud::Database db(server.databaseLocation());
    cloud::Statement q(db, "SELECT pw_iterations FROM users WHERE email = ?");
    q.bind(1, email);
    return q.step() ? static_cast<int>(q.integer(0)) : -1;
}

TEST(SignInAbuseTest, PasswordHashesAreCostlyAndOldOnesAreRaised) {
    TempDir data;
    // Cheap hashes need the flag that names them as such.
    const CommandResult weak =
        runCloud({"add-user", "--data", data.path().string(), "ann@example.org", kPassword,
                  "--pbkdf2-iterations", "99999"});
    EXPECT_NE(weak.exitCode, 0);
    EXPECT_NE(weak.output.find("--pbkdf2-iterations must be at least 100000"), std::string::npos)
        << weak.output;
    EXPECT_EQ(runCloud({"add-user", "--data", data.path().string(), "ann@example.org", kPassword})
                  .exitCode,
              0);
    cloud::Database db((data.path() / "cloud.sqlite").string());
    cloud::Statement q(db, "SELECT pw_iterations FROM users");
    ASSERT_TRUE(q.step());
    EXPECT_EQ(q.integer(0), 600000);

    // An account made at a lower cost is raised to the server's at its next sign-in.
    TestServer server({"--pbkdf2-iterations", "2000"});
    server.addUser("bob@example.org", kPassword);
    EXPECT_EQ(storedIterations(server, "bob@example.org"), 1000);
    EXPECT_NE(server.login("bob@example.org", "wrong", "d1").member("responseStatus"), "SUCCESS");
    EXPECT_EQ(storedIterations(server, "bob@example.org"), 1000);
    server.loginOrFail("bob@example.org", kPassword);
    EXPECT_EQ(storedIterations(server, "bob@example.org"), 2000);
    // The raised hash still holds the same password.
    EXPECT_FALSE(server.loginOrFail("bob@example.org", kPassword, "device-2").empty());
}

} // namespace
