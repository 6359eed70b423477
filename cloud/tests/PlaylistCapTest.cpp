// A playlist holds at most 10,000 entries, through the real server: built up by
// many edits, replaced, or made by an older version past the cap. A refusal is
// the API's error and leaves the playlist as it was.
#include "Crypto.h"
#include "Database.h"
#include "TestServer.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using cloud::json::Value;
using namespace cloudtest;

namespace {

const Value &member(const Value &v, const char *key) {
    const Value *m = v.find(key);
    if (!m)
        throw std::runtime_error(std::string("no member ") + key);
    return *m;
}

std::string repeated(const std::string &name, const std::string &value, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += "&" + name + "=" + value;
    return out;
}

// Says where two lists of entries part, which a dump of thousands of IDs does not.
::testing::AssertionResult sameEntries(const std::vector<std::string> &got,
                                       const std::vector<std::string> &expected) {
    if (got == expected)
        return ::testing::AssertionSuccess();
    std::size_t i = 0;
    while (i < got.size() && i < expected.size() && got[i] == expected[i])
        ++i;
    return ::testing::AssertionFailure() << got.size() << " entries where " << expected.size()
                                         << " were expected, the first difference at " << i;
}

class PlaylistCapTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new TestServer();
        TempDir media;
        server->addUser("pat@example.com", "desktop-secret");
        const std::string cookie = server->loginOrFail("pat@example.com", "desktop-secret");
        server->upload(cookie, "a.mp3",
                       readFile(makeSong(media.path(), "a.mp3", 440,
                                         "-metadata title=Alpha -metadata artist=Pat", false)));
        server->upload(cookie, "b.mp3",
                       readFile(makeSong(media.path(), "b.mp3", 550,
                                         "-metadata title=Beta -metadata artist=Pat", false)));
        phone = new PlayerCredentials(addPlayerPassword(*server, "pat@example.com", "phone"));
        const Value found = api("search3", "query=");
        for (const auto &s : member(member(found, "searchResult3"), "song").asArray())
            (member(s, "title").asString() == "Alpha" ? a : b) = member(s, "id").asString();
        if (a.empty() || b.empty())
            throw std::runtime_error("the two songs are not in the library");
    }

    static void TearDownTestSuite() {
        delete server;
        delete phone;
    }

    // The answer's "subsonic-response" to a form POST, as players send long lists.
    static Value api(const std::string &method, const std::string &form) {
        const std::string salt = cloud::crypto::randomHex(6);
        const Reply r = server->postAs("/rest/" + method + ".view",
                                       "u=pat%40example.com&t=" + md5Hex(phone->password + salt) +
                                           "&s=" + salt + "&v=1.16.1&c=test&f=json&" + form,
                                       "application/x-www-form-urlencoded");
        if (r.status != 200)
            throw std::runtime_error(method + " answered HTTP " + std::to_string(r.status));
        const auto v = cloud::json::parse(r.body);
        if (!v || !v->find("subsonic-response"))
            throw std::runtime_error("not an API answer: " + r.body.substr(0, 200));
        return *v->find("subsonic-response");
    }
    // -1 when the answer is no error.
    static int errorCode(const Value &answer) {
        const Value *e = answer.find("error");
        return e ? static_cast<int>(member(*e, "code").asInteger()) : -1;
    }
    static std::string errorText(const Value &answer) {
        const Value *e = answer.find("error");
        return e ? member(*e, "message").asString() : std::string();
    }

    static std::string create(const std::string &name, const std::string &songs) {
        const Value made = api("createPlaylist", "name=" + name + songs);
        return member(member(made, "playlist"), "id").asString();
    }
    static Value playlist(const std::string &id) {
        return member(api("getPlaylist", "id=" + id), "playlist");
    }
    static std::vector<std::string> entries(const std::string &id) {
        const Value p = playlist(id);
        std::vector<std::string> out;
        for (const auto &e : member(p, "entry").asArray())
            out.push_back(member(e, "id").asString());
        return out;
    }

    static inline TestServer *server = nullptr;
    static inline PlayerCredentials *phone = nullptr;
    static inline std::string a;
    static inline std::string b;
};

TEST_F(PlaylistCapTest, EditsStopAtTenThousandEntriesAndARefusalChangesNothing) {
    const std::string id = create("Long", repeated("songId", a, 4000));
    ASSERT_EQ(
        errorCode(api("updatePlaylist", "playlistId=" + id + repeated("songIdToAdd", b, 5999))),
        -1);
    std::vector<std::string> expected(4000, a);
    expected.resize(9999, b);

    // Two more would pass the cap by one: refused, the new name with them.
    const Value refused =
        api("updatePlaylist", "playlistId=" + id + "&name=Renamed" + repeated("songIdToAdd", a, 2));
    EXPECT_EQ(errorCode(refused), 0);
    EXPECT_NE(errorText(refused).find("a playlist holds at most 10000 songs"), std::string::npos)
        << errorText(refused);
    EXPECT_EQ(member(playlist(id), "name").asString(), "Long");
    EXPECT_TRUE(sameEntries(entries(id), expected));

    ASSERT_EQ(errorCode(api("updatePlaylist", "playlistId=" + id + "&songIdToAdd=" + a)), -1);
    expected.push_back(a);
    EXPECT_EQ(errorCode(api("updatePlaylist", "playlistId=" + id + "&songIdToAdd=" + b)), 0);
    // What is removed in the same edit makes room: 10,000 − 1 + 1.
    ASSERT_EQ(errorCode(api("updatePlaylist",
                            "playlistId=" + id + "&songIndexToRemove=0&songIdToAdd=" + b)),
              -1);
    expected.erase(expected.begin());
    expected.push_back(b);
    const Value full = playlist(id);
    EXPECT_EQ(member(full, "songCount").asInteger(), 10000);
    EXPECT_TRUE(sameEntries(entries(id), expected));
    EXPECT_EQ(errorCode(api("deletePlaylist", "id=" + id)), -1);
}

