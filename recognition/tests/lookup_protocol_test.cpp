// The lookup's wire format and the service's side of it, without a network.
#include "engine_config.h"
#include "lookup_protocol.h"
#include "lookup_service.h"
#include "speed_search.h"
#include "test_catalog.h"

#include <gtest/gtest.h>

using namespace recog;
using namespace recog::testaudio;

TEST(LookupProtocol, ItemsSurviveBase64AtEveryLengthAndBadTextIsRefused) {
    for (size_t n : {0u, 1u, 2u, 3u, 7u}) {
        std::vector<uint32_t> items;
        for (size_t i = 0; i < n; ++i)
            items.push_back(0xFFFFFFFFu - uint32_t(i * 0x01020304u));
        std::vector<uint32_t> back;
        ASSERT_TRUE(itemsFromBase64(itemsToBase64(items), back));
        EXPECT_EQ(back, items);
    }
    EXPECT_EQ(itemsToBase64({0x04030201u}), "AQIDBA==");
    std::vector<uint32_t> out;
    EXPECT_FALSE(itemsFromBase64("AQIDBA=", out));  // cut short
    EXPECT_FALSE(itemsFromBase64("AQID", out));     // three bytes: no whole item
    EXPECT_FALSE(itemsFromBase64("AQ==BA==", out)); // padding inside
    EXPECT_FALSE(itemsFromBase64("AQIDB*==", out)); // outside the alphabet
    EXPECT_FALSE(itemsFromBase64("AQIDBA=A", out)); // data after padding
}

TEST(LookupProtocol, RequestsRoundTripAndHostileBodiesAreRefusedWithAReason) {
    LookupRequest r;
    r.items = {1, 2, 3};
    r.seconds = 21.5;
    r.albumArtist = "Ann";
    r.trackTitle = "Zoë \"quoted\"";
    r.trackNumber = "3/12";
    r.limit = 5;
    r.otherSpeeds = true;
    r.slices = {{9}, {}};
    LookupRequest back;
    std::string error;
    ASSERT_TRUE(decodeRequest(encodeRequest(r), back, error)) << error;
    EXPECT_EQ(back.items, r.items);
    EXPECT_EQ(back.seconds, 21.5);
    EXPECT_EQ(back.albumArtist, "Ann");
    EXPECT_EQ(back.trackTitle, r.trackTitle);
    EXPECT_EQ(back.trackNumber, "3/12");
    EXPECT_EQ(back.limit, 5u);
    EXPECT_TRUE(back.otherSpeeds);
    EXPECT_EQ(back.slices, r.slices);

    const std::pair<std::string, std::string> refused[] = {
        {R"({"items":"AQIDBA==","seconds":2)", "not a JSON object"},
        {"[1,2]", "not a JSON object"},
        {R"({"items":[1,2]})", "\"items\" must be base64"},
        {R"({"items":")" + std::string(4097 * 4 / 3 * 4 + 4, 'A') + R"("})", "\"items\""},
        {R"({"seconds":-1})", "\"seconds\""},
        {R"({"seconds":"20"})", "\"seconds\""},
        {R"({"limit":0})", "\"limit\""},
        {R"({"limit":101})", "\"limit\""},
        {R"({"limit":2.5})", "\"limit\""},
        {R"({"tags":{"title":7}})", "\"title\""},
        {R"({"tags":{"album":")" + std::string(1025, 'x') + R"("}})", "\"album\""},
        {R"({"other_speeds":1})", "\"other_speeds\""},
        {R"({"slices":"AQIDBA=="})", "\"slices\""},
        {R"({"a":[[[[[[[1]]]]]]]})", "nested too deeply"},
        {std::string("{\"tui\":\"a\0b\"}", 13), "not a JSON object"},
        {std::string(kLookupMaxBody + 1, ' '), "larger than 256 KiB"}};
    for (const auto &[body, why] : refused) {
        error.clear();
        EXPECT_FALSE(decodeRequest(body, back, error)) << body.substr(0, 80);
        EXPECT_NE(error.find(why), std::string::npos) << error << " for " << body.substr(0, 80);
    }
    std::string slices = R"({"slices":[)";
    for (int i = 0; i < 33; ++i)
        slices += std::string(i ? "," : "") + "\"\"";
    EXPECT_FALSE(decodeRequest(slices + "]}", back, error));
    EXPECT_NE(error.find("at most 32"), std::string::npos) << error;
    // Unknown members are left for newer engines; the minimal body is empty.
    EXPECT_TRUE(decodeRequest(R"({"future":{"x":1}})", back, error)) << error;
}

