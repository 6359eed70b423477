#include "service/JSONRecievedDataParser.h"
#include "service/JSONDictionary.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

using Listing = JSONRecievedDataParser::CloudListing;

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

TEST(JSONRecievedDataParser, EnvelopeGivesTheStatus) {
    QString status = QStringLiteral("left over");
    EXPECT_TRUE(
        JSONRecievedDataParser::parseJSONResponse(R"({"responseStatus":"SUCCESS"})", &status));
    EXPECT_EQ(status, QStringLiteral("SUCCESS"));

    EXPECT_FALSE(JSONRecievedDataParser::parseJSONResponse(R"({"responseStatus":""})", &status));
    EXPECT_EQ(status, QStringLiteral("responseStatus is empty"));

    // Unparseable bodies and wrong types give no status and answer YES.
    for (const QByteArray &body : {QByteArray("<html>"), QByteArray(R"({"responseStatus":5})"),
                                   QByteArray(R"({"other":"x"})"), QByteArray()}) {
        status = QStringLiteral("left over");
        EXPECT_TRUE(JSONRecievedDataParser::parseJSONResponse(body, &status)) << body.toStdString();
        EXPECT_TRUE(status.isEmpty()) << body.toStdString();
    }

    // The caller may not want the text; the answer is the same.
    EXPECT_FALSE(JSONRecievedDataParser::parseJSONResponse(R"({"responseStatus":""})", nullptr));
    EXPECT_TRUE(JSONRecievedDataParser::parseJSONResponse(
        QJsonDocument::fromJson(R"({"responseStatus":"OK"})"), nullptr));
}

TEST(JSONRecievedDataParser, ListingBuildsDetachedAudioTracks) {
    const Listing listing = JSONRecievedDataParser::parseUserCloudMedia(R"({
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
    EXPECT_EQ(listing.milliseconds, 1700000000999);
    const QList<AudioPtr> &tracks = listing.tracks;
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

    // The already parsed document gives the same listing.
    const Listing again = JSONRecievedDataParser::parseUserCloudMedia(QJsonDocument::fromJson(
        R"({"milliseconds":12,"updatedUserMedias":[{"mediaType":"AUDIO","deleted":0,"id":3}]})"));
    EXPECT_EQ(again.milliseconds, 12);
    ASSERT_EQ(again.tracks.size(), 1);
    EXPECT_EQ(again.tracks.first()->userMediaID, QStringLiteral("3"));
}

TEST(JSONRecievedDataParser, ListingWithNothingToKeepStillMovesThePosition) {
    const Listing empty =
        JSONRecievedDataParser::parseUserCloudMedia(R"({"responseStatus":"OK","milliseconds":55,
        "updatedUserMedias":[{"mediaType":"AUDIO","deleted":1,"name":"a.mp3"},
                             {"mediaType":"PHOTO","deleted":0,"name":"b.jpg"}]})");
    EXPECT_TRUE(empty.tracks.isEmpty());
    EXPECT_EQ(empty.milliseconds, 55);

    // A listing without a position starts the next one from the beginning.
    EXPECT_EQ(
        JSONRecievedDataParser::parseUserCloudMedia(R"({"responseStatus":"OK"})").milliseconds, 0);
}

TEST(JSONRecievedDataParser, RetrieveValueTreatsNullAsAbsent) {
    const QJsonObject o = QJsonDocument::fromJson(R"({"a":null,"b":0,"c":""})").object();
    EXPECT_FALSE(retrieveValue(o, QStringLiteral("a")));
    EXPECT_TRUE(containsKey(o, QStringLiteral("a")));
    EXPECT_EQ(retrieveValue(o, QStringLiteral("b")), QJsonValue(0));
    EXPECT_EQ(retrieveValue(o, QStringLiteral("c")), QJsonValue(QString()));
    EXPECT_FALSE(retrieveValue(o, QStringLiteral("d")));
    EXPECT_FALSE(containsKey(o, QStringLiteral("d")));
}

TEST(JSONRecievedDataParser, SignUpReplies) {
    std::optional<QString> status;
    // An acceptance clears the status text.
    EXPECT_TRUE(JSONRecievedDataParser::parseJSONResponseFromSignUp(
        R"({"responseStatus":"SUCCESS"})", &status));
    EXPECT_EQ(status, QString());
    EXPECT_FALSE(
        JSONRecievedDataParser::parseJSONResponseFromSignUp(R"({"responseStatus":""})", &status));
    EXPECT_EQ(status, QStringLiteral("responseStatus is empty"));

    // A refusal gives the localised reason, or the key when it has no text.
    EXPECT_FALSE(JSONRecievedDataParser::parseJSONResponseFromSignUp(
        R"({"responseStatus":"FAILED","responseText":"invalid_email_message"})", &status));
    EXPECT_EQ(status, QStringLiteral("Please enter a valid e-mail address."));
    EXPECT_FALSE(JSONRecievedDataParser::parseJSONResponseFromSignUp(
        R"({"responseStatus":"FAILED_USER_EXISTS","responseText":"user_exists_no_text"})",
        &status));
    EXPECT_EQ(status, QStringLiteral("user_exists_no_text"));
    EXPECT_FALSE(JSONRecievedDataParser::parseJSONResponseFromSignUp(
        R"({"responseStatus":"FAILED"})", &status));
    EXPECT_EQ(status, QString());

    // A reply that does not parse lets the sign-in that follows decide: it
    // leaves the status texts alone.
    status.reset();
    EXPECT_TRUE(JSONRecievedDataParser::parseJSONResponseFromSignUp("<html>", &status));
    EXPECT_FALSE(status);
    EXPECT_FALSE(JSONRecievedDataParser::parseJSONResponseFromSignUp(
        R"({"responseStatus":"FAILED"})", nullptr));
}

