// The music-player API against the real server: a library made the way the
// desktop client makes it (uploads and a catalogue match), read back through
// every answer shape, streamed, and attacked.
#include "PlayerApiTest.h"

#include "Database.h"
#include "TestChild.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using cloud::json::Value;
using namespace cloudtest;
using namespace playerapi;

namespace {

TEST_F(PlayerApiTest, SongsAndAlbumsCarryTheDocumentedFields) {
    const auto songs = annSongs();
    ASSERT_EQ(songs.size(), 3u);
    const Value &song = songs.at("First Light");
    for (const char *key :
         {"id",      "parent", "isDir",      "title",   "album",       "artist",   "track",
          "year",    "genre",  "coverArt",   "size",    "contentType", "suffix",   "duration",
          "bitRate", "path",   "discNumber", "created", "albumId",     "artistId", "type"})
        EXPECT_NE(song.find(key), nullptr) << key;
    EXPECT_EQ(text(song, "album"), "Blue Hours");
    EXPECT_EQ(text(song, "artist"), "Ann Band");
    EXPECT_EQ(integer(song, "track"), 1);
    EXPECT_EQ(integer(song, "discNumber"), 1);
    EXPECT_EQ(integer(song, "year"), 2019);
    EXPECT_EQ(text(song, "genre"), "Ambient");
    EXPECT_EQ(integer(song, "size"), static_cast<std::int64_t>(first->size()));
    EXPECT_EQ(text(song, "contentType"), "audio/mpeg");
    EXPECT_EQ(text(song, "suffix"), "mp3");
    EXPECT_EQ(integer(song, "duration"), 2);
    EXPECT_EQ(integer(song, "bitRate"), 128);
    EXPECT_EQ(text(song, "parent"), text(song, "albumId"));
    EXPECT_EQ(*song.find("isDir"), Value(false));
    EXPECT_EQ(songs.at("Second Wind").find("coverArt"), nullptr); // it embeds no picture
    // The catalogue-matched song carries the catalogue file's tags.
    EXPECT_EQ(text(songs.at("Old Tune"), "genre"), "Folk");
    EXPECT_EQ(integer(songs.at("Old Tune"), "year"), 1975);

    const Value album = annJson("getAlbum", "id=" + text(song, "albumId"));
    const Value &a = at(album, {"album"});
    EXPECT_EQ(text(a, "name"), "Blue Hours");
    EXPECT_EQ(text(a, "artist"), "Ann Band");
    EXPECT_EQ(integer(a, "songCount"), 2);
    EXPECT_EQ(integer(a, "duration"), 4);
    EXPECT_EQ(integer(a, "year"), 2019);
    EXPECT_EQ(text(a, "coverArt"), text(a, "id"));
    EXPECT_EQ(text(a, "artistId"), text(song, "artistId"));
    const auto &tracks = at(a, {"song"}).asArray();
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(text(tracks[0], "title"), "First Light");
    EXPECT_EQ(text(tracks[1], "title"), "Second Wind");

    // XML: the same answer in the API's namespace, attributes spelled the same.
    const Reply xml = ann("getSong", "id=" + text(song, "id"));
    EXPECT_EQ(xml.headers.at("content-type"), "text/xml; charset=utf-8");
    EXPECT_NE(xml.body.find("<subsonic-response status=\"ok\" version=\"1.16.1\""),
              std::string::npos)
        << xml.body;
    EXPECT_NE(xml.body.find("xmlns=\"http://subsonic.org/restapi\""), std::string::npos);
    EXPECT_NE(xml.body.find("<song id=\"" + text(song, "id") + "\" parent=\""), std::string::npos)
        << xml.body;
    EXPECT_NE(xml.body.find(" title=\"First Light\""), std::string::npos);
    EXPECT_NE(xml.body.find(" isDir=\"false\""), std::string::npos);
}

TEST_F(PlayerApiTest, BrowsingAndListsFindTheLibrary) {
    const Value artists = annJson("getArtists");
    std::map<std::string, Value> byName;
    for (const auto &index : at(artists, {"artists", "index"}).asArray())
        for (const auto &a : at(index, {"artist"}).asArray())
            byName[text(a, "name")] = a;
    ASSERT_EQ(byName.size(), 2u);
    EXPECT_EQ(integer(byName.at("Ann Band"), "albumCount"), 1);
    const Value artist = annJson("getArtist", "id=" + text(byName.at("Zed"), "id"));
    ASSERT_EQ(at(artist, {"artist", "album"}).asArray().size(), 1u);
    EXPECT_EQ(text(at(artist, {"artist", "album"}).asArray()[0], "name"), "Archive");
    const Value indexes = annJson("getIndexes");
    EXPECT_EQ(text(at(indexes, {"indexes", "index"}).asArray()[0], "name"), "A");

    for (const char *type : {"random", "newest", "alphabeticalByName", "alphabeticalByArtist"}) {
        const Value list = annJson("getAlbumList2", std::string("type=") + type);
        EXPECT_EQ(at(list, {"albumList2", "album"}).asArray().size(), 2u) << type;
    }
    const Value byName2 = annJson("getAlbumList2", "type=alphabeticalByName&size=1&offset=1");
    EXPECT_EQ(text(at(byName2, {"albumList2", "album"}).asArray()[0], "name"), "Blue Hours");
    const Value years = annJson("getAlbumList2", "type=byYear&fromYear=2020&toYear=1970");
    ASSERT_EQ(at(years, {"albumList2", "album"}).asArray().size(), 2u);
    EXPECT_EQ(text(at(years, {"albumList2", "album"}).asArray()[0], "name"), "Blue Hours");
    const Value folk = annJson("getAlbumList2", "type=byGenre&genre=Folk");
    EXPECT_EQ(at(folk, {"albumList2", "album"}).asArray().size(), 1u);
    EXPECT_EQ(at(annJson("getAlbumList2", "type=recent"), {"albumList2", "album"}).asArray().size(),
              0u);
    EXPECT_EQ(annError("getAlbumList2", "type=byYear"), 10);
    EXPECT_EQ(annError("getAlbumList2", "type=sideways"), 0);
    EXPECT_EQ(annError("getAlbumList2"), 10);

    const Value found = annJson("search3", "query=light");
    ASSERT_EQ(at(found, {"searchResult3", "song"}).asArray().size(), 1u);
    EXPECT_EQ(at(found, {"searchResult3", "album"}).asArray().size(), 0u);
    const Value byArtist = annJson("search3", "query=zed");
    EXPECT_EQ(at(byArtist, {"searchResult3", "artist"}).asArray().size(), 1u);
    EXPECT_EQ(at(byArtist, {"searchResult3", "song"}).asArray().size(), 1u);
    // A "%" is a character to find, not a wildcard.
    EXPECT_EQ(at(annJson("search3", "query=%25"), {"searchResult3", "song"}).asArray().size(), 0u);

    const Value genres = annJson("getGenres");
    ASSERT_EQ(at(genres, {"genres", "genre"}).asArray().size(), 2u);
    const Value &ambient = at(genres, {"genres", "genre"}).asArray()[0];
    EXPECT_EQ(text(ambient, "value"), "Ambient");
    EXPECT_EQ(integer(ambient, "songCount"), 2);
    EXPECT_EQ(integer(ambient, "albumCount"), 1);
    EXPECT_EQ(
        at(annJson("getSongsByGenre", "genre=Ambient"), {"songsByGenre", "song"}).asArray().size(),
        2u);
    EXPECT_EQ(at(annJson("getRandomSongs", "size=2"), {"randomSongs", "song"}).asArray().size(),
              2u);
    EXPECT_EQ(at(annJson("getMusicFolders"), {"musicFolders", "musicFolder"}).asArray().size(), 1u);
    EXPECT_EQ(at(annJson("getLicense"), {"license", "valid"}), Value(true));
    EXPECT_EQ(text(at(annJson("getUser", "username=ann@example.com"), {"user"}), "username"),
              "ann@example.com");
    EXPECT_EQ(annError("getUser", "username=bob@example.com"), 50);
}

TEST_F(PlayerApiTest, StreamsAreTheStoredBytesAndRangesExact) {
    const auto songs = annSongs();
    const std::map<std::string, const std::string *> expected = {
        {"First Light", first}, {"Second Wind", second}, {"Old Tune", matched}};
    for (const auto &[title, bytes] : expected) {
        const Reply r = ann("stream", "id=" + text(songs.at(title), "id"));
        EXPECT_EQ(r.status, 200) << title;
        EXPECT_EQ(r.headers.at("content-type"), "audio/mpeg");
        EXPECT_TRUE(r.body == *bytes) << title;
    }
    const std::string id = "id=" + text(songs.at("First Light"), "id");
    const std::string size = std::to_string(first->size());
    Reply r = ann("stream", id, {{"Range", "bytes=10-19"}});
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.headers["content-range"], "bytes 10-19/" + size);
    EXPECT_EQ(r.body, first->substr(10, 10));
    r = ann("stream", id, {{"Range", "bytes=-5"}});
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.body, first->substr(first->size() - 5));
    r = ann("stream", id, {{"Range", "bytes=100-"}});
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.body, first->substr(100));
    r = ann("stream", id, {{"Range", "bytes=100-999999999"}});
    EXPECT_EQ(r.headers["content-range"],
              "bytes 100-" + std::to_string(first->size() - 1) + "/" + size);
    r = ann("stream", id, {{"Range", "bytes=" + size + "-"}});
    EXPECT_EQ(r.status, 416);
    EXPECT_EQ(r.headers["content-range"], "bytes */" + size);
    r = ann("stream", id, {{"Range", "bytes=0-1,5-6"}});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body.size(), first->size());

    r = ann("download", id);
    EXPECT_TRUE(r.body == *first);
    EXPECT_EQ(r.headers["content-disposition"],
              "attachment; filename=\"first.mp3\"; filename*=UTF-8''first.mp3");
}

