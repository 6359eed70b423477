#include "sync/FolderScan.h"
#include "CoordinatorFixture.h"
#include "ScanTestSupport.h"
#include "TestSongs.h"
#include "store/GenericDAO.h"
#include "sync/FileStillness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FolderScanTest : public CoordinatorTest {
protected:
    QString path(const QString &relative) { return dir.filePath("music/" + relative); }
    void file(const QString &relative, qint64 bytes = 200000) {
        ASSERT_TRUE(TestSongs::makeFileOfSize(path(relative), bytes)) << qPrintable(relative);
    }
    void store(const QString &relative) {
        auto track = std::make_shared<Audio>();
        track->fileURL = path(relative);
        track->checksum = relative;
        ASSERT_FALSE(GenericDAO::instance().addTrackToDB(track, true));
    }
    // Sets a folder's modification time an hour back, as a folder left
    // alone looks (its change time stays now).
    void age(const QString &relative) {
        const timespec times[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path(relative)).constData(), times, 0),
                  0);
    }
    FolderScan::Result scan(std::chrono::nanoseconds settleAfter = {}) {
        FolderScan folderScan;
        folderScan.settleAfter = settleAfter;
        return folderScan.run(dir.filePath("music"), {QStringLiteral("mp3")}, duplicates);
    }
    QStringList newPaths(const FolderScan::Result &result) {
        QStringList paths;
        for (const AudioPtr &t : result.newTracks)
            paths << QDir(dir.filePath("music")).relativeFilePath(t->fileURL.value_or(""));
        return paths;
    }
    QStringList settled() {
        QStringList keys;
        for (const QString &key : GenericDAO::instance().settledFolders().keys())
            keys << QDir(dir.filePath("music")).relativeFilePath(key);
        keys.sort();
        return keys;
    }

    // The file as the store keeps its stamp.
    FileStamp stampOf(const QString &relative) {
        struct stat a {};
        EXPECT_EQ(::stat(QFile::encodeName(path(relative)).constData(), &a), 0);
        return {qint64(a.st_size), qint64(a.st_mtim.tv_sec) * 1000000000 + a.st_mtim.tv_nsec,
                qint64(a.st_dev), qint64(a.st_ino)};
    }

    QSet<QString> duplicates;
};

TEST_F(FolderScanTest, OnlyFoldersWhoseFilesAreAllStoredSettleAndTheirFilesAreOnlyCounted) {
    file("A/1.mp3");
    file("A/2.mp3");
    file("A/cover.jpg");
    file("B/1.mp3");
    file("B/new.mp3");
    file("C/1.mp3");
    file("C/arriving.mp3", 1000); // too small yet: may still be copied in
    file("D/1.mp3");
    file("D/twin.mp3");
    for (const char *stored : {"A/1.mp3", "A/2.mp3", "B/1.mp3", "C/1.mp3", "D/1.mp3"})
        store(stored);
    duplicates.insert(path("D/twin.mp3"));

    FolderScan::Result first = scan();
    EXPECT_FALSE(first.stopped);
    EXPECT_EQ(newPaths(first), QStringList{"B/new.mp3"});
    EXPECT_EQ(first.found, 6);
    // The root holds no music of its own, so it settles too.
    EXPECT_EQ(settled(), (QStringList{".", "A"}));

    // Nothing changed: the same answer, A's files only counted.
    FolderScan::Result again = scan();
    EXPECT_EQ(newPaths(again), QStringList{"B/new.mp3"});
    EXPECT_EQ(again.found, 6);

    // Once B's new file is stored, B settles at the next scan.
    store("B/new.mp3");
    EXPECT_TRUE(scan().newTracks.isEmpty());
    EXPECT_EQ(settled(), (QStringList{".", "A", "B"}));
}

