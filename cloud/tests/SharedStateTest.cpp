// What servers sharing one database must share: each server has its own
// connection, as two processes would, and each sees what the other did.
#include "SharedState.h"
#include "Migrations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using namespace cloud;

namespace {

class SharedStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "shared-state-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        const std::string file = (dir / "cloud.sqlite").string();
        {
            Database db(file);
            migrate(db);
        }
        one = std::make_shared<SharedDatabase>(file);
        two = std::make_shared<SharedDatabase>(file);
    }
    void TearDown() override {
        one.reset();
        two.reset();
        fs::remove_all(dir);
    }

    fs::path dir;
    std::shared_ptr<SharedDatabase> one;
    std::shared_ptr<SharedDatabase> two;
};

auto is(const std::string &token) {
    return [token](const std::string &candidate) { return candidate == token; };
}

TEST_F(SharedStateTest, ASignatureTokenIsUsedOnceWhicheverServerSeesIt) {
    SharedTokens a(one, std::chrono::seconds(60), 4, 100);
    SharedTokens b(two, std::chrono::seconds(60), 4, 100);
    const std::string t = a.issue("10.0.0.1");
    EXPECT_FALSE(b.consumeIf("10.0.0.2", is(t))) << "another client's token";
    EXPECT_FALSE(b.consumeIf("10.0.0.1", [](const std::string &) { return false; }));
    EXPECT_TRUE(b.consumeIf("10.0.0.1", is(t)));
    EXPECT_FALSE(a.consumeIf("10.0.0.1", is(t)));
    EXPECT_FALSE(b.consumeIf("10.0.0.1", is(t)));

    // A flooding client's oldest tokens give way; another client's stay.
    const std::string other = b.issue("10.0.0.9");
    const std::string first = a.issue("10.0.0.1");
    for (int i = 0; i < 4; ++i)
        b.issue("10.0.0.1");
    EXPECT_FALSE(a.consumeIf("10.0.0.1", is(first)));
    EXPECT_TRUE(a.consumeIf("10.0.0.9", is(other)));

    SharedTokens expiring(one, std::chrono::seconds(0));
    const std::string e = expiring.issue("10.0.0.3");
    EXPECT_FALSE(b.consumeIf("10.0.0.3", is(e)));
}

TEST_F(SharedStateTest, GuessingSpreadOverServersIsThrottledAsOnOne) {
    SharedThrottle a(one, "sign-in");
    SharedThrottle b(two, "sign-in");
    SharedThrottle players(two, "player");
    for (int i = 0; i < throttle::kAccountFreeFailures; ++i)
        (i % 2 ? a : b).failed("Ann@example.org", "10.0.0." + std::to_string(i));
    EXPECT_GT(a.waitSeconds("ann@example.org", "10.9.9.9"), 0);
    EXPECT_GT(b.waitSeconds("ANN@example.org", "10.9.9.9"), 0);
    EXPECT_EQ(b.waitSeconds("bob@example.org", "10.9.9.9"), 0);
    EXPECT_EQ(players.waitSeconds("ann@example.org", "10.9.9.9"), 0) << "throttles count apart";
    b.succeeded("ann@example.org");
    EXPECT_EQ(a.waitSeconds("ann@example.org", "10.9.9.9"), 0);

    // An address guessing at many accounts is slowed for every account.
    for (int i = 0; i < throttle::kAddressFreeFailures; ++i)
        (i % 2 ? a : b).failed("user" + std::to_string(i) + "@example.org", "10.1.1.1");
    EXPECT_GT(a.waitSeconds("carl@example.org", "10.1.1.1"), 0);
    EXPECT_EQ(a.waitSeconds("carl@example.org", "10.1.1.2"), 0);
}

TEST_F(SharedStateTest, ARateLimitCountsEveryServersRequests) {
    SharedRateLimiter a(one, "collect", 0.001, 3);
    SharedRateLimiter b(two, "collect", 0.001, 3);
    SharedRateLimiter lookups(two, "lookup", 0.001, 3);
    EXPECT_TRUE(a.allow("10.0.0.1"));
    EXPECT_TRUE(b.allow("10.0.0.1"));
    EXPECT_TRUE(a.allow("10.0.0.1"));
    EXPECT_FALSE(b.allow("10.0.0.1"));
    EXPECT_FALSE(a.allow("10.0.0.1"));
    EXPECT_TRUE(b.allow("10.0.0.2"));
    EXPECT_TRUE(lookups.allow("10.0.0.1"));

    // Refilled at its rate.
    SharedRateLimiter fast(one, "fast", 50, 1);
    EXPECT_TRUE(fast.allow("k"));
    EXPECT_FALSE(fast.allow("k"));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_TRUE(SharedRateLimiter(two, "fast", 50, 1).allow("k"));
}

} // namespace
