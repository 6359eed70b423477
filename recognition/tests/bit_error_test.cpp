#include "bit_error.h"
#include "index_keys.h"

#include <gtest/gtest.h>
#include <random>

using namespace recog;

namespace {

std::vector<uint32_t> randomItems(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> v(n);
    for (auto &x : v)
        x = rng();
    return v;
}

// Flips each bit with probability p.
std::vector<uint32_t> noisy(std::vector<uint32_t> v, double p, uint32_t seed) {
    std::mt19937 rng(seed);
    std::bernoulli_distribution flip(p);
    for (auto &x : v)
        for (int b = 0; b < 32; ++b)
            if (flip(rng))
                x ^= 1u << b;
    return v;
}

} // namespace

TEST(BitError, FindsTheOffsetOfATrimmedNoisyCopy) {
    const auto ref = randomItems(1000, 1);
    std::vector<uint32_t> query(ref.begin() + 97, ref.begin() + 97 + 340);
    query = noisy(query, 0.05, 2);
    const Alignment a =
        bestAlignment({query.data(), query.size()}, {ref.data(), ref.size()}, 120, 100);
    EXPECT_EQ(a.offset, 97);
    EXPECT_EQ(a.overlap, 340);
    EXPECT_NEAR(a.ber, 0.05, 0.01);
}

TEST(BitError, UnrelatedItemsScoreNearOneHalf) {
    const auto a = randomItems(400, 3), b = randomItems(400, 4);
    const Alignment best = bestAlignment({a.data(), a.size()}, {b.data(), b.size()}, 120, 200);
    EXPECT_GT(best.ber, 0.44);
    int covered = 0;
    EXPECT_GT(segmentedBer({a.data(), a.size()}, {b.data(), b.size()}, best.offset, 64, 4, covered),
              0.40);
}

TEST(BitError, SegmentedRateFollowsATwoPercentDrift) {
    // The query runs 2 % faster: query item i is reference item 1.02 * i.
    const auto ref = randomItems(800, 5);
    std::vector<uint32_t> query;
    for (int i = 0; i < 350; ++i)
        query.push_back(ref[size_t(i * 1.02 + 0.5)]);
    const Items q{query.data(), query.size()}, r{ref.data(), ref.size()};
    const Alignment a = bestAlignment(q, r, 120, 100);
    EXPECT_GT(a.ber, 0.25); // a single offset cannot fit the whole query
    int covered = 0;
    const double seg = segmentedBer(q, r, a.offset, 64, 4, covered);
    EXPECT_LT(seg, 0.20);
    EXPECT_GE(covered, 300);
}

TEST(IndexKeys, AreTheDistinctTopBitsWithoutSilence) {
    const std::vector<uint32_t> items = {0xAABBCC01, 0xAABBCC02, kSilenceItem, 0x11223344, 7};
    EXPECT_EQ(indexKeys(items), (std::vector<uint32_t>{0, 0x112233, 0xAABBCC}));
    EXPECT_EQ(indexKeys(items, 2), (std::vector<uint32_t>{0xAABBCC}));
}
