#include "JSONGenerator.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string escaped(const std::string &text) {
    std::string out;
    for (char c : text) {
        const char letter = JSONGenerator::GetEscapingChar(static_cast<unsigned char>(c));
        if (letter != '\0') {
            out += '\\';
            out += letter;
        } else {
            out += c;
        }
    }
    return out;
}

TEST(JSONGenerator, EmptyContainersStayOnTheOpenerLine) {
    JSONGenerator array;
    array.OpenArray(nullptr);
    array.CloseArray();
    EXPECT_STREQ("[]", array.getJSONString());

    JSONGenerator object;
    object.OpenObject(nullptr);
    object.OpenArray("nothing");
    object.AddString(nullptr, nullptr);
    object.AddString(nullptr, nullptr);
    object.CloseArray();
    object.CloseObject();
    EXPECT_STREQ("{\n\t\"nothing\": []\n}", object.getJSONString());
}

TEST(JSONGenerator, MembersOneLineEachIndentedByTabs) {
    JSONGenerator writer;
    writer.OpenObject(nullptr);
    writer.AddString("a", "1");
    writer.AddString("b", "2");
    writer.CloseObject();
    EXPECT_STREQ("{\n\t\"a\": \"1\",\n\t\"b\": \"2\"\n}", writer.getJSONString());
}

TEST(JSONGenerator, NullValueWritesNothingAndCountsNothing) {
    JSONGenerator writer;
    writer.OpenObject(nullptr);
    writer.AddString("a", nullptr);
    writer.AddString("b", "2");
    writer.AddString("c", nullptr);
    writer.CloseObject();
    EXPECT_STREQ("{\n\t\"b\": \"2\"\n}", writer.getJSONString());
}

TEST(JSONGenerator, NestedContainersAndTopLevelItems) {
    JSONGenerator writer;
    writer.OpenArray(nullptr);
    writer.OpenObject(nullptr);
    writer.OpenArray("list");
    writer.AddString(nullptr, "x");
    writer.CloseArray();
    writer.CloseObject();
    writer.CloseArray();
    writer.AddString(nullptr, "second");
    EXPECT_STREQ("[\n\t{\n\t\t\"list\": [\n\t\t\t\"x\"\n\t\t]\n\t}\n],\n\"second\"",
                 writer.getJSONString());
}

TEST(JSONGenerator, EscapesByTheTableOnly) {
    JSONGenerator writer;
    writer.OpenArray(nullptr);
    writer.AddString(nullptr, "q\" b\\ s/ n\n t\t r\r f\f b\b one\x01 high\xc3\xa9");
    writer.CloseArray();
    EXPECT_STREQ("[\n\t\"q\\\" b\\\\ s\\/ n\\n t\\t r\\r f\\f b\\b one\x01 high\xc3\xa9\"\n]",
                 writer.getJSONString());
}

TEST(JSONGenerator, EscapedNamesAndNewlinesInValuesDoNotIndent) {
    JSONGenerator writer;
    writer.OpenObject(nullptr);
    writer.AddString("a/b", "line1\nline2");
    writer.AddString("c", "d");
    writer.CloseObject();
    // The escaped new-line is not a line start: the next member is indented
    // only after the writer's own ",\n".
    EXPECT_STREQ("{\n\t\"a\\/b\": \"line1\\nline2\",\n\t\"c\": \"d\"\n}", writer.getJSONString());
}

TEST(JSONGenerator, GrowsPastEveryBoundaryWithoutLosingCharacters) {
    // Every character of the value escapes to a pair; shifting the start by one
    // puts a pair across 4096, 8192 and 16384 in one of the two runs.
    for (int shift = 0; shift < 4; ++shift) {
        const std::string value =
            std::string(static_cast<std::size_t>(shift), 'x') + std::string(9000, '/') + "tail\"\\";
        JSONGenerator writer;
        writer.OpenArray(nullptr);
        writer.AddString(nullptr, value.c_str());
        writer.AddString(nullptr, "after");
        writer.CloseArray();
        const std::string expected = "[\n\t\"" + escaped(value) + "\",\n\t\"after\"\n]";
        ASSERT_GT(expected.size(), 16384u);
        EXPECT_EQ(expected, writer.getJSONString()) << "shift " << shift;
    }
}

TEST(JSONGenerator, EmbeddedFragmentIsReindentedAtDepthThreeAndLeftUnchanged) {
    JSONGenerator inner;
    inner.OpenObject(nullptr);
    inner.AddString("k", "v");
    inner.CloseObject();
    std::string fragment = inner.getJSONString();
    ASSERT_EQ("{\n\t\"k\": \"v\"\n}", fragment);
    const std::string original = fragment;

    JSONGenerator outer;
    outer.OpenArray(nullptr);
    outer.OpenObject(nullptr);
    outer.OpenArray("x");
    outer.AddJSONAsString(fragment.data());
    outer.AddJSONAsString(fragment.data());
    outer.CloseArray();
    outer.CloseObject();
    outer.CloseArray();
    EXPECT_EQ("[\n\t{\n\t\t\"x\": [\n"
              "\t\t\t{\n\t\t\t\t\"k\": \"v\"\n\t\t\t},\n"
              "\t\t\t{\n\t\t\t\t\"k\": \"v\"\n\t\t\t}\n"
              "\t\t]\n\t}\n]",
              std::string(outer.getJSONString()));
    EXPECT_EQ(original, fragment);
}

} // namespace