TEST_F(PlayerApiTest, CoverArtIsTheEmbeddedPictureScaledOnRequest) {
    const auto songs = annSongs();
    const Value &song = songs.at("First Light");
    Reply r = ann("getCoverArt", "id=" + text(song, "coverArt"));
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.headers["content-type"], "image/jpeg");
    ASSERT_GT(r.body.size(), 2u);
    EXPECT_EQ(r.body.substr(0, 2), "\xFF\xD8");
    const std::string full = r.body;
    // The album's cover is its song's.
    EXPECT_TRUE(ann("getCoverArt", "id=" + text(song, "albumId")).body == full);

    r = ann("getCoverArt", "id=" + text(song, "coverArt") + "&size=60");
    ASSERT_EQ(r.headers["content-type"], "image/jpeg");
    const fs::path scaled = media->path() / "scaled.jpg";
    std::ofstream(scaled, std::ios::binary) << r.body;
    const std::string probe = "ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" +
                              scaled.string() + "' > '" + scaled.string() + ".txt'";
    ASSERT_EQ(testchild::shell(probe), 0);
    EXPECT_EQ(readFile(scaled.string() + ".txt"), "60,40\n");

    EXPECT_EQ(annError("getCoverArt", "id=" + text(songs.at("Second Wind"), "id")), 70);
}

