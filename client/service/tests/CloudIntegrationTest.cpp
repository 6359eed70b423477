// The service client against the reference server, started on 127.0.0.1 with
// a free port and a data folder of its own.
#include "GatewayFixture.h"

#include "CloudProcess.h"
#include "service/CommonRequest.h"
#include "service/JSONRecievedDataParser.h"
#include "service/JSONRequestBuilder.h"

namespace {

class CloudIntegrationTest : public GatewayFixture {
protected:
    void SetUp() override {
        GatewayFixture::SetUp();
        ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
        ASSERT_TRUE(cloud.start());
        useGateway(cloud.baseUrl());
    }

    static UserPtr user(const QString &password = QStringLiteral("s3cret!")) {
        auto u = std::make_shared<User>();
        u->id = QStringLiteral("1");
        u->username = QStringLiteral("ada@example.com");
        u->password = password;
        u->deviceId = QStringLiteral("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
        return u;
    }

    // One exchange for `context`; answers the reply's status text (nothing
    // when the exchange failed) and, for a sign-in, the session it received.
    std::optional<QString> exchange(const RunContext &context, const QByteArray &body,
                                    const QString &process,
                                    std::optional<QString> *session = nullptr,
                                    QByteArray *reply = nullptr) {
        CommonRequest request(client);
        const std::optional<QByteArray> answer = request.connect(context, body, process);
        if (session)
            *session = request.receivedSession();
        if (request.error() || !answer)
            return std::nullopt;
        if (reply)
            *reply = *answer;
        QString status;
        JSONRecievedDataParser::parseJSONResponse(*answer, &status);
        return status;
    }

    RunContext signIn(const UserPtr &account, QString *status = nullptr) {
        std::optional<QString> session;
        const std::optional<QString> text =
            exchange(RunContext{account, std::nullopt, *account->deviceId},
                     JSONRequestBuilder::loginRequest(client, *account).value_or(QByteArray()),
                     QStringLiteral("userLoginProcess"), &session);
        if (status)
            *status = text.value_or(QStringLiteral("(no reply)"));
        return RunContext{account, session, *account->deviceId};
    }

    CloudProcess cloud;
};

} // namespace

TEST_F(CloudIntegrationTest, SignInThenListTheCloudLibraryWithinTheSession) {
    const UserPtr ada = user();
    // Without a session the listing is refused.
    EXPECT_EQ(exchange(RunContext{ada, std::nullopt, *ada->deviceId},
                       JSONRequestBuilder::buildGetUserMediaRequest(0),
                       QStringLiteral("getUserContentProcess")),
              QStringLiteral("FAILED"));

    QString status;
    const RunContext context = signIn(ada, &status);
    EXPECT_EQ(status, QStringLiteral("SUCCESS"));
    ASSERT_TRUE(context.session);
    EXPECT_TRUE(context.session->startsWith(QStringLiteral("JSESSIONID=")));
    EXPECT_EQ(ada->firstName, QStringLiteral("Ada"));

    QByteArray listing;
    EXPECT_EQ(exchange(context, JSONRequestBuilder::buildGetUserMediaRequest(0),
                       QStringLiteral("getUserContentProcess"), nullptr, &listing),
              QStringLiteral("OK"));
    EXPECT_TRUE(JSONRecievedDataParser::parseUserCloudMedia(listing).tracks.isEmpty());

    // The recognition handle is accepted within the session.
    EXPECT_EQ(exchange(context,
                       JSONRequestBuilder::buildNewUserHandleForGracenote(
                           QStringLiteral("gn-user-handle")),
                       QStringLiteral("setUserGNHandle")),
              QStringLiteral("SUCCESS"));
}

TEST_F(CloudIntegrationTest, WrongPasswordIsRefusedWithoutASession) {
    QString status;
    const RunContext context = signIn(user(QStringLiteral("wrong")), &status);
    EXPECT_EQ(status, QStringLiteral("FAILED"));
    EXPECT_FALSE(context.session);
}

TEST_F(CloudIntegrationTest, SignUpThenSignIn) {
    auto newcomer = std::make_shared<User>();
    newcomer->username = QStringLiteral("grace@example.com");
    newcomer->password = QStringLiteral("an0ther");
    newcomer->firstName = QStringLiteral("Grace");
    newcomer->lastName = QStringLiteral("Hopper");
    newcomer->deviceId = QStringLiteral("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
    const RunContext signedOut{newcomer, std::nullopt, *newcomer->deviceId};

    CommonRequest signUp(client);
    const auto reply =
        signUp.connect(signedOut, JSONRequestBuilder::buildRegisterUserRequest(client, *newcomer),
                       QStringLiteral("signUpUserProcess"));
    ASSERT_TRUE(reply);
    std::optional<QString> status;
    EXPECT_TRUE(JSONRecievedDataParser::parseJSONResponseFromSignUp(*reply, &status));
    EXPECT_EQ(status, QString());

    // The same address again is refused with the service's reason.
    CommonRequest again(client);
    const auto refused =
        again.connect(signedOut, JSONRequestBuilder::buildRegisterUserRequest(client, *newcomer),
                      QStringLiteral("signUpUserProcess"));
    ASSERT_TRUE(refused);
    EXPECT_FALSE(JSONRecievedDataParser::parseJSONResponseFromSignUp(*refused, &status));
    EXPECT_EQ(status,
              QStringLiteral(
                  "An account with this e-mail address already exists. Please sign in instead."));

    QString signInStatus;
    EXPECT_TRUE(signIn(newcomer, &signInStatus).session);
    EXPECT_EQ(signInStatus, QStringLiteral("SUCCESS"));
}
