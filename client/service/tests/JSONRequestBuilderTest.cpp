#include "GatewayFixture.h"

#include "service/JSONRequestBuilder.h"
#include "settings/Utility.h"

#include <QJsonDocument>
#include <QJsonObject>

using scripted::Reply;
using scripted::Request;

namespace {

class JSONRequestBuilderTest : public GatewayFixture {};

QJsonObject object(const QByteArray &body) {
    return QJsonDocument::fromJson(body).object();
}

User emailUser() {
    User user;
    user.id = QStringLiteral("1");
    user.username = QStringLiteral("ada@example.com");
    user.password = QStringLiteral("s3cr3t-pässword");
    user.deviceId = QStringLiteral("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
    user.firstName = QStringLiteral("Ada");
    user.lastName = QStringLiteral("Byron");
    return user;
}

} // namespace

TEST_F(JSONRequestBuilderTest, EmailLoginIsCompactAndSignedWithAFreshToken) {
    server->setHandler(withTokens({}));
    const User user = emailUser();
    const auto first = JSONRequestBuilder::loginRequest(client, user);
    const auto second = JSONRequestBuilder::loginRequest(client, user);
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(first->contains('\n'));
    EXPECT_FALSE(first->contains(": "));

    const QJsonObject login = object(*first).value(QStringLiteral("loginDesktop")).toObject();
    EXPECT_EQ(login.size(), 6);
    EXPECT_EQ(login.value(QStringLiteral("username")), QStringLiteral("ada@example.com"));
    EXPECT_EQ(login.value(QStringLiteral("password")), QStringLiteral("s3cr3t-pässword"));
    EXPECT_EQ(login.value(QStringLiteral("hashedPassword")), QStringLiteral(""));
    EXPECT_EQ(login.value(QStringLiteral("appId")), QStringLiteral("desktop"));
    EXPECT_EQ(login.value(QStringLiteral("deviceId")), *user.deviceId);
    EXPECT_EQ(login.value(QStringLiteral("signature")),
              Utility::getMD5FromString(*user.username + *user.password + *user.deviceId +
                                        QStringLiteral("token-1")));
    const QString secondSignature = object(*second)
                                        .value(QStringLiteral("loginDesktop"))
                                        .toObject()
                                        .value(QStringLiteral("signature"))
                                        .toString();
    EXPECT_EQ(secondSignature,
              Utility::getMD5FromString(*user.username + *user.password + *user.deviceId +
                                        QStringLiteral("token-2")));
    EXPECT_NE(secondSignature, login.value(QStringLiteral("signature")).toString());

    // Each signature fetched its own token with the indented token body.
    const QList<Request> requests = server->requests();
    ASSERT_EQ(requests.size(), 2);
    EXPECT_TRUE(requests.first().body.contains('\n'));
    EXPECT_EQ(object(requests.first().body), QJsonObject({{"getToken", ""}}));
    EXPECT_FALSE(requests.first().header("Cookie"));
}

TEST_F(JSONRequestBuilderTest, LoginWithoutItsValuesHasNoBody) {
    User user = emailUser();
    user.password.reset();
    EXPECT_FALSE(JSONRequestBuilder::loginRequest(client, user));
    EXPECT_TRUE(server->requests().isEmpty());
}

TEST_F(JSONRequestBuilderTest, FacebookLoginNeedsNoToken) {
    User user;
    user.facebookToken = QStringLiteral("EAAB-facebook-token");
    user.deviceId = QStringLiteral("DEVICE");
    const auto body = JSONRequestBuilder::loginRequest(client, user);
    ASSERT_TRUE(body);
    EXPECT_FALSE(body->contains('\n'));
    EXPECT_EQ(object(*body), QJsonObject({{"loginDesktopThroughFacebook",
                                           QJsonObject({{"accessToken", "EAAB-facebook-token"},
                                                        {"referrer", ""},
                                                        {"inviteFriendKey", ""},
                                                        {"deviceId", "DEVICE"}})}}));
    EXPECT_TRUE(server->requests().isEmpty());
}

TEST_F(JSONRequestBuilderTest, RegistrationIsIndentedAndSigned) {
    server->setHandler(withTokens({}));
    const User user = emailUser();
    const auto body = JSONRequestBuilder::buildRegisterUserRequest(client, user);
    ASSERT_TRUE(body);
    EXPECT_TRUE(body->contains('\n'));
    const QJsonObject reg =
        object(*body).value(QStringLiteral("registerWithErrorCodes")).toObject();
    EXPECT_EQ(reg.value(QStringLiteral("firstName")), QStringLiteral("Ada"));
    EXPECT_EQ(reg.value(QStringLiteral("lastName")), QStringLiteral("Byron"));
    EXPECT_EQ(reg.value(QStringLiteral("username")), QStringLiteral("ada@example.com"));
    EXPECT_EQ(reg.value(QStringLiteral("password")), *user.password);
    EXPECT_EQ(reg.value(QStringLiteral("passwordConfirmation")), *user.password);
    EXPECT_EQ(reg.value(QStringLiteral("deviceId")), *user.deviceId);
    EXPECT_TRUE(reg.value(QStringLiteral("REGISTERED_FROM_DESKTOP")).isDouble());
    EXPECT_EQ(reg.value(QStringLiteral("REGISTERED_FROM_DESKTOP")).toInt(), 1);
    EXPECT_EQ(reg.value(QStringLiteral("signature")),
              Utility::getMD5FromString(*user.username + *user.password + *user.deviceId +
                                        QStringLiteral("token-1")));
}

TEST_F(JSONRequestBuilderTest, TokenWithoutQuotesOrWithoutServiceIsNoToken) {
    server->setHandler([](const Request &) { return Reply::json("token-without-quotes"); });
    EXPECT_EQ(JSONRequestBuilder::getUserToken(client), QStringLiteral("NO TOKEN!!!"));
    server->setHandler([](const Request &) { return Reply::json("\"abc\" trailing \"x\""); });
    EXPECT_EQ(JSONRequestBuilder::getUserToken(client), QStringLiteral("abc"));

    // Without a service the signature is still made, over the placeholder.
    useGateway(QStringLiteral("http://127.0.0.1:%1").arg(scripted::closedPort()));
    const User user = emailUser();
    EXPECT_EQ(JSONRequestBuilder::getUserSignature(client, user),
              Utility::getMD5FromString(*user.username + *user.password + *user.deviceId +
                                        QStringLiteral("NO TOKEN!!!")));
}

TEST_F(JSONRequestBuilderTest, SmallBodies) {
    const QByteArray status = JSONRequestBuilder::buildStatusObject(QStringLiteral("MATCHING"), 12);
    EXPECT_TRUE(status.contains('\n'));
    EXPECT_EQ(object(status),
              QJsonObject({{"updateDeviceServiceStatus",
                            QJsonObject({{"status", "MATCHING"}, {"tracksFound", 12}})}}));

    const QByteArray listing = JSONRequestBuilder::buildGetUserMediaRequest(1700000000123);
    EXPECT_FALSE(listing.contains('\n'));
    EXPECT_EQ(object(listing).value(QStringLiteral("milliseconds")).toInteger(), 1700000000123);
    EXPECT_EQ(object(listing).value(QStringLiteral("version")), QStringLiteral("1.0"));
    EXPECT_EQ(JSONRequestBuilder::buildGetUserMediaRequest(0),
              R"({"milliseconds":0,"version":"1.0"})");

    const QByteArray handle =
        JSONRequestBuilder::buildNewUserHandleForGracenote(QStringLiteral("h"));
    EXPECT_TRUE(handle.contains('\n'));
    EXPECT_EQ(object(handle), QJsonObject({{"value", "h"}}));
}

TEST_F(JSONRequestBuilderTest, CatalogueMatchBody) {
    const QJsonArray results = QJsonDocument::fromJson(R"([
        {"input":"/music/a.mp3","hash":"aa","graceNoteTrackInfo":[]},
        {"input":"/music/b.mp3","hash":"bb","graceNoteTrackInfo":[{"trackId":"T1","title":"B"},{"trackId":"T2"}]},
        {"input":"/music/b.mp3","hash":"bb","graceNoteTrackInfo":[{"trackId":"later"}]},
        "not an object", {"input":17}
    ])")
                                   .array();
    Audio track;
    track.checksum = QStringLiteral("bb");
    track.fileURL = QStringLiteral("/music/b.mp3");
    track.fingerPrintID = QStringLiteral("T1");
    QByteArray body =
        JSONRequestBuilder::buildMediaFromCatalogByChecksumOrFingerprint(track, results);
    EXPECT_TRUE(body.contains('\n'));
    EXPECT_EQ(object(body), QJsonObject({{"score", 1},
                                         {"provider", "GRACENOTE"},
                                         {"checksum", "bb"},
                                         {"fingerprintId", "T1"},
                                         {"graceNoteTrackInfo",
                                          QJsonObject({{"trackId", "T1"}, {"title", "B"}})}}));

    // No identifier, an empty result list, an unknown path: members left out.
    track.fingerPrintID = QStringLiteral("-1");
    track.fileURL = QStringLiteral("/music/a.mp3");
    body = JSONRequestBuilder::buildMediaFromCatalogByChecksumOrFingerprint(track, results);
    EXPECT_EQ(object(body),
              QJsonObject({{"score", 1}, {"provider", "GRACENOTE"}, {"checksum", "bb"}}));
    track.fileURL = QStringLiteral("/music/unknown.mp3");
    body = JSONRequestBuilder::buildMediaFromCatalogByChecksumOrFingerprint(track, results);
    EXPECT_FALSE(object(body).contains(QStringLiteral("graceNoteTrackInfo")));
}