TEST_F(PlayerApiTest, EachAuthenticationSchemeIsAcceptedAndWrongOnesAreNot) {
    const auto ok = [](const Reply &r) { return json(r).find("error") == nullptr; };
    EXPECT_TRUE(ok(call("ping", "f=json", tokenAuth("ann@example.com", annPhone->password))));
    EXPECT_TRUE(ok(call("ping", "f=json", "u=ann%40example.com&p=" + annPhone->password)));
    std::string hex;
    for (const char c : annPhone->password)
        hex += cloud::crypto::toHex(std::string(1, c));
    EXPECT_TRUE(ok(call("ping", "f=json", "u=ann%40example.com&p=enc:" + hex)));
    EXPECT_TRUE(ok(call("ping", "f=json", "apiKey=" + annPhone->apiKey)));
    // The e-mail address is the user name whatever its case.
    EXPECT_TRUE(ok(call("ping", "f=json", tokenAuth("Ann@Example.com", annPhone->password))));

    // The account's own sign-in password is never a player password.
    EXPECT_EQ(errorCode(call("ping", "f=json", tokenAuth("ann@example.com", "desktop-secret"))),
              40);
    EXPECT_EQ(errorCode(call("ping", "f=json", "u=ann%40example.com&p=desktop-secret")), 40);
    // Bob's password does not open Ann's account.
    EXPECT_EQ(errorCode(call("ping", "f=json", tokenAuth("ann@example.com", bobPhone->password))),
              40);
    EXPECT_EQ(errorCode(call("ping", "f=json", "u=ann%40example.com")), 10);
    EXPECT_EQ(errorCode(call("ping", "f=json", "")), 10);
    EXPECT_EQ(
        errorCode(call("ping", "f=json", "apiKey=" + annPhone->apiKey + "&u=ann%40example.com")),
        43);
    std::string wrongKey = annPhone->apiKey;
    wrongKey.back() = wrongKey.back() == '0' ? '1' : '0';
    EXPECT_EQ(errorCode(call("ping", "f=json", "apiKey=" + wrongKey)), 44);
    // The XML form of a refusal.
    const Reply xml = call("ping", "", "u=ann%40example.com&p=nope");
    EXPECT_NE(xml.body.find("status=\"failed\""), std::string::npos);
    EXPECT_NE(xml.body.find("<error code=\"40\""), std::string::npos) << xml.body;
}

