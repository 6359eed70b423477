// What the coordinator hands the layers below it: the account and session of
// a device status report, the transport's offline flag, a reply's status
// texts, and the system version that file addresses depend on.
#include "ChildProcess.h"
#include "ServiceTestSupport.h"

#include "TestEnvironment.h"
#include "engine/Sonarbox.h"
#include "engine/StatusReporting.h"
#include "service/CommonRequest.h"
#include "service/JSONRecievedDataParser.h"
#include "settings/NetworkState.h"
#include "settings/Utility.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

using scripted::Reply;
using scripted::Request;

namespace {

class CoordinatorWiring : public ServiceFixture {
protected:
    void TearDown() override {
        QThreadPool::globalInstance()->waitForDone();
        Sonarbox::instance().setStatusReporter({});
        ServiceFixture::TearDown();
    }
    static QJsonObject statusBody(const char *status, int tracksFound) {
        return QJsonObject({{"updateDeviceServiceStatus",
                             QJsonObject({{"status", status}, {"tracksFound", tracksFound}})}});
    }
};

} // namespace

TEST_F(CoordinatorWiring, StatusReportsReachTheServiceForTheAccountTheyAreAbout) {
    server->setHandler(
        [](const Request &) { return Reply::json(R"({"responseStatus":"SUCCESS"})"); });
    installServiceReporting();
    Sonarbox &sonarbox = Sonarbox::instance();
    // Signed out, a report is about nobody and is not sent.
    sonarbox.setLoggedUser(nullptr);
    sonarbox.notifyMothership(QStringLiteral("SCANNING"), 0);
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_TRUE(server->requests().isEmpty());

    auto ana = std::make_shared<User>();
    ana->username = QStringLiteral("ana@example.com");
    sonarbox.setLoggedUser(ana);
    sonarbox.setJSessionID(QStringLiteral("JSESSIONID=ana"));
    sonarbox.notifyMothership(QStringLiteral("MATCHING"), 7);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return server->requests().size() == 1; }));
    Request r = server->requests().first();
    EXPECT_EQ(r.target, "/Vexmusic/userJson");
    EXPECT_EQ(r.header("Cookie"), "JSESSIONID=ana");
    EXPECT_EQ(QJsonDocument::fromJson(r.body).object(), statusBody("MATCHING", 7));

    // A run reports for the account it started with, whoever is signed in now.
    sonarbox.setLoggedUser(nullptr);
    sonarbox.setJSessionID(QStringLiteral(""));
    sonarbox.notifyMothership(
        RunContext{ana, QStringLiteral("JSESSIONID=run"), sonarbox.deviceID()},
        QStringLiteral("ACTIVE"), 0);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return server->requests().size() == 2; }));
    QThreadPool::globalInstance()->waitForDone();
    ASSERT_EQ(server->requests().size(), 2);
    r = server->requests().last();
    EXPECT_EQ(r.header("Cookie"), "JSESSIONID=run");
    EXPECT_EQ(QJsonDocument::fromJson(r.body).object(), statusBody("ACTIVE", 0));
}

TEST_F(CoordinatorWiring, TheCoordinatorsOfflineFlagIsTheTransports) {
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.isAppOffline = true;
    EXPECT_TRUE(NetworkState::offline());
    CommonRequest request(sonarbox.serviceClient());
    EXPECT_FALSE(
        request.connect(sonarbox.runContext(), "{}", QStringLiteral("getUserContentProcess")));
    EXPECT_TRUE(request.error());
    EXPECT_TRUE(server->requests().isEmpty());

    // A fresh start is online again, for the transport too.
    sonarbox.reinitialize();
    EXPECT_FALSE(NetworkState::offline());
    CommonRequest online(sonarbox.serviceClient());
    online.connect(sonarbox.runContext(), "{}", QStringLiteral("getUserContentProcess"));
    EXPECT_EQ(server->requests().size(), 1);
}

TEST_F(CoordinatorWiring, AReplysStatusReplacesEveryStatusText) {
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.setSyncStatus(QStringLiteral("old"));
    sonarbox.setSyncError(QStringLiteral("old"));
    sonarbox.setServerMessage(QStringLiteral("old"));
    sonarbox.setUpgradeUrl(QStringLiteral("old"));
    QString status;
    ASSERT_TRUE(
        JSONRecievedDataParser::parseJSONResponse(R"({"responseStatus":"SUCCESS"})", &status));
    sonarbox.setReplyStatus(status);
    EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("SUCCESS"));
    EXPECT_EQ(sonarbox.syncError(), QStringLiteral(""));
    EXPECT_EQ(sonarbox.serverMessage(), QStringLiteral(""));
    EXPECT_EQ(sonarbox.upgradeUrl(), QStringLiteral(""));
}

