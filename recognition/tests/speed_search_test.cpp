#include "engine_config.h"
#include "fingerprinter.h"
#include "identifier.h"
#include "speed_search.h"
#include "test_catalog.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace recog;
using namespace recog::testaudio;

namespace {

// Song `seed` as a recording running `speed` times too fast: its samples
// played at a rate `speed` times higher. The clues carry the kept signal.
FileClues recordingAt(uint32_t seed, double speed) {
    const std::vector<int16_t> pcm = song(seed, 25);
    Fingerprinter fp;
    std::string error;
    EXPECT_TRUE(fp.start(int(std::lround(44100 * speed)), 2, 0, error)) << error;
    fp.keepSignal();
    EXPECT_TRUE(fp.feed(pcm.data(), pcm.size() / 2, error) && fp.finish(error)) << error;
    FileClues clues;
    clues.ident = "song" + std::to_string(seed);
    clues.fingerprint = fp.items();
    clues.seconds = fp.seconds();
    clues.signal = std::make_shared<const std::vector<int16_t>>(fp.takeSignal());
    return clues;
}

class SpeedSearch : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        buildCatalog(dir_->file("speeds.db"), {{21, "One", "Ann", "Alpha", 1},
                                               {22, "Two", "Ann", "Alpha", 2},
                                               {23, "Three", "Ann", "Alpha", 3}});
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        std::string error;
        cat_ = Catalog::open(dir_->file("speeds.db"), false, error);
        ASSERT_TRUE(cat_) << error;
    }

    static TempDir *dir_;
    std::unique_ptr<Catalog> cat_;
};

TempDir *SpeedSearch::dir_ = nullptr;

} // namespace

TEST_F(SpeedSearch, FindsRecordingsThatRunFastOrSlowAtTheirSpeed) {
    const Matcher matcher(*cat_, MatchParams{});
    for (const double speed : {1.005, 0.99, 1.02, 0.96, 25.0 / 24.0}) {
        SCOPED_TRACE(speed);
        const FileClues clues = recordingAt(22, speed);
        const SpeedOutcome found = matchAtOtherSpeeds(matcher, *clues.signal);
        ASSERT_TRUE(found.match.anyAccepted());
        EXPECT_EQ(found.match.candidates.front().trackId, 2);
        EXPECT_DOUBLE_EQ(found.speed, speed);
    }
    // Far outside the set, and a song the catalogue lacks, stay unmatched.
    EXPECT_FALSE(matchAtOtherSpeeds(matcher, *recordingAt(22, 1.12).signal).match.anyAccepted());
    EXPECT_FALSE(matchAtOtherSpeeds(matcher, *recordingAt(77, 1.02).signal).match.anyAccepted());
}

TEST_F(SpeedSearch, TheIdentifierTriesOtherSpeedsOnlyWhenItsOwnFindsNothingAndLogsTheSpeed) {
    EngineConfig config;
    EngineLog log;
    std::string error;
    const std::string logFile = dir_->file("speed.log");
    ASSERT_TRUE(log.enable(logFile, 0xFF, 1 << 20, error)) << error;
    Identifier identifier(*cat_, config, log);

    auto fast = recordingAt(23, 25.0 / 24.0);
    ASSERT_FALSE(Matcher(*cat_, config.match).match(fast.fingerprint, fast.seconds).anyAccepted());
    auto found = identifier.identify(fast, 5);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.front().trackId, 3);

    // Without the signal there is nothing to try.
    fast.signal.reset();
    EXPECT_TRUE(identifier.identify(fast, 5).empty());
    found = identifier.identify(recordingAt(21, 1.0), 5);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.front().trackId, 1);
    log.disable();

    std::ifstream in(logFile);
    std::stringstream text;
    text << in.rdbuf();
    const std::string lines = text.str();
    EXPECT_NE(lines.find("song23: matched at +4.17 % of the catalogue's speed"), std::string::npos)
        << lines;
    EXPECT_EQ(lines.find("song21: matched at"), std::string::npos) << lines;
}