TEST_F(PlaylistCapTest, ReplacingOrCreatingPastTheCapIsRefused) {
    const std::string id = create("Short", "&songId=" + a + "&songId=" + b);
    const Value refused = api("createPlaylist", "playlistId=" + id + repeated("songId", b, 10001));
    EXPECT_EQ(errorCode(refused), 0);
    EXPECT_EQ(entries(id), (std::vector<std::string>{a, b}));

    const auto count = [] {
        return member(member(api("getPlaylists", ""), "playlists"), "playlist").asArray().size();
    };
    const std::size_t before = count();
    EXPECT_EQ(errorCode(api("createPlaylist", "name=Huge" + repeated("songId", a, 10001))), 0);
    EXPECT_EQ(count(), before);

    // Exactly the cap is a playlist like any other.
    const Value replaced = api("createPlaylist", "playlistId=" + id + repeated("songId", b, 10000));
    ASSERT_EQ(errorCode(replaced), -1) << errorText(replaced);
    EXPECT_EQ(member(member(replaced, "playlist"), "songCount").asInteger(), 10000);
    EXPECT_EQ(errorCode(api("deletePlaylist", "id=" + id)), -1);
}

// Older versions let a playlist grow past the cap: it is read whole and may
// lose entries, but takes none until it is back under the cap.
TEST_F(PlaylistCapTest, APlaylistMadeLongerBeforeIsReadAndMayOnlyShrink) {
    const std::string id = create("Old", "&songId=" + a + "&songId=" + b);
    {
        cloud::Database db(server->databaseLocation());
        cloud::Statement(db, "WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n "
                             "WHERE i < 10049) "
                             "INSERT INTO playlist_songs(playlist_id, position, media_id) "
                             "SELECT p.id, n.i, e.media_id FROM n CROSS JOIN playlists p "
                             "JOIN playlist_songs e ON e.playlist_id = p.id "
                             "AND e.position = n.i % 2 WHERE p.public_id = ?")
            .bind(1, id)
            .run();
    }
    std::vector<std::string> expected;
    for (int i = 0; i < 10050; ++i)
        expected.push_back(i % 2 == 0 ? a : b);
    EXPECT_EQ(member(playlist(id), "songCount").asInteger(), 10050);
    EXPECT_TRUE(sameEntries(entries(id), expected));

    EXPECT_EQ(errorCode(api("updatePlaylist", "playlistId=" + id + "&songIdToAdd=" + a)), 0);
    std::string removeTen;
    for (int i = 0; i < 10; ++i)
        removeTen += "&songIndexToRemove=" + std::to_string(i);
    ASSERT_EQ(errorCode(api("updatePlaylist", "playlistId=" + id + removeTen)), -1);
    expected.erase(expected.begin(), expected.begin() + 10);
    EXPECT_TRUE(sameEntries(entries(id), expected));

    // 10,040 − 40 + 1 would still be past the cap; 10,040 − 41 + 1 is not.
    std::string remove40;
    for (int i = 0; i < 40; ++i)
        remove40 += "&songIndexToRemove=" + std::to_string(i);
    EXPECT_EQ(errorCode(api("updatePlaylist", "playlistId=" + id + remove40 + "&songIdToAdd=" + a)),
              0);
    EXPECT_EQ(member(playlist(id), "songCount").asInteger(), 10040);
    ASSERT_EQ(errorCode(api("updatePlaylist", "playlistId=" + id + remove40 +
                                                  "&songIndexToRemove=40&songIdToAdd=" + a)),
              -1);
    expected.erase(expected.begin(), expected.begin() + 41);
    expected.push_back(a);
    EXPECT_TRUE(sameEntries(entries(id), expected));
    EXPECT_EQ(errorCode(api("updatePlaylist", "playlistId=" + id + "&songIdToAdd=" + a)), 0);
    EXPECT_EQ(errorCode(api("deletePlaylist", "id=" + id)), -1);
}

// Stars and plays name at most as many IDs as a playlist holds songs.
TEST_F(PlaylistCapTest, LongListsOfIdsGetTheApiError) {
    for (const char *method : {"star", "unstar", "scrobble"}) {
        const Value answer = api(method, repeated("id", a, 10001).substr(1));
        EXPECT_EQ(errorCode(answer), 0) << method;
        EXPECT_NE(errorText(answer).find("at most 10000 IDs"), std::string::npos) << method;
    }
    // Named many times, a song is starred once and played as often as named.
    ASSERT_EQ(errorCode(api("star", repeated("id", a, 500).substr(1))), -1);
    ASSERT_EQ(errorCode(api("scrobble", repeated("id", b, 3).substr(1))), -1);
    const Value starred = member(api("getStarred2", ""), "starred2");
    ASSERT_EQ(member(starred, "song").asArray().size(), 1u);
    EXPECT_EQ(member(member(starred, "song").asArray()[0], "id").asString(), a);
    EXPECT_EQ(member(member(api("getSong", "id=" + b), "song"), "playCount").asInteger(), 3);
    ASSERT_EQ(errorCode(api("unstar", "id=" + a)), -1);
}

} // namespace
