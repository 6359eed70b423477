#include "catalog_commands.h"
#include "json_reader.h"
#include "test_catalog.h"
#include "value_import.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace recog;
using namespace recog::testaudio;

TEST(JsonReader, ParsesNestedValuesAndRejectsBrokenText) {
    JsonValue v;
    std::string error;
    ASSERT_TRUE(parseJson(R"({"a": [1, "x\u00e9\n", true, null], "b": {"c": -2.5e3}})", v, error))
        << error;
    EXPECT_EQ(v.member("a")->items.size(), 4u);
    EXPECT_EQ(v.member("a")->items[1].text, "x\xc3\xa9\n");
    EXPECT_TRUE(v.member("a")->items[2].boolean);
    EXPECT_EQ(v.member("a")->items[3].kind, JsonValue::Kind::Null);
    EXPECT_EQ(v.member("b")->string("c"), "-2.5e3");
    for (const char *bad : {"", "{", "[1,]", "{\"a\" 1}", "\"abc", "[1] x", "{\"a\":tru}"})
        EXPECT_FALSE(parseJson(bad, v, error)) << bad;
    EXPECT_FALSE(parseJson(std::string(200, '['), v, error)); // too deep
}

// Every refusal names the byte and the reason in the tool's own words, the
// same for truncated files, typos and bytes that are not text.
TEST(JsonReader, RefusesBrokenTextInItsOwnWords) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "JSON error at byte 0: unexpected end"},
        {"  ", "JSON error at byte 2: unexpected end"},
        {"{\"tracks\": [", "JSON error at byte 12: unexpected end"},
        {"{\"tracks\": [{\"gnid\": \"T1\"", "JSON error at byte 25: expected , or }"},
        {"{\"tracks\": [{\"gnid\": \"T1", "JSON error at byte 24: unterminated string"},
        {"{\"tracks\": [{}", "JSON error at byte 14: expected , or ]"},
        {"{\"tracks\"", "JSON error at byte 9: expected :"},
        {"{\"a\" 1}", "JSON error at byte 5: expected :"},
        {"{", "JSON error at byte 1: expected a member name"},
        {"{\"a\":1,}", "JSON error at byte 7: expected a member name"},
        {"{1:2}", "JSON error at byte 1: expected a member name"},
        {"{,\"a\":1}", "JSON error at byte 1: expected a member name"},
        {"[,1]", "JSON error at byte 1: expected a value"},
        {"{\"a\", \"b\"}", "JSON error at byte 4: expected :"},
        {"[1,]", "JSON error at byte 3: expected a value"},
        {"[1 2]", "JSON error at byte 3: expected , or ]"},
        {"[true false]", "JSON error at byte 6: expected , or ]"},
        {"{\"a\":1 \"b\":2}", "JSON error at byte 7: expected , or }"},
        {"[1] x", "JSON error at byte 4: unexpected text"},
        {"{\"a\":1}}", "JSON error at byte 7: unexpected text"},
        {"{\"a\":tru}", "JSON error at byte 5: unknown literal"},
        {"[nul]", "JSON error at byte 1: unknown literal"},
        {"x", "JSON error at byte 0: expected a value"},
        {"[\xc3]", "JSON error at byte 1: expected a value"},
        {"\"a\nb\"", "JSON error at byte 3: control character in string"},
        {"\"a\\x\"", "JSON error at byte 4: bad escape"},
        {"\"\\u12g4\"", "JSON error at byte 6: bad escape"},
        {"\"\\u12", "JSON error at byte 3: short escape"},
        {"\"\\u12\"", "JSON error at byte 3: short escape"},
        {"\"a\\", "JSON error at byte 3: unterminated string"},
        {"[\"surrogate", "JSON error at byte 11: unterminated string"},
        {"\"\\ud800\\u0041\"", "JSON error at byte 13: bad surrogate pair"},
        {"[\"\\udc00\"]", "JSON error at byte 8: bad surrogate pair"},
        {"{\"genre\": [\"Rock\xff\"]}", "JSON error at byte 17: invalid UTF-8"},
        {"{\"g\xc3\": 1}", "JSON error at byte 5: invalid UTF-8"},
        {"[1.]", "JSON error at byte 1: bad number"},
        {"[-]", "JSON error at byte 1: bad number"},
        {"[01]", "JSON error at byte 2: expected , or ]"},
        {"{\"tui\": 1e400}", "JSON error at byte 8: number out of range"},
        {"[1] // note", "JSON error at byte 4: unexpected text"},
        {std::string("{\"a\":1}\0{\"b\":", 12), "JSON error at byte 7: unexpected text"},
        {std::string("[1,\0 2]", 7), "JSON error at byte 3: expected a value"},
    };
    for (const auto &[text, expected] : cases) {
        JsonValue v;
        std::string error;
        EXPECT_FALSE(parseJson(text, v, error)) << text;
        EXPECT_EQ(error, expected) << text;
    }
}

