// Usage events against the reference server's collector, and against
// listeners that refuse, count or ignore connections.
#include "CloudProcess.h"
#include "LogCapture.h"
#include "TestEnvironment.h"
#include "settings/AnalyticsHelper.h"
#include "settings/DeploymentConfig.h"
#include "settings/GAUtility.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/PreferenceKeys.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>

namespace {

// How long a caller may take to hand an event over. ThreadSanitizer slows
// every memory access, so its builds get more room; a send that blocked on
// the network would still take seconds.
#if defined(__SANITIZE_THREAD__)
constexpr int kHandOverMs = 400;
#else
constexpr int kHandOverMs = 50;
#endif

// A listener that counts connections and never answers them.
class SilentListener {
public:
    SilentListener() {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost));
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                ++connections;
                held << socket;
            }
        });
    }
    QString url() const {
        return QStringLiteral("http://127.0.0.1:%1/collect").arg(server.serverPort());
    }
    QTcpServer server;
    QList<QTcpSocket *> held;
    int connections = 0;
};

class AnalyticsTest : public ::testing::Test {
protected:
    void SetUp() override {
        NSDefaultsUtility::standard().remove(PreferenceKeys::ShareUsageStatistics);
        NSDefaultsUtility::standard().remove(PreferenceKeys::Version);
    }
    void TearDown() override {
        DeploymentConfig::resetToDefault();
        GAUtility::reinitialize();
    }

    // A deployment with the analytics switch and collector given, then a new
    // analytics sender for it (as at program start).
    void deploy(bool track, const QString &collectorUrl, const QString &gateway = {}) {
        static int generation = 0;
        const QString path =
            configDir.filePath(QStringLiteral("sonarbox-%1.ini").arg(++generation));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QByteArray base =
            gateway.isEmpty() ? QByteArray("http://127.0.0.1:1") : gateway.toUtf8();
        file.write("[service]\ngatewayBaseUrl=" + base + "\nwebSiteUrl=" + base +
                   "\n[recognition]\nclientId=1000001\nclientTag=0123456789ABCDEF0123456789ABCDEF\n"
                   "[facebook]\nappId=100000000000001\n"
                   "[analytics]\npropertyId=UA-12345678-9\ncollectorUrl=" +
                   collectorUrl.toUtf8() +
                   "\n[app]\nTrackWithGoogleAnalytics=" + (track ? "true" : "false") + "\n");
        file.close();
        ASSERT_TRUE(DeploymentConfig::load(path));
        GAUtility::reinitialize();
    }

    // The events the collector holds, as their form fields.
    static QList<QJsonObject> collected(CloudProcess &cloud) { return cloud.collectedEvents(); }

    static QList<QJsonObject> collectedAtLeast(CloudProcess &cloud, int count) {
        QList<QJsonObject> events;
        TestEnvironment::waitUntil(
            [&] {
                events = collected(cloud);
                return events.size() >= count;
            },
            8000);
        return events;
    }

    // The event a Registration operation must produce.
    static QJsonObject registration(const QString &action, const QString &value = "1") {
        return {{"v", "1"},
                {"tid", "UA-12345678-9"},
                {"cid", NSDefaultsUtility::standard().getUUID()},
                {"t", "event"},
                {"ec", "Registration"},
                {"ea", action},
                {"el", "AppleStore"},
                {"ev", value},
                {"dh", "127.0.0.1"}};
    }

    QTemporaryDir configDir;
};

} // namespace