TEST_F(PlayerApiTest, ARevokedPlayerPasswordStopsWorking) {
    const PlayerCredentials tablet = addPlayerPassword(*server, "ann@example.com", "tablet");
    const std::string auth = tokenAuth("ann@example.com", tablet.password);
    EXPECT_EQ(errorCode(call("ping", "f=json", auth)), -1);
    // Names are unique per account.
    EXPECT_NE(server->run({"add-player-password", "ann@example.com", "tablet"}).exitCode, 0);
    const auto listed = server->run({"list-player-passwords", "ann@example.com"});
    EXPECT_EQ(listed.output, "phone\ntablet\n");
    ASSERT_EQ(server->run({"remove-player-password", "ann@example.com", "tablet"}).exitCode, 0);
    EXPECT_EQ(errorCode(call("ping", "f=json", tokenAuth("ann@example.com", tablet.password))), 40);
    EXPECT_EQ(errorCode(call("ping", "f=json", "apiKey=" + tablet.apiKey)), 44);
    // The other player password of the account goes on working.
    EXPECT_EQ(errorCode(ann("ping", "f=json")), -1);
}

TEST_F(PlayerApiTest, GuessingAPlayerPasswordIsThrottled) {
    const PlayerCredentials right = addPlayerPassword(*server, "carol@example.com", "phone");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(errorCode(call("ping", "f=json", tokenAuth("carol@example.com", "guess"))), 40);
    // The next guess waits; the right password never does.
    const Reply blocked = call("ping", "f=json", tokenAuth("carol@example.com", "guess"));
    EXPECT_EQ(errorCode(blocked), 40);
    EXPECT_NE(blocked.body.find("try again in"), std::string::npos) << blocked.body;
    EXPECT_EQ(blocked.headers.count("retry-after"), 1u);
    EXPECT_EQ(errorCode(call("ping", "f=json", tokenAuth("carol@example.com", right.password))),
              -1);
    // Other accounts are not held up.
    EXPECT_EQ(errorCode(ann("ping", "f=json")), -1);
}

