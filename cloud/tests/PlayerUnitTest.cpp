// The pieces of the music-player API that carry its arithmetic and its
// secrets: byte ranges, sealed player passwords, the XML and JSON writers.
#include "GeneratedCover.h"
#include "HttpRange.h"
#include "PlayerSecrets.h"
#include "SubsonicResponse.h"
#include "TextFold.h"
#include "Transcode.h"

#include <gtest/gtest.h>

using namespace cloud;

namespace {

std::string show(std::string_view header, std::uint64_t size) {
    http::ByteRange r;
    switch (http::parseRange(header, size, r)) {
    case http::RangeKind::Whole:
        return "whole";
    case http::RangeKind::Unsatisfiable:
        return "416";
    case http::RangeKind::Partial:
        break;
    }
    return std::to_string(r.first) + "-" + std::to_string(r.last);
}

TEST(RangeTest, SingleRangesAreClampedToTheFile) {
    EXPECT_EQ(show("", 100), "whole");
    EXPECT_EQ(show("bytes=0-0", 100), "0-0");
    EXPECT_EQ(show("bytes=0-99", 100), "0-99");
    EXPECT_EQ(show("bytes=10-", 100), "10-99");
    EXPECT_EQ(show("bytes=99-", 100), "99-99");
    EXPECT_EQ(show("bytes=50-500", 100), "50-99");
    EXPECT_EQ(show("bytes=-1", 100), "99-99");
    EXPECT_EQ(show("bytes=-100", 100), "0-99");
    EXPECT_EQ(show("bytes=-500", 100), "0-99");
    EXPECT_EQ(show("Bytes=5-6", 100), "5-6");
}

TEST(RangeTest, PastTheEndIsUnsatisfiableAndNonsenseIsIgnored) {
    EXPECT_EQ(show("bytes=100-", 100), "416");
    EXPECT_EQ(show("bytes=100-200", 100), "416");
    EXPECT_EQ(show("bytes=-0", 100), "416");
    EXPECT_EQ(show("bytes=0-", 0), "416");
    EXPECT_EQ(show("bytes=9-3", 100), "whole");
    EXPECT_EQ(show("bytes=0-1,4-5", 100), "whole");
    EXPECT_EQ(show("items=0-1", 100), "whole");
    EXPECT_EQ(show("bytes=a-b", 100), "whole");
    EXPECT_EQ(show("bytes=-", 100), "whole");
    EXPECT_EQ(show("bytes=99999999999999999999-", 100), "whole");
}

TEST(PlayerSecretsTest, SealedPasswordsOpenOnlyForTheirAccountAndKey) {
    const PlayerSecrets secrets(std::string(32, 'k'));
    const std::string sealed = secrets.seal("0123456789abcdef01234567", 7);
    EXPECT_EQ(sealed.find("0123456789abcdef"), std::string::npos);
    EXPECT_NE(secrets.seal("0123456789abcdef01234567", 7), sealed); // a fresh nonce each time
    EXPECT_EQ(secrets.open(sealed, 7), "0123456789abcdef01234567");
    EXPECT_EQ(secrets.open(sealed, 8), std::nullopt);
    EXPECT_EQ(PlayerSecrets(std::string(32, 'j')).open(sealed, 7), std::nullopt);
    std::string tampered = sealed;
    tampered[14] ^= 1;
    EXPECT_EQ(secrets.open(tampered, 7), std::nullopt);
    EXPECT_EQ(secrets.open(sealed.substr(0, 20), 7), std::nullopt);
}

TEST(PlayerSecretsTest, NamesArePrintableAndBounded) {
    EXPECT_TRUE(isValidPlayerPasswordName("Phone (Ann)"));
    EXPECT_TRUE(isValidPlayerPasswordName("Téléphone"));
    EXPECT_FALSE(isValidPlayerPasswordName(""));
    EXPECT_FALSE(isValidPlayerPasswordName(std::string(65, 'a')));
    EXPECT_FALSE(isValidPlayerPasswordName("a\nb"));
    EXPECT_FALSE(isValidPlayerPasswordName("\xC3"));
}

// "format kbps", or "original".
std::string chosen(const std::string &format, int maxKbps, int songKbps,
                   const std::string &suffix) {
    const auto t = chooseTranscode(format, maxKbps, songKbps, suffix);
    if (!t)
        return "original";
    return std::string(t->format == TranscodeFormat::Opus ? "opus " : "mp3 ") +
           std::to_string(t->bitRateKbps);
}

TEST(TranscodeChoiceTest, LimitsOutsideWhatTheEncodersMakeAreClamped) {
    EXPECT_EQ(chosen("", 8, 128, "mp3"), "mp3 32");
    EXPECT_EQ(chosen("opus", 1000, 900, "flac"), "opus 320");
    EXPECT_EQ(chosen("", 500, 900, "flac"), "mp3 320");
    // A song of unknown rate is made again whenever a limit is asked for.
    EXPECT_EQ(chosen("", 64, 0, "mp3"), "mp3 64");
    EXPECT_EQ(chosen("mp3", 0, 900, "flac"), "mp3 128");
    EXPECT_EQ(chosen("opus", 0, 128, "OPUS"), "original");
    EXPECT_EQ(chosen("opus", 64, 48, "opus"), "original");
    EXPECT_EQ(chosen("opus", 64, 48, "mp3"), "opus 64");
}

TEST(TranscodeChoiceTest, AStatedLengthAndItsByteOffsetsFollowTheTargetRate) {
    const TranscodeTarget mp3{TranscodeFormat::Mp3, 64};
    EXPECT_EQ(estimatedLength(12, mp3), 96000u);
    EXPECT_EQ(estimatedLength(0.0001, mp3), 1u); // a part of a byte is a byte
    EXPECT_EQ(estimatedLength(-1, mp3), 0u);
    EXPECT_DOUBLE_EQ(secondsAt(32000, mp3), 4);
    const TranscodeTarget opus{TranscodeFormat::Opus, 48};
    EXPECT_EQ(estimatedLength(10, opus), 10u * 6100 + 512);
    EXPECT_DOUBLE_EQ(secondsAt(61000, opus), 10);
}

TEST(TextFoldTest, AccentsAndCaseAreSetAsideForSortingAndFiling) {
    EXPECT_EQ(foldForSorting("Émile Ærø Łódź ßtraße"), "emile aero lodz sstrasse");
    EXPECT_EQ(foldForSorting("ÿ Ž"), "y z"); // the ends of both tables
    EXPECT_EQ(foldForSorting("日本 ~x"), "日本 ~x");
    EXPECT_EQ(indexLetter("émile"), "E");
    EXPECT_EQ(indexLetter("Øresund"), "O");
    EXPECT_EQ(indexLetter("~tilde"), "#");
    EXPECT_EQ(indexLetter("1975"), "#");
    EXPECT_EQ(indexLetter(""), "#");
    EXPECT_EQ(indexLetter("\xC3"), "#"); // a cut sequence is no letter
    EXPECT_EQ(coverInitials("the Night drive"), "TN");
    EXPECT_EQ(coverInitials("Émile's Songs"), "ES");
    EXPECT_EQ(coverInitials("1975"), "1");
    EXPECT_EQ(coverInitials("!!!"), "#");
}

TEST(SubsonicResponseTest, ListsAreArraysTextIsValueAndXmlIsEscaped) {
    subsonic::Element root = subsonic::okResponse();
    subsonic::Element &album = root.child("album");
    album.set("id", "al1").set("name", "Rock & <Roll> \"Live\"").set("songCount", 1);
    album.item("song")
        .set("id", "tr1")
        .set("isDir", false)
        .set("title", "a\x01"
                      "b");
    album.list("empty");
    root.child("genres").item("genre").set("songCount", 2).setText("Jazz");
    EXPECT_EQ(subsonic::toJson(root),
              R"({"subsonic-response":{"status":"ok","version":"1.16.1","type":"sonarbox",)"
              R"("serverVersion":"0.1.0","openSubsonic":true,"album":{"id":"al1",)"
              R"("name":"Rock & <Roll> \"Live\"","songCount":1,"song":[{"id":"tr1",)"
              R"("isDir":false,"title":"a\u0001b"}],"empty":[]},"genres":{"genre":[)"
              R"({"songCount":2,"value":"Jazz"}]}}})");
    const std::string xml = subsonic::toXml(root);
    EXPECT_NE(xml.find(R"(<album id="al1" name="Rock &amp; &lt;Roll&gt; &quot;Live&quot;" )"
                       R"(songCount="1"><song id="tr1" isDir="false" title="ab"/></album>)"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find(R"(<genres><genre songCount="2">Jazz</genre></genres>)"), std::string::npos);
    EXPECT_NE(
        subsonic::toXml(subsonic::errorResponse(70, "song not found")).find(R"(status="failed")"),
        std::string::npos);
}

TEST(SubsonicResponseTest, PlainValueListsAreArraysOfValuesInJsonAndElementsInXml) {
    subsonic::Element root("r");
    subsonic::Element &user = root.child("user");
    user.set("username", "ann");
    user.value("folder", std::int64_t{1});
    user.value("folder", std::int64_t{3});
    EXPECT_EQ(subsonic::toJson(root), R"({"r":{"user":{"username":"ann","folder":[1,3]}}})");
    EXPECT_NE(subsonic::toXml(root).find(
                  R"(<user username="ann"><folder>1</folder><folder>3</folder></user>)"),
              std::string::npos)
        << subsonic::toXml(root);
}

TEST(SubsonicResponseTest, XmlAnswersAreUtf8WithXmlCharactersOnly) {
    // An echoed parameter or a playlist name may hold any bytes; one bad byte
    // would make the player's parser drop the whole answer.
    const std::string xml = subsonic::toXml(subsonic::errorResponse(0, "type \"\xFF"
                                                                       "a\xC3\x28"
                                                                       "b\xEF\xBF\xBF"
                                                                       "c\xEF\xBF\xBE"
                                                                       "d\xC3\xA9\""));
    EXPECT_NE(xml.find("message=\"type &quot;\xEF\xBF\xBD"
                       "a\xEF\xBF\xBD(b\xEF\xBF\xBD"
                       "c\xEF\xBF\xBD"
                       "d\xC3\xA9&quot;\""),
              std::string::npos)
        << xml;
}

} // namespace
