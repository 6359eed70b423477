// What a load balancer asks before it sends a server anything: is the
// process alive, and can it serve right now.
#include "TestServer.h"
#include "objects/S3Store.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace cloudtest;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> failedParts(const Reply &r) {
    std::vector<std::string> names;
    const auto v = r.json();
    const auto *failed = v ? v->find("failed") : nullptr;
    if (failed && failed->isArray()) {
        for (const auto &name : failed->asArray())
            names.push_back(name.isString() ? name.asString() : "?");
    }
    return names;
}

TEST(HealthTest, ReadinessFollowsTheStoreWhileTheProcessStaysAlive) {
    TestServer server;
    const Reply live = server.get("/healthz");
    EXPECT_EQ(live.status, 200);
    EXPECT_EQ(live.member("status"), "ok");
    const Reply ready = server.get("/readyz");
    EXPECT_EQ(ready.status, 200);
    EXPECT_EQ(ready.member("status"), "ok");
    EXPECT_EQ(ready.headers.at("cache-control"), "no-store");

    // The stored files gone (a disk unmounted under the server, a bucket
    // removed): it says what failed, and still that it lives.
    const fs::path media = server.dataDir() / "media";
    const fs::path away = server.dataDir() / "media.away";
    const auto objects = server.objects();
    auto *bucket = dynamic_cast<cloud::objects::S3Store *>(objects.get());
    if (bucket)
        bucket->deleteBucket();
    else
        fs::rename(media, away);
    const Reply gone = server.get("/readyz");
    EXPECT_EQ(gone.status, 503);
    EXPECT_EQ(gone.member("status"), "unavailable");
    EXPECT_EQ(failedParts(gone), std::vector<std::string>{"objects"}) << gone.body;
    EXPECT_EQ(gone.body.find(server.dataArg()), std::string::npos) << "no paths for strangers";
    EXPECT_EQ(server.get("/healthz").status, 200);

    if (bucket)
        bucket->createBucket();
    else
        fs::rename(away, media);
    EXPECT_EQ(server.get("/readyz").status, 200);
}

} // namespace
