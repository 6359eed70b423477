// A new version of a song replaces the old one: the desktop client names both
// items, and the old one disappears from the listing, the music-player API and
// the own-library match, hands its playlist entries and star to the new one,
// stops counting against the quota, and is removed after the keeping time.
#include "Crypto.h"
#include "Database.h"
#include "TestServer.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace fs = std::filesystem;
using cloud::json::Value;
using namespace cloudtest;

namespace {

const std::string kAnn = "ann@example.org";
const std::string kBob = "bob@example.org";
const std::string kPassword = "s3cret pass";

const Value &member(const Value &v, const char *key) {
    const Value *m = v.find(key);
    if (!m)
        throw std::runtime_error(std::string("no member ") + key + " in " +
                                 cloud::json::serialize(v));
    return *m;
}

std::string text(const Value &v, const char *key) {
    return member(v, key).asString();
}

std::string retireBody(const std::string &item, const std::string &replacement) {
    return "{\"userMediaId\": " + item + ", \"replacedBy\": " + replacement + "}";
}

class RetireTest : public ::testing::Test {
protected:
    // A server of the test's own, with Ann and Bob signed in from the desktop.
    void start(std::vector<std::string> args = {}) {
        server = std::make_unique<TestServer>(std::move(args));
        server->addUser(kAnn, kPassword);
        server->addUser(kBob, kPassword);
        ann = server->loginOrFail(kAnn, kPassword);
        bob = server->loginOrFail(kBob, kPassword);
    }

    std::int64_t upload(const std::string &cookie, const std::string &name,
                        const std::string &bytes) {
        const Reply r = server->upload(cookie, name, bytes);
        if (r.status != 200)
            throw std::runtime_error("upload of " + name + ": " + r.body);
        return purchasedId(r);
    }

    Reply retire(const std::string &cookie, const std::string &body) {
        return server->post("/Vexmusic/rest/userContent/retireUserMedia", body, cookie);
    }
    Reply retire(const std::string &cookie, std::int64_t item, std::int64_t replacedBy) {
        return retire(cookie, retireBody(std::to_string(item), std::to_string(replacedBy)));
    }

    // The listing's item IDs and its new position.
    std::pair<std::set<std::int64_t>, std::int64_t> listed(const std::string &cookie,
                                                           std::int64_t since = 0) {
        const auto v = server->listing(cookie, since).json();
        std::set<std::int64_t> ids;
        for (const auto &item : member(*v, "updatedUserMedias").asArray())
            ids.insert(member(item, "id").asInteger());
        return {ids, member(*v, "milliseconds").asInteger()};
    }

    // Ann's "subsonic-response" through a player password.
    Value api(const std::string &method, const std::string &query = {}) {
        if (!phone)
            phone = addPlayerPassword(*server, kAnn, "phone");
        const std::string salt = cloud::crypto::randomHex(6);
        const Reply r = server->get("/rest/" + method + "?u=" + percentEncode(kAnn) +
                                    "&t=" + md5Hex(phone->password + salt) + "&s=" + salt +
                                    "&v=1.16.1&c=test&f=json" + (query.empty() ? "" : "&" + query));
        const auto v = cloud::json::parse(r.body);
        if (!v)
            throw std::runtime_error("not an API answer: " + r.body);
        return member(*v, "subsonic-response");
    }
    static int errorCode(const Value &answer) {
        const Value *e = answer.find("error");
        return e ? static_cast<int>(member(*e, "code").asInteger()) : -1;
    }
    // Ann's songs, title to ID, as a search for everything lists them.
    std::map<std::string, std::string> songs() {
        std::map<std::string, std::string> out;
        const Value found = api("search3", "query=");
        if (const Value *list = member(found, "searchResult3").find("song"))
            for (const auto &s : list->asArray())
                out[text(s, "title")] = text(s, "id");
        return out;
    }
    std::vector<std::string> entries(const std::string &playlistId) {
        std::vector<std::string> out;
        const Value p = member(api("getPlaylist", "id=" + playlistId), "playlist");
        if (const Value *list = p.find("entry"))
            for (const auto &e : list->asArray())
                out.push_back(text(e, "id"));
        return out;
    }

