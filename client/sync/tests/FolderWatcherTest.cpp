// The folder watcher on real folders: what it reports, how it follows new and
// moved folders, and what it does at the limit of watches.
#include "sync/FolderWatcher.h"
#include "LogCapture.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kLimitSaid = QStringLiteral("as many as the system allows");

void write(const QString &path, const QByteArray &content = QByteArray(1000, 'x')) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

class FolderWatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        QObject::connect(&watcher, &FolderWatcher::changed, &context, [this] { ++changes; });
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

    QTemporaryDir root;
    QObject context;
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
    watch({path("music")});
    ASSERT_EQ(watched, 3);
    EXPECT_TRUE(reportsChange([&] { QDir().rename(path("music/a"), path("gone")); }));
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return watcher.watchedFolders() == 1; }));
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
