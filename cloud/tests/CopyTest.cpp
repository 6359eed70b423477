// Moving a household server to the shared back end with the copy command:
// desktops stay signed in and find nothing new to send, players keep their
// passwords and IDs, and every stored file arrives whole, checked.
#include "TestServer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace fs = std::filesystem;
using cloud::json::Value;
using namespace cloudtest;

namespace {

const std::string kAnn = "ann@example.org";
const std::string kPassword = "s3cret pass";

// The change listing's items, ID to checksum, and its position.
std::pair<std::map<std::int64_t, std::string>, std::int64_t>
listed(TestServer &server, const std::string &cookie, std::int64_t since = 0) {
    const Reply r = server.listing(cookie, since);
    const auto v = r.json();
    if (r.status != 200 || !v)
        throw std::runtime_error("no listing: " + r.body);
    std::map<std::int64_t, std::string> items;
    for (const auto &item : v->find("updatedUserMedias")->asArray())
        items[item.find("id")->asInteger()] = item.find("checksum")->asString();
    return {items, v->find("milliseconds")->asInteger()};
}

// The player API's song IDs by title.
std::map<std::string, std::string> songIds(TestServer &server, const std::string &apiKey) {
    const auto v = server.get("/rest/search3?f=json&query=&apiKey=" + apiKey).json();
    std::map<std::string, std::string> ids;
    const Value *songs = v ? v->find("subsonic-response") : nullptr;
    songs = songs && songs->find("searchResult3") ? songs->find("searchResult3")->find("song")
                                                  : nullptr;
    if (songs)
        for (const auto &s : songs->asArray())
            ids[s.find("title")->asString()] = s.find("id")->asString();
    return ids;
}

std::string copyOutput(const TestServer &to, const TestServer &from) {
    const auto r = to.run({"copy", "--from-data", from.dataArg()});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r.output;
}

TEST(CopyTest, AHouseholdServerMovesWholeAndACopyAgainMendsOnlyWhatIsMissing) {
    TestServer home({}, TestServer::Backend::Household);
    TempDir work;
    home.addUser(kAnn, kPassword);
    const std::string ann = home.loginOrFail(kAnn, kPassword);
    // One larger than an object store's upload part.
    const std::map<std::string, std::string> songs = {{"big.wav", wavBytes(9 * 1024 * 1024, "big")},
                                                      {"b.wav", wavBytes(64 * 1024, "b")},
                                                      {"c.wav", wavBytes(32 * 1024, "c")}};
    for (const auto &[name, bytes] : songs)
        ASSERT_EQ(home.upload(ann, name, bytes).status, 200);
    const fs::path tagged =
        makeSong(work.path(), "tagged.mp3", 440, "-metadata title=Tagged", false);
    ASSERT_EQ(home.upload(ann, "tagged.mp3", readFile(tagged)).status, 200);
    const PlayerCredentials phone = addPlayerPassword(home, kAnn, "phone");
    const auto [before, position] = listed(home, ann);
    const auto playerIds = songIds(home, phone.apiKey);
    ASSERT_EQ(before.size(), 4u);
    ASSERT_FALSE(playerIds.empty());
    home.stop();

    TestServer moved({}, TestServer::Backend::UnderTest, TestServer::Launch::Later);
    std::string out = copyOutput(moved, home);
    EXPECT_NE(out.find("copied 4 stored files"), std::string::npos) << out;
    moved.start();

    // The desktop's session, its items and its place in the listing carry over:
    // its next sync finds nothing to fetch.
    const auto [after, movedPosition] = listed(moved, ann);
    EXPECT_EQ(after, before);
    EXPECT_EQ(movedPosition, position);
    EXPECT_TRUE(listed(moved, ann, position).first.empty());
    for (const auto &[id, checksum] : after)
        EXPECT_EQ(md5Hex(moved.download(ann, id, kAnn, kPassword).body), checksum) << id;
    // The phone's password opens, and its song IDs are the same.
    EXPECT_EQ(songIds(moved, phone.apiKey), playerIds);
    // No ID is given out twice.
    const Reply added = moved.upload(ann, "d.wav", wavBytes(4096, "d"));
    ASSERT_EQ(added.status, 200);
    EXPECT_GT(purchasedId(added), before.rbegin()->first);

    // Again: nothing new, nothing doubled.
    out = copyOutput(moved, home);
    EXPECT_NE(out.find("copied 0 stored files (0 bytes) and 0 records; 4 files were there"),
              std::string::npos)
        << out;
    EXPECT_EQ(listed(moved, ann).first.size(), 5u);

    // A file lost at the destination, and one whose bytes changed but not
    // its size, are found and copied again.
    const auto objects = moved.objects();
    std::vector<std::string> keys = home.storedKeys();
    ASSERT_EQ(keys.size(), 4u);
    objects->remove(keys[0]);
    const auto size = objects->size(keys[1]);
    ASSERT_TRUE(size);
    auto damaged = objects->createAt(keys[1]);
    const std::string junk(static_cast<std::size_t>(*size), 'x');
    ASSERT_TRUE(damaged->write(junk.data(), junk.size()));
    damaged->commit();
    out = copyOutput(moved, home);
    EXPECT_NE(out.find("copied 2 stored files"), std::string::npos) << out;
    for (const auto &[id, checksum] : before)
        EXPECT_EQ(md5Hex(moved.download(ann, id, kAnn, kPassword).body), checksum) << id;
}

TEST(CopyTest, KeysThatDifferAreNeverReplaced) {
    TestServer home({}, TestServer::Backend::Household);
    home.addUser(kAnn, kPassword);
    home.stop();
    TestServer other({}, TestServer::Backend::UnderTest, TestServer::Launch::Later);
    const fs::path key = other.dataDir() / "player.key";
    std::ofstream(key, std::ios::binary) << std::string(32, 'k');
    const auto r = other.run({"copy", "--from-data", home.dataArg()});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find("player.key differs"), std::string::npos) << r.output;
    EXPECT_EQ(readFile(key), std::string(32, 'k'));
}

} // namespace