    std::unique_ptr<TestServer> server;
    std::optional<PlayerCredentials> phone;
    std::string ann;
    std::string bob;
};

TEST_F(RetireTest, TheNewVersionTakesTheOldOnesPlaceEverywhere) {
    start();
    const std::string oldBytes = wavBytes(8192, "tone as ripped");
    const std::int64_t oldId = upload(ann, "old.wav", oldBytes);
    const std::int64_t other = upload(ann, "other.wav", wavBytes(4096, "another song"));
    const std::int64_t newId = upload(ann, "new.wav", wavBytes(6144, "tone ripped better"));

    auto ids = songs();
    const std::string oldSong = ids.at("old");
    const std::string newSong = ids.at("new");
    const std::string otherSong = ids.at("other");
    const std::string album = text(member(api("getSong", "id=" + oldSong), "song"), "albumId");
    ASSERT_EQ(member(member(api("getAlbum", "id=" + album), "album"), "songCount").asInteger(), 3);
    ASSERT_EQ(errorCode(api("star", "id=" + oldSong)), -1);
    // The new version next to the old one is not doubled; elsewhere it takes the old one's place.
    const std::string mix =
        text(member(api("createPlaylist", "name=Mix&songId=" + oldSong + "&songId=" + otherSong +
                                              "&songId=" + oldSong + "&songId=" + newSong),
                    "playlist"),
             "id");
    const std::string twice =
        text(member(api("createPlaylist", "name=Twice&songId=" + oldSong + "&songId=" + oldSong),
                    "playlist"),
             "id");
    ASSERT_EQ(errorCode(api("setRating", "id=" + oldSong + "&rating=4")), -1);
    ASSERT_EQ(errorCode(api("createBookmark", "id=" + oldSong + "&position=9000")), -1);
    ASSERT_EQ(errorCode(api("savePlayQueue", "id=" + otherSong + "&id=" + oldSong +
                                                 "&current=" + oldSong + "&position=1500")),
              -1);
    const auto [before, positionBefore] = listed(ann);
    EXPECT_EQ(before, (std::set<std::int64_t>{oldId, other, newId}));

    const Reply r = retire(ann, oldId, newId);
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(r.member("responseStatus"), "SUCCESS");

    // The listing, full and since the earlier position, which moves on.
    const auto [after, positionAfter] = listed(ann);
    EXPECT_EQ(after, (std::set<std::int64_t>{other, newId}));
    EXPECT_GT(positionAfter, positionBefore);
    EXPECT_TRUE(listed(ann, positionBefore).first.empty());

    // The music-player API.
    ids = songs();
    EXPECT_EQ(ids.count("old"), 0u);
    EXPECT_EQ(ids.at("new"), newSong);
    EXPECT_EQ(errorCode(api("getSong", "id=" + oldSong)), 70);
    EXPECT_EQ(member(member(api("getAlbum", "id=" + album), "album"), "songCount").asInteger(), 2);
    const Value random = member(api("getRandomSongs", "size=50"), "randomSongs");
    for (const auto &s : member(random, "song").asArray())
        EXPECT_NE(text(s, "id"), oldSong);
    const Value starred = member(api("getStarred2"), "starred2");
    ASSERT_EQ(member(starred, "song").asArray().size(), 1u);
    EXPECT_EQ(text(member(starred, "song").asArray()[0], "id"), newSong);
    EXPECT_EQ(entries(mix), (std::vector<std::string>{newSong, otherSong, newSong}));
    EXPECT_EQ(entries(twice), (std::vector<std::string>{newSong, newSong}));
    // Where the person was listening follows the song too.
    EXPECT_EQ(member(member(api("getSong", "id=" + newSong), "song"), "userRating").asInteger(), 4);
    const Value queue = member(api("getPlayQueue"), "playQueue");
    EXPECT_EQ(text(queue, "current"), newSong);
    EXPECT_EQ(member(queue, "entry").asArray().size(), 2u);
    EXPECT_EQ(text(member(queue, "entry").asArray()[1], "id"), newSong);
    const Value marks = member(member(api("getBookmarks"), "bookmarks"), "bookmark");
    ASSERT_EQ(marks.asArray().size(), 1u);
    EXPECT_EQ(text(member(marks.asArray()[0], "entry"), "id"), newSong);

    // The own-library match never answers with it (it is in no catalogue
    // either), and its download address is refused.
    const Reply match = server->match(ann, md5Hex(oldBytes));
    EXPECT_EQ(match.member("purchaseResponseStatus"), "FAIL") << match.body;
    EXPECT_EQ(server->download(ann, oldId, kAnn, kPassword).status, 404);
    EXPECT_EQ(server->download(ann, newId, kAnn, kPassword).status, 200);

    // A restart rebuilds nothing of it.
    server->stop();
    server->start();
    EXPECT_EQ(listed(ann).first, (std::set<std::int64_t>{other, newId}));
    EXPECT_EQ(songs().count("old"), 0u);
}

TEST_F(RetireTest, RefusalsNameTheirReasonAndChangeNothing) {
    start();
    const std::int64_t a = upload(ann, "a.wav", wavBytes(4096, "a"));
    const std::int64_t b = upload(ann, "b.wav", wavBytes(4096, "b"));
    const std::int64_t c = upload(ann, "c.wav", wavBytes(4096, "c"));
    const std::int64_t bobs = upload(bob, "bobs.wav", wavBytes(4096, "bob's own"));

    EXPECT_EQ(retire("", a, b).status, 401);

    struct Case {
        std::string body;
        int status;
        std::string text;
    };
    const std::string A = std::to_string(a);
    const std::string B = std::to_string(b);
    const std::string bobsItem = std::to_string(bobs);
    const std::string required = "members \"userMediaId\" and \"replacedBy\" are required";
    const std::vector<Case> cases = {
        {"not json", 400, ""},
        {"[1, 2]", 400, "the request body must be a JSON object"},
        {retireBody("\"" + A + "\"", B), 400, "member \"userMediaId\" must be a whole number"},
        {"{\"userMediaId\": " + A + "}", 400, required},
        {"{\"replacedBy\": " + B + "}", 400, required},
        {retireBody(A, A), 400, "an item cannot replace itself"},
        {retireBody("999999", B), 404, "item 999999 is not in this library"},
        {retireBody(A, "999999"), 404, "item 999999 is not in this library"},
        // Another account's items are unknown here, either way round.
        {retireBody(bobsItem, B), 404, "item " + bobsItem + " is not in this library"},
        {retireBody(A, bobsItem), 404, "item " + bobsItem + " is not in this library"},
    };
    for (const auto &k : cases) {
        const Reply r = retire(ann, k.body);
        EXPECT_EQ(r.status, k.status) << k.body;
        EXPECT_EQ(r.member("responseStatus"), "FAILED") << k.body;
        if (!k.text.empty()) {
            EXPECT_EQ(r.member("responseText"), k.text) << k.body;
        }
    }
    EXPECT_EQ(listed(ann).first, (std::set<std::int64_t>{a, b, c}));
    EXPECT_EQ(listed(bob).first, (std::set<std::int64_t>{bobs}));

    // Retired once, a resend succeeds again; in favour of another item it is
    // no longer there to retire, and nor is it a replacement.
    ASSERT_EQ(retire(ann, a, b).member("responseStatus"), "SUCCESS");
    const Reply again = retire(ann, a, b);
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.member("responseStatus"), "SUCCESS");
    EXPECT_EQ(retire(ann, a, c).status, 404);
    EXPECT_EQ(retire(ann, c, a).status, 404);
    EXPECT_EQ(listed(ann).first, (std::set<std::int64_t>{b, c}));
}

