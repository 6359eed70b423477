#include "json_reader.h"
#include "test_catalog.h"
#include "value_import.h"

#include <gtest/gtest.h>

using namespace recog;
using namespace recog::testaudio;

TEST(JsonReader, ParsesNestedValuesAndRejectsBrokenText) {
    JsonValue v;
    std::string error;
    ASSERT_TRUE(parseJson(R"({"a": [1, "x\u00e9\n", true, null], "b": {"c": -2.5e3}})", v, error))
        << error;
    EXPECT_EQ(v.member("a")->items.size(), 4u);
    EXPECT_EQ(v.member("a")->items[1].text, "x\xc3\xa9\n");
    EXPECT_EQ(v.member("b")->string("c"), "-2.5e3");
    for (const char *bad : {"", "{", "[1,]", "{\"a\" 1}", "\"abc", "[1] x", "{\"a\":tru}"})
        EXPECT_FALSE(parseJson(bad, v, error)) << bad;
    EXPECT_FALSE(parseJson(std::string(200, '['), v, error)); // too deep
}

TEST(ValueImport, AppliesValuesAndChangesNothingOnError) {
    TempDir dir;
    buildCatalog(dir.file("i.db"), {{1, "One", "Ann", "First", 1}});
    std::string error;
    auto cat = Catalog::open(dir.file("i.db"), true, error);
    ASSERT_TRUE(cat) << error;
    const auto t = cat->track(1);
    JsonValue doc;
    ASSERT_TRUE(parseJson(R"({
        "tracks": [{"gnid": ")" +
                              t->gnid + R"(", "genre": ["Rock", "Indie Rock"],
                    "mood": ["Energetic", "Upbeat"], "tempo": ["Fast", "Fast", "160"],
                    "external_ids": [{"type": "isrc", "source": "label", "value": "XX0000000001"}]},
                   {"gnid": "Tnothere"}],
        "albums": [{"title": "First", "artist": "Ann", "label": "Indie", "genre": "Rock"}],
        "contributors": [{"name": "ann", "era": ["1990s"], "origin": ["Europe", "UK"]}]
    })",
                          doc, error))
        << error;
    ImportSummary summary;
    ASSERT_TRUE(importValues(*cat, doc, summary, error)) << error;
    EXPECT_EQ(summary.tracks, 1);
    EXPECT_EQ(summary.albums, 1);
    EXPECT_EQ(summary.contributors, 1);
    EXPECT_EQ(summary.unmatched.size(), 1u);
    const auto after = cat->track(1);
    EXPECT_EQ(after->genre[1], "Indie Rock");
    EXPECT_EQ(after->tempo[2], "160");
    ASSERT_EQ(after->externalIds.size(), 1u);
    EXPECT_EQ(cat->album(after->albumId)->label, "Indie");
    EXPECT_EQ(cat->contributor(after->contributorId)->origin[1], "UK");

    // An external ID without a value fails the whole document.
    ASSERT_TRUE(parseJson(R"({"tracks": [{"gnid": ")" + t->gnid +
                              R"(", "genre": ["Jazz"], "external_ids": [{"type": "isrc"}]}]})",
                          doc, error));
    EXPECT_FALSE(importValues(*cat, doc, summary, error));
    EXPECT_EQ(cat->track(1)->genre[0], "Rock");
}