TEST_F(PlayerApiTest, AnotherAccountFindsNothingOfTheFirst) {
    const auto songs = annSongs();
    const Value &song = songs.at("First Light");
    const std::string songId = "id=" + text(song, "id");
    EXPECT_EQ(bobError("getSong", songId), 70);
    EXPECT_EQ(bobError("getAlbum", "id=" + text(song, "albumId")), 70);
    EXPECT_EQ(bobError("getArtist", "id=" + text(song, "artistId")), 70);
    EXPECT_EQ(bobError("getMusicDirectory", "id=" + text(song, "albumId")), 70);
    EXPECT_EQ(bobError("stream", songId), 70);
    EXPECT_EQ(bobError("download", songId), 70);
    EXPECT_EQ(bobError("getCoverArt", songId), 70);
    EXPECT_EQ(bobError("star", songId), 70);
    EXPECT_EQ(bobError("scrobble", songId), 70);
    EXPECT_EQ(bobError("createPlaylist", "name=Stolen&songId=" + text(song, "id")), 70);
    const Value mine = annJson("createPlaylist", "name=Private");
    const std::string playlist = "id=" + text(at(mine, {"playlist"}), "id");
    EXPECT_EQ(bobError("getPlaylist", playlist), 70);
    EXPECT_EQ(bobError("deletePlaylist", playlist), 70);
    EXPECT_EQ(bobError("updatePlaylist", "playlistId=" + text(at(mine, {"playlist"}), "id")), 70);
    EXPECT_EQ(annError("deletePlaylist", playlist), -1);
    // Bob's own listings hold only his song.
    const Value all = json(bob("search3", "f=json&query="));
    ASSERT_EQ(at(all, {"searchResult3", "song"}).asArray().size(), 1u);
    EXPECT_EQ(text(at(all, {"searchResult3", "song"}).asArray()[0], "title"), "Bob Song");
}

TEST_F(PlayerApiTest, HostileParametersGetClearErrors) {
    for (const char *id : {"..%2F..%2Fcloud.sqlite", "%2Fetc%2Fpasswd", "tr%00", "1",
                           "tr0000000000000000000000", "TR0123456789abcdef012345"}) {
        EXPECT_EQ(annError("stream", std::string("id=") + id), 70) << id;
        EXPECT_EQ(annError("getCoverArt", std::string("id=") + id), 70) << id;
    }
    EXPECT_EQ(annError("stream"), 10);
    EXPECT_EQ(annError("getAlbumList2", "type=newest&size=lots"), 0);
    EXPECT_EQ(annError("search3", "query=" + std::string(5000, 'a')), 0);
    EXPECT_EQ(annError("noSuchMethod"), 70);
    // A JSONP callback is a name; anything else is dropped, never echoed.
    const Reply jsonp = ann("ping", "f=jsonp&callback=alert(1)");
    EXPECT_EQ(jsonp.body.find("alert"), std::string::npos);
    EXPECT_EQ(ann("ping", "f=jsonp&callback=cb").body.rfind("cb(", 0), 0u);
    // A huge page size is cut to the largest page.
    EXPECT_EQ(annError("getRandomSongs", "size=99999999999999"), -1);
    EXPECT_EQ(errorCode(ann("ping", "f=json")), -1);
}

