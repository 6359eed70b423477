// Syncs started by changes to the watched music folders, against the real
// server, recognition engine and libtonemill: copied files and new folders are
// uploaded without waiting for the hour, a burst of files makes one sync, and
// a file still being written waits until it is whole.
#include "LogCapture.h"
#include "SyncWorld.h"
#include "TestEnvironment.h"
#include "TestSongs.h"
#include "engine/ChangeWatcher.h"
#include "engine/LoginPortal.h"
#include "engine/Sonarbox.h"
#include "engine/StatusReporting.h"
#include "engine/SyncEngine.h"
#include "settings/DeploymentConfig.h"
#include "settings/NSDefaultsUtility.h"
#include "store/StoreSetup.h"
#include "sync/FolderWatcher.h"

#include <QDir>
#include <QFile>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const QString kSyncStart = QStringLiteral("=== SYNC PROCESS START");

SyncWorld *world = nullptr;

void pause(int ms) {
    TestEnvironment::waitUntil([] { return false; }, ms);
}

class WatchedSyncTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        world = new SyncWorld;
        QString error;
        if (!world->build(&error, 1, 0, 0))
            FAIL() << error.toStdString();
    }
    static void TearDownTestSuite() {
        delete world;
        world = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(DeploymentConfig::load(world->configFile()));
        NSDefaultsUtility::setStorageFile(home.filePath(QStringLiteral("prefs.conf")));
        StoreSetup::setStoreFolder(home.filePath(QStringLiteral("store")));
        QDir().mkpath(music());
        QDir().mkpath(staging());
        QDir().mkpath(home.filePath(QStringLiteral("downloads")));

        Sonarbox &s = Sonarbox::instance();
        s.reinitialize();
        installServiceReporting();
        engine = std::make_unique<SyncEngine>();
        engine->install(s);
        ASSERT_TRUE(signInAndChoose(music(), home.filePath(QStringLiteral("downloads"))));

        watcher = std::make_unique<ChangeWatcher>(s, *engine);
    }
    void TearDown() override {
        watcher.reset();
        Sonarbox &s = Sonarbox::instance();
        s.logOut();
        s.operationQueue().waitUntilAllOperationsAreFinished();
        engine.reset();
        s.reinitialize();
        StoreSetup::setStoreFolder(QString());
        NSDefaultsUtility::setStorageFile(QString());
    }

    // Files written within the last half of the quiet spell wait.
    void startWatching(std::chrono::milliseconds quiet, std::chrono::milliseconds longest) {
        watcher->setSettleTimes(quiet, longest);
        watcher->setStillWrittenAge(quiet / 2);
        watcher->start();
        ASSERT_TRUE(TestEnvironment::waitUntil(
            [&] { return watcher->folderWatcher().watchedFolders() >= 1; }));
    }

    QString music() const { return home.filePath(QStringLiteral("music")); }
    QString staging() const { return home.filePath(QStringLiteral("staging")); }
    // A new song nobody has, made outside the watched folder.
    QString makeSong(const QString &name, uint32_t seed, double seconds = 10) {
        const QString path = QDir(staging()).filePath(name);
        EXPECT_TRUE(TestSongs::make(path, seed, seconds,
                                    {name, QStringLiteral("Watcher"), QStringLiteral("Arrivals")}));
        return path;
    }
    static bool cloudHolds(const QString &md5) {
        return world->cloud.query(QStringLiteral("SELECT count(*) FROM user_media m JOIN files f "
                                                 "ON f.id = m.file_id WHERE f.md5 = '%1'")
                                      .arg(md5)) == QStringList{QStringLiteral("1")};
    }
    static bool idle() {
        return !Sonarbox::instance().syncInProgress &&
               Sonarbox::instance().operationQueue().operationCount() == 0;
    }

    QTemporaryDir home;
    std::unique_ptr<SyncEngine> engine;
    std::unique_ptr<ChangeWatcher> watcher;
};

} // namespace

TEST_F(WatchedSyncTest, ACopiedFileAndANewSubfolderAreUploadedWithoutWaitingForTheHour) {
    LogCapture log;
    startWatching(1500ms, 30s);
    const QString first = makeSong(QStringLiteral("copied in.mp3"), 701);
    const QString second = makeSong(QStringLiteral("in a new folder.mp3"), 702);

    ASSERT_TRUE(QFile::copy(first, QDir(music()).filePath(QStringLiteral("copied in.mp3"))));
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return cloudHolds(fileMd5(first)); }, 120000));
    EXPECT_TRUE(TestEnvironment::waitUntil(idle, 30000));
    EXPECT_EQ(log.count(kSyncStart), 1);
    // The hourly sync comes an hour after this one.
    EXPECT_TRUE(
        TestEnvironment::waitUntil([] { return Sonarbox::instance().syncTimer()->isActive(); }));
    EXPECT_GT(Sonarbox::instance().syncTimer()->remainingTime(), 3500 * 1000);

    const QString folder = QDir(music()).filePath(QStringLiteral("New Album/Disc 1"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QFile::copy(second, QDir(folder).filePath(QStringLiteral("in a new folder.mp3"))));
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return cloudHolds(fileMd5(second)); }, 120000));
    EXPECT_TRUE(TestEnvironment::waitUntil(idle, 30000));
    EXPECT_EQ(log.count(kSyncStart), 2);
}