// A value inside 64 arrays or objects is read; one level more is refused
// where it starts, however deep the text goes.
TEST(JsonReader, NestingStopsAtSixtyFourLevels) {
    const auto nested = [](const std::string &open, const std::string &inner,
                           const std::string &close, int levels) {
        std::string text;
        for (int i = 0; i < levels; ++i)
            text += open;
        text += inner;
        for (int i = 0; i < levels; ++i)
            text += close;
        return text;
    };
    JsonValue v;
    std::string error;
    ASSERT_TRUE(parseJson(nested("[", "1", "]", 64), v, error)) << error;
    const JsonValue *inner = &v;
    for (int i = 0; i < 64; ++i)
        inner = &inner->items.at(0);
    EXPECT_EQ(inner->text, "1");
    EXPECT_TRUE(parseJson(nested("{\"a\":", "\"x\"", "}", 64), v, error)) << error;
    EXPECT_TRUE(parseJson(nested("[", "", "]", 65), v, error)) << error; // an empty 65th holds none

    EXPECT_FALSE(parseJson(nested("[", "1", "]", 65), v, error));
    EXPECT_EQ(error, "JSON error at byte 65: nested too deeply");
    EXPECT_FALSE(parseJson(nested("{\"a\":", "\"x\"", "}", 65), v, error));
    EXPECT_EQ(error, "JSON error at byte 325: nested too deeply");
    EXPECT_FALSE(parseJson(nested("[", "[]", "]", 65), v, error));
    EXPECT_EQ(error, "JSON error at byte 65: nested too deeply");
    EXPECT_FALSE(parseJson(std::string(65, '['), v, error)); // cut short at the limit
    EXPECT_EQ(error, "JSON error at byte 65: nested too deeply");
    EXPECT_FALSE(parseJson(nested("[", "", "]", 100000), v, error));
    EXPECT_EQ(error, "JSON error at byte 65: nested too deeply");
    EXPECT_FALSE(parseJson(nested("{\"a\":[", "", "]}", 100000), v, error));
    EXPECT_EQ(error, "JSON error at byte 197: nested too deeply");
}

// Numbers keep the text they were written with (identifiers given as numbers
// must not pass through a double), and the last of repeated names counts.
TEST(JsonReader, KeepsNumbersAsWrittenAndTheLastRepeatedName) {
    JsonValue v;
    std::string error;
    // A byte order mark is not content; it is passed over.
    ASSERT_TRUE(parseJson("\xEF\xBB\xBF{\"a\": [1, 2], \"a\": [7, 8]}", v, error)) << error;
    const JsonValue *a = v.member("a");
    ASSERT_EQ(a->items.size(), 2u);
    EXPECT_EQ(a->items[1].text, "8");
    ASSERT_TRUE(parseJson("[-0, 1.50, 18446744073709551616, 1E-7, 123456789012345678901234567890]",
                          v, error));
    std::vector<std::string> texts;
    for (const JsonValue &n : v.items)
        texts.push_back(n.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"-0", "1.50", "18446744073709551616", "1E-7",
                                               "123456789012345678901234567890"}));
    ASSERT_TRUE(parseJson("{\"s\": \"\\ud83c\\udfb5 \\u0000!\", \"t\": 12}", v, error));
    EXPECT_EQ(v.string("s"), std::string("\xF0\x9F\x8E\xB5 \0!", 7));
    EXPECT_EQ(v.string("t"), "12");
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

    // A TUI written as a JSON number names the track as its text does.
    ASSERT_TRUE(parseJson(R"({"tracks": [{"tui": )" + t->tui + R"(, "tui_tag": ")" + t->tuiTag +
                              R"(", "mood": ["Calm"]}]})",
                          doc, error));
    summary = {};
    ASSERT_TRUE(importValues(*cat, doc, summary, error)) << error;
    EXPECT_EQ(summary.tracks, 1);
    EXPECT_EQ(cat->track(1)->mood[0], "Calm");

    // An external ID without a value fails the whole document.
    ASSERT_TRUE(parseJson(R"({"tracks": [{"gnid": ")" + t->gnid +
                              R"(", "genre": ["Jazz"], "external_ids": [{"type": "isrc"}]}]})",
                          doc, error));
    EXPECT_FALSE(importValues(*cat, doc, summary, error));
    EXPECT_EQ(cat->track(1)->genre[0], "Rock");
}

// The import command reads at most 64 MiB, and a refused document leaves the
// catalogue as it was, with the reason on one line.
TEST(ValueImport, CommandRefusesOversizeAndBrokenFilesChangingNothing) {
    TempDir dir;
    const std::string db = dir.file("c.db");
    buildCatalog(db, {{2, "Two", "Bea", "Second", 1}});
    std::string error;
    const std::string gnid = Catalog::open(db, false, error)->track(1)->gnid;
    const auto genre = [&] { return Catalog::open(db, false, error)->track(1)->genre[0]; };
    const auto run = [&](const std::string &name, const std::string &text, std::string &err) {
        std::ofstream(dir.file(name), std::ios::binary) << text;
        std::ostringstream out, errors;
        const int status = commandImport(db, dir.file(name), out, errors);
        err = errors.str();
        return status;
    };
    std::string err;
    const std::string values = R"({"tracks": [{"gnid": ")" + gnid + R"(", "genre": ["Folk"]}]})";

    std::string padded = values;
    padded.resize(size_t(64) << 20, ' ');
    EXPECT_EQ(run("limit.json", padded, err), 0) << err;
    EXPECT_EQ(genre(), "Folk");

    padded = R"({"tracks": [{"gnid": ")" + gnid + R"(", "genre": ["Jazz"]}]})";
    padded.resize((size_t(64) << 20) + 1, ' ');
    EXPECT_EQ(run("over.json", padded, err), 1);
    EXPECT_EQ(err, "import: " + dir.file("over.json") +
                       ": larger than 64 MiB; split it into several files\n");
    EXPECT_EQ(genre(), "Folk");

    const std::string cut = values.substr(0, values.find("Folk") + 2);
    EXPECT_EQ(run("cut.json", cut, err), 1);
    EXPECT_EQ(err, "import: " + dir.file("cut.json") + ": JSON error at byte " +
                       std::to_string(cut.size()) + ": unterminated string\n");
    EXPECT_EQ(run("deep.json", std::string(100000, '[') + std::string(100000, ']'), err), 1);
    EXPECT_EQ(err,
              "import: " + dir.file("deep.json") + ": JSON error at byte 65: nested too deeply\n");
    EXPECT_EQ(genre(), "Folk");
}
