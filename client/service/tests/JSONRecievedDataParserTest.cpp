#include "ServiceTestSupport.h"

#include "service/JSONDictionary.h"
#include "service/JSONRecievedDataParser.h"
#include "sync/Sonarbox.h"

#include <QJsonDocument>

namespace {

class JSONRecievedDataParserTest : public ::testing::Test {
protected:
    void SetUp() override { Sonarbox::instance().reinitialize(); }
    void TearDown() override { Sonarbox::instance().reinitialize(); }
    Sonarbox &sonarbox = Sonarbox::instance();
};

void setStatusTexts(Sonarbox &s) {
    s.setSyncStatus(QStringLiteral("old"));
    s.setSyncError(QStringLiteral("old"));
    s.setServerMessage(QStringLiteral("old"));
    s.setUpgradeUrl(QStringLiteral("old"));
}

// Inputs no server should send, and some that a broken one would.
QList<QByteArray> hostileInputs() {
    QList<QByteArray> inputs = {
        QByteArray(),
        "null",
        "\"just a string\"",
        "[1,2,3]",
        "{",
        R"({"responseStatus":)",
        R"({"responseStatus":17,"milliseconds":"soon","updatedUserMedias":{"a":1}})",
        R"({"responseStatus":["OK"],"updatedUserMedias":[1,"x",null,[],{"mediaType":7}]})",
        R"({"milliseconds":1e400,"updatedUserMedias":[{"mediaType":"AUDIO","deleted":"yes",
            "name":42,"id":{"x":1},"sequenceInAlbum":1e300,"downloadable":"maybe"}]})",
        QByteArray("\x00\x01\x02{}", 5),
        QByteArray(100000, '[') + QByteArray(100000, ']'),
        "{\"a\":" + QByteArray(5000, '{') + QByteArray(5000, '}') + "}",
        R"({"purchaseResponseStatus":"SUCCESS","purchasedContent":"none"})",
    };
    QByteArray big = "{\"updatedUserMedias\":[";
    for (int i = 0; i < 20000; ++i)
        big += R"({"mediaType":"AUDIO","deleted":0,"name":"n.mp3","id":1},)";
    big.chop(1);
    inputs << big + "]}" << big; // whole, and cut short
    return inputs;
}

} // namespace

TEST_F(JSONRecievedDataParserTest, EnvelopeSetsTheStatus) {
    setStatusTexts(sonarbox);
    EXPECT_TRUE(JSONRecievedDataParser::parseJSONResponse(R"({"responseStatus":"SUCCESS"})"));
    EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("SUCCESS"));
    EXPECT_EQ(sonarbox.syncError(), QStringLiteral(""));
    EXPECT_EQ(sonarbox.serverMessage(), QStringLiteral(""));
    EXPECT_EQ(sonarbox.upgradeUrl(), QStringLiteral(""));

    EXPECT_FALSE(JSONRecievedDataParser::parseJSONResponse(R"({"responseStatus":""})"));
    EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("responseStatus is empty"));

    // Unparseable bodies and wrong types leave no status and answer YES.
    for (const QByteArray &body : {QByteArray("<html>"), QByteArray(R"({"responseStatus":5})"),
                                   QByteArray(R"({"other":"x"})"), QByteArray()}) {
        setStatusTexts(sonarbox);
        EXPECT_TRUE(JSONRecievedDataParser::parseJSONResponse(body)) << body.toStdString();
        EXPECT_TRUE(sonarbox.syncStatus().isEmpty());
    }
}

