#include "test_catalog.h"

#include "fingerprinter.h"
#include "music_synth.h"

#include <gtest/gtest.h>
#include <random>

namespace recog::testaudio {

TempDir::TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("recog-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<int16_t> song(uint32_t seed, double seconds) {
    SongSpec recipe;
    recipe.seed = seed;
    recipe.seconds = seconds;
    return synthesizeSong(recipe);
}

std::vector<uint32_t> fingerprintOf(const std::vector<int16_t> &stereo, int rate) {
    std::vector<uint32_t> items;
    double seconds = 0;
    std::string error;
    EXPECT_TRUE(
        Fingerprinter::compute(stereo.data(), stereo.size() / 2, rate, 2, 0, items, seconds, error))
        << error;
    return items;
}

void buildCatalog(const std::string &path, const std::vector<TestTrack> &tracks) {
    std::string error;
    auto cat = Catalog::create(path, error);
    ASSERT_TRUE(cat) << error;
    CatalogWriter writer(*cat);
    for (const TestTrack &t : tracks) {
        NewTrack n;
        n.title = t.title;
        n.artist = t.artist;
        n.album = t.album;
        n.trackNumber = t.number;
        n.label = "Test Label";
        n.genre = "Electronic";
        n.duration = 25;
        n.fingerprint = fingerprintOf(song(t.seed, 25));
        ASSERT_TRUE(writer.addTrack(n, error)) << error;
    }
}

} // namespace recog::testaudio