TEST_F(WatchedSyncTest, FiveThousandFilesCopiedAtOnceMakeOneSync) {
    // Tiny files (too small to be music to the scan), and one song last.
    for (int i = 0; i < 5000; ++i) {
        QFile file(QDir(staging()).filePath(QStringLiteral("tiny %1.mp3").arg(i)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(64, char('a' + i % 26)));
    }
    const QString song = makeSong(QStringLiteral("the last one.mp3"), 703);
    LogCapture log;
    startWatching(3s, 60s);

    const QString burst = QDir(music()).filePath(QStringLiteral("burst"));
    ASSERT_TRUE(QDir().mkpath(burst));
    for (int i = 0; i < 5000; ++i) {
        const QString name = QStringLiteral("tiny %1.mp3").arg(i);
        ASSERT_TRUE(QFile::copy(QDir(staging()).filePath(name), QDir(burst).filePath(name)));
    }
    ASSERT_TRUE(QFile::copy(song, QDir(burst).filePath(QStringLiteral("the last one.mp3"))));

    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return cloudHolds(fileMd5(song)); }, 180000));
    EXPECT_TRUE(TestEnvironment::waitUntil(idle, 30000));
    pause(3 * 3000);
    EXPECT_TRUE(idle());
    EXPECT_EQ(log.count(kSyncStart), 1)
        << log.linesContaining(QStringLiteral("===")).join('\n').toStdString();
}

TEST_F(WatchedSyncTest, AFileStillBeingWrittenIsNotUploadedHalfWritten) {
    const QString song = makeSong(QStringLiteral("slow copy.mp3"), 704, 30);
    QFile source(song);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray whole = source.readAll();
    ASSERT_GT(whole.size(), 250 * 1024);
    const QStringList before = world->cloud.query(QStringLiteral("SELECT md5 FROM files"));
    LogCapture log;
    // A sync at the latest two seconds after the first change, while the
    // copy goes on for four.
    startWatching(2s, 2s);
    watcher->setStillWrittenAge(1500ms);

    QFile target(QDir(music()).filePath(QStringLiteral("slow copy.mp3")));
    ASSERT_TRUE(target.open(QIODevice::WriteOnly));
    const qsizetype head = whole.size() * 6 / 10;
    target.write(whole.left(head));
    target.flush();
    const qsizetype chunk = (whole.size() - head) / 20 + 1;
    for (qsizetype at = head; at < whole.size(); at += chunk) {
        pause(200);
        target.write(whole.mid(at, chunk));
        target.flush();
    }
    target.close();

    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return cloudHolds(fileMd5(song)); }, 120000));
    EXPECT_TRUE(TestEnvironment::waitUntil(idle, 30000));
    // A sync ran while the file was written and left it.
    EXPECT_TRUE(log.contains(QStringLiteral("files were still being written")))
        << log.linesContaining(QStringLiteral("===")).join('\n').toStdString();
    // Only the whole file reached the server.
    QStringList added = world->cloud.query(QStringLiteral("SELECT md5 FROM files"));
    for (const QString &md5 : before)
        added.removeOne(md5);
    EXPECT_EQ(added, QStringList{fileMd5(song)});
}

TEST_F(WatchedSyncTest, AFileLeftAsStillWrittenIsSyncedOnceItHasSettledWithoutAFurtherChange) {
    const QString song = makeSong(QStringLiteral("just copied.mp3"), 705);
    LogCapture log;
    // The first settled moment comes while the copy is still too fresh.
    startWatching(500ms, 30s);
    watcher->setStillWrittenAge(2s);
    ASSERT_TRUE(QFile::copy(song, QDir(music()).filePath(QStringLiteral("just copied.mp3"))));
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return cloudHolds(fileMd5(song)); }, 60000));
    EXPECT_TRUE(log.contains(QStringLiteral("1 files were still being written")));
}

// The chosen folder deleted and made again (a restore from a backup), then a
// link to a folder elsewhere: songs that arrive in either are synced without
// a restart, each by a change the watcher saw there.
TEST_F(WatchedSyncTest, AReplacedChosenFolderAndALinkedFolderAreWatched) {
    const QString restored = makeSong(QStringLiteral("restored.mp3"), 706);
    const QString linked = makeSong(QStringLiteral("linked.mp3"), 707);
    const QString elsewhere = home.filePath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    startWatching(500ms, 30s);

    ASSERT_TRUE(QDir(music()).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(music()));
    // Whatever the replacement started has ended before the song arrives.
    pause(1500);
    ASSERT_TRUE(TestEnvironment::waitUntil(idle, 30000));
    ASSERT_TRUE(QFile::copy(restored, QDir(music()).filePath(QStringLiteral("restored.mp3"))));
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return cloudHolds(fileMd5(restored)); }, 60000));

    ASSERT_TRUE(QFile::link(elsewhere, QDir(music()).filePath(QStringLiteral("linked folder"))));
    pause(1500);
    ASSERT_TRUE(TestEnvironment::waitUntil(idle, 30000));
    ASSERT_TRUE(QFile::copy(linked, QDir(elsewhere).filePath(QStringLiteral("linked.mp3"))));
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return cloudHolds(fileMd5(linked)); }, 60000));
}