// Undoing a tag edit gives the file its old bytes back: the retired item is
// listed again under its own ID (its checksum is the account's only once).
TEST_F(RetireTest, TheOldBytesUploadedAgainBringTheRetiredItemBack) {
    start();
    const std::string oldBytes = wavBytes(4096, "before the tag edit");
    const std::int64_t oldId = upload(ann, "before.wav", oldBytes);
    const std::int64_t newId = upload(ann, "after.wav", wavBytes(4096, "after the tag edit"));
    ASSERT_EQ(retire(ann, oldId, newId).status, 200);
    const auto [list, position] = listed(ann);

    EXPECT_EQ(upload(ann, "before.wav", oldBytes), oldId);
    EXPECT_EQ(listed(ann, position).first, std::set<std::int64_t>{oldId});
    EXPECT_EQ(songs().count("before"), 1u);
    EXPECT_EQ(server->match(ann, md5Hex(oldBytes)).member("purchaseResponseStatus"), "SUCCESS");
    ASSERT_EQ(retire(ann, newId, oldId).status, 200);
    EXPECT_EQ(listed(ann).first, std::set<std::int64_t>{oldId});
    const auto titles = songs();
    EXPECT_EQ(titles.size(), 1u);
    EXPECT_EQ(titles.count("before"), 1u);
    EXPECT_EQ(server->download(ann, oldId, kAnn, kPassword).body, oldBytes);
}