TEST_F(FolderScanTest, ASettledFolderIsReadAgainWhenItsEntriesOrItsTracksChange) {
    file("A/1.mp3");
    file("A/2.mp3");
    file("B/1.mp3");
    file("R/1.mp3");
    file("G/1.mp3");
    file("N/Disc 1/1.mp3");
    for (const char *stored :
         {"A/1.mp3", "A/2.mp3", "B/1.mp3", "R/1.mp3", "G/1.mp3", "N/Disc 1/1.mp3"})
        store(stored);
    for (const char *folder : {"A", "B", "R", "G", "N", "N/Disc 1"})
        age(folder);
    ASSERT_TRUE(scan().newTracks.isEmpty());
    ASSERT_EQ(settled(), (QStringList{".", "A", "B", "G", "N", "N/Disc 1", "R"}));

    // A file copied into a settled folder.
    file("A/3.mp3");
    // A track that leaves the store: its file is new again.
    GenericDAO &dao = GenericDAO::instance();
    dao.delete_(dao.getById(QStringLiteral("audioByCode"), QStringLiteral("B/1.mp3")));
    // A folder replaced by another with the same name and modification
    // time, as a copy that keeps times makes.
    ASSERT_TRUE(QDir(path("R")).removeRecursively());
    file("R/1.mp3");
    file("R/other.mp3");
    age("R");
    // A folder that is gone is forgotten.
    ASSERT_TRUE(QDir(path("G")).removeRecursively());
    // A file copied into a folder inside a settled one.
    file("N/Disc 1/2.mp3");

    FolderScan::Result result = scan();
    QStringList found = newPaths(result);
    found.sort();
    // R's stored file was written anew: it is read again, and the pass over
    // the findings then tells whether its bytes changed.
    EXPECT_EQ(found,
              (QStringList{"A/3.mp3", "B/1.mp3", "N/Disc 1/2.mp3", "R/1.mp3", "R/other.mp3"}));
    EXPECT_EQ(result.found, 8);
    EXPECT_EQ(settled(), (QStringList{".", "N"}));
}

TEST_F(FolderScanTest, NothingSettlesWhileFilesMayStillArriveOrAfterAStop) {
    file("A/1.mp3");
    store("A/1.mp3");
    // Just written: a copy may still be going on.
    EXPECT_EQ(scan(std::chrono::seconds(10)).found, 1);
    EXPECT_TRUE(settled().isEmpty());

    FolderScan stopped;
    stopped.settleAfter = {};
    stopped.stopRequested = [] { return true; };
    EXPECT_TRUE(stopped.run(dir.filePath("music"), {QStringLiteral("mp3")}, {}).stopped);
    EXPECT_TRUE(settled().isEmpty());

    // A sync's preview finds the same and records nothing.
    FolderScan preview;
    preview.settleAfter = {};
    preview.recordFolders = false;
    EXPECT_EQ(preview.run(dir.filePath("music"), {QStringLiteral("mp3")}, {}).found, 1);
    EXPECT_TRUE(settled().isEmpty());
    EXPECT_EQ(scan().found, 1);
    EXPECT_EQ(settled(), (QStringList{".", "A"}));
}

} // namespace

TEST_F(FolderScanTest, NewFilesWrittenJustNowWaitForALaterScanAndKeepTheirFolderUnsettled) {
    file("A/old.mp3");
    file("B/stored.mp3");
    store("B/stored.mp3");
    age("B");
    // The change time counts too, which a copy that keeps a file's times
    // cannot set back: so the older file is made a while before the other.
    ::usleep(1500 * 1000);
    file("A/fresh.mp3");
    file("B/stored.mp3", 300000);
    age("A");

    FolderScan folderScan;
    folderScan.leaveWrittenWithin = std::chrono::seconds(1);
    FolderScan::Result result =
        folderScan.run(dir.filePath("music"), {QStringLiteral("mp3")}, duplicates);
    EXPECT_EQ(newPaths(result), QStringList{"A/old.mp3"});
    EXPECT_EQ(result.stillWritten, QStringList{path("A/fresh.mp3")});
    // Every music file is found, the waiting one too; a stored track that
    // was just written is not waited for.
    EXPECT_EQ(result.found, 3);
    EXPECT_FALSE(settled().contains("A"));

    // Without the wait, it is taken as it is.
    result = scan();
    EXPECT_EQ(newPaths(result), (QStringList{"A/fresh.mp3", "A/old.mp3"}));
    EXPECT_TRUE(result.stillWritten.isEmpty());
}

TEST_F(FolderScanTest, AFileThatGrowsWhileTheScanReadsItWaitsForALaterScan) {
    file("A/growing.mp3");
    file("B/steady.mp3");
    FolderScan folderScan;
    // Long written: only its growth can hold it back.
    folderScan.leaveWrittenWithin = std::chrono::nanoseconds(1);
    // The walk has just looked at a file when it counts it: the copy goes on.
    folderScan.tracksFound = [&](qsizetype) {
        QFile growing(path("A/growing.mp3"));
        ASSERT_TRUE(growing.open(QIODevice::Append));
        growing.write("more");
    };
    const FolderScan::Result result =
        folderScan.run(dir.filePath("music"), {QStringLiteral("mp3")}, duplicates);
    EXPECT_EQ(newPaths(result), QStringList{"B/steady.mp3"});
    EXPECT_EQ(result.stillWritten, QStringList{path("A/growing.mp3")});
}