TEST_F(CoordinatorWiring, ALogOutThroughAShorterTimeOutGivesUpSoonAndLeavesTheEnginesClient) {
    // Sign-ins answer at once, a little later, or (the log-out) never.
    std::atomic<int> signInDelayMs{0};
    server->setHandler(withTokens([&](const Request &request) {
        if (request.target.endsWith("/logout")) {
            Reply reply;
            reply.mode = Reply::Mode::NeverAnswer;
            return reply;
        }
        QThread::msleep(signInDelayMs.load());
        Reply reply = Reply::json(R"({"responseStatus":"SUCCESS"})");
        reply.headers.append(qMakePair(QByteArray("Set-Cookie"), QByteArray("JSESSIONID=new")));
        return reply;
    }));
    Sonarbox &sonarbox = Sonarbox::instance();
    const int engineTimeout = sonarbox.serviceClient().timeout();
    ASSERT_GE(engineTimeout, 3000);
    auto ada = std::make_shared<User>();
    ada->username = QStringLiteral("ada@example.com");
    ada->password = QStringLiteral("secret");
    ada->deviceId = QStringLiteral("DEVICE-1");

    bool told = true;
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(runInBackground(
        [&] { told = sonarbox.signOutOfService(ada, sonarbox.serviceClient().withTimeout(300)); }));
    EXPECT_FALSE(told);
    EXPECT_LT(clock.elapsed(), engineTimeout) << "the log-out waited its own time-out only";
    ASSERT_FALSE(serviceRequests().isEmpty());
    EXPECT_TRUE(serviceRequests().last().target.endsWith("/logout"));
    EXPECT_EQ(serviceRequests().last().header("Cookie"), "JSESSIONID=new");
    EXPECT_EQ(sonarbox.serviceClient().timeout(), engineTimeout);

    // The engine's own sign-in still waits as long as it always did.
    signInDelayMs = 800;
    SignInResult result;
    ASSERT_TRUE(runInBackground([&] { result = sonarbox.signIn(ada); }));
    EXPECT_TRUE(result.signedIn());
}

TEST(CoordinatorSystemVersion, TheCoordinatorsVersionIsTheOneFileAddressesUse) {
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.setMinOSVersion(8);
    EXPECT_EQ(Utility::minOSVersion(), 8);
    EXPECT_EQ(Utility::normalizeFilePath("file://localhost/a/b%2Bc.mp3"), "/a/b+c.mp3");
    sonarbox.getOSVersion();
    EXPECT_GE(Utility::minOSVersion(), 9);
    EXPECT_EQ(sonarbox.minOSVersion(), Utility::minOSVersion());
    EXPECT_EQ(Utility::normalizeFilePath("file:///a/b%20c.mp3"), "/a/b c.mp3");
}

// Runs in a mount namespace whose /etc/os-release names an old release
// number (started by the test below).
TEST(CoordinatorSystemVersion, DISABLED_OldReleaseNumberInOwnNamespace) {
    if (!qEnvironmentVariableIsSet("SONARBOX_TEST_OLD_RELEASE"))
        GTEST_SKIP() << "started only by AnOldReleaseNumberStillMeansACurrentDesktop";
    ASSERT_EQ(QSysInfo::productVersion(), "3.19.1");
    Sonarbox::instance().getOSVersion();
    EXPECT_GE(Sonarbox::instance().minOSVersion(), 9);
    EXPECT_EQ(Utility::normalizeFilePath("file:///home/ana/a%20b.mp3"), "/home/ana/a b.mp3");
}

TEST(CoordinatorSystemVersion, AnOldReleaseNumberStillMeansACurrentDesktop) {
    if (QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
        GTEST_SKIP() << "unshare is not installed";
    QTemporaryDir dir;
    const QString release = dir.filePath(QStringLiteral("os-release"));
    {
        QFile file(release);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("NAME=\"Alpine Linux\"\nID=alpine\nVERSION_ID=3.19.1\n");
    }
    ChildProcess::Options options = ChildProcess::captured();
    options.environment = {QStringLiteral("SONARBOX_TEST_OLD_RELEASE=1")};
    options.errorFile = dir.filePath(QStringLiteral("errors.txt"));
    const ChildProcess::Result child = ChildProcess::run(
        QStringLiteral("unshare"),
        {QStringLiteral("--mount"), QStringLiteral("sh"), QStringLiteral("-c"),
         QStringLiteral(
             "mount --bind \"$1\" /etc/os-release || exit 77; exec \"$0\" "
             "--gtest_also_run_disabled_tests "
             "--gtest_filter=CoordinatorSystemVersion.DISABLED_OldReleaseNumberInOwnNamespace"),
         QCoreApplication::applicationFilePath(), release},
        {}, 60000, options);
    QFile errors(options.errorFile);
    const QString output = QString::fromLocal8Bit(
        child.output + (errors.open(QIODevice::ReadOnly) ? errors.readAll() : QByteArray()));
    if (child.exitCode == 77 || output.contains(QLatin1String("unshare failed")))
        GTEST_SKIP() << "cannot mount a private /etc/os-release here: " << output.toStdString();
    EXPECT_EQ(child.exitCode, 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QLatin1String("[  PASSED  ] 1 test"))) << output.toStdString();
}
