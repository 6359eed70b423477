// The folder watcher on real folders: what it reports, how it follows new,
// moved and replaced folders and links, which trees it holds watched whole,
// what it says of files being written, and what it does at the limit of
// watches.
#include "sync/FolderWatcher.h"
#include "LogCapture.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kLimitSaid = QStringLiteral("as many as the system allows");

void write(const QString &path, const QByteArray &content = QByteArray(1000, 'x')) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

void link(const QByteArray &target, const QString &path) {
    ASSERT_EQ(::symlink(target.constData(), QFile::encodeName(path).constData()), 0)
        << target.data();
}

// Makes `levels` folders one in the other below `folder`, named so long that
// the path of the last is longer than any path the system takes.
void makeDeepFolders(const QString &folder, int levels) {
    const QByteArray name(200, 'd');
    int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < levels && fd >= 0; ++i) {
        ASSERT_EQ(::mkdirat(fd, name.constData(), 0755), 0);
        const int next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    ASSERT_GE(fd, 0);
    ::close(fd);
}

// Removes what makeDeepFolders made: paths too long to be named are reached
// through the folders holding them.
void removeDeepFolders(int parent, const char *name) {
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return;
    const QByteArray inner(200, 'd');
    removeDeepFolders(fd, inner.constData());
    ::close(fd);
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

class FolderWatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        QObject::connect(&watcher, &FolderWatcher::changed, &context, [this] { ++changes; });
        QObject::connect(&watcher, &FolderWatcher::writing, &context,
                         [this](const QString &file, bool open) {
                             writes << QLatin1Char(open ? '+' : '-') + QFileInfo(file).fileName();
                         });
        QObject::connect(&watcher, &FolderWatcher::watching, &context,
                         [this](int folders, bool complete) {
                             watched = folders;
                             complete_ = complete;
                             ++walks;
                         });
    }
    QString path(const QString &relative) const { return root.filePath(relative); }
    // Watches `roots` and waits for the walk.
    void watch(const QStringList &roots) {
        const int before = walks;
        watcher.watch(roots);
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return walks > before; }));
    }
    // Whether a change is reported within a while.
    bool reportsChange(const std::function<void()> &action, int ms = 3000) {
        // What an earlier action still reports is let through first.
        int before = -1;
        while (before != changes) {
            before = changes;
            TestEnvironment::waitUntil([] { return false; }, 300);
        }
        changes = 0;
        action();
        return TestEnvironment::waitUntil([&] { return changes > 0; }, ms);
    }

    static bool eventually(const std::function<bool()> &done) {
        return TestEnvironment::waitUntil(done, 3000);
    }

    QTemporaryDir root;
    QObject context;
    QStringList writes;
    FolderWatcher watcher;
    int changes = 0;
    int watched = -1;
    bool complete_ = false;
    int walks = 0;
};

} // namespace

TEST_F(FolderWatcherTest, MusicChangesAnywhereBelowAreReportedAndNewFoldersAreWatchedAsTheyAppear) {
    QDir().mkpath(path("music/a/b"));
    watch({path("music")});
    EXPECT_EQ(watched, 3);
    EXPECT_TRUE(complete_);

    EXPECT_TRUE(reportsChange([&] { write(path("music/a/b/song.mp3")); }));
    // Names are compared as the scan compares them: "flac" and "FLAC", not "Flac".
    EXPECT_TRUE(reportsChange([&] { write(path("music/a/song.FLAC")); }));
    EXPECT_FALSE(reportsChange([&] { write(path("music/a/cover.jpg")); }, 600));
    EXPECT_FALSE(reportsChange([&] { write(path("music/a/notes.Flac")); }, 600));
    EXPECT_TRUE(reportsChange([&] { QFile::remove(path("music/a/b/song.mp3")); }));

    // A new folder (made with its subfolder at once) is a change, and so is
    // music written in it later.
    EXPECT_TRUE(reportsChange([&] { QDir().mkpath(path("music/new/deeper")); }));
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return watcher.watchedFolders() == 5; }));
    EXPECT_TRUE(reportsChange([&] { write(path("music/new/deeper/late.ogg")); }));

    // A folder moved in from outside brings its own subfolders.
    QDir().mkpath(path("outside/x/y"));
    EXPECT_TRUE(reportsChange([&] { QDir().rename(path("outside/x"), path("music/x")); }));
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return watcher.watchedFolders() == 7; }));
    EXPECT_TRUE(reportsChange([&] { write(path("music/x/y/moved.mp3")); }));
    EXPECT_FALSE(reportsChange([&] { write(path("elsewhere.mp3")); }, 600));
}

TEST_F(FolderWatcherTest, AFolderMovedOutOfTheTreeIsNoLongerWatched) {
    QDir().mkpath(path("music/a/b"));
    // Its name starts another's.
    QDir().mkpath(path("music/a 2"));
    watch({path("music")});
    ASSERT_EQ(watched, 4);
    EXPECT_TRUE(reportsChange([&] { QDir().rename(path("music/a"), path("gone")); }));
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return watcher.watchedFolders() == 2; }));
    EXPECT_FALSE(reportsChange([&] { write(path("gone/b/song.mp3")); }, 600));

    // Watching nothing reports nothing.
    watch({});
    EXPECT_EQ(watched, 0);
    EXPECT_FALSE(reportsChange([&] { write(path("music/song.mp3")); }, 600));
}

