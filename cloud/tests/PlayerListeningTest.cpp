// What players keep of a person's listening through the music-player API:
// the play queue, bookmarks, ratings and what is playing now, on whichever
// back end the tests run.
#include "PlayerApiTest.h"

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

} // namespace
