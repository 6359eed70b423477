#include "engine_config.h"
#include "user_token.h"

#include <gtest/gtest.h>
#include <random>

using namespace recog;

TEST(EngineConfig, ReadsKeysAndResolvesTheCatalogueFromTheDataFolder) {
    EngineConfig c;
    std::string error;
    ASSERT_TRUE(EngineConfig::parse("# test\n\ncatalog = music.db\r\naccept_ber=0.18\n"
                                    "client_id=1234567\ntrackid_results=3\n",
                                    "/srv/tm", c, error))
        << error;
    EXPECT_EQ(c.catalogPath, "/srv/tm/music.db");
    EXPECT_DOUBLE_EQ(c.match.acceptBer, 0.18);
    EXPECT_EQ(c.clientId, "1234567");
    EXPECT_EQ(c.trackIdResults, 3);
    ASSERT_TRUE(EngineConfig::parse("catalog=/abs/x.db", "/srv/tm", c, error));
    EXPECT_EQ(c.catalogPath, "/abs/x.db");
}

TEST(EngineConfig, NamesTheProblemInBadData) {
    EngineConfig c;
    std::string error;
    EXPECT_FALSE(EngineConfig::parse("accept_ber=0.2\n", "", c, error));
    EXPECT_NE(error.find("catalog=PATH"), std::string::npos);
    EXPECT_FALSE(EngineConfig::parse("catalog=x\ncatlog=y\n", "", c, error));
    EXPECT_NE(error.find("line 2"), std::string::npos);
    EXPECT_NE(error.find("catlog"), std::string::npos);
    EXPECT_FALSE(EngineConfig::parse("catalog=x\naccept_ber=abc\n", "", c, error));
    EXPECT_FALSE(EngineConfig::parse("catalog=x\naccept_ber=0.9\n", "", c, error));
    EXPECT_FALSE(EngineConfig::parse("catalog=x\nclient_id=12\n", "", c, error));
    EXPECT_FALSE(EngineConfig::parse(std::string("catalog=x\0y", 11), "", c, error));
    EXPECT_FALSE(EngineConfig::parse("catalog=\xff\xfe", "", c, error));
    EXPECT_FALSE(EngineConfig::parse("just words", "", c, error));
}

TEST(UserToken, RoundTripsAndRefusesWhatItDidNotSign) {
    UserToken t;
    std::string error;
    ASSERT_TRUE(
        UserToken::createNew("1234567", "0123456789ABCDEF0123456789ABCDEF", "0.98", t, error));
    const std::string text = t.serialize("key-one");
    UserToken back;
    ASSERT_TRUE(UserToken::parse(text, "key-one", back, error)) << error;
    EXPECT_EQ(back.clientId, "1234567");
    EXPECT_EQ(back.userId, t.userId);
    EXPECT_FALSE(UserToken::parse(text, "key-two", back, error)); // another catalogue

    std::string edited = text;
    edited[8] = edited[8] == '0' ? '1' : '0';
    EXPECT_FALSE(UserToken::parse(edited, "key-one", back, error));
    EXPECT_FALSE(UserToken::parse("", "key-one", back, error));
    EXPECT_FALSE(UserToken::parse("TMU1..", "key-one", back, error));

    std::mt19937 rng(9);
    for (int i = 0; i < 200; ++i) {
        std::string junk(rng() % 300, '\0');
        for (char &c : junk)
            c = char(rng());
        EXPECT_FALSE(UserToken::parse(junk, "key-one", back, error));
    }
}

TEST(UserToken, RefusesMalformedCredentials) {
    UserToken t;
    std::string error;
    const std::string tag = "0123456789ABCDEF0123456789ABCDEF";
    EXPECT_FALSE(UserToken::createNew("123456", tag, "1", t, error));
    EXPECT_FALSE(UserToken::createNew("12345678", tag, "1", t, error));
    EXPECT_FALSE(UserToken::createNew("12a4567", tag, "1", t, error));
    EXPECT_FALSE(
        UserToken::createNew("1234567", "0123456789abcdef0123456789abcdef", "1", t, error));
    EXPECT_FALSE(UserToken::createNew("1234567", tag.substr(1), "1", t, error));
    EXPECT_TRUE(UserToken::createNew("1234567", tag, "1", t, error));
}