TEST(LookupProtocol, AnswersRoundTripAndMalformedOnesAreRefused) {
    LookupAnswer a;
    a.found = {{7, 3, 0.125, MatchMethod::Fingerprint}, {8, 3, 0, MatchMethod::Text}};
    TrackRecord t;
    t.id = 7;
    t.gnid = "T1";
    t.title = "One";
    t.mood = {"Calm", "Peaceful"};
    t.genre = {"Rock", "", ""};
    t.albumId = 3;
    t.externalIds = {{"isrc", "label", "GB1"}};
    a.tracks = {t};
    AlbumRecord al;
    al.id = 3;
    al.title = "Alpha";
    al.contributorId = 4;
    a.albums = {al};
    ContributorRecord c;
    c.id = 4;
    c.name = "Ann";
    c.origin = {"Europe", "UK", "", ""};
    a.contributors = {c};
    a.strongestSlice = 2;
    a.log = {": no match"};
    LookupAnswer back;
    std::string error;
    ASSERT_TRUE(decodeAnswer(encodeAnswer(a), back, error)) << error;
    ASSERT_EQ(back.found.size(), 2u);
    EXPECT_EQ(back.found[0].trackId, 7);
    EXPECT_EQ(back.found[0].score, 0.125);
    EXPECT_EQ(back.found[1].method, MatchMethod::Text);
    ASSERT_EQ(back.tracks.size(), 1u);
    EXPECT_EQ(back.tracks[0].mood[1], "Peaceful");
    EXPECT_EQ(back.tracks[0].externalIds[0].value, "GB1");
    EXPECT_EQ(back.albums[0].contributorId, 4);
    EXPECT_EQ(back.contributors[0].origin[1], "UK");
    EXPECT_EQ(back.strongestSlice, 2);
    EXPECT_EQ(back.log, a.log);

    std::string text = encodeAnswer(a);
    const std::string mood = R"("mood":["Calm","Peaceful"])";
    for (const std::string &bad :
         {std::string(R"({"found":[]})"), std::string(R"({"found":"x"})"),
          std::string(text).replace(text.find(mood), mood.size(), R"("mood":["a","b","c"])"),
          std::string(text).replace(text.find(R"("track":7)"), 9, R"("track":"7")"),
          // Numbers that fit no whole field: a fraction, past int64, past int.
          std::string(text).replace(text.find(R"("track":7)"), 9, R"("track":7.5)"),
          std::string(text).replace(text.find(R"("track":7)"), 9, R"("track":1e300)"),
          std::string(text).replace(text.find(R"("track":7)"), 9, R"("track":9223372036854775808)"),
          std::string(text).replace(text.find(R"("strongest_slice":2)"), 19,
                                    R"("strongest_slice":2147483648)"),
          text.substr(0, text.size() - 1)}) {
        EXPECT_FALSE(decodeAnswer(bad, back, error)) << bad.substr(0, 120);
        EXPECT_TRUE(back.found.empty());
    }
}

