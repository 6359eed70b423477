#include "GatewayFixture.h"

#include "service/CommonRequest.h"
#include "service/JSONRequestBuilder.h"

#include <QJsonDocument>
#include <QJsonObject>

using scripted::Reply;
using scripted::Request;

namespace {
class LogMaskingTest : public GatewayFixture {};
} // namespace

TEST_F(LogMaskingTest, NoSecretReachesTheLog) {
    const QString password = QStringLiteral("Pa55-secret-word");
    const QString facebookToken = QStringLiteral("EAAB-fb-secret");
    server->setHandler(withTokens([](const Request &) {
        Reply reply = Reply::json(R"({"responseStatus":"SUCCESS","firstName":"Ada"})");
        reply.headers.append(
            qMakePair(QByteArray("Set-Cookie"), QByteArray("JSESSIONID=sess-secret-42; Path=/")));
        return reply;
    }));

    LogCapture log;
    User user;
    user.username = QStringLiteral("ada@example.com");
    user.password = password;
    user.deviceId = QStringLiteral("DEVICE-1");
    CommonRequest login(client);
    login.connect(RunContext{std::make_shared<User>(user), std::nullopt, *user.deviceId},
                  JSONRequestBuilder::loginRequest(client, user),
                  QStringLiteral("userLoginProcess"));
    ASSERT_TRUE(login.receivedSession());
    CommonRequest registration(client);
    registration.connect({}, JSONRequestBuilder::buildRegisterUserRequest(client, user),
                         QStringLiteral("signUpUserProcess"));
    // A later request carries the session cookie.
    const RunContext session{std::make_shared<User>(user), login.receivedSession(), *user.deviceId};
    CommonRequest listing(client);
    listing.connect(session, JSONRequestBuilder::buildGetUserMediaRequest(0),
                    QStringLiteral("getUserContentProcess"));
    ASSERT_EQ(server->requests().last().header("Cookie"), "JSESSIONID=sess-secret-42; Path=/");
    User facebook;
    facebook.facebookToken = facebookToken;
    facebook.deviceId = QStringLiteral("DEVICE-1");
    CommonRequest fbLogin(client);
    fbLogin.connect({}, JSONRequestBuilder::loginRequest(client, facebook),
                    QStringLiteral("userLoginProcess"));

    CommonRequest handle(client);
    handle.connect(session,
                   JSONRequestBuilder::buildNewUserHandleForGracenote(
                       QStringLiteral("recognition-user-secret")),
                   QStringLiteral("setUserGNHandle"));

    QStringList secrets = {password, facebookToken, QStringLiteral("sess-secret-42"),
                           QStringLiteral("recognition-user-secret")};
    for (const Request &request : server->requests()) {
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        for (const QString &operation :
             {QStringLiteral("loginDesktop"), QStringLiteral("registerWithErrorCodes")}) {
            const QString signature =
                body.value(operation).toObject().value(QStringLiteral("signature")).toString();
            if (!signature.isEmpty())
                secrets << signature;
        }
    }
    for (int i = 1; i <= 2; ++i)
        secrets << QStringLiteral("token-%1").arg(i);
    ASSERT_GE(secrets.size(), 7) << "both signatures were seen";

    const QStringList lines = log.lines();
    ASSERT_FALSE(lines.isEmpty());
    for (const QString &line : lines) {
        for (const QString &secret : secrets)
            EXPECT_FALSE(line.contains(secret)) << line.toStdString();
    }
    // The lines themselves are still there.
    EXPECT_TRUE(log.contains(QStringLiteral("UNHASHED SIGNATURE: Username:ada@example.com")));
    EXPECT_TRUE(log.contains(QStringLiteral("REQUEST BODY: ")));
    EXPECT_TRUE(log.contains(QStringLiteral("REQUEST HEADER: ")));
    EXPECT_TRUE(log.contains(QStringLiteral("REQUEST RETURN #1: 200")));
}
