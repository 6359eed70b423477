// Attacks on the server's storage as a hostile account holder would make them:
// files crafted to pass for another's, and uploads meant to fill the disk.
// Each prints the figure it checks.
#include "TestServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

using cloud::json::Value;
using namespace cloudtest;
namespace fs = std::filesystem;

namespace {

const std::string kPassword = "s3cret pass";

std::string fromHex(const std::string &hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

TEST(StorageAbuseTest, FilesWithTheSameMd5AreNotTakenForEachOther) {
    // The two 128-byte messages published in 2004 as the first MD5 collision,
    // each followed by the same song: the digests still agree, and the server
    // finds the song's frames after the bytes in front.
    TempDir work;
    const std::string song = readFile(makeAudio(work.path(), "song.mp3", 440, "T", "A", "B"));
    const std::string first =
        fromHex("d131dd02c5e6eec4693d9a0698aff95c2fcab58712467eab4004583eb8fb7f89"
                "55ad340609f4b30283e488832571415a085125e8f7cdc99fd91dbdf280373c5b"
                "d8823e3156348f5bae6dacd436c919c6dd53e2b487da03fd02396306d248cda0"
                "e99f33420f577ee8ce54b67080a80d1ec69821bcb6a8839396f9652b6ff72a70") +
        song;
    const std::string second =
        fromHex("d131dd02c5e6eec4693d9a0698aff95c2fcab50712467eab4004583eb8fb7f89"
                "55ad340609f4b30283e4888325f1415a085125e8f7cdc99fd91dbd7280373c5b"
                "d8823e3156348f5bae6dacd436c919c6dd53e23487da03fd02396306d248cda0"
                "e99f33420f577ee8ce54b67080280d1ec69821bcb6a8839396f965ab6ff72a70") +
        song;
    ASSERT_EQ(first.size(), 128u + song.size());
    ASSERT_NE(first, second);
    ASSERT_EQ(md5Hex(first), md5Hex(second));

    TestServer server;
    server.addUser("ann@example.org", kPassword);
    server.addUser("bob@example.org", kPassword);
    server.addUser("cy@example.org", kPassword);
    const std::string ann = server.loginOrFail("ann@example.org", kPassword);
    const std::string bob = server.loginOrFail("bob@example.org", kPassword);
    const std::string cy = server.loginOrFail("cy@example.org", kPassword);

    const std::int64_t annId = purchasedId(server.upload(ann, "a.mp3", first));
    const std::int64_t bobId = purchasedId(server.upload(bob, "b.mp3", second));
    ASSERT_GT(annId, 0);
    ASSERT_GT(bobId, 0);
    const int afterCollision = server.storedCount();

    // Each gets back the bytes they sent, not the other's.
    EXPECT_EQ(server.download(ann, annId, "ann@example.org", kPassword).body, first);
    EXPECT_EQ(server.download(bob, bobId, "bob@example.org", kPassword).body, second);
    EXPECT_EQ(afterCollision, 2);

    // Truly identical bytes still share one stored copy.
    const std::int64_t cyId = purchasedId(server.upload(cy, "c.mp3", first));
    EXPECT_EQ(server.download(cy, cyId, "cy@example.org", kPassword).body, first);
    EXPECT_EQ(server.storedCount(), 2);
    std::printf("[figure] colliding MD5 pair: %d stored files, identical third upload: %d\n",
                afterCollision, server.storedCount());

    // A restart keeps the files apart (the clean-up keeps both).
    server.stop();
    server.start();
    const std::string bobAgain = server.loginOrFail("bob@example.org", kPassword);
    EXPECT_EQ(server.download(bobAgain, bobId, "bob@example.org", kPassword).body, second);
}

// Distinct audio each time, so nothing is shared between uploads.
std::string filler(std::size_t size, char seed) {
    return wavBytes(size, std::string(1, seed));
}

TEST(StorageAbuseTest, AnAccountCannotStoreBeyondItsQuota) {
    TestServer server({"--quota-mib", "1"});
    // Open sign-up: the quota binds accounts anyone can make.
    Value args;
    args.set("firstName", "Mal");
    args.set("lastName", "Lory");
    args.set("username", "mal@example.org");
    args.set("password", kPassword);
    args.set("passwordConfirmation", kPassword);
    args.set("deviceId", "device-1");
    args.set("REGISTERED_FROM_DESKTOP", 1);
    args.set("signature",
             TestServer::signature("mal@example.org", kPassword, "device-1", server.token()));
    Value body;
    body.set("registerWithErrorCodes", std::move(args));
    ASSERT_EQ(server.postJson("/Vexmusic/userJson", body).member("responseStatus"), "SUCCESS");
    server.addUser("ann@example.org", kPassword);
    const std::string mal = server.loginOrFail("mal@example.org", kPassword);
    const std::string ann = server.loginOrFail("ann@example.org", kPassword);

    const std::size_t kib = 1024;
    ASSERT_EQ(server.upload(mal, "a.mp3", filler(600 * kib, 'a')).status, 200);
    const Reply over = server.upload(mal, "b.mp3", filler(600 * kib, 'b'));
    EXPECT_EQ(over.status, 507);
    EXPECT_EQ(over.member("responseText"), "the account's storage quota of 1 MiB is full");
    EXPECT_EQ(server.upload(mal, "c.mp3", filler(300 * kib, 'c')).status, 200);
    // Now full: even a small file is refused before its body is read.
    EXPECT_EQ(server.upload(mal, "d.mp3", filler(200 * kib, 'd')).status, 507);

    // Parallel uploads cannot slip past the quota together.
    TestServer wide({"--quota-mib", "1"});
    wide.addUser("eve@example.org", kPassword);
    const std::string eve = wide.loginOrFail("eve@example.org", kPassword);
    std::vector<std::future<int>> uploads;
    for (char seed = 'k'; seed < 'o'; ++seed)
        uploads.push_back(std::async(std::launch::async, [&wide, &eve, seed] {
            return wide.upload(eve, std::string(1, seed) + ".mp3", filler(400 * kib, seed)).status;
        }));
    int accepted = 0;
    for (auto &u : uploads)
        accepted += u.get() == 200 ? 1 : 0;
    // Interleaved, they may even all run out of room; never may more than fit.
    EXPECT_LE(accepted, 2);
    EXPECT_EQ(wide.unfinishedCount(), 0);

    // Someone else is not held back by the full account.
    EXPECT_EQ(server.upload(ann, "mine.mp3", filler(600 * kib, 'z')).status, 200);
    EXPECT_EQ(server.unfinishedCount(), 0);
    EXPECT_EQ(server.storedCount(), 3);
    std::uintmax_t bytes = 0;
    server.objects()->list([&](const cloud::objects::ObjectEntry &e) { bytes += e.size; });
    std::printf("[figure] 1 MiB quota: 4 uploads of 1.7 MiB by one account stored %ju KiB "
                "for it, 4 parallel 400 KiB uploads accepted: %d\n",
                (bytes - 600 * kib) / kib, accepted);
    EXPECT_EQ(bytes - 600 * kib, 900 * kib);
}

TEST(StorageAbuseTest, UploadsStopBeforeTheDiskRunsLow) {
    // A floor far above any disk's free space: every upload is refused, none stored.
    TestServer server({"--min-free-mib", "2000000000"});
    server.addUser("ann@example.org", kPassword);
    const std::string ann = server.loginOrFail("ann@example.org", kPassword);
    const Reply r = server.upload(ann, "a.mp3", filler(100 * 1024, 'a'));
    EXPECT_EQ(r.status, 507);
    EXPECT_EQ(r.member("responseText"), "the server is low on disk space");
    EXPECT_EQ(server.storedCount(), 0);
    EXPECT_EQ(server.unfinishedCount(), 0);
    // Everything else keeps working.
    EXPECT_EQ(server.listing(ann, 0).status, 200);
}

} // namespace

namespace {

TEST(StorageAbuseTest, APlaylistUploadNeverOpensAnotherPath) {
    TestServer server;
    TempDir work;
    server.addUser("ann@example.org", kPassword);
    const std::string ann = server.loginOrFail("ann@example.org", kPassword);
    const auto secret = makeAudio(work.path(), "secret.mp3", 440, "Secret Title", "Other", "Hers");
    const std::string playlist =
        "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:1.0,\n" + secret.string() + "\n#EXT-X-ENDLIST\n";
    const std::string concat = "ffconcat version 1.0\nfile '" + secret.string() + "'\n";
    const std::string real = readFile(makeAudio(work.path(), "real.mp3", 880, "Real", "Ann", "A"));
    // Any opening of the file the lists name is seen here.
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, secret.c_str(), IN_OPEN), 0);
    // Neither is audio: both are refused, and nothing they name is read.
    EXPECT_EQ(server.upload(ann, "list.m3u8", playlist).status, 415);
    EXPECT_EQ(server.upload(ann, "list.ffconcat", concat).status, 415);
    char events[4096];
    const ssize_t seen = read(watch, events, sizeof events);
    close(watch);
    std::printf("[figure] playlist and concat uploads: %zd bytes of open events on the file "
                "they name\n",
                seen < 0 ? ssize_t(0) : seen);
    EXPECT_LT(seen, 0) << "the server opened " << secret;
    ASSERT_EQ(server.upload(ann, "real.mp3", real).status, 200);
    const std::string listing = server.listing(ann, 0).body;
    EXPECT_EQ(listing.find("Secret Title"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\"Real\""), std::string::npos) << listing;
}

} // namespace
