// What players keep of a person's listening through the music-player API:
// the play queue, bookmarks, ratings and what is playing now, on whichever
// back end the tests run.
#include "PlayerApiTest.h"

#include "TestChild.h"

#include <fstream>

namespace {

using namespace playerapi;

std::vector<std::string> ids(const Value &list) {
    std::vector<std::string> out;
    for (const auto &e : list.asArray())
        out.push_back(text(e, "id"));
    return out;
}

TEST_F(PlayerApiTest, APlayQueueSavedByOnePlayerIsTakenUpByAnother) {
    // Nothing saved yet: an answer without a queue.
    EXPECT_EQ(annJson("getPlayQueue").find("playQueue"), nullptr);

    const auto songs = annSongs();
    const std::string a = text(songs.at("First Light"), "id");
    const std::string b = text(songs.at("Old Tune"), "id");
    ASSERT_EQ(annError("savePlayQueue",
                       "id=" + a + "&id=" + b + "&id=" + a + "&current=" + b + "&position=61234"),
              -1);
    const Value queue = at(annJson("getPlayQueue"), {"playQueue"});
    EXPECT_EQ(text(queue, "current"), b);
    EXPECT_EQ(integer(queue, "position"), 61234);
    EXPECT_EQ(text(queue, "username"), "ann@example.com");
    EXPECT_EQ(text(queue, "changedBy"), "test"); // the player's name, "c"
    EXPECT_EQ(text(queue, "changed").size(), 24u) << text(queue, "changed");
    EXPECT_EQ(ids(at(queue, {"entry"})), (std::vector<std::string>{a, b, a}));
    EXPECT_EQ(text(at(queue, {"entry"}).asArray()[1], "title"), "Old Tune");
    // The same in XML.
    const std::string xml = ann("getPlayQueue").body;
    EXPECT_NE(xml.find("<playQueue current=\"" + b +
                       "\" position=\"61234\" "
                       "username=\"ann@example.com\""),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("changedBy=\"test\"><entry id=\"" + a + "\""), std::string::npos) << xml;

    // Another account has its own (none), and cannot queue Ann's songs.
    EXPECT_EQ(json(bob("getPlayQueue", "f=json")).find("playQueue"), nullptr);
    EXPECT_EQ(bobError("savePlayQueue", "id=" + a), 70);
    // The current song is one of the queue's; a refused save changes nothing.
    EXPECT_EQ(annError("savePlayQueue", "id=" + a + "&current=" + b), 0);
    EXPECT_EQ(annError("savePlayQueue", "id=" + a + "&position=soon"), 0);
    EXPECT_EQ(integer(at(annJson("getPlayQueue"), {"playQueue"}), "position"), 61234);

    // No songs clears it.
    ASSERT_EQ(annError("savePlayQueue"), -1);
    EXPECT_EQ(annJson("getPlayQueue").find("playQueue"), nullptr);
}

// Players send booleans as they please: True, TRUE, 1 and true all are.
TEST_F(PlayerApiTest, BooleansAreReadAsPlayersWriteThem) {
    const auto songs = annSongs();
    const std::string id = text(songs.at("Second Wind"), "id");
    const Value made = annJson("createPlaylist", "name=Flags");
    const std::string playlist = text(at(made, {"playlist"}), "id");
    const auto isPublic = [&] {
        return *at(annJson("getPlaylist", "id=" + playlist), {"playlist"}).find("public");
    };
    for (const auto &[given, expected] : std::vector<std::pair<std::string, bool>>{
             {"True", true}, {"FALSE", false}, {"1", true}, {"0", false}, {"true", true}}) {
        ASSERT_EQ(annError("updatePlaylist", "playlistId=" + playlist + "&public=" + given), -1);
        EXPECT_EQ(isPublic(), Value(expected)) << given;
    }
    EXPECT_EQ(annError("deletePlaylist", "id=" + playlist), -1);

    // "Now playing" notices are not plays, however they are spelled; they
    // tell what the player plays.
    const auto plays = [&] {
        return integer(at(annJson("getSong", "id=" + id), {"song"}), "playCount");
    };
    const std::int64_t before = plays();
    for (const char *notice : {"False", "false", "0"})
        ASSERT_EQ(annError("scrobble", "id=" + id + "&submission=" + notice), -1);
    EXPECT_EQ(plays(), before);
    const Value nowPlaying = annJson("getNowPlaying");
    const auto &playing = at(nowPlaying, {"nowPlaying", "entry"}).asArray();
    ASSERT_EQ(playing.size(), 1u);
    EXPECT_EQ(text(playing[0], "id"), id);
    EXPECT_EQ(text(playing[0], "playerName"), "test");
    EXPECT_EQ(integer(playing[0], "minutesAgo"), 0);
    EXPECT_EQ(
        json(bob("getNowPlaying", "f=json")).find("nowPlaying")->find("entry")->asArray().size(),
        0u);
    ASSERT_EQ(annError("scrobble", "id=" + id + "&submission=TRUE"), -1);
    EXPECT_EQ(plays(), before + 1);
}

// The index files names under their letter whatever their accents, and
// everything that starts with no letter under one "#"; an artist known only
// from a compilation's tracks is still an artist.
TEST_F(PlayerApiTest, TheIndexFilesAccentedNamesUnderTheirLetterAndCompilationArtistsExist) {
    server->addUser("dan@example.com", "dan-desktop");
    const std::string dan = server->loginOrFail("dan@example.com", "dan-desktop");
    int n = 0;
    for (const char *tags :
         {"-metadata artist='~tilde' -metadata album=Waves",
          "-metadata artist=1975 -metadata album=Year",
          "-metadata artist='Émile' -metadata album=Songs",
          "-metadata artist=Emma -metadata album=Hers",
          "-metadata artist=Fay -metadata album_artist='Various Artists' -metadata album=Mix"}) {
        const std::string name = "dan" + std::to_string(++n) + ".mp3";
        server->upload(
            dan, name,
            readFile(makeSong(media->path(), name, 300 + 50 * n,
                              std::string(tags) + " -metadata title=Song" + std::to_string(n),
                              false)));
    }
    const PlayerCredentials phone = addPlayerPassword(*server, "dan@example.com", "phone");
    const auto danJson = [&](const std::string &method, const std::string &query = {}) {
        return json(call(method, "f=json&" + query, tokenAuth("dan@example.com", phone.password)));
    };
    for (const char *method : {"getArtists", "getIndexes"}) {
        const Value v = danJson(method);
        std::vector<std::string> filed;
        for (const auto &index :
             at(v, {method == std::string("getArtists") ? "artists" : "indexes", "index"})
                 .asArray())
            for (const auto &a : at(index, {"artist"}).asArray())
                filed.push_back(text(index, "name") + ":" + text(a, "name"));
        EXPECT_EQ(filed, (std::vector<std::string>{"#:1975", "#:~tilde", "E:Émile", "E:Emma",
                                                   "V:Various Artists"}))
            << method;
    }

    const Value found = danJson("search3", "query=Song5");
    const Value &song = at(found, {"searchResult3", "song"}).asArray().at(0);
    EXPECT_EQ(text(song, "artist"), "Fay");
    const Value artist = at(danJson("getArtist", "id=" + text(song, "artistId")), {"artist"});
    EXPECT_EQ(text(artist, "name"), "Fay");
    EXPECT_EQ(integer(artist, "albumCount"), 1);
    ASSERT_EQ(at(artist, {"album"}).asArray().size(), 1u);
    EXPECT_EQ(text(at(artist, {"album"}).asArray()[0], "name"), "Mix");
    EXPECT_EQ(text(at(artist, {"album"}).asArray()[0], "artist"), "Various Artists");
    // Only in their own account.
    EXPECT_EQ(annError("getArtist", "id=" + text(song, "artistId")), 70);
}

// An album without art gets a cover drawn from its name: the same for the
// same name, another for another, at the size asked for.
TEST_F(PlayerApiTest, AlbumsWithoutArtGetCoversDrawnFromTheirNames) {
    server->addUser("eve@example.com", "eve-desktop");
    const std::string eve = server->loginOrFail("eve@example.com", "eve-desktop");
    for (const char *album : {"Night Drive", "Morning"}) {
        const std::string name = std::string(album).substr(0, 5) + ".mp3";
        server->upload(eve, name,
                       readFile(makeSong(media->path(), name, 480,
                                         "-metadata artist=Eve -metadata album='" +
                                             std::string(album) + "' -metadata title=T" + name,
                                         false)));
    }
    const PlayerCredentials phone = addPlayerPassword(*server, "eve@example.com", "phone");
    const std::string auth = tokenAuth("eve@example.com", phone.password);
    std::map<std::string, std::string> albums;
    const Value list = json(call("getAlbumList2", "f=json&type=alphabeticalByName", auth));
    for (const auto &a : at(list, {"albumList2", "album"}).asArray()) {
        EXPECT_EQ(text(a, "coverArt"), text(a, "id"));
        albums[text(a, "name")] = text(a, "coverArt");
    }
    ASSERT_EQ(albums.size(), 2u);
    const auto probe = [&](const Reply &r) {
        const fs::path file = media->path() / "drawn.png";
        std::ofstream(file, std::ios::binary) << r.body;
        const std::string cmd = "ffprobe -v error -show_entries stream=codec_name,width,height "
                                "-of csv=p=0 '" +
                                file.string() + "' > '" + file.string() + ".txt'";
        return testchild::shell(cmd) == 0 ? readFile(file.string() + ".txt") : std::string();
    };
    const Reply night = call("getCoverArt", "id=" + albums.at("Night Drive"), auth);
    ASSERT_EQ(night.status, 200);
    EXPECT_EQ(night.headers.at("content-type"), "image/png");
    EXPECT_EQ(probe(night), "png,600,600\n");
    EXPECT_TRUE(call("getCoverArt", "id=" + albums.at("Night Drive"), auth).body == night.body);
    const Reply small = call("getCoverArt", "id=" + albums.at("Night Drive") + "&size=64", auth);
    EXPECT_EQ(probe(small), "png,64,64\n");
    const Reply morning = call("getCoverArt", "id=" + albums.at("Morning"), auth);
    EXPECT_EQ(probe(morning), "png,600,600\n");
    EXPECT_FALSE(morning.body == night.body);
    // A song without a picture still has none of its own.
    const Value songs = json(call("search3", "f=json&query=", auth));
    EXPECT_EQ(
        errorCode(call("getCoverArt",
                       "f=json&id=" + text(at(songs, {"searchResult3", "song"}).asArray()[0], "id"),
                       auth)),
        70);
}

// The npm client calls every method players rely on and checks each answer,
// JSON and XML, field by field against the documented shapes.
TEST_F(PlayerApiTest, EveryMethodAnswersInItsDocumentedShapeToAThirdPartyClient) {
    const fs::path log = media->path() / "shapes.log";
    const std::string cmd =
        "cd '" SONARBOX_PLAYER_CLIENT_DIR "' && node shapes.mjs http://127.0.0.1:" +
        std::to_string(server->port()) + " ann@example.com " + annPhone->password + " " +
        annPhone->apiKey + " > '" + log.string() + "' 2>&1";
    EXPECT_EQ(testchild::shell(cmd), 0) << readFile(log);
    EXPECT_NE(readFile(log).find("checked the shapes of 29 methods"), std::string::npos)
        << readFile(log);
}

} // namespace
