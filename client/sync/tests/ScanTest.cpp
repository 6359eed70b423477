#include "CoordinatorFixture.h"
#include "ScanTestSupport.h"
#include "TestSongs.h"
#include "engine/Sonarbox.h"
#include "sync/ScanForLocalMedia.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Made once for the suite (ffmpeg is slow) and copied where a test needs them.
QTemporaryDir *songs = nullptr;

class ScanTest : public CoordinatorTest {
protected:
    static void SetUpTestSuite() {
        songs = new QTemporaryDir;
        // Eight seconds of mp3 are well over the 100 KiB a file needs.
        ASSERT_TRUE(
            TestSongs::make(songs->filePath("t.mp3"), 1, 8, {"Rain Song", "Ada", "Storms"}));
        ASSERT_TRUE(TestSongs::make(songs->filePath("t.m4a"), 2, 8, {"Dune", "Bo", "Sands"}));
        ASSERT_TRUE(TestSongs::make(songs->filePath("t.flac"), 3, 4, {"Ice", "Cy", "Cold"}));
        ASSERT_TRUE(TestSongs::make(songs->filePath("t.ogg"), 4, 30, {"Moss", "Di", "Green"}));
        ASSERT_TRUE(TestSongs::make(songs->filePath("untagged.mp3"), 5, 8));
    }
    static void TearDownTestSuite() { delete songs; }

    QString path(const QString &relative) { return dir.filePath(relative); }
    void copy(const QString &song, const QString &to) {
        QDir().mkpath(QFileInfo(path(to)).absolutePath());
        ASSERT_TRUE(QFile::copy(songs->filePath(song), path(to))) << qPrintable(to);
    }
    void chooseFolders(const QStringList &folders) {
        QList<QUrl> urls;
        for (const QString &f : folders)
            urls << QUrl::fromLocalFile(path(f));
        sonarbox().setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
        sonarbox().setUserMediaFoldersToScan(urls);
    }
    void scan() { scanWith(scanner); }
    // A scan of a run of its own, whose findings found() reads.
    void scanWith(ScanForLocalMedia &stage) {
        run = sonarbox().newRun();
        int completions = 0;
        stage.scanFileSystemForMedia(run, [&] { ++completions; });
        ASSERT_EQ(completions, 1);
    }
    // The last scan's records by their path below the test's folder.
    QMap<QString, AudioPtr> found() {
        QMap<QString, AudioPtr> byPath;
        for (const AudioPtr &t : run->localLibraryTracks())
            byPath.insert(QDir(dir.path()).relativeFilePath(t->fileURL.value_or("")), t);
        return byPath;
    }
    QMap<QString, QString> counts() { return sonarbox().userMediaFoldersToScanWithSongAmounts(); }

    ScanForLocalMedia scanner{Sonarbox::instance(), nullptr};
    SyncRunPtr run = std::make_shared<SyncRun>(RunContext{});
};

