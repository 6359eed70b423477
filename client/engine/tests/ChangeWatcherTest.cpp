// The watcher's syncs through the coordinator, with stages that record them:
// when they start, when they don't, and which folders and library it follows.
#include "engine/ChangeWatcher.h"
#include "CoordinatorFixture.h"
#include "LogCapture.h"
#include "MpdProcess.h"
#include "TestSongs.h"
#include "engine/SyncEngine.h"
#include "sync/FolderWatcher.h"
#include "sync/MpdLibrary.h"
#include "sync/ScanForLocalMedia.h"

#include <QElapsedTimer>
#include <QFile>
#include <QUrl>

#include <atomic>
#include <condition_variable>

using namespace std::chrono_literals;

namespace {

void write(const QString &path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(1000, 'x'));
}

void pause(int ms) {
    TestEnvironment::waitUntil([] { return false; }, ms);
}

class ChangeWatcherTest : public CoordinatorTest {
protected:
    void SetUp() override {
        CoordinatorTest::SetUp();
        auto user = std::make_shared<User>();
        user->username = QStringLiteral("ada@example.com");
        sonarbox().setLoggedUser(user);
        sonarbox().setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
    }
    void TearDown() override {
        watcher.reset();
        engine.reset();
        CoordinatorTest::TearDown();
    }

    // Starts watching with short settle times, once the folders are watched.
    void startWatching(SyncDependencies dependencies = {}) {
        engine = std::make_unique<SyncEngine>(std::move(dependencies));
        watcher = std::make_unique<ChangeWatcher>(sonarbox(), *engine);
        watcher->setSettleTimes(kQuiet, 10s);
        QObject::connect(watcher.get(), &ChangeWatcher::syncRequested, watcher.get(),
                         [this] { ++requested; });
        watcher->start();
        const QStringList roots = ScanForLocalMedia::foldersToWalk(Sonarbox::instance());
        if (!roots.isEmpty()) {
            ASSERT_TRUE(TestEnvironment::waitUntil(
                [&] { return watcher->folderWatcher().watchedFolders() >= roots.size(); }));
        }
    }
    QString folder(const QString &name) const { return dir.filePath(name); }
    void chooseFolders(const QStringList &names) {
        QList<QUrl> urls;
        for (const QString &name : names) {
            QDir().mkpath(folder(name));
            urls << QUrl::fromLocalFile(folder(name));
        }
        sonarbox().setUserMediaFoldersToScan(urls);
    }
    int scans() { return int(stagesRun().count(QStringLiteral("scan"))); }

    static constexpr std::chrono::milliseconds kQuiet = 700ms;
    std::unique_ptr<SyncEngine> engine;
    std::unique_ptr<ChangeWatcher> watcher;
    int requested = 0;
};

} // namespace

TEST_F(ChangeWatcherTest, NoSyncStartsWhileSignedOutOrWithTimedSyncsSwitchedOff) {
    chooseFolders({"music"});
    startWatching();
    sonarbox().setLoggedUser(nullptr);
    write(folder("music/a.mp3"));
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return requested == 1; }));
    pause(300);
    EXPECT_EQ(scans(), 0);

    // The changes seen while signed out are not kept for later.
    sonarbox().setLoggedUser(std::make_shared<User>());
    pause(int(kQuiet.count()) * 2);
    EXPECT_EQ(scans(), 0);

    sonarbox().settings_syncNewSongs = false;
    write(folder("music/b.mp3"));
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return requested == 2; }));
    pause(300);
    EXPECT_EQ(scans(), 0);

    sonarbox().settings_syncNewSongs = true;
    write(folder("music/c.mp3"));
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return scans() == 1; }));
    settle();
    EXPECT_FALSE(sonarbox().syncInProgress);
}

TEST_F(ChangeWatcherTest, ChangesDuringARunningSyncAreFollowedByExactlyOneMoreAtItsEnd) {
    chooseFolders({"music"});
    // The first scan holds on until the test lets it go.
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    Sonarbox::Stages stages = recordingStages();
    const Sonarbox::Stage record = stages.scanFileSystemForMedia;
    stages.scanFileSystemForMedia = [&, record](const SyncRunPtr &run,
                                                Sonarbox::Completion completion) {
        if (scans() == 0) {
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return release; });
        }
        record(run, completion);
    };
    sonarbox().setStages(stages);
    startWatching();

    sonarbox().sync(true);
    for (int i = 0; i < 3; ++i) {
        write(folder(QStringLiteral("music/%1.mp3").arg(i)));
        pause(100);
    }
    // Settled long ago, but the sync still runs: none starts beside it.
    pause(int(kQuiet.count()) * 3);
    EXPECT_EQ(requested, 0);
    EXPECT_TRUE(sonarbox().syncInProgress);
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return scans() == 2; }));
    pause(int(kQuiet.count()) * 3);
    settle();
    EXPECT_EQ(scans(), 2);
    EXPECT_EQ(requested, 1);
}

