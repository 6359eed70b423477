// The playlist store on a database of its own: the cap holds for a
// replacement too (which the API's per-request cap also stops first), and a
// list of items of any length is one query.
#include "Library.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace fs = std::filesystem;
using namespace cloud;

namespace {

class PlaylistStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "playlists-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        store = std::make_unique<Store>(dir / "cloud.sqlite");
        User user;
        user.email = "pat@example.com";
        userId = *store->createUser(user);
        a = song("a");
        b = song("b");
    }
    void TearDown() override {
        store.reset();
        fs::remove_all(dir);
    }

    std::int64_t song(const std::string &name) {
        bool reused = false;
        UserMedia m;
        m.userId = userId;
        m.name = name + ".mp3";
        m.songName = name;
        m.checksum = "md5-" + name;
        return store
            ->addUpload(StoredFile{0, name + ".mp3", 10, "md5-" + name, "sha-" + name}, m, reused)
            .id;
    }

    fs::path dir;
    std::unique_ptr<Store> store;
    std::int64_t userId = 0;
    std::int64_t a = 0;
    std::int64_t b = 0;
};

TEST_F(PlaylistStoreTest, NoPlaylistIsMadeOrReplacedPastTenThousandEntries) {
    const std::vector<std::int64_t> tooMany(10001, a);
    EXPECT_FALSE(store->createPlaylist(userId, "Too long", tooMany));
    EXPECT_TRUE(store->playlists(userId).empty());

    const auto made = store->createPlaylist(userId, "Mix", {a, b});
    ASSERT_TRUE(made);
    EXPECT_EQ(store->updatePlaylist(userId, made->id, std::string("Renamed"), std::nullopt,
                                    std::nullopt, {}, {}, tooMany),
              PlaylistChange::TooLong);
    auto kept = store->findPlaylist(userId, made->id);
    EXPECT_EQ(kept->mediaIds, (std::vector<std::int64_t>{a, b}));
    EXPECT_EQ(kept->name, "Mix");

    std::vector<std::int64_t> full(10000, b);
    full.front() = a;
    EXPECT_EQ(store->updatePlaylist(userId, made->id, std::nullopt, std::nullopt, std::nullopt, {},
                                    {}, full),
              PlaylistChange::Done);
    kept = store->findPlaylist(userId, made->id);
    EXPECT_EQ(kept->mediaIds, full);
    EXPECT_EQ(kept->songCount, 10000);
    EXPECT_EQ(store->updatePlaylist(userId, "pl0000000000000000000000", std::nullopt, std::nullopt,
                                    std::nullopt, {}, {a}),
              PlaylistChange::NotFound);
}

// More items than SQLite takes variables in one statement (250,000 as Debian
// builds it, 32,766 elsewhere).
TEST_F(PlaylistStoreTest, ASongQueryOverAnyNumberOfItemsAnswers) {
    SongQuery q;
    for (std::int64_t i = 0; i < 300000; ++i)
        q.mediaIds.push_back(b + 1000 + i);
    q.mediaIds.push_back(b);
    q.limit = 10;
    const auto found = store->songs(userId, q);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.front().mediaId, b);
    EXPECT_EQ(found.front().tags.title, "b");
}

} // namespace