// A sync names every file it left; only those that changed too recently ask
// for another sync soon, as one held open would only be found open again
// (its closing is a change the watcher sees).
TEST_F(ScanTest, FilesLeftAsStillWrittenAreNamedButOnlyChangingOnesAskForAnotherSync) {
    chooseFolders({"A"});
    copy("t.mp3", "A/open.mp3");
    ::usleep(400 * 1000);
    copy("untagged.mp3", "A/fresh.mp3");
    const int writer =
        ::open(QFile::encodeName(path("A/open.mp3")).constData(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    scanner.setLeaveFilesWrittenWithin(std::chrono::milliseconds(300));
    scan();
    ::close(writer);
    EXPECT_TRUE(found().isEmpty());
    QStringList left = scanner.filesLeftStillWritten();
    left.sort();
    EXPECT_EQ(left, (QStringList{path("A/fresh.mp3"), path("A/open.mp3")}));
    EXPECT_EQ(scanner.takeFilesStillWritten(), 1);
}

TEST_F(ScanTest, TakesListedExtensionsAndSizesButNoKnownDuplicate) {
    const QList<QPair<const char *, qint64>> files = {{"a.MP3", 200000},
                                                      {"b.Mp3", 200000},
                                                      {"c.mP3", 200000},
                                                      {"d.mp3", 200000},
                                                      {"e.WAV", 200000},
                                                      {"f.Flac", 200000},
                                                      {"mp3", 200000},
                                                      {".hidden.ogg", 200000},
                                                      {"twin.mp3", 200000},
                                                      {"at-102400.mp3", 102400},
                                                      {"at-102401.mp3", 102401},
                                                      {"at-104857599.mp3", 104857599},
                                                      {"at-104857600.mp3", 104857600}};
    for (const auto &[name, bytes] : files)
        ASSERT_TRUE(TestSongs::makeFileOfSize(path("in/") + name, bytes));
    auto twin = std::make_shared<Audio>();
    twin->fileURL = path("in/twin.mp3");
    sonarbox().addDuplicateLibraryTrack(std::make_shared<Audio>());
    sonarbox().addDuplicateLibraryTrack(twin);
    chooseFolders({"in"});

    QElapsedTimer clock;
    clock.start();
    scan();
    // 100 MiB that only claim to be an MP3 must not cost seconds at every scan.
    EXPECT_LT(clock.elapsed(), 3000);

    EXPECT_EQ(found().keys(),
              QStringList({"in/.hidden.ogg", "in/a.MP3", "in/at-102401.mp3", "in/at-104857599.mp3",
                           "in/b.Mp3", "in/c.mP3", "in/d.mp3"}));
    // Not audio at all: taken by its name and size, with "Unknown" names.
    EXPECT_EQ(summary(*found().value("in/b.Mp3")), "Unknown|Unknown|-|Unknown|Mp3|-|-");
}

TEST_F(ScanTest, ReadsTitleArtistAndAlbumOfEveryFormat) {
    copy("t.mp3", "in/one.mp3");
    copy("t.m4a", "in/sub/two.m4a");
    copy("t.flac", "in/sub/deeper/three.flac");
    copy("t.ogg", "in/four.ogg");
    copy("untagged.mp3", "in/none.mp3");
    // Cut off in its audio: the tags at its start still count.
    copy("t.mp3", "in/cut.mp3");
    ASSERT_TRUE(QFile(path("in/cut.mp3")).resize(110000));
    // An ID3 header that promises far more than the file holds.
    ASSERT_TRUE(TestSongs::makeFileOfSize(path("in/lying.mp3"), 150000));
    QFile lying(path("in/lying.mp3"));
    ASSERT_TRUE(lying.open(QIODevice::ReadWrite));
    lying.write(QByteArray("ID3\x04\x00\x00\x7f\x7f\x7f\x7fTIT2\x7f\x7f\x7f\x7f", 18));
    lying.close();
    chooseFolders({"in"});

    scan();

    QStringList summaries;
    for (const auto &[relative, track] : found().asKeyValueRange())
        summaries << relative + ": " + summary(*track);
    EXPECT_EQ(summaries, QStringList({"in/cut.mp3: Rain Song.mp3|Rain Song|Ada|Storms|mp3|-|-",
                                      "in/four.ogg: Moss.ogg|Moss|Di|Green|ogg|-|-",
                                      "in/lying.mp3: Unknown|Unknown|-|Unknown|mp3|-|-",
                                      "in/none.mp3: Unknown|Unknown|-|Unknown|mp3|-|-",
                                      "in/one.mp3: Rain Song.mp3|Rain Song|Ada|Storms|mp3|-|-",
                                      "in/sub/deeper/three.flac: Ice.flac|Ice|Cy|Cold|flac|-|-",
                                      "in/sub/two.m4a: Dune.m4a|Dune|Bo|Sands|m4a|-|-"}));
    EXPECT_EQ(found().value("in/one.mp3")->modDate, QFileInfo(path("in/one.mp3")).lastModified());
}

TEST_F(ScanTest, CountsPerFolderAndAStopEndsOnlyTheFolderBeingWalked) {
    copy("t.mp3", "first/1.mp3");
    copy("t.mp3", "first/x/2.mp3");
    copy("untagged.mp3", "first/3.mp3");
    copy("t.m4a", "second/4.m4a");
    copy("t.ogg", "second/5.ogg");
    chooseFolders({"first", "second"});
    const QString first = path("first"), second = path("second");

    LogCapture log;
    scan();
    EXPECT_EQ(counts(), (QMap<QString, QString>{{first, "3"}, {second, "2"}}));
    EXPECT_EQ(found().size(), 5);
    EXPECT_EQ(sonarbox().syncProgress().state().stage, SyncProgress::Stage::Scanning);
    EXPECT_EQ(sonarbox().syncProgress().state().itemsDone, 5);
    EXPECT_EQ(log.count("=== START | ADDING SONGS FROM FILE SYSTEM TO localLibraryTracks ARRAY"),
              2);
    EXPECT_EQ(log.count("=== FINISH | ADDING SONGS FROM FILE SYSTEM TO localLibraryTracks ARRAY"),
              2);
    // A line per file would flood the log of a large collection.
    EXPECT_EQ(log.count("Song Name:"), 0);

    // The user presses Stop as soon as the first song of the first folder is found.
    bool pressed = false;
    const QMetaObject::Connection pressStop = QObject::connect(
        &sonarbox().syncProgress(), &SyncProgress::changed, &sonarbox(),
        [&] {
            if (!pressed && sonarbox().syncProgress().state().itemsDone == 1)
                pressed = sonarbox().flow_stopProcesses = true;
        },
        Qt::DirectConnection);
    scan();
    QObject::disconnect(pressStop);
    EXPECT_FALSE(sonarbox().flow_stopProcesses);
    EXPECT_EQ(counts(), (QMap<QString, QString>{{first, "0"}, {second, "2"}}));
    EXPECT_EQ(found().keys(), QStringList({"second/4.m4a", "second/5.ogg"}));

    chooseFolders({});
    scan();
    EXPECT_EQ(counts(), (QMap<QString, QString>{}));
}

TEST_F(ScanTest, MusicFolderModeWalksTheHomeMusicFolderAndLeavesTheCounts) {
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", dir.path().toUtf8());
    sonarbox().reinitialize();
    qputenv("HOME", home);
    copy("t.mp3", "Music/Album/song.mp3");
    copy("t.m4a", "elsewhere/other.m4a");
    sonarbox().setUserPickedMediaLibrary(LibraryChoice::MusicFolder);
    sonarbox().setUserMediaFoldersToScanWithSongAmounts({{"/earlier/folder", "12"}});

    scan();

    EXPECT_EQ(found().keys(), QStringList{"Music/Album/song.mp3"});
    EXPECT_EQ(counts(), (QMap<QString, QString>{{"/earlier/folder", "12"}}));
}

TEST_F(ScanTest, SkipsWhatCannotBeReadAndWalksOn) {
    for (const char *name : {"in/a-first.mp3", "in/b-vanishes.mp3", "in/c-locked.mp3",
                             "in/d-closed/inside.mp3", "in/e-open/inside.mp3"})
        copy("t.mp3", QLatin1String(name));
    ASSERT_EQ(::symlink(qPrintable(path("nowhere.mp3")), qPrintable(path("in/c-dangling.mp3"))), 0);
    // Opening a pipe for reading would wait for a writer that never comes.
    ASSERT_EQ(::mkfifo(qPrintable(path("in/c-pipe.mp3")), 0644), 0);
    ASSERT_EQ(::chmod(qPrintable(path("in/c-locked.mp3")), 0), 0);
    ASSERT_EQ(::chmod(qPrintable(path("in/d-closed")), 0), 0);
    chooseFolders({"in", "missing"});
    // A file goes away while the walk is under way.
    const QMetaObject::Connection vanish = QObject::connect(
        &sonarbox().syncProgress(), &SyncProgress::changed, &sonarbox(),
        [&] {
            if (sonarbox().syncProgress().state().itemsDone == 1)
                QFile::remove(path("in/b-vanishes.mp3"));
        },
        Qt::DirectConnection);

    LogCapture log;
    {
        WithoutReadOverride asAnyUser;
        scan();
    }
    QObject::disconnect(vanish);
    ::chmod(qPrintable(path("in/d-closed")), 0700);

    EXPECT_EQ(found().keys(), QStringList({"in/a-first.mp3", "in/e-open/inside.mp3"}));
    EXPECT_EQ(log.count("Error Happened: " + path("in/c-locked.mp3")), 1);
    EXPECT_EQ(log.count("Error Happened: " + path("in/c-dangling.mp3")), 1);
    EXPECT_EQ(log.count("Error happend with Enumerator: " + path("in/d-closed")), 1);
    EXPECT_EQ(log.count("Error happend with Enumerator: " + path("missing")), 1);
    EXPECT_EQ(log.count("b-vanishes"), 0);
    EXPECT_EQ(counts().value(path("missing")), "0");
}

TEST_F(ScanTest, FollowsLinkedFoldersOnceAndEndsLinkLoops) {
    copy("t.mp3", "in/a/song.mp3");
    copy("t.m4a", "outside/far.m4a");
    copy("t.ogg", "outside/linked.ogg");
    const auto link = [&](const char *target, const char *name) {
        ASSERT_EQ(::symlink(target, qPrintable(path(QLatin1String(name)))), 0) << name;
    };
    link("..", "in/a/up");        // a loop back to the top
    link(".", "in/a/self");       // a loop onto itself
    link("a", "in/b");            // a second way into the same folder
    link("../outside", "in/ext"); // a folder elsewhere
    link("../outside/linked.ogg", "in/file.ogg");
    chooseFolders({"in"});

    // Should the walk go round a loop, a stop request ends it: a failure, not a hang.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 100 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!done)
            sonarbox().flow_stopProcesses = true;
    });
    scan();
    done = true;
    watchdog.join();

    EXPECT_EQ(found().keys(),
              QStringList({"in/a/song.mp3", "in/ext/far.m4a", "in/ext/linked.ogg", "in/file.ogg"}));
}

} // namespace

