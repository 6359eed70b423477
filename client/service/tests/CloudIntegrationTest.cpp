// The service client against the reference server, started on 127.0.0.1 with
// a free port and a data folder of its own.
#include "ServiceTestSupport.h"

#include "CloudProcess.h"
#include "accounts/Synchronize.h"
#include "service/CommonRequest.h"
#include "service/JSONRecievedDataParser.h"
#include "service/JSONRequestBuilder.h"
#include "settings/Localization.h"
#include "sync/Sonarbox.h"

namespace {

class CloudIntegrationTest : public ServiceFixture {
protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
        ASSERT_TRUE(cloud.start());
        useGateway(cloud.baseUrl());
    }

    UserPtr user(const QString &password = QStringLiteral("s3cret!")) {
        auto u = std::make_shared<User>();
        u->id = QStringLiteral("1");
        u->username = QStringLiteral("ada@example.com");
        u->password = password;
        u->deviceId = Sonarbox::instance().deviceID();
        return u;
    }

    CloudProcess cloud;
};

} // namespace

TEST_F(CloudIntegrationTest, SignInThenListTheCloudLibrary) {
    Sonarbox &sonarbox = Sonarbox::instance();
    // Without a session the listing is refused and the sync is stopped.
    EXPECT_FALSE(Synchronize::getUserMediaFromCloud());
    EXPECT_TRUE(sonarbox.flow_stopProcesses);

    const UserPtr ada = user();
    ASSERT_TRUE(Synchronize::login(ada));
    EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("SUCCESS"));
    ASSERT_TRUE(sonarbox.jSessionID());
    EXPECT_TRUE(sonarbox.jSessionID()->startsWith(QStringLiteral("JSESSIONID=")));
    EXPECT_EQ(ada->firstName, QStringLiteral("Ada"));

    sonarbox.setLoggedUser(ada);
    EXPECT_TRUE(Synchronize::getUserMediaFromCloud());
    EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("OK"));
    EXPECT_TRUE(sonarbox.cloudLibraryTracks().isEmpty());

    // The recognition handle is accepted within the session.
    CommonRequest handle;
    const auto reply = handle.connect(
        ada, JSONRequestBuilder::buildNewUserHandleForGracenote(QStringLiteral("gn-user-handle")),
        QStringLiteral("setUserGNHandle"));
    EXPECT_FALSE(handle.error());
    ASSERT_TRUE(reply);
    EXPECT_TRUE(JSONRecievedDataParser::parseJSONResponse(*reply));
    EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("SUCCESS"));
}

TEST_F(CloudIntegrationTest, WrongPasswordIsRefused) {
    EXPECT_FALSE(Synchronize::login(user(QStringLiteral("wrong"))));
    EXPECT_EQ(Sonarbox::instance().syncStatus(), QStringLiteral("FAILED"));
    EXPECT_EQ(Sonarbox::instance().syncMessage(),
              Localization::localizedString(QStringLiteral("AuthenticationError")));
    EXPECT_FALSE(Sonarbox::instance().jSessionID());
}

TEST_F(CloudIntegrationTest, SignUpThenSignIn) {
    auto newcomer = std::make_shared<User>();
    newcomer->username = QStringLiteral("grace@example.com");
    newcomer->password = QStringLiteral("an0ther");
    newcomer->firstName = QStringLiteral("Grace");
    newcomer->lastName = QStringLiteral("Hopper");
    newcomer->deviceId = Sonarbox::instance().deviceID();

    CommonRequest signUp;
    const auto reply =
        signUp.connect(newcomer, JSONRequestBuilder::buildRegisterUserRequest(*newcomer),
                       QStringLiteral("signUpUserProcess"));
    ASSERT_TRUE(reply);
    EXPECT_TRUE(JSONRecievedDataParser::parseJSONResponseFromSignUp(*reply));

    // The same address again is refused with the service's reason.
    CommonRequest again;
    const auto refused =
        again.connect(newcomer, JSONRequestBuilder::buildRegisterUserRequest(*newcomer),
                      QStringLiteral("signUpUserProcess"));
    ASSERT_TRUE(refused);
    EXPECT_FALSE(JSONRecievedDataParser::parseJSONResponseFromSignUp(*refused));
    EXPECT_EQ(Sonarbox::instance().syncStatus(),
              Localization::localizedString(QStringLiteral("user_exists_message")));

    EXPECT_TRUE(Synchronize::login(newcomer));
    EXPECT_EQ(Sonarbox::instance().syncStatus(), QStringLiteral("SUCCESS"));
}
