// The coordinator while syncing is paused: what stops, what may not start,
// what is remembered, and what a metered connection does.
#include "CoordinatorFixture.h"
#include "settings/DeploymentConfig.h"
#include "settings/MeteredSource.h"

#include <QFile>
#include <QThread>

namespace {

// The status menu's pause reports, beside the others.
class PauseMenu : public RecordingMenu {
public:
    void statusMenuPauseChanged(bool pausedByUser, const QString &status) override {
        std::lock_guard g(m_lock);
        m_reports << QStringLiteral("%1|%2").arg(pausedByUser ? "user" : "-", status);
    }
    QStringList reports() const {
        std::lock_guard g(m_lock);
        return m_reports;
    }

private:
    mutable std::mutex m_lock;
    QStringList m_reports;
};

class SyncPauseTest : public CoordinatorTest {
protected:
    void SetUp() override {
        CoordinatorTest::SetUp();
        Sonarbox &s = sonarbox();
        s.setStatusMenu(&pauseMenu);
        Sonarbox::Stages stages = recordingStages();
        // A fingerprint stage that runs until it is stopped (or let go).
        stages.fingderPrintLocalMediaFiles = [this](const SyncRunPtr &run,
                                                    Sonarbox::Completion completion) {
            {
                std::lock_guard g(lock);
                ran << QStringLiteral("fingerprint");
            }
            stageRunning = true;
            while (!stageMayEnd) {
                if (sonarbox().stopRequested(*run)) {
                    sonarbox().applicationWasStopped();
                    stageRunning = false;
                    return;
                }
                QThread::msleep(5);
            }
            stageRunning = false;
            completion();
        };
        s.setStages(stages);
        signIn();
        s.setResumeAfterNetworkLoss(false, 50);
    }
    void TearDown() override {
        stageMayEnd = true;
        sonarbox().syncPause().setMeteredSource(nullptr);
        DeploymentConfig::resetToDefault();
        CoordinatorTest::TearDown();
    }

    void signIn() {
        Sonarbox &s = sonarbox();
        s.setLoggedUser(std::make_shared<User>());
        s.setJSessionID(QStringLiteral("session"));
        s.setDidUserPickLibrary(true);
    }
    void startBlockedSync() {
        sonarbox().sync(true);
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return stageRunning.load(); }));
    }
    // Time for a sync that should not start to show itself (a started one
    // would hold the queue, so the queue is not waited for).
    static void waitAWhile() {
        TestEnvironment::waitUntil([] { return false; }, 300);
    }
    int syncsStarted() {
        std::lock_guard g(lock);
        return int(ran.count(QStringLiteral("fingerprint")));
    }

    PauseMenu pauseMenu;
    std::atomic<bool> stageMayEnd{false};
    std::atomic<bool> stageRunning{false};
};

TEST_F(SyncPauseTest, APauseStopsTheSyncAndNoStartGetsThroughUntilResume) {
    Sonarbox &s = sonarbox();
    startBlockedSync();

    s.syncPause().setPausedByUser(true);
    EXPECT_FALSE(s.syncInProgress);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !stageRunning.load(); }));
    EXPECT_EQ(s.progressPage().state().description, "Sync stopped: Paused");
    EXPECT_EQ(pauseMenu.reports().last(), "user|Paused");

    // The menu, the timer, the network's return: none starts a sync (each
    // given its time, so that none is hidden by the next one's stop).
    for (const auto &start : std::vector<std::function<void()>>{
             [&] { s.syncAction(); }, [&] { s.sync(false); }, [&] { s.executeTimedSync(); },
             [&] {
                 s.reachabilityChanged(false);
                 s.reachabilityChanged(true);
             }}) {
        start();
        waitAWhile();
        EXPECT_FALSE(s.syncInProgress);
    }
    EXPECT_EQ(syncsStarted(), 1);
    // The progress page says why.
    EXPECT_EQ(s.progressPage().state().description, "Paused");

    s.syncPause().setPausedByUser(false);
    EXPECT_EQ(pauseMenu.reports().last(), "-|");
    // Soon after the resume, a sync of its own.
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return syncsStarted() == 2; }));
    EXPECT_TRUE(s.syncInProgress);
}

TEST_F(SyncPauseTest, ThePauseIsRememberedAcrossAStartAndOnlyAPauseIsResumed) {
    Sonarbox &s = sonarbox();
    s.syncPause().setPausedByUser(true);
    EXPECT_TRUE(NSDefaultsUtility::standard().boolean(QLatin1String("syncPaused")));

    // A new start reads it back and tells the menu at once.
    s.reinitialize();
    EXPECT_TRUE(s.syncPause().pausedByUser());
    EXPECT_EQ(pauseMenu.reports().last(), "user|Paused");
    signIn();
    s.sync(true);
    waitAWhile();
    EXPECT_EQ(syncsStarted(), 0);

    // Resuming before any sign-in leaves the first sync to the sign-in.
    s.setJSessionID(std::nullopt);
    s.syncPause().setPausedByUser(false);
    EXPECT_FALSE(NSDefaultsUtility::standard().boolean(QLatin1String("syncPaused")));
    waitAWhile();
    EXPECT_EQ(syncsStarted(), 0);

    // Resuming what was never paused starts nothing either.
    s.setJSessionID(QStringLiteral("session"));
    s.syncPause().setPausedByUser(false);
    waitAWhile();
    EXPECT_EQ(syncsStarted(), 0);
}

TEST_F(SyncPauseTest, AMeteredConnectionPausesUnlessThePersonAllowsIt) {
    Sonarbox &s = sonarbox();
    auto metered = std::make_shared<SettableMeteredSource>();
    s.syncPause().setMeteredSource(metered);
    startBlockedSync();

    metered->setMetered(true);
    EXPECT_FALSE(s.syncInProgress);
    EXPECT_EQ(s.progressPage().state().description, "Sync stopped: Paused: metered connection");
    EXPECT_EQ(pauseMenu.reports().last(), "-|Paused: metered connection");
    s.syncAction();
    waitAWhile();
    EXPECT_EQ(syncsStarted(), 1);

    // The person's own pause says so, and outlasts the metered one.
    s.syncPause().setPausedByUser(true);
    EXPECT_EQ(s.syncPause().statusText(), "Paused");
    metered->setMetered(false);
    waitAWhile();
    EXPECT_EQ(syncsStarted(), 1);
    s.syncPause().setPausedByUser(false);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return syncsStarted() == 2; }));

    // Allowed on metered connections: the next metered report changes nothing.
    s.syncPause().setSyncOnMeteredConnections(true);
    EXPECT_TRUE(NSDefaultsUtility::standard().boolean(QLatin1String("syncOnMeteredConnections")));
    metered->setMetered(true);
    EXPECT_TRUE(s.syncInProgress);
    EXPECT_EQ(s.syncPause().statusText(), "");
}

TEST_F(SyncPauseTest, TheDeploymentChoosesWhetherMeteredConnectionsSyncUntilThePersonDoes) {
    Sonarbox &s = sonarbox();
    EXPECT_FALSE(s.syncPause().syncOnMeteredConnections());

    const QString path = dir.filePath("deploy.ini");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[sync]\nonMeteredConnections=true\n");
    file.close();
    ASSERT_TRUE(DeploymentConfig::load(path));
    s.reinitialize();
    EXPECT_TRUE(s.syncPause().syncOnMeteredConnections());

    s.syncPause().setSyncOnMeteredConnections(false);
    s.reinitialize();
    EXPECT_FALSE(s.syncPause().syncOnMeteredConnections());
}

} // namespace
