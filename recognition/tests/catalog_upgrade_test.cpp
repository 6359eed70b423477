#include "catalog_upgrade.h"
#include "index_keys.h"
#include "matcher.h"
#include "test_catalog.h"

#include <gtest/gtest.h>

using namespace recog;
using namespace recog::testaudio;

namespace {

// Turns a catalogue back into format 1: fingerprints and postings in the
// database, no index file.
void makeFormatOne(const std::string &path, const std::vector<std::vector<uint32_t>> &prints) {
    std::filesystem::remove(indexPathFor(path));
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    std::string error;
    ASSERT_TRUE(execute(db,
                        "ALTER TABLE tracks ADD COLUMN fingerprint BLOB; "
                        "CREATE TABLE postings(key INTEGER PRIMARY KEY, tracks BLOB NOT NULL); "
                        "UPDATE meta SET value = '1' WHERE key = 'schema'; "
                        "DELETE FROM meta WHERE key = 'index_generation'",
                        error))
        << error;
    for (size_t i = 0; i < prints.size(); ++i) {
        Statement s(db, "UPDATE tracks SET fingerprint = ? WHERE id = ?");
        const std::string blob = encodeItems(prints[i]);
        s.bindBlob(1, blob.data(), blob.size()).bind(2, int64_t(i + 1));
        ASSERT_EQ(s.step(), SQLITE_DONE);
    }
    sqlite3_close(db);
}

} // namespace

TEST(CatalogUpgrade, AnOldCatalogueIsRefusedWithTheWayOutAndThenConverted) {
    TempDir dir;
    const std::string path = dir.file("old.db");
    buildCatalog(path, {{1, "One", "Ann", "First", 1}, {2, "Two", "Ann", "First", 2}});
    std::string error;
    std::string gnid;
    {
        auto cat = Catalog::open(path, false, error);
        ASSERT_TRUE(cat) << error;
        gnid = cat->track(2)->gnid;
    }
    const std::vector<std::vector<uint32_t>> prints = {fingerprintOf(song(1, 25)),
                                                       fingerprintOf(song(2, 25))};
    makeFormatOne(path, prints);

    EXPECT_FALSE(Catalog::open(path, false, error));
    EXPECT_NE(error.find("older version"), std::string::npos) << error;
    EXPECT_NE(error.find("tonemill-catalog upgrade " + path), std::string::npos) << error;

    int tracks = 0;
    ASSERT_TRUE(upgradeCatalog(path, tracks, error)) << error;
    EXPECT_EQ(tracks, 2);
    auto cat = Catalog::open(path, false, error);
    ASSERT_TRUE(cat) << error;
    EXPECT_EQ(cat->track(2)->gnid, gnid);
    EXPECT_EQ(cat->fingerprint(2).size(), std::min(prints[1].size(), kStoredItems));
    Matcher matcher(*cat, MatchParams{});
    const MatchOutcome m = matcher.match(fingerprintOf(song(2, 20)), 20);
    ASSERT_TRUE(m.anyAccepted());
    EXPECT_EQ(m.candidates.front().trackId, 2);

    EXPECT_FALSE(upgradeCatalog(path, tracks, error));
    EXPECT_NE(error.find("only format 1"), std::string::npos) << error;
}

TEST(CatalogUpgrade, AnIndexOfAnotherGenerationIsNotTrusted) {
    TempDir dir;
    const std::string path = dir.file("c.db");
    buildCatalog(path, {{1, "One", "Ann", "First", 1}});
    std::filesystem::copy_file(indexPathFor(path), dir.file("first.index"));
    buildCatalog(dir.file("other.db"), {});
    std::string error;
    {
        auto cat = Catalog::open(path, true, error);
        ASSERT_TRUE(cat) << error;
        NewTrack t;
        t.title = "Two";
        t.album = "First";
        t.fingerprint = fingerprintOf(song(2, 12));
        ASSERT_TRUE(CatalogWriter(*cat).addTrack(t, error)) << error;
    }
    // The index from before the second track was added.
    std::filesystem::copy_file(dir.file("first.index"), indexPathFor(path),
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_FALSE(Catalog::open(path, false, error));
    EXPECT_NE(error.find("generation"), std::string::npos) << error;
}