TEST_F(AnalyticsTest, ScreenViewsLibraryChoicesAndCounts) {
    CloudProcess cloud;
    ASSERT_TRUE(cloud.start({QStringLiteral("--analytics-readback")}));
    deploy(true, cloud.baseUrl() + QStringLiteral("/collect"), cloud.baseUrl());
    GAUtility &ga = GAUtility::instance();
    ga.GATrackView(QStringLiteral("loginView"));
    ga.GAUserLibraryPicked(LibraryChoice::MusicPlayer);
    ga.GAUserLibraryPicked(LibraryChoice::MusicFolder);
    ga.GAUserLibraryPicked(libraryChoiceFrom(0));
    ga.GAUserLibraryPicked(LibraryChoice::ChosenFolders);
    ga.GASongsUploaded(7);
    ga.GASongsSuccessfullyFingerprinted(12);
    ga.GAApplicationFirstRun();

    const QList<QJsonObject> events = collectedAtLeast(cloud, 9);
    ASSERT_EQ(events.size(), 9);
    QJsonObject view = registration("loginView");
    view["ec"] = "AppViews";
    view["el"] = ""; // present and empty
    EXPECT_EQ(events.at(1), view);
    EXPECT_EQ(events.at(2), registration("SBXUserPickedLibrary_iTunes"));
    EXPECT_EQ(events.at(3), registration("SBXUserPickedLibrary_MusicFolder"));
    EXPECT_EQ(events.at(4), registration("SBXUserPickedLibrary_OtherFolder"));
    EXPECT_EQ(events.at(5), registration("SBXUserPickedLibrary_OtherFolder"));
    EXPECT_EQ(events.at(6), registration("SBXSongsUploaded", "7"));
    EXPECT_EQ(events.at(7), registration("SBXSongsSuccessfullyFingerprinted", "12"));
    EXPECT_EQ(events.at(8), registration("FirstRun"));
}

TEST_F(AnalyticsTest, DeploymentSwitchOffMeansNoNetworkAndNoLog) {
    SilentListener collector;
    LogCapture log;
    deploy(false, collector.url());
    GAUtility &ga = GAUtility::instance();
    EXPECT_FALSE(ga.allowTrackWithGoogleAnalytics());
    EXPECT_EQ(ga.analyticsHelper(), nullptr);
    ga.GALoginButtonClicked();
    ga.GATrackView(QStringLiteral("syncView"));
    ga.GASongsToProcess(3);
    ga.GACallExecution(QStringLiteral("custom"), QStringLiteral("c"), QStringLiteral("l"), 1);
    ga.GAFirstRun();

    TestEnvironment::waitUntil([] { return false; }, 500);
    EXPECT_EQ(collector.connections, 0);
    EXPECT_TRUE(log.linesContaining("Analytics").isEmpty()) << log.lines().join('\n').toStdString();
}

TEST_F(AnalyticsTest, UserPreferenceTurnsReportingOffAtTheNextEvent) {
    CloudProcess cloud;
    ASSERT_TRUE(cloud.start({QStringLiteral("--analytics-readback")}));
    LogCapture log;
    NSDefaultsUtility::standard().setBoolean(PreferenceKeys::ShareUsageStatistics, false);
    deploy(true, cloud.baseUrl() + QStringLiteral("/collect"), cloud.baseUrl());
    GAUtility::instance().GALoginButtonClicked();
    GAUtility::instance().GAFirstRun();
    TestEnvironment::waitUntil([] { return false; }, 500);
    EXPECT_TRUE(collected(cloud).isEmpty()) << "not even appLoads";
    EXPECT_TRUE(log.linesContaining("Analytics").isEmpty());

    // Read at each event: turning it back on needs no restart.
    NSDefaultsUtility::standard().setBoolean(PreferenceKeys::ShareUsageStatistics, true);
    GAUtility::instance().GASignUpSuccess();
    const QList<QJsonObject> events = collectedAtLeast(cloud, 1);
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events.at(0), registration("SBXJoinSuccess"));
}

