// Two processes that start at once on a folder without a key must end up with
// one key between them: the one that places its file first wins, and the
// other reads that file instead of writing over it.
#include "KeyFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

std::string contents(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class KeyFileRaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "keyfile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(KeyFileRaceTest, TheKeyPlacedFirstIsTheOneBothUse) {
    const fs::path path = dir / "player.key";
    const std::string theirs(32, 't');
    // The other process places its key while this one makes its own.
    const std::string got = cloud::loadKeyFile(path, 32, "nothing", [&] {
        std::ofstream(path, std::ios::binary) << theirs;
        return std::string(32, 'm');
    });
    EXPECT_EQ(got, theirs);
    EXPECT_EQ(contents(path), theirs);
    // Only the key is left in the folder, no file of the losing attempt.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

// A key handed over from elsewhere (an older database) of the wrong size
// would be refused at the next start: it is never placed.
TEST_F(KeyFileRaceTest, AMadeKeyOfTheWrongSizeIsNeverPlaced) {
    const fs::path path = dir / "link.key";
    EXPECT_THROW(cloud::loadKeyFile(path, 32, "nothing", [] { return std::string(31, 'x'); }),
                 cloud::KeyFileError);
    EXPECT_FALSE(fs::exists(path));
}

// Machines that share a key through their environment: it wins over any
// file, no file is made, and a malformed one is refused without showing it.
TEST_F(KeyFileRaceTest, AKeyInTheEnvironmentIsUsedAndNeverWrittenDown) {
    const fs::path path = dir / "link.key";
    const std::string hex(64, 'a');
    ::setenv("SONARBOX_TEST_KEY", hex.c_str(), 1);
    EXPECT_EQ(cloud::loadKey("SONARBOX_TEST_KEY", path, 32, "nothing"), std::string(32, '\xaa'));
    EXPECT_FALSE(fs::exists(path));
    std::ofstream(path, std::ios::binary) << std::string(32, 'f');
    EXPECT_EQ(cloud::loadKey("SONARBOX_TEST_KEY", path, 32, "nothing"), std::string(32, '\xaa'));

    ::setenv("SONARBOX_TEST_KEY", "secret-but-no-key", 1);
    try {
        cloud::loadKey("SONARBOX_TEST_KEY", path, 32, "nothing");
        ADD_FAILURE() << "a malformed key was taken";
    } catch (const cloud::KeyFileError &e) {
        EXPECT_NE(std::string(e.what()).find("SONARBOX_TEST_KEY"), std::string::npos);
        EXPECT_EQ(std::string(e.what()).find("secret"), std::string::npos);
    }
    ::unsetenv("SONARBOX_TEST_KEY");
    EXPECT_EQ(cloud::loadKey("SONARBOX_TEST_KEY", path, 32, "nothing"), std::string(32, 'f'));
}

} // namespace
