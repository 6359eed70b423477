#include "CoordinatorFixture.h"
#include "settings/DeploymentConfig.h"
#include "settings/Reachability.h"

#include "TestEnvironment.h"

#include <QFile>
#include <QTcpServer>
#include <QThread>

namespace {

class NetworkTransitionTest : public CoordinatorTest {
protected:
    void SetUp() override {
        CoordinatorTest::SetUp();
        Reachability::setProbeInterval(150);
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
        port = server.serverPort();
        const QString path = dir.filePath("deploy.ini");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        // Only the gateway: the monitor must watch it.
        file.write(
            QStringLiteral("[service]\ngatewayBaseUrl=http://127.0.0.1:%1\n").arg(port).toUtf8());
        file.close();
        ASSERT_TRUE(DeploymentConfig::load(path));
    }
    void TearDown() override {
        sonarbox().stopNetworkMonitoring();
        stageMayEnd = true;
        Reachability::setProbeInterval(5000);
        DeploymentConfig::resetToDefault();
        CoordinatorTest::TearDown();
    }

    QTcpServer server;
    quint16 port = 0;
    std::atomic<bool> stageMayEnd{false};
    std::atomic<bool> stageRunning{false};
};

TEST_F(NetworkTransitionTest, LossStopsTheRunningSyncAndReturnLeavesItStopped) {
    Sonarbox &s = sonarbox();
    Sonarbox::Stages stages = recordingStages();
    // A fingerprint stage that polls the stop flag until told to end.
    stages.fingderPrintLocalMediaFiles = [this](const SyncRunPtr &run,
                                                Sonarbox::Completion completion) {
        stageRunning = true;
        while (!stageMayEnd) {
            if (sonarbox().stopRequested(*run)) {
                sonarbox().applicationWasStopped();
                stageRunning = false;
                return;
            }
            QThread::msleep(10);
        }
        completion();
    };
    s.setStages(stages);
    s.setLoggedUser(std::make_shared<User>());

    s.startNetworkMonitoring();
    s.startNetworkMonitoring(); // once at start-up; a second call changes nothing
    ASSERT_TRUE(s.reachability());
    EXPECT_EQ(s.reachability()->port(), port);
    ASSERT_TRUE(
        TestEnvironment::waitUntil([&] { return menu.calls().contains("ShowBackOnline"); }));
    EXPECT_FALSE(s.isAppOffline);

    s.sync(false);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return stageRunning.load(); }));
    menu.clear();

    server.close();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return s.isAppOffline.load(); }));
    EXPECT_FALSE(s.syncInProgress);
    EXPECT_EQ(s.progressPage().state().description, "Sync stopped");
    EXPECT_EQ(menu.calls(), QStringList({"SyncStopped", "ShowOffline"}));
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !stageRunning.load(); }));

    menu.clear();
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, port));
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !s.isAppOffline.load(); }));
    settle();
    // The stopped sync does not come back by itself.
    EXPECT_EQ(menu.calls(), QStringList({"ShowBackOnline"}));
    EXPECT_FALSE(s.syncInProgress);
}

} // namespace
