// What servers sharing one database must share: each server has its own
// connection, as two processes would, and each sees what the other did.
#include "SharedState.h"
#include "Migrations.h"
#include "Store.h"

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

// An account, and its uploads recorded in the library as the upload route records them.
class SharedQuotaTest : public SharedStateTest {
protected:
    void SetUp() override {
        SharedStateTest::SetUp();
        store = std::make_unique<Store>((dir / "cloud.sqlite").string());
        eve = account("eve@example.org");
    }
    void TearDown() override {
        store.reset();
        SharedStateTest::TearDown();
    }

    std::int64_t account(const std::string &email) {
        User user;
        user.email = email;
        return store->createUser(user).value_or(0);
    }

    void record(std::int64_t userId, std::int64_t size, const std::string &name) {
        StoredFile file;
        file.relPath = file.md5 = file.sha256 = name;
        file.size = size;
        UserMedia media;
        media.userId = userId;
        media.name = media.songName = media.albumName = media.artistName = media.checksum = name;
        bool reused = false;
        store->addUpload(file, media, reused);
    }

    std::unique_ptr<Store> store;
    std::int64_t eve = 0;
};

TEST_F(SharedQuotaTest, UploadsThroughEveryServerHoldRoomInOneQuota) {
    SharedQuotaLedger a(one, 1000);
    SharedQuotaLedger b(two, 1000);

    // What an upload through one server holds, the other counts.
    auto first = a.reserve(eve, 600);
    EXPECT_TRUE(first->grow(100));
    auto second = b.reserve(eve, 0);
    EXPECT_FALSE(second->grow(500)) << "the first holds room for all of its 600 bytes";
    EXPECT_TRUE(second->grow(400));
    EXPECT_TRUE(a.full(eve));
    EXPECT_TRUE(first->grow(500));
    EXPECT_FALSE(first->grow(1));

    // A kept upload counts through its library record; one given up frees its room.
    record(eve, 600, "first");
    first->keep();
    first.reset();
    second.reset();
    EXPECT_FALSE(b.full(eve));
    auto third = b.reserve(eve, 0);
    EXPECT_FALSE(third->grow(401));
    EXPECT_TRUE(third->grow(400));
    EXPECT_TRUE(a.full(eve));
    EXPECT_TRUE(a.reserve(account("ann@example.org"), 0)->grow(1000)) << "another account";

    // An upload larger than it said keeps the room it holds while it books more.
    third.reset();
    auto larger = a.reserve(eve, 200);
    EXPECT_TRUE(larger->grow(100));
    EXPECT_TRUE(larger->grow(200));
    EXPECT_TRUE(larger->grow(100));
    EXPECT_FALSE(larger->grow(1));
}

TEST_F(SharedQuotaTest, AKilledServersUploadsStopHoldingRoomWhileLiveOnesKeepTheirs) {
    constexpr std::chrono::milliseconds kLifetime(400);
    SharedQuotaLedger a(one, 1000, kLifetime);
    SharedQuotaLedger b(two, 1000, kLifetime);
    // What a server killed mid-upload leaves behind.
    {
        Database db((dir / "cloud.sqlite").string());
        Statement(db, "INSERT INTO upload_reservations(id, user_id, bytes, expires_ms) "
                      "VALUES('killed', ?, 700, ?)")
            .bind(1, eve)
            .bind(2, nowMs() + kLifetime.count())
            .run();
    }
    auto live = a.reserve(eve, 0);
    EXPECT_TRUE(live->grow(300));
    EXPECT_FALSE(b.reserve(eve, 0)->grow(1));

    // The live upload keeps writing past its row's lifetime.
    const auto until = std::chrono::steady_clock::now() + 3 * kLifetime;
    while (std::chrono::steady_clock::now() < until) {
        EXPECT_TRUE(live->grow(0));
        std::this_thread::sleep_for(kLifetime / 8);
    }
    EXPECT_FALSE(b.full(eve)) << "the killed server's row expired";
    auto next = b.reserve(eve, 0);
    EXPECT_TRUE(next->grow(700));
    EXPECT_FALSE(next->grow(1)) << "the live upload's row did not";
}

} // namespace