// A copy that stalls holds its file open for writing: however long ago it
// last wrote, and whether or not the scan waits for fresh files, the file is
// not read until it is closed.
TEST_F(FolderScanTest, AFileSomeoneHoldsOpenForWritingIsLeftWhateverItsAgeUntilClosed) {
    using namespace std::chrono_literals;
    file("A/copying.mp3");
    file("A/copied.mp3");
    const QByteArray copying = QFile::encodeName(path("A/copying.mp3"));
    const int writer = ::open(copying.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ::usleep(300 * 1000);
    for (const bool waits : {false, true}) {
        for (const std::chrono::nanoseconds settle : {0ns, std::chrono::nanoseconds(200ms)}) {
            FolderScan folderScan;
            folderScan.leaveWrittenWithin = settle;
            folderScan.waitForWritten = waits;
            const FolderScan::Result result =
                folderScan.run(dir.filePath("music"), {QStringLiteral("mp3")}, duplicates);
            EXPECT_EQ(newPaths(result), QStringList{"A/copied.mp3"}) << waits << settle.count();
            EXPECT_EQ(result.openForWriting, QStringList{path("A/copying.mp3")});
            EXPECT_TRUE(result.stillWritten.isEmpty());
        }
    }
    EXPECT_FALSE(settled().contains("A"));

    ::close(writer);
    QStringList found = newPaths(scan());
    found.sort();
    EXPECT_EQ(found, (QStringList{"A/copied.mp3", "A/copying.mp3"}));
}

// Root takes a lease on anyone's file. Anyone else gets none on another
// user's file, and then its stillness alone decides: a writer that has
// stopped writing goes unseen.
TEST_F(FolderScanTest, WhereNoLeaseCanBeHadAFileIsTakenOnceItHasRested) {
    using namespace std::chrono_literals;
    file("A/theirs.mp3");
    const QByteArray theirs = QFile::encodeName(path("A/theirs.mp3"));
    ASSERT_EQ(::chown(theirs.constData(), 65534, 65534), 0);
    const int writer = ::open(theirs.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    FolderScan folderScan;
    folderScan.leaveWrittenWithin = 400ms;
    const auto run = [&] {
        return folderScan.run(dir.filePath("music"), {QStringLiteral("mp3")}, duplicates);
    };
    ::usleep(500 * 1000);
    EXPECT_EQ(run().openForWriting, QStringList{path("A/theirs.mp3")});
    {
        const WithoutLeaseOverride asAnotherUser;
        const int reader = ::open(theirs.constData(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        EXPECT_EQ(FileStillness::openForWriting(reader), std::nullopt);
        ::close(reader);

        ASSERT_EQ(::write(writer, "more", 4), 4);
        FolderScan::Result result = run();
        EXPECT_TRUE(result.newTracks.isEmpty());
        EXPECT_EQ(result.stillWritten, QStringList{path("A/theirs.mp3")});
        ::usleep(500 * 1000);
        result = run();
        EXPECT_EQ(newPaths(result), QStringList{"A/theirs.mp3"});
        EXPECT_TRUE(result.stillWritten.isEmpty());
    }
    ::close(writer);
}

// A single sync has no later one to leave a file to: it waits for a file
// written just before it (never longer than the settle time), and still
// leaves one that changes meanwhile.
TEST_F(FolderScanTest, AScanThatWaitsTakesFreshFilesOnceRestedAndLeavesThoseChangedMeanwhile) {
    using namespace std::chrono_literals;
    file("A/fresh.mp3");
    file("B/appended.mp3");
    QElapsedTimer clock;
    clock.start();
    FolderScan folderScan;
    folderScan.leaveWrittenWithin = 1500ms;
    folderScan.waitForWritten = true;
    int found = 0;
    bool appended = false;
    folderScan.tracksFound = [&](qsizetype count) { found += int(count); };
    // Asked between files and while the scan waits.
    folderScan.stopRequested = [&] {
        if (found == 2 && !appended) {
            appended = true;
            QFile more(path("B/appended.mp3"));
            EXPECT_TRUE(more.open(QIODevice::Append));
            more.write("more");
        }
        return false;
    };
    const FolderScan::Result result =
        folderScan.run(dir.filePath("music"), {QStringLiteral("mp3")}, duplicates);
    EXPECT_EQ(newPaths(result), QStringList{"A/fresh.mp3"});
    EXPECT_EQ(result.stillWritten, QStringList{path("B/appended.mp3")});
    EXPECT_GE(clock.elapsed(), 1400);
    EXPECT_LT(clock.elapsed(), 6000);

    // A stop ends the wait.
    file("C/new.mp3");
    clock.restart();
    folderScan.stopRequested = [&] { return clock.elapsed() > 200; };
    EXPECT_TRUE(folderScan.run(dir.filePath("music"), {QStringLiteral("mp3")}, duplicates).stopped);
    EXPECT_LT(clock.elapsed(), 1200);
}

TEST_F(FolderScanTest, AStoredFileWrittenInPlaceIsReadAgainAndAGoneOneIsReported) {
    file("A/1.mp3");
    file("A/2.mp3");
    file("B/1.mp3");
    file("B/copy.mp3");
    file("C/1.mp3");
    file("C/2.mp3");
    for (const char *stored : {"A/1.mp3", "A/2.mp3", "B/1.mp3", "C/1.mp3", "C/2.mp3"})
        store(stored);
    for (const char *folder : {"A", "B", "C", ""})
        age(folder);
    // The first scan takes the stamps of tracks stored without one.
    EXPECT_TRUE(newPaths(scan()).contains("B/copy.mp3"));
    GenericDAO::instance().rememberDuplicate(path("B/copy.mp3"),
                                             {QStringLiteral("B/1.mp3"), stampOf("B/copy.mp3")});
    FolderScan::Result quiet = scan();
    EXPECT_TRUE(quiet.newTracks.isEmpty());
    EXPECT_TRUE(quiet.gone.isEmpty());
    EXPECT_EQ(quiet.found, 5) << "a known copy is not a track of its own";
    EXPECT_EQ(settled(), (QStringList{".", "A", "B", "C"})) << "nor does it keep its folder open";

    // A tag written in place: the folder's entries stay as they were, so
    // the folder stays settled and only its stored files are looked at.
    {
        QFile rewritten(path("A/1.mp3"));
        ASSERT_TRUE(rewritten.open(QIODevice::Append));
        rewritten.write(QByteArray(4096, 'x'));
    }
    ASSERT_TRUE(QFile::remove(path("C/2.mp3")));
    const AudioPtr old =
        GenericDAO::instance().getById(QStringLiteral("audioByCode"), QStringLiteral("A/1.mp3"));
    ASSERT_TRUE(old);
    FolderScan::Result changed = scan();
    ASSERT_EQ(newPaths(changed), QStringList{"A/1.mp3"});
    EXPECT_EQ(changed.newTracks.first()->previousObjectID, old->objectID);
    EXPECT_EQ(changed.newTracks.first()->fileSize, 200000 + 4096);
    ASSERT_EQ(changed.gone.size(), 1);
    EXPECT_EQ(changed.gone.first().path, path("C/2.mp3"));

    // A copy written to is a file of its own again.
    {
        QFile copy(path("B/copy.mp3"));
        ASSERT_TRUE(copy.open(QIODevice::Append));
        copy.write("more");
    }
    EXPECT_TRUE(newPaths(scan()).contains("B/copy.mp3"));
}

// A modification time in the future (a camera's clock, an unpacked archive)
// says nothing of when the file was written; its status change time does.
TEST_F(FolderScanTest, AModificationTimeInTheFutureDoesNotHoldAFileBack) {
    using namespace std::chrono_literals;
    file("A/dated.mp3");
    const timespec tomorrow[2] = {{::time(nullptr) + 86400, 0}, {::time(nullptr) + 86400, 0}};
    ASSERT_EQ(
        ::utimensat(AT_FDCWD, QFile::encodeName(path("A/dated.mp3")).constData(), tomorrow, 0), 0);
    ::usleep(400 * 1000);
    FolderScan folderScan;
    folderScan.leaveWrittenWithin = 300ms;
    EXPECT_EQ(newPaths(folderScan.run(dir.filePath("music"), {QStringLiteral("mp3")}, duplicates)),
              QStringList{"A/dated.mp3"});
}