// A name that is not valid UTF-8 would be listed and then never be read
// back: it is left out, and said once, not at every hourly scan.
TEST_F(ScanTest, ANameThatIsNotValidUtf8IsLeftOutAndReportedOnce) {
    copy("t.mp3", "in/fine.mp3");
    QFile source(songs->filePath("t.mp3"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    const QByteArray badName = QFile::encodeName(path("in/")) + "caf\xe9 latin-1.mp3";
    const int fd = ::open(badName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    ::close(fd);
    chooseFolders({"in"});

    LogCapture log;
    scan();
    scan();
    EXPECT_EQ(found().keys(), QStringList{"in/fine.mp3"});
    EXPECT_EQ(log.count("not valid UTF-8"), 1);
}

// The music player's library lists a file that repeats a stored track: once
// known as a duplicate, it is not offered to the fingerprint stage again.
TEST_F(ScanTest, TheMusicPlayersLibrarySkipsKnownDuplicatesToo) {
    copy("t.mp3", "lib/one.mp3");
    copy("t.mp3", "lib/copy of one.mp3");
    struct Listing : MusicLibrary {
        QStringList paths;
        std::optional<QList<LibraryTrack>> tracks() override {
            QList<LibraryTrack> list;
            for (const QString &p : paths)
                list << LibraryTrack{p, QFileInfo(p).completeBaseName(), "Ada", "Storms", {}, {},
                                     {}};
            return list;
        }
        std::optional<QString> addSong(const QString &) override { return std::nullopt; }
    };
    auto library = std::make_shared<Listing>();
    library->paths = {path("lib/one.mp3"), path("lib/copy of one.mp3")};
    ScanForLocalMedia fromLibrary(Sonarbox::instance(), library);
    sonarbox().setUserPickedMediaLibrary(LibraryChoice::MusicPlayer);
    auto twin = std::make_shared<Audio>();
    twin->fileURL = path("lib/copy of one.mp3");
    sonarbox().addDuplicateLibraryTrack(twin);
    sonarbox().addDuplicateLibraryTrack(twin);

    scanWith(fromLibrary);
    EXPECT_EQ(found().keys(), QStringList{"lib/one.mp3"});
    EXPECT_EQ(sonarbox().duplicateLibraryTracks().size(), 1);
}
