#include "catalog_commands.h"
#include "music_synth.h"
#include "test_catalog.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace recog;
using namespace recog::testaudio;

namespace {

std::string songFile(const TempDir &dir, uint32_t seed, double seconds) {
    SongSpec recipe;
    recipe.seed = seed;
    recipe.seconds = seconds;
    const std::string path = dir.file("song" + std::to_string(seed) + ".wav");
    EXPECT_TRUE(writeWav(path, synthesizeSong(recipe), 44100, 2));
    return path;
}

} // namespace

TEST(CatalogTool, AddsGoodFilesReportsBadOnesAndIdentifiesWhatItAdded) {
    TempDir dir;
    const std::string db = dir.file("tool.db");
    std::ostringstream out, err;
    ASSERT_EQ(commandCreate(db, out, err), 0);
    EXPECT_NE(commandCreate(db, out, err), 0); // never over an existing file

    const std::string a = songFile(dir, 31, 20), b = songFile(dir, 32, 20);
    const std::string shortSong = songFile(dir, 33, 5);
    std::ofstream(dir.file("notes.txt")) << "not audio";
    out.str("");
    EXPECT_EQ(commandAdd(db, {a, dir.file("notes.txt"), shortSong, b},
                         {"Album X", "Artist Y", "Label Z", "Jazz"}, out, err),
              2);
    EXPECT_NE(out.str().find("[1/4]"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("[4/4]"), std::string::npos);
    EXPECT_NE(out.str().find("2 added, 2 failed"), std::string::npos);
    EXPECT_NE(err.str().find("notes.txt"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("less than 10 s"), std::string::npos) << err.str();

    std::string error;
    auto cat = Catalog::open(db, false, error);
    ASSERT_TRUE(cat) << error;
    EXPECT_EQ(cat->trackCount(), 2);
    const auto t = cat->track(1);
    EXPECT_EQ(t->title, "song31"); // untagged: the file name
    EXPECT_EQ(t->artist, "Artist Y");
    const auto album = cat->album(t->albumId);
    EXPECT_EQ(album->title, "Album X");
    EXPECT_EQ(album->label, "Label Z");
    EXPECT_EQ(album->genre[0], "Jazz");

    out.str("");
    EXPECT_EQ(commandIdentify(db, {b}, out, err), 0);
    EXPECT_NE(out.str().find("identified"), std::string::npos);
    EXPECT_NE(out.str().find("\"song32\""), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("offset 0 items"), std::string::npos) << out.str();
    out.str("");
    EXPECT_EQ(commandIdentify(db, {songFile(dir, 34, 15)}, out, err), 2);
    EXPECT_NE(out.str().find("no match"), std::string::npos);

    out.str("");
    EXPECT_EQ(commandStats(db, out, err), 0);
    EXPECT_NE(out.str().find("tracks         2"), std::string::npos) << out.str();
}

TEST(CatalogTool, ImportRefusesBrokenDocumentsAndMissingCatalogues) {
    TempDir dir;
    std::ostringstream out, err;
    std::ofstream(dir.file("bad.json")) << "{\"tracks\": [}";
    EXPECT_EQ(commandImport(dir.file("none.db"), dir.file("bad.json"), out, err), 1);
    EXPECT_NE(err.str().find("JSON error"), std::string::npos) << err.str();
    std::ofstream(dir.file("ok.json")) << "{}";
    EXPECT_EQ(commandImport(dir.file("none.db"), dir.file("ok.json"), out, err), 1);
    EXPECT_NE(err.str().find("does not exist"), std::string::npos) << err.str();
    EXPECT_EQ(commandStats(dir.file("none.db"), out, err), 1);
}
