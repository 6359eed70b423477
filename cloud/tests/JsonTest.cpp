#include "Json.h"

#include <gtest/gtest.h>

using namespace cloud::json;

namespace {

TEST(JsonTest, ParsesEveryKindOfValue) {
    const auto v = parse(R"( {"s": "a\"b\\c\/\n\u00e9\ud83c\udfb5", "i": -42, "big": 1796676316295,
        "d": 2.5e3, "t": true, "f": false, "n": null, "a": [1, [], {}], "o": {"k": "v"}} )");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->find("s")->asString(), "a\"b\\c/\n\xC3\xA9\xF0\x9F\x8E\xB5");
    EXPECT_EQ(v->find("i")->asInteger(), -42);
    EXPECT_EQ(v->find("big")->asInteger(), 1796676316295);
    EXPECT_DOUBLE_EQ(v->find("d")->asDouble(), 2500.0);
    EXPECT_TRUE(v->find("t")->asBool());
    EXPECT_FALSE(v->find("f")->asBool());
    EXPECT_TRUE(v->find("n")->isNull());
    EXPECT_EQ(v->find("a")->asArray().size(), 3u);
    EXPECT_EQ(v->find("o")->find("k")->asString(), "v");
    EXPECT_EQ(v->find("missing"), nullptr);
}

TEST(JsonTest, RefusesMalformedTextWithAnOffset) {
    const std::vector<std::string> bad = {
        "",
        "{",
        "[1,]",
        "{\"a\" 1}",
        "{\"a\":1,}",
        "01",
        "1.",
        "-",
        "1e",
        "tru",
        "nul",
        "\"open",
        "\"tab\there\"",
        "\"\\x\"",
        "\"\\u12\"",
        "\"\\udc00\"",
        "\"\\ud800x\"",
        "\"\xc3\x28\"",
        "\"\xed\xa0\x80\"",
        "\"\xc0\xaf\"",
        "{} {}",
        "1e999",
        std::string(kMaxDepth + 2, '['),
        // The library reads a NUL byte as the end of the text, which would
        // quietly drop whatever follows it.
        std::string("{\"a\":1}\0{\"b\":2}", 15),
        std::string("[1,\0 2]", 7),
    };
    for (const auto &text : bad) {
        ParseError error;
        EXPECT_FALSE(parse(text, &error)) << text;
        EXPECT_FALSE(error.message.empty()) << text;
        EXPECT_LE(error.offset, text.size());
    }
    EXPECT_TRUE(parse(std::string(kMaxDepth, '[') + std::string(kMaxDepth, ']')));
}

TEST(JsonTest, SerializesToTextThatParsesBack) {
    Value v;
    v.set("text", "quote \" backslash \\ newline \n control \x01 é");
    v.set("n", std::int64_t(-9007199254740993));
    v.set("d", 0.1);
    v.set("list", Array{Value(true), Value(), Value("x")});
    v.set("text", "replaced"); // set replaces an existing member in place
    const std::string text = serialize(v);
    EXPECT_EQ(text.find("\x01"), std::string::npos);
    const auto back = parse(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, v);
    EXPECT_EQ(v.asObject().front().first, "text");
    EXPECT_EQ(serialize(Value("\x01")), "\"\\u0001\"");
    // Whole-valued doubles stay doubles when read back.
    EXPECT_EQ(serialize(Value(2500.0)), "2500.0");
    EXPECT_TRUE(parse(serialize(*parse("-0e3")))->type() == Value::Type::Double);
}

TEST(JsonTest, MalformedUtf8NeverLeavesTheSerializer) {
    const std::string bad = "ok \xff\xfe end";
    EXPECT_FALSE(isValidUtf8(bad));
    EXPECT_TRUE(isValidUtf8(toValidUtf8(bad)));
    EXPECT_TRUE(parse(serialize(Value(bad))));
}

} // namespace