TEST_F(PlayerApiTest, PlaylistsStarsAndPlaysRoundTrip) {
    const auto songs = annSongs();
    const std::string a = text(songs.at("First Light"), "id");
    const std::string b = text(songs.at("Old Tune"), "id");
    const Value made = annJson("createPlaylist", "name=Mix&songId=" + a + "&songId=" + b);
    const Value &p = at(made, {"playlist"});
    EXPECT_EQ(text(p, "name"), "Mix");
    EXPECT_EQ(text(p, "owner"), "ann@example.com");
    EXPECT_EQ(integer(p, "songCount"), 2);
    const std::string id = text(p, "id");
    ASSERT_EQ(annError("updatePlaylist", "playlistId=" + id + "&songIndexToRemove=0&songIdToAdd=" +
                                             a + "&name=Evening"),
              -1);
    const Value got = annJson("getPlaylist", "id=" + id);
    const auto &entries = at(got, {"playlist", "entry"}).asArray();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(text(entries[0], "id"), b);
    EXPECT_EQ(text(entries[1], "id"), a);
    EXPECT_EQ(text(at(got, {"playlist"}), "name"), "Evening");
    bool listed = false;
    const Value lists = annJson("getPlaylists");
    for (const auto &pl : at(lists, {"playlists", "playlist"}).asArray())
        listed = listed || text(pl, "id") == id;
    EXPECT_TRUE(listed);
    EXPECT_EQ(annError("deletePlaylist", "id=" + id), -1);
    EXPECT_EQ(annError("getPlaylist", "id=" + id), 70);

    const std::string album = text(songs.at("Old Tune"), "albumId");
    ASSERT_EQ(annError("star", "id=" + a + "&albumId=" + album), -1);
    Value starred = annJson("getStarred2");
    ASSERT_EQ(at(starred, {"starred2", "song"}).asArray().size(), 1u);
    EXPECT_EQ(text(at(starred, {"starred2", "song"}).asArray()[0], "id"), a);
    EXPECT_NE(at(starred, {"starred2", "song"}).asArray()[0].find("starred"), nullptr);
    ASSERT_EQ(at(starred, {"starred2", "album"}).asArray().size(), 1u);
    EXPECT_EQ(text(at(starred, {"starred2", "album"}).asArray()[0], "id"), album);
    ASSERT_EQ(annError("unstar", "id=" + a + "&albumId=" + album), -1);
    starred = annJson("getStarred2");
    EXPECT_EQ(at(starred, {"starred2", "song"}).asArray().size(), 0u);

    ASSERT_EQ(annError("scrobble", "id=" + b), -1);
    EXPECT_EQ(integer(at(annJson("getSong", "id=" + b), {"song"}), "playCount"), 1);
    const Value recent = annJson("getAlbumList2", "type=recent");
    ASSERT_EQ(at(recent, {"albumList2", "album"}).asArray().size(), 1u);
    EXPECT_EQ(text(at(recent, {"albumList2", "album"}).asArray()[0], "id"), album);
}

// A data folder from before the music-player view has files but no tags: its
// first start reads them, and the library is there for players.
TEST(PlayerLibraryUpgradeTest, AnOlderDataFolderGetsItsTagsAtStart) {
    TestServer server;
    TempDir dir;
    server.addUser("dee@example.com", "desktop-secret");
    const std::string cookie = server.loginOrFail("dee@example.com", "desktop-secret");
    server.upload(cookie, "old.mp3",
                  readFile(makeSong(dir.path(), "old.mp3", 500,
                                    "-metadata title=Older -metadata artist=Ann "
                                    "-metadata album=Before -metadata genre=Blues",
                                    true)));
    const PlayerCredentials phone = addPlayerPassword(server, "dee@example.com", "phone");
    server.stop();
    cloud::Database(server.databaseLocation())
        .exec("DELETE FROM library_songs; DELETE FROM library_albums; "
              "DELETE FROM library_artists; DELETE FROM file_tags;");
    server.start();
    const Reply r =
        server.get("/rest/search3?f=json&query=&" + tokenAuth("dee@example.com", phone.password));
    const auto v = cloud::json::parse(r.body);
    ASSERT_TRUE(v) << r.body;
    const Value &songs = at(*v, {"subsonic-response", "searchResult3", "song"});
    ASSERT_EQ(songs.asArray().size(), 1u) << r.body;
    EXPECT_EQ(text(songs.asArray()[0], "title"), "Older");
    EXPECT_EQ(text(songs.asArray()[0], "genre"), "Blues");
    EXPECT_NE(songs.asArray()[0].find("coverArt"), nullptr);
}

TEST_F(PlayerApiTest, AThirdPartyClientBrowsesStreamsAndEdits) {
    const fs::path expected = media->path() / "expected.json";
    {
        Value v;
        for (const auto &[title, path] : *paths)
            v.set(title, path);
        std::ofstream(expected) << cloud::json::serialize(v);
    }
    const std::string cmd =
        "cd '" SONARBOX_PLAYER_CLIENT_DIR "' && node client.mjs http://127.0.0.1:" +
        std::to_string(server->port()) + " ann@example.com " + annPhone->password + " " +
        annPhone->apiKey + " '" + expected.string() + "' > '" + expected.string() + ".log' 2>&1";
    const int rc = testchild::shell(cmd);
    EXPECT_EQ(rc, 0) << readFile(expected.string() + ".log");
    EXPECT_NE(readFile(expected.string() + ".log").find("checked 3 songs"), std::string::npos);
}

} // namespace