TEST(LookupProtocol, OnlyHttpsOrLoopbackHttpIsALookupAddress) {
    for (const char *ok : {"https://music.example.org/recognition/v1/lookup",
                           "http://127.0.0.1:8480/recognition/v1/lookup", "http://[::1]:80/x",
                           "http://localhost:9/x", "https://10.0.0.2:8443/x"})
        EXPECT_TRUE(validLookupUrl(ok)) << ok;
    for (const char *bad :
         {"http://192.168.1.5:8480/x", "http://127.0.0.1.evil.org/x", "http://user@127.0.0.1/x",
          "ftp://127.0.0.1/x", "https:///x", "https://a b/x", "http://[::2]/x", "file:///etc"})
        EXPECT_FALSE(validLookupUrl(bad)) << bad;
    EngineConfig c;
    std::string error;
    EXPECT_TRUE(
        EngineConfig::parse("lookup=https://h/x\nca_file=ca.pem\ntimeout_ms=250\n", "/b", c, error))
        << error;
    EXPECT_EQ(c.caFile, "/b/ca.pem");
    EXPECT_EQ(c.timeoutMs, 250);
    EXPECT_FALSE(EngineConfig::parse("lookup=http://192.168.1.5:8480/x\n", "", c, error));
    EXPECT_NE(error.find("lookup takes an https:// address"), std::string::npos) << error;
    EXPECT_FALSE(EngineConfig::parse("lookup=https://h/x\ncatalog=c.db\n", "", c, error));
    EXPECT_NE(error.find("both"), std::string::npos);
    EXPECT_FALSE(EngineConfig::parse("catalog=c.db\nca_file=ca.pem\n", "", c, error));
    EXPECT_FALSE(EngineConfig::parse("lookup=https://h/x\ntimeout_ms=50\n", "", c, error));
}

TEST(LookupServiceSide, AsksForOtherSpeedsOnlyWhenOwnSpeedFailsAndNamesTheStrongestSlice) {
    TempDir dir;
    buildCatalog(dir.file("s.db"), {{31, "One", "Ann", "Alpha", 1}, {32, "Two", "Bob", "Beta", 2}});
    std::string error;
    std::shared_ptr<Catalog> cat = Catalog::open(dir.file("s.db"), false, error);
    ASSERT_TRUE(cat) << error;
    LookupService service(cat, EngineConfig{});

    LookupRequest known;
    known.items = fingerprintOf(song(32, 25));
    known.seconds = 25;
    known.otherSpeeds = true;
    LookupAnswer a = service.answer(known);
    ASSERT_EQ(a.found.size(), 1u);
    EXPECT_FALSE(a.trySpeeds);
    ASSERT_EQ(a.tracks.size(), 1u);
    EXPECT_EQ(a.tracks[0].title, "Two");
    EXPECT_TRUE(a.tracks[0].source.empty()); // the server's paths stay there
    ASSERT_EQ(a.albums.size(), 1u);
    EXPECT_EQ(a.albums[0].title, "Beta");

    LookupRequest unknown = known;
    unknown.items = fingerprintOf(song(77, 25));
    unknown.trackTitle = "One";
    unknown.albumArtist = "Ann";
    a = service.answer(unknown);
    EXPECT_TRUE(a.trySpeeds);
    EXPECT_TRUE(a.found.empty()); // the tags wait for the other speeds
    unknown.otherSpeeds = false;
    a = service.answer(unknown);
    EXPECT_FALSE(a.trySpeeds);
    ASSERT_EQ(a.found.size(), 1u);
    EXPECT_EQ(a.found[0].method, MatchMethod::Text);

    // Slices: the one holding the song wins; none drawing anything is -1.
    LookupRequest slices;
    slices.slices = {
        fingerprintOf(song(77, 15)), {}, fingerprintOf(song(31, 15)), fingerprintOf(song(31, 15))};
    EXPECT_EQ(service.answer(slices).strongestSlice, 2);
    slices.slices = {{}, fingerprintOf(song(78, 15))};
    EXPECT_EQ(service.answer(slices).strongestSlice, -1);
}