TEST_F(JSONRecievedDataParserTest, ListingBuildsDetachedAudioTracks) {
    JSONRecievedDataParser::parseUserCloudMedia(R"({
        "responseStatus":"OK","milliseconds":1700000000999,
        "updatedUserMedias":[
            {"mediaType":"AUDIO","deleted":0,"name":"Song%20One.m%34a","songName":"Song One",
             "albumName":"Album","artistName":"Artist","checksum":"0123456789abcdef0123456789abcdef",
             "id":4711,"sequenceInAlbum":"7","fingerprintId":"GN-1","downloadable":1},
            {"mediaType":"VIDEO","deleted":0,"name":"clip.mp4","id":1},
            {"mediaType":"AUDIO","deleted":1,"name":"gone.mp3","id":2},
            {"mediaType":"AUDIO","name":"nulls.mp3","songName":null,"albumName":null,"id":null,
             "sequenceInAlbum":3,"fingerprintId":null,"downloadable":0}
        ]})");
    EXPECT_EQ(sonarbox.syncMilliSeconds(), 1700000000999);
    const QList<AudioPtr> tracks = sonarbox.cloudLibraryTracks();
    ASSERT_EQ(tracks.size(), 2);
    const Audio &a = *tracks.at(0);
    EXPECT_FALSE(a.isStored());
    EXPECT_EQ(a.name, QStringLiteral("Song%20One.m%34a"));
    EXPECT_EQ(a.fileExtension, QStringLiteral("m4a"));
    EXPECT_EQ(a.songName, QStringLiteral("Song One"));
    EXPECT_EQ(a.album, QStringLiteral("Album"));
    EXPECT_EQ(a.artist, QStringLiteral("Artist"));
    EXPECT_EQ(a.checksum, QStringLiteral("0123456789abcdef0123456789abcdef"));
    EXPECT_EQ(a.userMediaID, QStringLiteral("4711"));
    EXPECT_EQ(a.sequence, 7);
    EXPECT_EQ(a.fingerPrintID, QStringLiteral("GN-1"));
    EXPECT_EQ(a.downloadable, true);
    EXPECT_EQ(a.markedForDeletion, false);

    const Audio &b = *tracks.at(1);
    EXPECT_FALSE(b.songName);
    EXPECT_FALSE(b.album);
    EXPECT_FALSE(b.userMediaID);
    EXPECT_FALSE(b.fingerPrintID);
    EXPECT_EQ(b.sequence, 3);
    EXPECT_EQ(b.downloadable, false);
}

TEST_F(JSONRecievedDataParserTest, ListingWithNothingToKeepStillMovesThePosition) {
    sonarbox.setCloudLibraryTracks({std::make_shared<Audio>()});
    JSONRecievedDataParser::parseUserCloudMedia(R"({"responseStatus":"OK","milliseconds":55,
        "updatedUserMedias":[{"mediaType":"AUDIO","deleted":1,"name":"a.mp3"},
                             {"mediaType":"PHOTO","deleted":0,"name":"b.jpg"}]})");
    EXPECT_TRUE(sonarbox.cloudLibraryTracks().isEmpty());
    EXPECT_EQ(sonarbox.syncMilliSeconds(), 55);

    // A listing without a position starts the next one from the beginning.
    JSONRecievedDataParser::parseUserCloudMedia(R"({"responseStatus":"OK"})");
    EXPECT_EQ(sonarbox.syncMilliSeconds(), 0);
}

TEST_F(JSONRecievedDataParserTest, RetrieveValueTreatsNullAsAbsent) {
    const QJsonObject o = QJsonDocument::fromJson(R"({"a":null,"b":0,"c":""})").object();
    EXPECT_FALSE(retrieveValue(o, QStringLiteral("a")));
    EXPECT_TRUE(containsKey(o, QStringLiteral("a")));
    EXPECT_EQ(retrieveValue(o, QStringLiteral("b")), QJsonValue(0));
    EXPECT_EQ(retrieveValue(o, QStringLiteral("c")), QJsonValue(QString()));
    EXPECT_FALSE(retrieveValue(o, QStringLiteral("d")));
    EXPECT_FALSE(containsKey(o, QStringLiteral("d")));
}

