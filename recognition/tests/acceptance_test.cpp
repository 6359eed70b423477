#include "matcher.h"
#include "test_catalog.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace recog;
using namespace recog::testaudio;

namespace {

// `n` items of a random reference with bits flipped, spread evenly over the
// items, to a bit-error rate of `ber`.
std::vector<uint32_t> withErrors(const std::vector<uint32_t> &reference, size_t n, double ber) {
    std::vector<uint32_t> q(reference.begin(), reference.begin() + long(n));
    const size_t flips = size_t(std::lround(ber * 32.0 * double(n)));
    for (size_t k = 0; k < flips; ++k)
        q[k % n] ^= 1u << (k / n);
    return q;
}

} // namespace

TEST(Acceptance, TheLimitFollowsTheOverlapAndHoldsExactly) {
    TempDir dir;
    std::string error;
    auto cat = Catalog::create(dir.file("empty.db"), error);
    ASSERT_TRUE(cat) << error;
    const Matcher matcher(*cat, MatchParams{});
    std::mt19937 rng(5);
    std::vector<uint32_t> reference(485);
    for (auto &x : reference)
        x = rng();

    struct Case {
        size_t items;
        double ber;
        bool accepted;
    };
    // 340 items (42 s) take the long limit of 0.20; 100 items (12 s) lie a
    // ninth of the way from the short limit 0.14 towards it (0.147); under
    // 80 items (10 s) nothing is accepted.
    for (const Case c : {Case{340, 0.195, true}, Case{340, 0.205, false}, Case{100, 0.143, true},
                         Case{100, 0.152, false}, Case{70, 0.0, false}}) {
        SCOPED_TRACE(std::to_string(c.items) + " items at " + std::to_string(c.ber));
        const Candidate got = matcher.rescore(withErrors(reference, c.items, c.ber), 1, reference);
        EXPECT_NEAR(got.score, c.ber, 0.002);
        EXPECT_EQ(got.alignment.offset, 0);
        EXPECT_EQ(got.accepted, c.accepted) << "limit " << got.threshold;
    }
}