TEST(JSONRecievedDataParser, MatchRepliesAndRecognitionDocuments) {
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

TEST(JSONRecievedDataParser, HostileInputNeverCrashesOrGivesNonsense) {
    for (const QByteArray &input : hostileInputs()) {
        QString status;
        const bool answered = JSONRecievedDataParser::parseJSONResponse(input, &status);
        EXPECT_TRUE(status.isEmpty() || status == QLatin1String("responseStatus is empty"));
        EXPECT_EQ(answered, status.isEmpty());
        std::optional<QString> signUpStatus;
        if (JSONRecievedDataParser::parseJSONResponseFromSignUp(input, &signUpStatus)) {
            EXPECT_TRUE(!signUpStatus || signUpStatus->isEmpty());
        }
        JSONRecievedDataParser::parseCreateMediaRequest(input);
        JSONRecievedDataParser::parseGracenoteResponse(input);
        const Listing listing = JSONRecievedDataParser::parseUserCloudMedia(input);
        EXPECT_GE(listing.milliseconds, 0);
        for (const AudioPtr &track : listing.tracks) {
            ASSERT_TRUE(track);
            EXPECT_FALSE(track->markedForDeletion.value_or(true));
        }
    }
    // Out-of-range numbers become absent, not garbage.
    const Listing listing =
        JSONRecievedDataParser::parseUserCloudMedia(R"({"milliseconds":-5e30,"updatedUserMedias":[
        {"mediaType":"AUDIO","deleted":0,"name":"x","sequenceInAlbum":1e300,"id":1e300}]})");
    EXPECT_EQ(listing.milliseconds, 0);
    ASSERT_EQ(listing.tracks.size(), 1);
    EXPECT_FALSE(listing.tracks.first()->sequence);
}

TEST(JSONRecievedDataParser, TheListingReadAsItIsParsedIsTheListingOfTheDocument) {
    QList<QByteArray> inputs = hostileInputs();
    inputs
        << R"({"responseStatus":"OK","milliseconds":1700000000999,"updatedUserMedias":[
                 {"mediaType":"AUDIO","deleted":0,"name":"a.m4a","songName":"A","albumName":"B",
                  "artistName":"C","checksum":"d","id":4711,"sequenceInAlbum":"7",
                  "fingerprintId":"GN-1","downloadable":1,"extra":{"nested":[1,{"x":null}]}},
                 {"mediaType":"AUDIO","deleted":0,"name":"b.mp3","id":"18446744073709551615"},
                 {"mediaType":"AUDIO","deleted":0,"name":"c.mp3","id":18446744073709551615},
                 "stray", 5, null, [{"mediaType":"AUDIO","id":1}]],
                 "after":{"updatedUserMedias":[{"mediaType":"AUDIO","id":9}]}})"
        << R"({"responseStatus":"","updatedUserMedias":[{"mediaType":"AUDIO","id":1}]})"
        << R"({"responseStatus":"OK","updatedUserMedias":[{"mediaType":"AUDIO","id":1}]} x)"
        << R"({"responseStatus":"OK","updatedUserMedias":[{"mediaType":"AUDIO","name":"\u00e9\ud83c\udfb5.mp3","id":2}]})"
        << "{\"responseStatus\":\"OK\",\"updatedUserMedias\":[{\"mediaType\":\"AUDIO\","
           "\"name\":\"bad\xff.mp3\",\"id\":2}]}";
    const auto lines = [](const QList<AudioPtr> &tracks) {
        QStringList out;
        for (const AudioPtr &t : tracks)
            out << QStringList{t->name.value_or("-"),
                               t->songName.value_or("-"),
                               t->album.value_or("-"),
                               t->artist.value_or("-"),
                               t->checksum.value_or("-"),
                               t->userMediaID.value_or("-"),
                               QString::number(t->sequence.value_or(-1)),
                               t->fingerPrintID.value_or("-"),
                               QString::number(int(t->downloadable.value_or(false)))}
                       .join('|');
        return out;
    };
    for (const QByteArray &input : inputs) {
        const QJsonDocument document = QJsonDocument::fromJson(input);
        QString status;
        const bool answered = JSONRecievedDataParser::parseJSONResponse(document, &status);
        const Listing expected = JSONRecievedDataParser::parseUserCloudMedia(document);

        const JSONRecievedDataParser::ListingReply read =
            JSONRecievedDataParser::parseListingReply(input);
        const std::string shown = input.left(120).toStdString();
        EXPECT_EQ(read.answered, answered) << shown;
        EXPECT_EQ(read.status, status) << shown;
        EXPECT_EQ(read.listing.milliseconds, expected.milliseconds) << shown;
        EXPECT_EQ(lines(read.listing.tracks), lines(expected.tracks)) << shown;
    }
}
