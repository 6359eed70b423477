// The gc command, which servers that share a database leave the clearing to:
// it takes what no record names only once the grace period has passed, so an
// upload another process is sending or has not yet recorded survives it.
#include "TestServer.h"

#include <gtest/gtest.h>

using namespace cloudtest;

namespace {

const std::string kAnn = "ann@example.org";
const std::string kPassword = "s3cret pass";

// "removed … retired items …" as the command prints it, number by number.
struct GcReport {
    int retiredItems = -1, retiredFiles = -1, unrecorded = -1, unfinished = -1, young = -1;
};

GcReport gc(const TestServer &server, std::vector<std::string> options = {}) {
    options.insert(options.begin(), "gc");
    const auto r = server.run(options);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    GcReport g;
    std::sscanf(r.output.c_str(),
                "removed %d retired items and %d of their files, %d unrecorded files and %d "
                "unfinished uploads; kept %d",
                &g.retiredItems, &g.retiredFiles, &g.unrecorded, &g.unfinished, &g.young);
    return g;
}

TEST(GcTest, TakesOnlyUnrecordedFilesPastTheGracePeriodAndExpiredRetiredItems) {
    TestServer server;
    server.addUser(kAnn, kPassword);
    const std::string ann = server.loginOrFail(kAnn, kPassword);
    const std::string song = wavBytes(4096, "kept");
    const Reply kept = server.upload(ann, "kept.wav", song);
    ASSERT_EQ(kept.status, 200);

    // What another process would leave in flight: a stored object it has not
    // recorded yet, and an upload it is still sending (in a bucket, only one
    // larger than a part is there before it ends).
    const auto objects = server.objects();
    auto stray = objects->create();
    ASSERT_TRUE(stray->write("not yet recorded", 16));
    const std::string strayKey = stray->commit();
    auto sending = objects->create();
    const std::string part(9 * 1024 * 1024, 'p');
    ASSERT_TRUE(sending->write(part.data(), part.size()));
    ASSERT_EQ(server.storedCount(), 2);
    ASSERT_EQ(server.unfinishedCount(), 1);

    GcReport g = gc(server);
    EXPECT_EQ(g.unrecorded, 0);
    EXPECT_EQ(g.unfinished, 0);
    EXPECT_EQ(g.young, 2);
    EXPECT_EQ(server.storedCount(), 2);
    EXPECT_EQ(server.unfinishedCount(), 1);

    g = gc(server, {"--grace-minutes", "0"});
    EXPECT_EQ(g.unrecorded, 1);
    EXPECT_EQ(g.unfinished, 1);
    EXPECT_EQ(g.young, 0);
    EXPECT_EQ(server.storedKeys(), std::vector<std::string>{server.storedKeys().front()});
    EXPECT_NE(server.storedKeys().front(), strayKey);
    EXPECT_EQ(server.unfinishedCount(), 0);
    EXPECT_EQ(server.download(ann, purchasedId(kept), kAnn, kPassword).body, song);

    // A retired version goes once its keeping time is over, with its file.
    const Reply newer = server.upload(ann, "newer.wav", wavBytes(4096, "newer"));
    ASSERT_EQ(newer.status, 200);
    ASSERT_EQ(server
                  .post("/Vexmusic/rest/userContent/retireUserMedia",
                        "{\"userMediaId\": " + std::to_string(purchasedId(kept)) +
                            ", \"replacedBy\": " + std::to_string(purchasedId(newer)) + "}",
                        ann)
                  .status,
              200);
    g = gc(server);
    EXPECT_EQ(g.retiredItems, 0) << "kept for its keeping time";
    g = gc(server, {"--keep-retired-seconds-for-tests", "0"});
    EXPECT_EQ(g.retiredItems, 1);
    EXPECT_EQ(g.retiredFiles, 1);
    EXPECT_EQ(server.storedCount(), 1);
    EXPECT_EQ(server.download(ann, purchasedId(newer), kAnn, kPassword).status, 200);
}

} // namespace