TEST_F(FolderWatcherTest, AtTheLimitOfWatchesItSaysSoOnceAndWatchesNoFurtherFolders) {
    for (const char *folder : {"music/a", "music/b", "music/c", "music/d"})
        QDir().mkpath(path(folder));
    LogCapture log;
    watcher.setWatchLimit(3);
    watch({path("music")});
    EXPECT_EQ(watched, 3);
    EXPECT_FALSE(complete_);
    EXPECT_FALSE(watcher.isComplete());
    EXPECT_EQ(log.count(kLimitSaid), 1) << log.lines().join('\n').toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("Watching 3 music folders for changes")));

    // The watched folders still report; new folders are not watched, and the
    // limit is not said again, not even for another walk.
    EXPECT_TRUE(reportsChange([&] { write(path("music/song.mp3")); }));
    QDir().mkpath(path("music/e"));
    watch({path("music")});
    EXPECT_EQ(watched, 3);
    EXPECT_EQ(log.count(kLimitSaid), 1);

    // Under the limit, every folder is watched again.
    watcher.setWatchLimit(100);
    watch({path("music")});
    EXPECT_EQ(watched, 6);
    EXPECT_TRUE(complete_);
}

TEST_F(FolderWatcherTest, AChosenFolderReplacedIsWatchedAgainAsItReappears) {
    QDir().mkpath(path("base/music/a"));
    watch({path("base/music")});
    ASSERT_TRUE(complete_);

    // Deleted, then made again with its subfolders (a restore from a backup).
    EXPECT_TRUE(reportsChange([&] { QDir(path("base/music")).removeRecursively(); }));
    EXPECT_TRUE(eventually([&] { return !watcher.isComplete(); }));
    EXPECT_TRUE(reportsChange([&] { QDir().mkpath(path("base/music/a/b")); }));
    EXPECT_TRUE(eventually([&] { return watcher.isComplete() && watcher.watchedFolders() == 3; }));
    EXPECT_TRUE(reportsChange([&] { write(path("base/music/a/b/restored.mp3")); }));

    // Moved away, and another folder moved in.
    QDir().mkpath(path("base/other/x"));
    EXPECT_TRUE(reportsChange([&] { QDir().rename(path("base/music"), path("base/music.old")); }));
    EXPECT_TRUE(reportsChange([&] { QDir().rename(path("base/other"), path("base/music")); }));
    EXPECT_TRUE(eventually([&] { return watcher.isComplete() && watcher.watchedFolders() == 2; }));
    EXPECT_TRUE(reportsChange([&] { write(path("base/music/x/new.mp3")); }));
    EXPECT_FALSE(reportsChange([&] { write(path("base/music.old/a/old.mp3")); }, 600));

    // The folder holding it goes as well, and both come back.
    EXPECT_TRUE(reportsChange([&] { QDir(path("base")).removeRecursively(); }));
    EXPECT_TRUE(reportsChange([&] { QDir().mkpath(path("base/music/late")); }));
    EXPECT_TRUE(eventually([&] { return watcher.isComplete() && watcher.watchedFolders() == 2; }));
    EXPECT_TRUE(reportsChange([&] { write(path("base/music/late/song.mp3")); }));
}

TEST_F(FolderWatcherTest, LinksToFoldersAreFollowedOnceAndLoopsAreRefused) {
    QDir().mkpath(path("music/a"));
    QDir().mkpath(path("outside/albums/one"));
    watch({path("music")});
    ASSERT_EQ(watched, 2);

    // A link made once watching began: where it leads is watched, below too.
    EXPECT_TRUE(reportsChange([&] { link("../outside/albums", path("music/linked")); }));
    EXPECT_TRUE(eventually([&] { return watcher.watchedFolders() == 4; }));
    EXPECT_TRUE(reportsChange([&] { write(path("outside/albums/one/song.mp3")); }));

    // A second link to it watches nothing more, and keeps it watched once
    // the first is gone.
    EXPECT_TRUE(reportsChange(
        [&] { link(QFile::encodeName(path("outside/albums")), path("music/a/again")); }));
    EXPECT_EQ(watcher.watchedFolders(), 4);
    EXPECT_TRUE(reportsChange([&] { QFile::remove(path("music/linked")); }));
    EXPECT_TRUE(eventually([&] { return watcher.watchedFolders() == 4; }));
    EXPECT_TRUE(reportsChange([&] { write(path("outside/albums/one/second.mp3")); }));

    // A link to a folder above it, and two links to each other.
    EXPECT_TRUE(reportsChange([&] { link("..", path("music/a/up")); }));
    EXPECT_TRUE(reportsChange([&] {
        link("l2", path("music/l1"));
        link("l1", path("music/l2"));
    }));
    EXPECT_EQ(watcher.watchedFolders(), 4);
    EXPECT_TRUE(eventually([&] { return watcher.isComplete(); }));
    EXPECT_TRUE(reportsChange([&] { write(path("music/a/after.mp3")); }));

    // Where a link leads, removed and made again.
    EXPECT_TRUE(reportsChange([&] { QDir(path("outside/albums")).removeRecursively(); }));
    EXPECT_TRUE(eventually([&] { return !watcher.isComplete(); }));
    EXPECT_TRUE(reportsChange([&] { QDir().mkpath(path("outside/albums/two")); }));
    EXPECT_TRUE(eventually([&] { return watcher.isComplete() && watcher.watchedFolders() == 4; }));
    EXPECT_TRUE(reportsChange([&] { write(path("outside/albums/two/back.mp3")); }));
}

