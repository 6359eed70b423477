#include "catalog_writer.h"
#include "matcher.h"
#include "test_catalog.h"

#include <fstream>
#include <gtest/gtest.h>
#include <random>

using namespace recog;
using namespace recog::testaudio;

TEST(Catalog, OpenExplainsWhyAFileIsNotACatalogue) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(Catalog::open(dir.file("missing.db"), false, error));
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;

    std::ofstream(dir.file("junk.db")) << "this is not a database at all, just some text\n";
    EXPECT_FALSE(Catalog::open(dir.file("junk.db"), false, error));
    EXPECT_NE(error.find("not usable"), std::string::npos) << error;

    // A valid SQLite file that is not a catalogue.
    ASSERT_TRUE(Catalog::create(dir.file("c.db"), error)) << error;
    std::fstream f(dir.file("c.db"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(200);
    f << std::string(4000, '\xff');
    f.close();
    EXPECT_FALSE(Catalog::open(dir.file("c.db"), false, error));
    EXPECT_FALSE(error.empty());

    EXPECT_FALSE(Catalog::create(dir.file("junk.db"), error)); // never overwrites
}

TEST(Catalog, IdentifiersAreStableAcrossRebuildsAndDuplicatesAreRefused) {
    TempDir dir;
    const std::vector<TestTrack> tracks = {{1, "One", "Ann", "First", 1},
                                           {2, "Two", "Ann", "First", 2}};
    buildCatalog(dir.file("a.db"), tracks);
    buildCatalog(dir.file("b.db"), tracks);
    std::string error;
    auto a = Catalog::open(dir.file("a.db"), true, error);
    auto b = Catalog::open(dir.file("b.db"), false, error);
    ASSERT_TRUE(a && b) << error;
    for (int64_t id : {1, 2}) {
        const auto ta = a->track(id), tb = b->track(id);
        ASSERT_TRUE(ta && tb);
        EXPECT_EQ(ta->gnid, tb->gnid);
        EXPECT_EQ(ta->tui, tb->tui);
        EXPECT_EQ(ta->tuiTag, tb->tuiTag);
        EXPECT_EQ(ta->tui.find('-'), std::string::npos);
        EXPECT_EQ(ta->tuiTag.size(), 32u);
        EXPECT_EQ(a->album(ta->albumId)->gnid, b->album(tb->albumId)->gnid);
        EXPECT_EQ(a->contributor(ta->contributorId)->gnuid,
                  b->contributor(tb->contributorId)->gnuid);
    }
    EXPECT_EQ(a->albumCount(), 1);
    EXPECT_NE(a->track(1)->tui, a->track(2)->tui);

    NewTrack again;
    again.title = "one";
    again.artist = "ANN";
    again.album = "First";
    again.trackNumber = 1;
    again.fingerprint = {1, 2, 3};
    CatalogWriter writer(*a);
    EXPECT_FALSE(writer.addTrack(again, error));
    EXPECT_NE(error.find("already in the catalogue"), std::string::npos) << error;
    EXPECT_EQ(a->trackCount(), 2);
}

class MatcherTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        std::vector<TestTrack> tracks;
        for (uint32_t s = 1; s <= 6; ++s)
            tracks.push_back({s, "Song " + std::to_string(s), "Artist", "Album", int(s)});
        buildCatalog(dir_->file("m.db"), tracks);
    }
    static void TearDownTestSuite() { delete dir_; }
    void SetUp() override {
        std::string error;
        cat_ = Catalog::open(dir_->file("m.db"), false, error);
        ASSERT_TRUE(cat_) << error;
    }
    static TempDir *dir_;
    std::unique_ptr<Catalog> cat_;
};
TempDir *MatcherTest::dir_ = nullptr;

TEST_F(MatcherTest, IdentifiesQuieterNoisyAndTrimmedCopies) {
    Matcher m(*cat_, MatchParams{});
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0, 600);
    for (uint32_t seed : {2u, 5u}) {
        auto pcm = song(seed, 25);
        // 5 s trimmed off the start, 6 dB down, white noise added.
        std::vector<int16_t> q(pcm.begin() + 2 * 44100 * 5, pcm.end());
        for (auto &s : q)
            s = int16_t(std::clamp(s / 2 + noise(rng), -32768.0, 32767.0));
        const MatchOutcome out = m.match(fingerprintOf(q), 20);
        ASSERT_TRUE(out.anyAccepted()) << "seed " << seed;
        EXPECT_EQ(out.candidates.front().trackId, int64_t(seed));
        EXPECT_NEAR(out.candidates.front().alignment.offset, 40, 2); // 5 s of items
    }
}

TEST_F(MatcherTest, RefusesUnknownAndShortQueries) {
    Matcher m(*cat_, MatchParams{});
    for (uint32_t seed : {101u, 102u, 103u}) {
        const MatchOutcome out = m.match(fingerprintOf(song(seed, 20)), 20);
        EXPECT_FALSE(out.anyAccepted()) << "seed " << seed;
    }
    const MatchOutcome shortQuery = m.match(fingerprintOf(song(3, 8)), 8);
    EXPECT_FALSE(shortQuery.anyAccepted());
    EXPECT_FALSE(shortQuery.refusal.empty());
}

TEST(MatcherThreshold, IsStricterForShortOverlaps) {
    TempDir dir;
    buildCatalog(dir.file("t.db"), {});
    std::string error;
    auto cat = Catalog::open(dir.file("t.db"), false, error);
    Matcher m(*cat, MatchParams{});
    EXPECT_DOUBLE_EQ(m.thresholdFor(400), 0.20);
    EXPECT_LT(m.thresholdFor(100), m.thresholdFor(200));
    EXPECT_EQ(m.thresholdFor(50), 0.0);
}
