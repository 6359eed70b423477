#include "bit_error.h"
#include "fingerprinter.h"
#include "test_catalog.h"

#include <bit>
#include <chromaprint.h>
#include <gtest/gtest.h>

using namespace recog;

namespace {

std::vector<uint32_t> chromaprintDirect(const std::vector<int16_t> &stereo, int rate) {
    ChromaprintContext *ctx = chromaprint_new(CHROMAPRINT_ALGORITHM_DEFAULT);
    chromaprint_start(ctx, rate, 2);
    for (size_t i = 0; i < stereo.size(); i += 32768)
        chromaprint_feed(ctx, stereo.data() + i, int(std::min<size_t>(32768, stereo.size() - i)));
    chromaprint_finish(ctx);
    uint32_t *raw = nullptr;
    int size = 0;
    chromaprint_get_raw_fingerprint(ctx, &raw, &size);
    std::vector<uint32_t> out(raw, raw + size);
    chromaprint_dealloc(raw);
    chromaprint_free(ctx);
    return out;
}

} // namespace

TEST(Fingerprinter, MatchesChromaprintsOwnResamplingOnMusic) {
    const auto pcm = recog::testaudio::song(7, 20);
    const auto ours = recog::testaudio::fingerprintOf(pcm);
    const auto direct = chromaprintDirect(pcm, 44100);
    ASSERT_GE(ours.size(), 140u);
    ASSERT_NEAR(double(ours.size()), double(direct.size()), 2.0);
    const Alignment a = bestAlignment({ours.data(), ours.size()}, {direct.data(), direct.size()}, 2,
                                      int(ours.size()) - 4);
    EXPECT_EQ(a.offset, 0);
    EXPECT_LT(a.ber, 0.02);
}

// One long write is fingerprinted by two contexts at once; small pieces by
// one. Both must give the items of one context over the whole stream, for
// every format (the cut depends on the rate and channel count) and when the
// limit shortens the write.
TEST(Fingerprinter, OneLongWriteGivesTheSameItemsAsSmallPieces) {
    const auto pcm = recog::testaudio::song(8, 30);
    struct Format {
        int rate, channels;
        double maxSeconds;
    };
    // The content need not suit the format: the same samples read as other
    // formats exercise other cuts.
    for (const Format f : {Format{44100, 2, 0}, Format{48000, 2, 0}, Format{22050, 1, 0},
                           Format{11025, 1, 0}, Format{48000, 4, 0}, Format{44100, 2, 17.5}}) {
        SCOPED_TRACE(std::to_string(f.rate) + " Hz x" + std::to_string(f.channels));
        const size_t frames = pcm.size() / size_t(f.channels);
        std::string error;
        Fingerprinter whole, pieces;
        ASSERT_TRUE(whole.start(f.rate, f.channels, f.maxSeconds, error));
        ASSERT_TRUE(whole.feed(pcm.data(), frames, error));
        ASSERT_TRUE(whole.finish(error));
        ASSERT_TRUE(pieces.start(f.rate, f.channels, f.maxSeconds, error));
        for (size_t frame = 0; frame < frames; frame += 1001)
            ASSERT_TRUE(pieces.feed(pcm.data() + size_t(f.channels) * frame,
                                    std::min<size_t>(1001, frames - frame), error));
        ASSERT_TRUE(pieces.finish(error));
        EXPECT_GT(whole.items().size(), 40u);
        EXPECT_EQ(whole.items(), pieces.items());
        EXPECT_DOUBLE_EQ(whole.seconds(), pieces.seconds());
    }
}

TEST(Fingerprinter, CompleteOnlyFromTenSecondsAndCappedAtTheLimit) {
    const auto pcm = recog::testaudio::song(9, 12);
    Fingerprinter fp;
    std::string error;
    ASSERT_TRUE(fp.start(44100, 2, 11.0, error));
    ASSERT_TRUE(fp.feed(pcm.data(), 44100 * 9, error));
    EXPECT_FALSE(fp.complete());
    ASSERT_TRUE(fp.feed(pcm.data() + 2 * 44100 * 9, 44100 * 3, error));
    EXPECT_TRUE(fp.complete());
    EXPECT_DOUBLE_EQ(fp.seconds(), 11.0);
}

TEST(Fingerprinter, RefusesAbsurdFormats) {
    Fingerprinter fp;
    std::string error;
    EXPECT_FALSE(fp.start(0, 2, 0, error));
    EXPECT_NE(error.find("sample rate"), std::string::npos);
    EXPECT_FALSE(fp.start(44100, 0, 0, error));
    EXPECT_FALSE(fp.start(44100, 64, 0, error));
    EXPECT_NE(error.find("channel"), std::string::npos);
    EXPECT_FALSE(fp.start(100000000, 2, 0, error));
    EXPECT_FALSE(fp.feed(nullptr, 0, error)); // not started
}