TEST_F(FolderWatcherTest, ATreeWithAFolderNotWatchedIsNotWatchedWhole) {
    QDir().mkpath(path("music/a"));
    makeDeepFolders(path("music/a"), 21);
    watch({path("music")});
    EXPECT_FALSE(complete_);
    const auto quiet = [&] {
        return watcher.journal()->quietSince(path("music"), watcher.journal()->mark());
    };
    EXPECT_FALSE(quiet());

    // The folders too deep to be watched go.
    const int a = ::open(QFile::encodeName(path("music/a")).constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(a, 0);
    EXPECT_TRUE(reportsChange([&] { removeDeepFolders(a, QByteArray(200, 'd').constData()); }));
    ::close(a);
    EXPECT_TRUE(eventually([&] { return watcher.isComplete(); }));
    EXPECT_TRUE(quiet());

    // A link that leads nowhere yet, until where it leads appears.
    EXPECT_TRUE(reportsChange([&] { link("../nowhere", path("music/dangling")); }));
    EXPECT_FALSE(watcher.isComplete());
    EXPECT_FALSE(quiet());
    EXPECT_TRUE(reportsChange([&] { QDir().mkpath(path("nowhere")); }));
    EXPECT_TRUE(eventually([&] { return watcher.isComplete(); }));
    EXPECT_TRUE(quiet());
    EXPECT_TRUE(reportsChange([&] { write(path("nowhere/found.mp3")); }));
}

TEST_F(FolderWatcherTest, AFileBeingWrittenIsToldUntilItsWriterClosesIt) {
    QDir().mkpath(path("music"));
    watch({path("music")});
    QFile file(path("music/slow.mp3"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(1000, 'x'));
    file.flush();
    EXPECT_TRUE(eventually([&] { return writes == QStringList{"+slow.mp3"}; }))
        << writes.join(' ').toStdString();
    EXPECT_EQ(watcher.filesBeingWritten(), 1);
    // Writing on is no change, and told once.
    EXPECT_FALSE(reportsChange(
        [&] {
            file.write(QByteArray(1000, 'y'));
            file.flush();
        },
        600));
    EXPECT_TRUE(reportsChange([&] { file.close(); }));
    EXPECT_EQ(writes, (QStringList{"+slow.mp3", "-slow.mp3"}));
    EXPECT_EQ(watcher.filesBeingWritten(), 0);

    // A second name for a whole file is being written by nobody, nor is a
    // file linked in once written.
    writes.clear();
    EXPECT_TRUE(reportsChange([&] {
        ASSERT_EQ(::link(QFile::encodeName(path("music/slow.mp3")).constData(),
                         QFile::encodeName(path("music/again.mp3")).constData()),
                  0);
    }));
    EXPECT_TRUE(reportsChange([&] {
        const int fd =
            ::open(QFile::encodeName(path("music")).constData(), O_TMPFILE | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "whole", 5), 5);
        // As the manual says to, so that no privilege is needed.
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        ASSERT_EQ(::linkat(AT_FDCWD, self.constData(), AT_FDCWD,
                           QFile::encodeName(path("music/linked.mp3")).constData(),
                           AT_SYMLINK_FOLLOW),
                  0);
        ::close(fd);
    }));
    EXPECT_TRUE(writes.isEmpty()) << writes.join(' ').toStdString();
    EXPECT_EQ(watcher.filesBeingWritten(), 0);

    // A file removed while being written is no longer; so is one written
    // in a folder that moves away.
    QFile gone(path("music/gone.mp3"));
    ASSERT_TRUE(gone.open(QIODevice::WriteOnly));
    EXPECT_TRUE(reportsChange([&] { QFile::remove(path("music/gone.mp3")); }));
    EXPECT_EQ(writes, (QStringList{"+gone.mp3", "-gone.mp3"}));
    QDir().mkpath(path("music/sub"));
    QFile moved(path("music/sub/moved.mp3"));
    ASSERT_TRUE(eventually([&] { return watcher.watchedFolders() == 2; }));
    ASSERT_TRUE(moved.open(QIODevice::WriteOnly));
    EXPECT_TRUE(eventually([&] { return writes.size() == 3; }));
    EXPECT_TRUE(reportsChange([&] { QDir().rename(path("music/sub"), path("away")); }));
    EXPECT_EQ(writes.mid(2), (QStringList{"+moved.mp3", "-moved.mp3"}));
    EXPECT_EQ(watcher.filesBeingWritten(), 0);
}