TEST_F(AnalyticsTest, CollectorDownOrSilentNeverDelaysTheCaller) {
    LogCapture log;
    const TestEnvironment::RefusingPort nobody;
    deploy(true, nobody.url() + QStringLiteral("/collect"));
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 20; ++i)
        GAUtility::instance().GALoginButtonClicked();
    EXPECT_LT(timer.elapsed(), 2 * kHandOverMs);
    EXPECT_TRUE(TestEnvironment::waitUntil([&] {
        return log.linesContaining("Google Analytics: SBXLoginSubmit Failed").size() == 20;
    }));
    EXPECT_EQ(log.linesContaining("Google Analytics: appLoads Failed").size(), 1);

    // A collector that takes the connection and never answers: the caller
    // goes on at once; each send gives up after its time-out and is not retried.
    SilentListener silent;
    NSDefaultsUtility::standard().setBoolean(PreferenceKeys::ShareUsageStatistics, false);
    deploy(true, silent.url());
    NSDefaultsUtility::standard().setBoolean(PreferenceKeys::ShareUsageStatistics, true);
    GAUtility::instance().analyticsHelper()->setTimeoutMs(400);
    timer.restart();
    GAUtility::instance().GASignUpFail();
    GAUtility::instance().GASignInButtonClickedFromLandingPage();
    EXPECT_LT(timer.elapsed(), kHandOverMs);
    EXPECT_TRUE(TestEnvironment::waitUntil(
        [&] { return !log.linesContaining("Google Analytics: SBXLoginStart Failed").isEmpty(); }));
    EXPECT_EQ(log.linesContaining("Google Analytics: SBXJoinErr Failed").size(), 1);
    EXPECT_EQ(log.linesContaining("Analytics event SBXJoinErr was not delivered").size(), 1);
    TestEnvironment::waitUntil([] { return false; }, 800);
    EXPECT_EQ(silent.connections, 2);
}

TEST_F(AnalyticsTest, FullQueueDropsTheOldestWaitingEvent) {
    SilentListener silent;
    LogCapture log;
    deploy(true, silent.url());
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return silent.connections == 1; }, 20000))
        << "appLoads in flight";
    GAUtility &ga = GAUtility::instance();
    for (int i = 1; i <= 101; ++i)
        ga.GACallExecution(QStringLiteral("e%1").arg(i), QStringLiteral("c"), QString(), i);
    EXPECT_EQ(log.linesContaining("Google Analytics: e1 Failed").size(), 1);
    EXPECT_EQ(log.linesContaining("Failed").size(), 1);
    EXPECT_EQ(silent.connections, 1);
}

// flush() is what a program waits on before it exits: it returns once every
// accepted event has been answered (the outcomes told first), and gives up at
// its limit when the collector does not answer.
TEST_F(AnalyticsTest, FlushWaitsForEveryAcceptedEventAndGivesUpAtItsLimit) {
    CloudProcess cloud;
    ASSERT_TRUE(cloud.start({QStringLiteral("--analytics-readback")}));
    AnalyticsHelper tracker;
    tracker.setCollectorUrl(QUrl(cloud.baseUrl() + QStringLiteral("/collect")));
    tracker.setClientId(QStringLiteral("flush-client"));
    std::atomic<int> delivered{0};
    for (int i = 1; i <= 3; ++i)
        ASSERT_TRUE(tracker.fireEvent(QStringLiteral("flushed%1").arg(i), QStringLiteral("c"),
                                      QString(), i, false, [&](bool sent) {
                                          if (sent)
                                              ++delivered;
                                      }));
    EXPECT_TRUE(tracker.flush(30000));
    EXPECT_EQ(delivered.load(), 3);
    QStringList actions;
    for (const QJsonObject &event : collected(cloud))
        actions << event.value(QStringLiteral("ea")).toString();
    EXPECT_EQ(actions.join(' ').toStdString(), "flushed1 flushed2 flushed3");

    SilentListener silent;
    AnalyticsHelper stuck;
    stuck.setCollectorUrl(QUrl(silent.url()));
    ASSERT_TRUE(
        stuck.fireEvent(QStringLiteral("unanswered"), QStringLiteral("c"), QString(), 1, false));
    EXPECT_FALSE(stuck.flush(500));
}
