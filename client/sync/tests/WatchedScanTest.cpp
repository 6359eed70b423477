// The scan of a folder tree that the folder watcher watches: left out while
// nothing happened in the tree since a scan found it all settled, and back as
// soon as anything did.
#include "CoordinatorFixture.h"
#include "LogCapture.h"
#include "TestSongs.h"
#include "engine/Sonarbox.h"
#include "store/GenericDAO.h"
#include "sync/FolderWatcher.h"
#include "sync/ScanForLocalMedia.h"

#include <QFile>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

const QString kLeftOut = QStringLiteral("Unchanged since the last scan, as watched");

class WatchedScanTest : public CoordinatorTest {
protected:
    void SetUp() override {
        CoordinatorTest::SetUp();
        sonarbox().setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
        sonarbox().setUserMediaFoldersToScan({QUrl::fromLocalFile(root())});
        scanner.setSettleAfter({});
        QObject::connect(&watcher, &FolderWatcher::watching, &context,
                         [this](int, bool complete) { whole = complete; });
        QObject::connect(&watcher, &FolderWatcher::changed, &context, [this] { ++changes; });
    }
    void TearDown() override {
        scanner.setChangeJournal({});
        CoordinatorTest::TearDown();
    }

    QString root() { return dir.filePath(QStringLiteral("music")); }
    QString path(const QString &relative) { return root() + QLatin1Char('/') + relative; }
    void file(const QString &relative) {
        ASSERT_TRUE(TestSongs::makeFileOfSize(path(relative), 200000)) << qPrintable(relative);
    }
    void watch() {
        watcher.watch({root()});
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return whole; }));
        scanner.setChangeJournal(watcher.journal());
    }
    // Waits for the watcher to have seen what was just done.
    void seen() {
        const int before = changes;
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return changes > before; }));
    }

    struct Scan {
        QStringList newFiles;
        QString count;
        bool walked = true;
    };
    // One scan; its new files are then stored, as a sync would.
    Scan scan() {
        LogCapture log;
        int completions = 0;
        const SyncRunPtr run = sonarbox().newRun();
        scanner.scanFileSystemForMedia(run, [&] { ++completions; });
        EXPECT_EQ(completions, 1);
        Scan result;
        for (const AudioPtr &track : run->localLibraryTracks()) {
            result.newFiles << QDir(root()).relativeFilePath(track->fileURL.value_or(QString()));
            // A sync would have it from the file's contents: unique here.
            track->checksum = track->fileURL;
            EXPECT_FALSE(GenericDAO::instance().addTrackToDB(track, true));
        }
        result.newFiles.sort();
        result.count = sonarbox().userMediaFoldersToScanWithSongAmounts().value(root());
        result.walked = !log.contains(kLeftOut);
        return result;
    }

    ScanForLocalMedia scanner{Sonarbox::instance(), nullptr};
    FolderWatcher watcher;
    QObject context;
    bool whole = false;
    int changes = 0;
};

TEST_F(WatchedScanTest, AQuietTreeIsLeftOutUntilSomethingHappensInItOrInTheStore) {
    file(QStringLiteral("A/1.mp3"));
    file(QStringLiteral("B/2.mp3"));
    file(QStringLiteral("B/Disc 2/3.mp3"));
    watch();

    // New files, then stored: the second walk settles every folder.
    Scan s = scan();
    EXPECT_EQ(s.newFiles, (QStringList{"A/1.mp3", "B/2.mp3", "B/Disc 2/3.mp3"}));
    s = scan();
    EXPECT_TRUE(s.walked);
    EXPECT_TRUE(s.newFiles.isEmpty());
    // Nothing happened since: the count stands without a walk.
    s = scan();
    EXPECT_FALSE(s.walked);
    EXPECT_EQ(s.count, "3");
    EXPECT_TRUE(s.newFiles.isEmpty());

    // A file in a folder deep down.
    file(QStringLiteral("B/Disc 2/4.mp3"));
    seen();
    s = scan();
    EXPECT_TRUE(s.walked);
    EXPECT_EQ(s.newFiles, QStringList{"B/Disc 2/4.mp3"});
    EXPECT_EQ(s.count, "4");
    s = scan(); // settles it
    EXPECT_TRUE(scan().walked == false);

    // A track leaving the store: its file is new again, though nothing
    // happened on the disk.
    GenericDAO &dao = GenericDAO::instance();
    dao.delete_(dao.getById(QStringLiteral("audioByCode"), path(QStringLiteral("A/1.mp3"))));
    s = scan();
    EXPECT_TRUE(s.walked);
    EXPECT_EQ(s.newFiles, QStringList{"A/1.mp3"});

    // A folder going.
    s = scan();
    EXPECT_FALSE(scan().walked);
    ASSERT_TRUE(QDir(path(QStringLiteral("B/Disc 2"))).removeRecursively());
    seen();
    s = scan();
    EXPECT_TRUE(s.walked);
    EXPECT_EQ(s.count, "2");
}

TEST_F(WatchedScanTest, EveryScanWalksWhileTheTreeIsNotWatchedWhole) {
    file(QStringLiteral("A/1.mp3"));
    file(QStringLiteral("B/2.mp3"));
    // Two of the three folders.
    watcher.setWatchLimit(2);
    watcher.watch({root()});
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return watcher.watchedFolders() == 2; }));
    scanner.setChangeJournal(watcher.journal());
    scan();
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(scan().walked);

    // Without a journal, as a program without the watcher runs.
    scanner.setChangeJournal({});
    EXPECT_TRUE(scan().walked);
}

TEST_F(WatchedScanTest, AChosenFolderRestoredFromABackupIsFollowedLikeTheOneBefore) {
    file(QStringLiteral("A/1.mp3"));
    watch();
    scan();
    scan();
    ASSERT_FALSE(scan().walked);

    // A restore brings the files back with their times.
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(path(QStringLiteral("A/1.mp3"))).constData(), &before), 0);
    ASSERT_TRUE(QDir(root()).removeRecursively());
    file(QStringLiteral("A/1.mp3"));
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path(QStringLiteral("A/1.mp3"))).constData(),
                          times, 0),
              0);
    file(QStringLiteral("B/2.mp3"));
    seen();
    Scan s = scan();
    EXPECT_TRUE(s.walked);
    EXPECT_EQ(s.newFiles, QStringList{"B/2.mp3"});
    scan();
    ASSERT_FALSE(scan().walked);

    // New songs in it are seen as in the folder it replaced.
    file(QStringLiteral("B/3.mp3"));
    seen();
    s = scan();
    EXPECT_TRUE(s.walked);
    EXPECT_EQ(s.newFiles, QStringList{"B/3.mp3"});
}

// A file system mounted on a folder of the tree changes what is below it
// without an event on any watch. Mounting needs the privilege to.
TEST_F(WatchedScanTest, AFileSystemMountedInTheTreeHasTheNextScanWalkIt) {
    file(QStringLiteral("A/1.mp3"));
    QDir().mkpath(path(QStringLiteral("B")));
    watch();
    scan();
    scan();
    ASSERT_FALSE(scan().walked);

    const QByteArray mountPoint = QFile::encodeName(path(QStringLiteral("B")));
    if (::mount("sonarbox-test", mountPoint.constData(), "tmpfs", 0, nullptr) != 0)
        GTEST_SKIP() << "cannot mount here: " << std::strerror(errno);
    const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
    file(QStringLiteral("B/2.mp3"));
    seen();
    const Scan s = scan();
    EXPECT_TRUE(s.walked);
    EXPECT_EQ(s.newFiles, QStringList{"B/2.mp3"});
}

} // namespace
