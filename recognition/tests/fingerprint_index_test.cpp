#include "fingerprint_index.h"
#include "index_keys.h"
#include "index_writer.h"
#include "postings_codec.h"
#include "test_catalog.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

using namespace recog;
using namespace recog::testaudio;

TEST(PostingsCodec, GapsOfEveryLengthComeBackAndDamageIsNoticed) {
    // Gaps of one to five bytes, around each length boundary.
    const std::vector<uint32_t> ids = {1,       2,       129,       130,       16512,      16513,
                                       2113665, 2113666, 270549121, 270549122, 4000000000u};
    std::string bytes;
    appendPostings(bytes, ids);
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const unsigned char *end = p + bytes.size();
    std::vector<uint32_t> back;
    ASSERT_TRUE(readPostings(p, end, ids.size(), UINT32_MAX, back));
    EXPECT_EQ(back, ids);
    EXPECT_EQ(p, end);

    p = reinterpret_cast<const unsigned char *>(bytes.data());
    back.clear();
    EXPECT_FALSE(readPostings(p, end - 1, ids.size(), UINT32_MAX, back)); // cut short
    p = reinterpret_cast<const unsigned char *>(bytes.data());
    back.clear();
    EXPECT_FALSE(readPostings(p, end, ids.size(), 3000000000u, back)); // id past the last track
    std::string zero;
    appendVarint(zero, 5);
    appendVarint(zero, 0); // the same id twice
    p = reinterpret_cast<const unsigned char *>(zero.data());
    back.clear();
    EXPECT_FALSE(readPostings(p, p + zero.size(), 2, UINT32_MAX, back));
}

namespace {

// Random tracks (a few of them missing, as ids of refused tracks are) and
// their index.
struct Fixture {
    std::vector<std::vector<uint32_t>> items;
    TempDir dir;
    std::string path = dir.file("t.index");

    explicit Fixture(uint32_t tracks) {
        std::mt19937 rng(tracks);
        items.resize(tracks + 1);
        for (uint32_t id = 1; id <= tracks; ++id) {
            if (id % 97 == 0)
                continue;
            items[id].resize(kStoredItems - id % 50);
            for (auto &x : items[id])
                x = rng();
            // Neighbouring tracks share stretches, as releases of one song do.
            if (id % 3 == 0 && !items[id - 1].empty())
                std::copy_n(items[id - 1].begin(), 40, items[id].begin());
        }
    }
    bool write(uint64_t generation, std::string &error) {
        return writeFingerprintIndex(
            path, generation, uint32_t(items.size() - 1),
            [&](uint32_t id) { return std::span<const uint32_t>(items[id]); }, error);
    }
};

} // namespace

TEST(FingerprintIndex, HoldsEveryTracksItemsAndExactlyTheTracksOfEachKey) {
    // Enough tracks for several keys in most buckets.
    Fixture f(3000);
    std::string error;
    ASSERT_TRUE(f.write(7, error)) << error;
    auto index = FingerprintIndex::open(f.path, 7, error);
    ASSERT_TRUE(index) << error;
    EXPECT_EQ(index->maxTrackId(), 3000u);

    std::vector<std::pair<uint32_t, uint32_t>> expected; // key, track
    for (uint32_t id = 1; id < f.items.size(); ++id) {
        const auto got = index->items(id);
        ASSERT_EQ(std::vector<uint32_t>(got.begin(), got.end()), f.items[id]) << id;
        for (uint32_t key : indexKeys(f.items[id]))
            expected.emplace_back(key, id);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_TRUE(index->items(0).empty());
    EXPECT_TRUE(index->items(3001).empty());

    size_t keys = 0;
    std::vector<uint32_t> want, got;
    for (size_t i = 0; i < expected.size();) {
        const uint32_t key = expected[i].first;
        want.clear();
        for (; i < expected.size() && expected[i].first == key; ++i)
            want.push_back(expected[i].second);
        got.clear();
        ASSERT_TRUE(index->postings(key, got));
        ASSERT_EQ(want, got) << key;
        // The next key is mostly absent.
        if (i < expected.size() && expected[i].first != key + 1) {
            got.clear();
            ASSERT_TRUE(index->postings(key + 1, got));
            ASSERT_TRUE(got.empty());
        }
        ++keys;
    }
    EXPECT_EQ(index->header().keyCount, keys);
    EXPECT_GT(keys, 1000000u);
}

TEST(FingerprintIndex, RefusesWhatIsNotTheExpectedIndexAndSurvivesDamage) {
    Fixture f(300);
    std::string error;
    ASSERT_TRUE(f.write(3, error)) << error;
    EXPECT_FALSE(FingerprintIndex::open(f.path, 4, error));
    EXPECT_NE(error.find("generation 3"), std::string::npos) << error;
    EXPECT_FALSE(FingerprintIndex::open(f.dir.file("none.index"), 3, error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;

    std::string bytes;
    {
        std::ifstream in(f.path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    auto variant = [&](const std::string &content) {
        std::ofstream(f.dir.file("v.index"), std::ios::binary) << content;
        return FingerprintIndex::open(f.dir.file("v.index"), 3, error);
    };
    EXPECT_FALSE(variant(bytes.substr(0, bytes.size() - 1)));
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
    std::string other = bytes;
    other[8] = 9; // format version
    EXPECT_FALSE(variant(other));
    EXPECT_NE(error.find("format version 9"), std::string::npos) << error;
    other = bytes;
    other[0] = 'X';
    EXPECT_FALSE(variant(other));
    EXPECT_NE(error.find("not a fingerprint index"), std::string::npos) << error;
    EXPECT_FALSE(variant("short"));

    // Scrambled postings: answers may be wrong but stay within the tracks.
    other = bytes;
    const IndexHeader h = FingerprintIndex::open(f.path, 3, error)->header();
    std::mt19937 rng(1);
    for (size_t i = bytes.size() - h.postingBytes; i < bytes.size(); i += 7)
        other[i] = char(rng());
    auto damaged = variant(other);
    ASSERT_TRUE(damaged) << error;
    std::vector<uint32_t> got;
    for (uint32_t key = 0; key < (1u << kKeyBits); key += 4093)
        damaged->postings(key, got);
    for (uint32_t id : got)
        ASSERT_TRUE(id >= 1 && id <= 300) << id;
}
