// The desktop program's retry of a sync that sonarbox-cloud ended while the
// network stayed up, on a shortened timer: it signs in again and syncs; a
// sync the person stopped is left alone.
#include "AppDelegate.h"
#include "FailedSyncRetry.h"
#include "ShellFixture.h"
#include "TestEnvironment.h"
#include "engine/Sonarbox.h"
#include "settings/NSDefaultsUtility.h"

#include <QDir>
#include <QElapsedTimer>

namespace {

constexpr int kRetryMs = 1500;

class SyncRetryTest : public ShellFixture {
protected:
    void SetUp() override {
        ShellFixture::SetUp();
        QObject::connect(&Sonarbox::instance().syncProgress(), &SyncProgress::event, &receiver,
                         [this](const SyncProgress::Event &e) {
                             if (e.kind == SyncProgress::Event::Kind::SyncStarted)
                                 starts << clock.elapsed();
                             else if (e.kind == SyncProgress::Event::Kind::SyncEnded)
                                 ends << std::pair(clock.elapsed(), e.detail);
                         });
        clock.start();
    }

    // A stored account with an empty music folder, as a previous run left it.
    void storeAccountWithAFolder() {
        storeUser(Password);
        const QString music = home.filePath(QStringLiteral("music"));
        QDir().mkpath(music);
        NSDefaultsUtility::standard().saveDidUserPickMediaLibrary(QStringLiteral("YES"));
        NSDefaultsUtility::standard().saveUserPickedMediaLibrary(2);
        NSDefaultsUtility::standard().getSaveUserMediaFoldersToScan(
            QList<QUrl>{QUrl::fromLocalFile(music)});
        NSDefaultsUtility::standard().saveUserDownloadDirectory(
            home.filePath(QStringLiteral("downloads")));
        configure();
    }

    QObject receiver;
    QElapsedTimer clock;
    QList<qint64> starts;
    QList<std::pair<qint64, QString>> ends;
};

TEST_F(SyncRetryTest, ASyncTheServerEndedIsTriedAgainOnTheTimerAndOneThePersonStoppedIsNot) {
    startCloud();
    storeAccountWithAFolder();
    // The server answers the listing with an internal error: its table is gone.
    cloud->query(QStringLiteral("ALTER TABLE user_media RENAME TO user_media_away"));
    ASSERT_EQ(cloud->query(QStringLiteral("SELECT count(*) FROM user_media_away")),
              QStringList{"0"});

    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    SyncRetry &retry = delegate.failedSyncRetry()->retry();
    EXPECT_EQ(retry.intervalMs(), 5 * 60 * 1000); // the headless program's
    retry.setIntervalMs(kRetryMs);

    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !ends.isEmpty(); }, 30000));
    EXPECT_TRUE(ends.first().second.startsWith(QStringLiteral("Sync stopped: ")))
        << ends.first().second.toStdString();
    // Back, but with every session forgotten: only a new sign-in syncs.
    cloud->query(QStringLiteral("ALTER TABLE user_media_away RENAME TO user_media"));
    cloud->query(QStringLiteral("DELETE FROM sessions"));
    ASSERT_EQ(cloud->query(QStringLiteral("SELECT count(*) FROM sessions")), QStringList{"0"});

    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return ends.size() == 2; }, 30000));
    EXPECT_EQ(ends[1].second, QStringLiteral("Sync Completed"));
    ASSERT_EQ(starts.size(), 2);
    EXPECT_GE(starts[1] - ends[0].first, kRetryMs - 100);
    EXPECT_TRUE(log.contains("=== Trying the failed sync again: signing in again first"));

    // The person's own stop stays a stop.
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.sync(true);
    sonarbox.stopSyncAction();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return ends.size() == 3; }));
    EXPECT_EQ(ends[2].second, QStringLiteral("Sync stopped"));
    TestEnvironment::waitUntil([] { return false; }, 2 * kRetryMs);
    EXPECT_EQ(starts.size(), 3);
    EXPECT_FALSE(retry.isScheduled());
    delegate.closeWindows();
}

} // namespace
