// Signing up, signing in and listing the cloud library as the accounts layer
// does, against the reference server started on 127.0.0.1 with a free port
// and a data folder of its own.
#include "ServiceTestSupport.h"

#include "CloudProcess.h"
#include "accounts/SignUpFlow.h"
#include "engine/Sonarbox.h"

namespace {

class CloudSignInTest : public ServiceFixture {
protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
        ASSERT_TRUE(cloud.start());
        useGateway(cloud.baseUrl());
    }

    static UserPtr user(const QString &password = QStringLiteral("s3cret!")) {
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

TEST_F(CloudSignInTest, SignInThenListTheCloudLibrary) {
    Sonarbox &sonarbox = Sonarbox::instance();
    // Without a session the listing is refused and the sync is stopped.
    EXPECT_FALSE(listCloudLibrary());
    EXPECT_TRUE(sonarbox.flow_stopProcesses);

    const UserPtr ada = user();
    ASSERT_TRUE(Sonarbox::instance().signIn(ada).signedIn());
    EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("SUCCESS"));
    ASSERT_TRUE(sonarbox.jSessionID());
    EXPECT_TRUE(sonarbox.jSessionID()->startsWith(QStringLiteral("JSESSIONID=")));
    EXPECT_EQ(ada->firstName, QStringLiteral("Ada"));

    sonarbox.setLoggedUser(ada);
    const SyncRunPtr run = sonarbox.newRun();
    EXPECT_TRUE(listCloudLibrary(*run));
    EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("OK"));
    EXPECT_TRUE(run->cloudLibraryTracks().isEmpty());
}

TEST_F(CloudSignInTest, WrongPasswordIsRefused) {
    Sonarbox &sonarbox = Sonarbox::instance();
    EXPECT_FALSE(Sonarbox::instance().signIn(user(QStringLiteral("wrong"))).signedIn());
    EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("FAILED"));
    EXPECT_EQ(sonarbox.syncMessage(),
              QStringLiteral("The e-mail address or password is not correct. Please try again."));
    EXPECT_FALSE(sonarbox.jSessionID());
}

TEST_F(CloudSignInTest, SignUpThenSignIn) {
    Sonarbox &sonarbox = Sonarbox::instance();
    auto newcomer = std::make_shared<User>();
    newcomer->username = QStringLiteral("grace@example.com");
    newcomer->password = QStringLiteral("an0ther");
    newcomer->firstName = QStringLiteral("Grace");
    newcomer->lastName = QStringLiteral("Hopper");
    newcomer->deviceId = sonarbox.deviceID();

    sonarbox.setSyncError(QStringLiteral("left over"));
    EXPECT_TRUE(Sonarbox::instance().registerUser(newcomer));
    EXPECT_EQ(sonarbox.syncStatus(), QString());
    EXPECT_EQ(sonarbox.syncError(), QString()) << "an answered sign-up clears the status texts";

    // The same address again is refused with the service's reason.
    EXPECT_FALSE(Sonarbox::instance().registerUser(newcomer));
    EXPECT_EQ(sonarbox.syncStatus(),
              QStringLiteral(
                  "An account with this e-mail address already exists. Please sign in instead."));

    EXPECT_TRUE(Sonarbox::instance().signIn(newcomer).signedIn());
    EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("SUCCESS"));
}