TEST_F(ChangeWatcherTest, TheWatcherFollowsAChangeOfTheChosenFolders) {
    chooseFolders({"old"});
    startWatching();
    chooseFolders({"new", "other"});
    ASSERT_TRUE(
        TestEnvironment::waitUntil([&] { return watcher->folderWatcher().watchedFolders() == 2; }));
    write(folder("old/a.mp3"));
    pause(int(kQuiet.count()) * 2);
    EXPECT_EQ(scans(), 0);
    write(folder("other/a.mp3"));
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return scans() == 1; }));

    // The music player's library has no folders to watch.
    sonarbox().setUserPickedMediaLibrary(LibraryChoice::MusicPlayer);
    ASSERT_TRUE(
        TestEnvironment::waitUntil([&] { return watcher->folderWatcher().watchedFolders() == 0; }));
    write(folder("new/b.mp3"));
    pause(int(kQuiet.count()) * 2);
    settle();
    EXPECT_EQ(scans(), 1);
}

TEST_F(ChangeWatcherTest, AChangeOfMpdsDatabaseStartsASync) {
    MpdProcess mpd;
    ASSERT_TRUE(mpd.start());
    MpdLibrary::Settings settings;
    settings.host = mpd.host();
    settings.port = mpd.port();
    settings.musicFolder = mpd.musicFolder();
    settings.timeoutMs = 5000;
    sonarbox().setUserPickedMediaLibrary(LibraryChoice::MusicPlayer);
    LogCapture log;
    startWatching({std::make_shared<MpdLibrary>(settings), nullptr});
    ASSERT_TRUE(TestEnvironment::waitUntil(
        [&] { return log.contains(QStringLiteral("Watching MPD's database")); }));

    // A song MPD does not know yet is no change of its database.
    ASSERT_TRUE(TestSongs::make(mpd.musicFolder() + QStringLiteral("/new.mp3"), 7, 3));
    pause(int(kQuiet.count()) * 2);
    EXPECT_EQ(scans(), 0);
    ASSERT_TRUE(mpd.updateDatabase());
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return scans() == 1; }));

    // MPD gone and back: the watch finds it again by itself only after its
    // retry interval, which is longer than a test; a stopped server is said.
    mpd.stop();
    EXPECT_TRUE(TestEnvironment::waitUntil(
        [&] { return log.contains(QStringLiteral("its changes are not followed")); }));
}

// A copy that stalls for longer than the quiet spell, then goes on.
TEST_F(ChangeWatcherTest, AFileHeldOpenForWritingIsSettledOnlyAfterItsClose) {
    chooseFolders({"music"});
    startWatching();
    QFile file(folder("music/slow.mp3"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (int part = 0; part < 2; ++part) {
        file.write(QByteArray(1000, 'x'));
        file.flush();
        pause(int(kQuiet.count()) * 3);
        EXPECT_EQ(requested, 0);
    }
    QElapsedTimer sinceClose;
    sinceClose.start();
    file.close();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return requested == 1; }));
    EXPECT_GE(sinceClose.elapsed(), kQuiet.count());
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return scans() == 1; }));
}

TEST_F(ChangeWatcherTest, AFileOpenPastTheLongestWaitIsSyncedAgainOnceClosed) {
    chooseFolders({"music"});
    startWatching();
    watcher->setSettleTimes(kQuiet, 2s);
    write(folder("music/whole.mp3"));
    QFile file(folder("music/endless.mp3"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(1000, 'x'));
    file.flush();
    // The longest wait starts one sync, for what has settled; the file
    // still open starts none of its own...
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return scans() == 1; }));
    pause(3000);
    EXPECT_EQ(requested, 1);
    // ...until it is closed.
    file.close();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return scans() == 2; }));
    EXPECT_EQ(requested, 2);
}