TEST_F(JSONRecievedDataParserTest, SignUpReplies) {
    EXPECT_TRUE(
        JSONRecievedDataParser::parseJSONResponseFromSignUp(R"({"responseStatus":"SUCCESS"})"));
    EXPECT_FALSE(JSONRecievedDataParser::parseJSONResponseFromSignUp(R"({"responseStatus":""})"));
    EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("responseStatus is empty"));

    // A refusal leaves the localised reason, or the key when it has no text.
    EXPECT_FALSE(JSONRecievedDataParser::parseJSONResponseFromSignUp(
        R"({"responseStatus":"FAILED","responseText":"invalid_email_message"})"));
    EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("Please enter a valid e-mail address."));
    EXPECT_FALSE(JSONRecievedDataParser::parseJSONResponseFromSignUp(
        R"({"responseStatus":"FAILED_USER_EXISTS","responseText":"user_exists_no_text"})"));
    EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("user_exists_no_text"));

    // A reply that does not parse lets the sign-in that follows decide.
    EXPECT_TRUE(JSONRecievedDataParser::parseJSONResponseFromSignUp("<html>"));
}

TEST_F(JSONRecievedDataParserTest, MatchRepliesAndRecognitionDocuments) {
    const auto match = JSONRecievedDataParser::parseCreateMediaRequest(
        R"({"purchaseResponseStatus":"SUCCESS","purchasedContent":[{"id":9,"downloadable":true}]})");
    ASSERT_TRUE(match);
    EXPECT_EQ(match->value(QStringLiteral("purchaseResponseStatus")), QStringLiteral("SUCCESS"));
    EXPECT_FALSE(JSONRecievedDataParser::parseCreateMediaRequest("{\"cut\":"));
    EXPECT_FALSE(JSONRecievedDataParser::parseCreateMediaRequest("[]"));

    EXPECT_FALSE(JSONRecievedDataParser::parseGracenoteResponse(std::nullopt));
    // The document arrives in a buffer: everything after the first NUL is not part of it.
    const QByteArray document(
        "[\n\t{\"input\":\"\\/a.mp3\",\"hash\":\"h\",\"graceNoteTrackInfo\":[]}\n]\0junk", 64);
    const auto results = JSONRecievedDataParser::parseGracenoteResponse(document);
    ASSERT_TRUE(results);
    ASSERT_EQ(results->size(), 1);
    EXPECT_EQ(results->at(0).toObject().value(QStringLiteral("input")), QStringLiteral("/a.mp3"));
    // A document cut to fit its buffer is not valid JSON.
    EXPECT_FALSE(
        JSONRecievedDataParser::parseGracenoteResponse(QByteArray("[\n\t{\"input\":\"/a")));
}

TEST_F(JSONRecievedDataParserTest, HostileInputNeverCrashesOrCorruptsState) {
    for (const QByteArray &input : hostileInputs()) {
        JSONRecievedDataParser::parseJSONResponse(input);
        const QString status = sonarbox.syncStatus();
        EXPECT_TRUE(status.isEmpty() || status == QLatin1String("responseStatus is empty"));
        JSONRecievedDataParser::parseJSONResponseFromSignUp(input);
        JSONRecievedDataParser::parseCreateMediaRequest(input);
        JSONRecievedDataParser::parseGracenoteResponse(input);
        JSONRecievedDataParser::parseUserCloudMedia(input);
        EXPECT_GE(sonarbox.syncMilliSeconds(), 0);
        for (const AudioPtr &track : sonarbox.cloudLibraryTracks()) {
            ASSERT_TRUE(track);
            EXPECT_FALSE(track->markedForDeletion.value_or(true));
        }
    }
    // Out-of-range numbers become absent, not garbage.
    JSONRecievedDataParser::parseUserCloudMedia(R"({"milliseconds":-5e30,"updatedUserMedias":[
        {"mediaType":"AUDIO","deleted":0,"name":"x","sequenceInAlbum":1e300,"id":1e300}]})");
    EXPECT_EQ(sonarbox.syncMilliSeconds(), 0);
    ASSERT_EQ(sonarbox.cloudLibraryTracks().size(), 1);
    EXPECT_FALSE(sonarbox.cloudLibraryTracks().first()->sequence);
}