TEST_F(RetireTest, RetiredFilesDoNotCountAgainstTheQuota) {
    start({"--quota-mib", "1"});
    const std::int64_t old = upload(ann, "old.wav", wavBytes(600 * 1024, "old"));
    const std::int64_t better = upload(ann, "new.wav", wavBytes(300 * 1024, "new"));
    EXPECT_EQ(server->upload(ann, "next.wav", wavBytes(300 * 1024, "next")).status, 507);
    ASSERT_EQ(retire(ann, old, better).status, 200);
    EXPECT_EQ(server->upload(ann, "next.wav", wavBytes(300 * 1024, "next")).status, 200);
    // A restart counts the same.
    server->stop();
    server->start();
    EXPECT_EQ(server->upload(ann, "last.wav", wavBytes(300 * 1024, "last")).status, 200);
}

TEST_F(RetireTest, RetiredItemsAndTheirFilesGoAfterTheKeepingTime) {
    start({"--keep-retired-seconds-for-tests", "2"});
    const std::string shared = wavBytes(4096, "bytes both accounts hold");
    const std::int64_t a = upload(ann, "a.wav", wavBytes(4096, "ann's old version"));
    const std::int64_t b = upload(ann, "b.wav", wavBytes(4096, "ann's new version"));
    const std::int64_t c = upload(ann, "c.wav", shared);
    const std::int64_t d = upload(ann, "d.wav", wavBytes(4096, "ann's other new version"));
    const std::int64_t bobs = upload(bob, "bob.wav", shared);
    ASSERT_EQ(server->storedCount(), 4);
    ASSERT_EQ(retire(ann, a, b).status, 200);
    ASSERT_EQ(retire(ann, c, d).status, 200);
    // Kept through the clean-ups within the keeping time: a resend still finds it.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(server->storedCount(), 4);
    EXPECT_EQ(retire(ann, a, b).status, 200);

    // The two were retired a moment apart: a sweep may come between them.
    const auto itemsLeft = [&] {
        cloud::Database db(server->databaseLocation());
        cloud::Statement q(db, "SELECT COUNT(*) FROM user_media WHERE id IN (?, ?)");
        q.bind(1, a).bind(2, c);
        return q.step() ? q.integer(0) : -1;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while ((itemsLeft() > 0 || server->storedCount() > 3) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(itemsLeft(), 0);
    EXPECT_EQ(server->storedCount(), 3) << "only the file nobody else holds goes";
    // Gone for good: no resend succeeds, and Bob's copy of the shared bytes plays on.
    EXPECT_EQ(retire(ann, a, b).status, 404);
    EXPECT_EQ(server->download(bob, bobs, kBob, kPassword).body, shared);
    EXPECT_EQ(listed(ann).first, (std::set<std::int64_t>{b, d}));

    // A server that was down when the time came cleans up as it starts.
    ASSERT_EQ(retire(ann, b, d).status, 200);
    server->stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    server->start();
    EXPECT_EQ(server->storedCount(), 2);
}

// A data folder of an earlier version has no retirement columns: its first
// start adds them, and retiring works on the items it held.
TEST_F(RetireTest, AnOlderDataFolderUpgrades) {
    if (scaledBackend())
        GTEST_SKIP() << "the scaled back end's schema began with these columns";
    start();
    const std::int64_t a = upload(ann, "a.wav", wavBytes(4096, "a"));
    const std::int64_t b = upload(ann, "b.wav", wavBytes(4096, "b"));
    server->stop();
    {
        cloud::Database db(server->databaseLocation());
        db.exec("DROP INDEX user_media_retired;"
                "ALTER TABLE user_media DROP COLUMN retired_ms;"
                "ALTER TABLE user_media DROP COLUMN replaced_by;"
                // Older versions counted no schema versions.
                "DELETE FROM meta WHERE key = 'schema_version';");
    }
    server->start();
    ASSERT_EQ(retire(ann, a, b).status, 200);
    EXPECT_EQ(listed(ann).first, std::set<std::int64_t>{b});
}

} // namespace
