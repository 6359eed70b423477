#include "FplibTestSupport.h"

#include <cstring>
#include <sstream>
#include <vector>

using fakesdk::failAt;
using fakesdk::Node;
using fakesdk::NodePtr;

namespace {

NodePtr named(const char *display) {
    NodePtr node = Node::make();
    node->value(GNSDK_GDO_VALUE_DISPLAY, display);
    return node;
}

NodePtr externalId(const char *typeKey, const char *type, const char *value) {
    NodePtr node = Node::make();
    node->value(typeKey, type).value(GNSDK_GDO_VALUE_EXTERNALID_VALUE, value);
    return node;
}

NodePtr fullTrack(const std::string &ident) {
    NodePtr contributor = Node::make();
    contributor->value(GNSDK_GDO_VALUE_GNUID, "C1")
        .value(GNSDK_GDO_VALUE_ERA_LEVEL1, "1990s")
        .value(GNSDK_GDO_VALUE_ORIGIN_LEVEL1, "Europe")
        .value(GNSDK_GDO_VALUE_ORIGIN_LEVEL2, "UK")
        .child(GNSDK_GDO_CHILD_NAME_OFFICIAL, named("Contributor Name"));
    NodePtr artist = Node::make();
    artist->child(GNSDK_GDO_CHILD_NAME_OFFICIAL, named("Artist Name"))
        .child(GNSDK_GDO_CHILD_CONTRIBUTOR, contributor);
    NodePtr track = Node::make();
    track->value(GNSDK_MUSICIDFILE_GDO_VALUE_IDENT, ident)
        .value(GNSDK_GDO_VALUE_GNID, "T1")
        .value(GNSDK_GDO_VALUE_TUI, "111")
        .value(GNSDK_GDO_VALUE_TRACK_NUMBER, "3")
        .value(GNSDK_GDO_VALUE_MOOD_LEVEL1, "Calm")
        .value(GNSDK_GDO_VALUE_MOOD_LEVEL2, "Peaceful")
        .value(GNSDK_GDO_VALUE_TEMPO_LEVEL1, "Slow")
        .value(GNSDK_GDO_VALUE_TEMPO_LEVEL3, "60")
        .value(GNSDK_GDO_VALUE_GENRE_LEVEL1, "Rock")
        .child(GNSDK_GDO_CHILD_TITLE_OFFICIAL, named("Song"))
        .child(GNSDK_GDO_CHILD_ARTIST, artist)
        .child(GNSDK_GDO_CHILD_EXTERNAL_ID,
               externalId(GNSDK_GDO_VALUE_EXTERNALID_TYPE, "B", "b-track"))
        .child(GNSDK_GDO_CHILD_EXTERNAL_ID,
               externalId(GNSDK_GDO_VALUE_EXTERNALID_SOURCE, "A", "a-track"));
    return track;
}

NodePtr albumWith(std::vector<NodePtr> tracks, const char *id = "A1") {
    NodePtr album = Node::make();
    album->value(GNSDK_GDO_VALUE_GNID, id)
        .value(GNSDK_GDO_VALUE_GENRE_LEVEL1, "Rock")
        .value(GNSDK_GDO_VALUE_GENRE_LEVEL2, "Hard Rock")
        .value(GNSDK_GDO_VALUE_ALBUM_LABEL, "Label")
        .child(GNSDK_GDO_CHILD_TITLE_OFFICIAL, named("Album Name"))
        .child(GNSDK_GDO_CHILD_EXTERNAL_ID,
               externalId(GNSDK_GDO_VALUE_EXTERNALID_TYPE, "A", "a-album"));
    for (NodePtr &track : tracks) {
        album->child(GNSDK_GDO_CHILD_TRACK_MATCHED, track);
    }
    return album;
}

NodePtr responseWith(std::vector<NodePtr> albums) {
    NodePtr response = Node::make();
    for (NodePtr &album : albums) {
        response->child(GNSDK_GDO_CHILD_ALBUM, album);
    }
    return response;
}

void respondWith(std::vector<NodePtr> responses) {
    fakesdk::state().responder = [responses](const std::vector<fakesdk::FileInfoRecord> &) {
        return responses;
    };
}

std::string indented(const std::string &text, int tabs) {
    std::istringstream lines(text);
    std::string line;
    std::string out;
    while (std::getline(lines, line)) {
        out += (out.empty() ? "" : "\n") + std::string(static_cast<std::size_t>(tabs), '\t') + line;
    }
    return out;
}

const char *const FullMatch = "{\n"
                              "\t\"trackId\": \"T1\",\n"
                              "\t\"trackUI\": \"111\",\n"
                              "\t\"trackName\": \"Song\",\n"
                              "\t\"trackNumber\": \"3\",\n"
                              "\t\"mood\": [\n\t\t\"Calm\",\n\t\t\"Peaceful\"\n\t],\n"
                              "\t\"tempo\": [\n\t\t\"Slow\",\n\t\t\"60\"\n\t],\n"
                              "\t\"genre\": [\n\t\t\"Rock\"\n\t],\n"
                              "\t\"A\": [\n\t\t\"a-album\",\n\t\t\"a-track\"\n\t],\n"
                              "\t\"B\": [\n\t\t\"b-track\"\n\t],\n"
                              "\t\"albumId\": \"A1\",\n"
                              "\t\"albumName\": \"Album Name\",\n"
                              "\t\"albumGenre\": [\n\t\t\"Rock\",\n\t\t\"Hard Rock\"\n\t],\n"
                              "\t\"label\": \"Label\",\n"
                              "\t\"artistName\": \"Contributor Name\",\n"
                              "\t\"artistId\": \"C1\",\n"
                              "\t\"era\": [\n\t\t\"1990s\"\n\t],\n"
                              "\t\"origin\": [\n\t\t\"Europe\",\n\t\t\"UK\"\n\t],\n"
                              "\t\"score\": \"1.0\"\n"
                              "}";

class Document : public FakeSdkTest {
protected:
    // Runs one query over identifiers and returns the document.
    std::string run(std::vector<const char *> identifiers, int32_t mode = 0,
                    int32_t *status = nullptr) {
        Gnhandler handler;
        startSession(handler);
        EXPECT_EQ(0, handler.InitQuery());
        for (const char *identifier : identifiers) {
            handler.FingerprintById(identifier);
        }
        std::vector<char> document(1 << 16, 'X');
        const int32_t result =
            handler.FinalizeQuery(document.data(), static_cast<int32_t>(document.size()), mode);
        if (status != nullptr) {
            *status = result;
        }
        handler.Shutdown(nullptr, 0);
        return document.data();
    }
};

TEST_F(Document, FullMatchObjectLayout) {
    respondWith({responseWith({albumWith({fullTrack("1-a")})})});
    const std::string expected = "[\n\t{\n\t\t\"input\": \"1-a\",\n\t\t\"hash\": \"0\",\n"
                                 "\t\t\"graceNoteTrackInfo\": [\n" +
                                 indented(FullMatch, 3) + "\n\t\t]\n\t}\n]";
    EXPECT_EQ(expected, run({"1-a"}));
}

TEST_F(Document, ArtistFallbacks) {
    // Without a contributor the name comes from the artist itself and the
    // contributor's members are left out.
    NodePtr noContributor = fullTrack("1-a");
    NodePtr artist = Node::make();
    artist->child(GNSDK_GDO_CHILD_NAME_OFFICIAL, named("Artist Name"));
    noContributor->children[1].second = artist;
    // Without a track artist the album's artist is used.
    NodePtr noArtist = fullTrack("2-b");
    noArtist->children.erase(noArtist->children.begin() + 1);
    NodePtr albumArtist = Node::make();
    albumArtist->child(GNSDK_GDO_CHILD_NAME_OFFICIAL, named("Album Artist"));
    NodePtr album = albumWith({noContributor, noArtist});
    album->child(GNSDK_GDO_CHILD_ARTIST, albumArtist);
    respondWith({responseWith({album})});

    const std::string document = run({"1-a", "2-b"});
    EXPECT_NE(std::string::npos, document.find("\"label\": \"Label\",\n\t\t\t\t\"artistName\": "
                                               "\"Artist Name\",\n\t\t\t\t\"score\""));
    EXPECT_NE(std::string::npos, document.find("\"artistName\": \"Album Artist\""));
    EXPECT_EQ(std::string::npos, document.find("artistId"));
    EXPECT_EQ(std::string::npos, document.find("\"era\""));
    EXPECT_EQ(std::string::npos, document.find("\"origin\""));
}

TEST_F(Document, UnobtainableTrackLeavesOnlyAlbumMembers) {
    respondWith({responseWith({albumWith({fullTrack("1-a")})})});
    // The first get finds the track for its identifier; the second, inside
    // the match object, fails.
    failAt("gnsdk_manager_gdo_child_get:" GNSDK_GDO_CHILD_TRACK_MATCHED, 2);
    const std::string document = run({"1-a"});
    const std::string match = "\t\t\t{\n"
                              "\t\t\t\t\"A\": [\n\t\t\t\t\t\"a-album\"\n\t\t\t\t],\n"
                              "\t\t\t\t\"albumId\": \"A1\",\n"
                              "\t\t\t\t\"albumName\": \"Album Name\",\n"
                              "\t\t\t\t\"albumGenre\": [\n\t\t\t\t\t\"Rock\",\n\t\t\t\t\t\"Hard "
                              "Rock\"\n\t\t\t\t],\n"
                              "\t\t\t\t\"label\": \"Label\",\n"
                              "\t\t\t\t\"score\": \"1.0\"\n"
                              "\t\t\t}\n";
    EXPECT_NE(std::string::npos, document.find(match)) << document;
    EXPECT_NE(std::string::npos, stderrText().find("GNSDK Error @ createAlbumOutput:1:"));
}

TEST_F(Document, MatchesInAlbumThenTrackOrderAndFirstEntryWins) {
    auto track = [](const char *ident, const char *id) {
        NodePtr node = Node::make();
        node->value(GNSDK_MUSICIDFILE_GDO_VALUE_IDENT, ident).value(GNSDK_GDO_VALUE_GNID, id);
        return node;
    };
    respondWith(
        {responseWith({albumWith({track("1-a", "x1"), track("2-b", "x2"), track("1-a", "x3")}, "X"),
                       albumWith({track("1-a", "y1")}, "Y")})});
    const std::string document = run({"1-a", "2-b", "1-a"}, 1);
    std::vector<std::string> order;
    for (const char *id : {"x1", "x3", "y1", "x2"}) {
        order.push_back(id);
    }
    std::size_t position = 0;
    for (const std::string &id : order) {
        const std::size_t found = document.find("\"trackId\": \"" + id + "\"", position);
        ASSERT_NE(std::string::npos, found) << id << "\n" << document;
        position = found;
    }
    // The repeated identifier is a second entry that gets nothing.
    EXPECT_NE(
        std::string::npos,
        document.find("\"input\": \"1-a\",\n\t\t\"hash\": \"0\",\n\t\t\"graceNoteTrackInfo\": []"));
}

TEST_F(Document, UnknownIdentifierDropsTheRestOfItsResponseOnly) {
    auto track = [](const char *ident, const char *id) {
        NodePtr node = Node::make();
        node->value(GNSDK_MUSICIDFILE_GDO_VALUE_IDENT, ident).value(GNSDK_GDO_VALUE_GNID, id);
        return node;
    };
    NodePtr anonymous = Node::make(); // no identifier value at all
    respondWith(
        {responseWith({albumWith({track("nobody", "lost0")}), albumWith({track("1-a", "lost1")})}),
         responseWith({albumWith({anonymous, track("1-a", "lost2")})}),
         responseWith({albumWith({track("1-a", "kept")})})});
    const std::string document = run({"1-a"});
    EXPECT_EQ(std::string::npos, document.find("lost"));
    EXPECT_NE(std::string::npos, document.find("\"trackId\": \"kept\""));
    EXPECT_NE(std::string::npos,
              stdoutText().find("\n\n!!!!Failed to open input file: nobody!!!\n\n"));
    EXPECT_NE(std::string::npos, stdoutText().find("!!!!Failed to open input file: (null)!!!"));
}

TEST_F(Document, ResponseReadFailuresAreReported) {
    respondWith({responseWith({albumWith({fullTrack("1-a")}), albumWith({fullTrack("1-a")})}),
                 responseWith({albumWith({fullTrack("1-a")})})});
    failAt("gnsdk_manager_gdo_child_count:" GNSDK_GDO_CHILD_ALBUM, 2);
    failAt("gnsdk_manager_gdo_child_get:" GNSDK_GDO_CHILD_ALBUM, 1);
    const std::string document = run({"1-a"});
    // Album 1 of response 1 fails, album 2 is written; response 2 cannot be counted.
    EXPECT_EQ(1u, [&] {
        std::size_t count = 0;
        for (std::size_t at = document.find("\"score\""); at != std::string::npos;
             at = document.find("\"score\"", at + 1)) {
            ++count;
        }
        return count;
    }());
    const std::string &err = stderrText();
    EXPECT_NE(std::string::npos, err.find("GNSDK Error @ _process_albums->gnsdk_manager_gdo_child_"
                                          "get(GNSDK_GDO_CHILD_ALBUM) failed:"));
    EXPECT_NE(std::string::npos, err.find("GNSDK Error @ _process_albums->gnsdk_manager_gdo_child_"
                                          "count(GNSDK_GDO_CHILD_ALBUM) failed:"));
}

TEST_F(Document, ExternalIdWithoutTypeOrSourceNamesItsOwner) {
    // The album's only identifier and the track's second have neither a type
    // nor a source.
    NodePtr track = fullTrack("1-a");
    track->child(GNSDK_GDO_CHILD_EXTERNAL_ID, externalId("untyped", "X", "x-track"));
    NodePtr album = albumWith({track});
    album->children.erase(album->children.begin() + 1);
    album->child(GNSDK_GDO_CHILD_EXTERNAL_ID, externalId("untyped", "X", "x-album"));
    respondWith({responseWith({album})});
    const std::string document = run({"1-a"});
    EXPECT_EQ(std::string::npos, document.find("x-album"));
    EXPECT_EQ(std::string::npos, document.find("x-track"));
    EXPECT_NE(std::string::npos, document.find("\"A\": [\n\t\t\t\t\t\"a-track\"\n\t\t\t\t],"));
    const std::string &err = stderrText();
    EXPECT_NE(std::string::npos,
              err.find("GNSDK Error @ albumPrintXID:0: [0x90800003] no such value\n"));
    EXPECT_NE(std::string::npos,
              err.find("GNSDK Error @ trackPrintXID:2: [0x90800003] no such value\n"));
}

TEST_F(Document, EmptyCutAndPathEscapes) {
    Gnhandler empty;
    char buffer[16];
    EXPECT_EQ(0, empty.CreateOutputLibrary(buffer, sizeof buffer));
    EXPECT_STREQ("[]", buffer);
    EXPECT_EQ(-1, empty.CreateOutputLibrary(nullptr, 16));

    Gnhandler handler;
    handler.AddFileQueryData("/music/a b.mp3", "0123456789abcdef0123456789abcdef");
    std::vector<char> whole(4096);
    ASSERT_EQ(0, handler.CreateOutputLibrary(whole.data(), static_cast<int32_t>(whole.size())));
    EXPECT_STREQ("[\n\t{\n\t\t\"input\": \"\\/music\\/a b.mp3\",\n"
                 "\t\t\"hash\": \"0123456789abcdef0123456789abcdef\",\n"
                 "\t\t\"graceNoteTrackInfo\": []\n\t}\n]",
                 whole.data());
    char cut[11];
    std::memset(cut, 'X', sizeof cut);
    ASSERT_EQ(0, handler.CreateOutputLibrary(cut, 10));
    EXPECT_EQ(std::string(whole.data(), 9), std::string(cut));
    EXPECT_EQ('X', cut[10]);
}

} // namespace
