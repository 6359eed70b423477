// The usage events of signing in and of the first run, against the
// reference server's collector.
#include "CloudProcess.h"
#include "LogCapture.h"
#include "TestEnvironment.h"
#include "engine/LoginPortal.h"
#include "engine/Sonarbox.h"
#include "settings/DeploymentConfig.h"
#include "settings/GAUtility.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/PreferenceKeys.h"
#include "store/StoreSetup.h"

#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class SignInAnalyticsTest : public ::testing::Test {
protected:
    void SetUp() override {
        StoreSetup::setStoreFolder(storeDir.path());
        Sonarbox::instance().reinitialize();
        NSDefaultsUtility::standard().remove(PreferenceKeys::ShareUsageStatistics);
        NSDefaultsUtility::standard().remove(PreferenceKeys::Version);
    }
    void TearDown() override {
        DeploymentConfig::resetToDefault();
        GAUtility::reinitialize();
        StoreSetup::setStoreFolder({});
        Sonarbox::instance().reinitialize();
    }

    // A deployment whose service and collector are the reference server's,
    // then a new analytics sender for it (as at program start).
    void deploy(const QString &baseUrl) {
        const QString path = configDir.filePath(QStringLiteral("sonarbox.ini"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[service]\ngatewayBaseUrl=" + baseUrl.toUtf8() +
                   "\nwebSiteUrl=" + baseUrl.toUtf8() +
                   "\n[recognition]\nclientId=1000001\nclientTag=0123456789ABCDEF0123456789ABCDEF\n"
                   "[facebook]\nappId=100000000000001\n"
                   "[analytics]\npropertyId=UA-12345678-9\ncollectorUrl=" +
                   baseUrl.toUtf8() + "/collect\n[app]\nTrackWithGoogleAnalytics=true\n");
        file.close();
        ASSERT_TRUE(DeploymentConfig::load(path));
        GAUtility::reinitialize();
    }

    static QList<QJsonObject> collectedAtLeast(CloudProcess &cloud, int count) {
        QList<QJsonObject> events;
        TestEnvironment::waitUntil(
            [&] {
                events = cloud.collectedEvents();
                return events.size() >= count;
            },
            8000);
        return events;
    }

    // The event a Registration operation must produce.
    static QJsonObject registration(const QString &action) {
        return {{"v", "1"},
                {"tid", "UA-12345678-9"},
                {"cid", Sonarbox::instance().deviceID()},
                {"t", "event"},
                {"ec", "Registration"},
                {"ea", action},
                {"el", "AppleStore"},
                {"ev", "1"},
                {"dh", "127.0.0.1"}};
    }

    static bool signIn(const QString &password) {
        auto user = std::make_shared<User>();
        user->id = QStringLiteral("1");
        user->username = QStringLiteral("ada@example.com");
        user->password = password;
        user->deviceId = Sonarbox::instance().deviceID();
        QFuture<bool> future = LoginPortal::loginNewUser(user, nullptr);
        EXPECT_TRUE(TestEnvironment::waitUntil([&] { return future.isFinished(); }, 10000));
        return future.isFinished() && future.result();
    }

    QTemporaryDir storeDir;
    QTemporaryDir configDir;
};

} // namespace

TEST_F(SignInAnalyticsTest, SignInsAndFirstRunReachTheCollectorWithTheirFields) {
    CloudProcess cloud;
    ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
    ASSERT_TRUE(cloud.start({QStringLiteral("--analytics-readback")}));
    LogCapture log;
    deploy(cloud.baseUrl());

    EXPECT_FALSE(signIn(QStringLiteral("wrong")));
    EXPECT_TRUE(signIn(QStringLiteral("s3cret!")));
    Sonarbox::instance().isTheAppRunningFirstTime();
    Sonarbox::instance().isTheAppRunningFirstTime(); // the same version: no event

    const QList<QJsonObject> events = collectedAtLeast(cloud, 4);
    TestEnvironment::waitUntil([] { return false; }, 300);
    ASSERT_EQ(cloud.collectedEvents().size(), 4);
    EXPECT_EQ(events.at(0), registration("appLoads"));
    EXPECT_EQ(events.at(1), registration("SBXLoginErr"));
    EXPECT_EQ(events.at(2), registration("SBXLoginSuccess"));
    EXPECT_EQ(events.at(3), registration("FirstRun"));

    EXPECT_TRUE(TestEnvironment::waitUntil(
        [&] { return !log.linesContaining("Google Analytics: [FirstRun] Sent").isEmpty(); }));
    EXPECT_EQ(log.linesContaining("Google Analytics: appLoads").size(), 1);
    EXPECT_EQ(log.linesContaining("Google Analytics: [SBXLoginErr] Sent").size(), 1);
    EXPECT_EQ(log.linesContaining("Google Analytics: [SBXLoginSuccess] Sent").size(), 1);
    EXPECT_TRUE(log.linesContaining("Failed").filter("Google Analytics").isEmpty());
}
