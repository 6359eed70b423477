#include "mono_reducer.h"

#include <gtest/gtest.h>
#include <random>

using namespace recog;

namespace {

// The reducer's arithmetic written out plainly: the mean of each frame, then
// (m[2k] + 2 m[2k+1] + m[2k+2]) / 4 when halving, all rounded down except
// that a mean of three or more channels truncates.
std::vector<int16_t> reference(const std::vector<int16_t> &pcm, int channels, bool halve) {
    std::vector<int32_t> mean;
    for (size_t f = 0; f + size_t(channels) <= pcm.size(); f += size_t(channels)) {
        int32_t sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += pcm[f + size_t(c)];
        mean.push_back(channels == 2 ? sum >> 1 : sum / channels);
    }
    std::vector<int16_t> out;
    if (!halve) {
        out.assign(mean.begin(), mean.end());
        return out;
    }
    for (size_t k = 0; 2 * k + 2 < mean.size(); ++k)
        out.push_back(int16_t((mean[2 * k] + 2 * mean[2 * k + 1] + mean[2 * k + 2]) >> 2));
    return out;
}

} // namespace

// Stereo halving takes a vectorised path in the middle of each piece and the
// plain one at its edges; pieces of odd and tiny sizes move the seam around,
// and full-scale samples test the intermediate ranges.
TEST(MonoReducer, MatchesThePlainArithmeticWhateverThePieces) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::uniform_int_distribution<size_t> pieceSize(0, 70);
    for (int channels : {1, 2, 3, 6}) {
        for (bool halve : {false, true}) {
            SCOPED_TRACE(std::to_string(channels) + (halve ? " halved" : ""));
            std::vector<int16_t> pcm(size_t(channels) * 5000);
            for (size_t i = 0; i < pcm.size(); ++i)
                pcm[i] = i < 200 ? int16_t(i % 3 == 0 ? -32768 : 32767) : int16_t(sample(rng));
            MonoReducer reducer(channels, halve);
            std::vector<int16_t> got, piece;
            for (size_t frame = 0, frames = pcm.size() / size_t(channels); frame < frames;) {
                const size_t n = std::min(frames - frame, frame < 2000 ? pieceSize(rng) : 1499);
                reducer.reduce(pcm.data() + frame * size_t(channels), n, piece);
                got.insert(got.end(), piece.begin(), piece.end());
                frame += n;
            }
            EXPECT_EQ(got, reference(pcm, channels, halve));
        }
    }
}
