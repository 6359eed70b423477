#include "CoordinatorFixture.h"
#include "MpdProcess.h"
#include "ScanTestSupport.h"
#include "TestSongs.h"
#include "engine/Sonarbox.h"
#include "settings/Utility.h"
#include "sync/MpdLibrary.h"
#include "sync/ScanForLocalMedia.h"
#include "sync/iTunesModifier.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>

#include <mpd/client.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

namespace {

QTemporaryDir *songs = nullptr;

QByteArray contentOf(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What MPD itself holds: its stored playlists, or the songs of one of them.
QStringList askMpd(const MpdProcess &mpd, const char *songsOf = nullptr) {
    mpd_connection *c = mpd_connection_new(qPrintable(mpd.host()), mpd.port(), 5000);
    QStringList names;
    if (songsOf && mpd_send_list_playlist(c, songsOf)) {
        while (mpd_song *s = mpd_recv_song(c)) {
            names << QString::fromUtf8(mpd_song_get_uri(s));
            mpd_song_free(s);
        }
    } else if (!songsOf && mpd_send_list_playlists(c)) {
        while (mpd_playlist *p = mpd_recv_playlist(c)) {
            names << QString::fromUtf8(mpd_playlist_get_path(p));
            mpd_playlist_free(p);
        }
    }
    mpd_connection_free(c);
    return names;
}

class MusicLibraryTest : public CoordinatorTest {
protected:
    static void SetUpTestSuite() {
        songs = new QTemporaryDir;
        const QString first = songs->filePath("first.mp3");
        ASSERT_TRUE(TestSongs::make(first, 1, 8, {"First", "Ada", "Storms", 3}));
        TagLib::FileRef tagged(qPrintable(first));
        tagged.tag()->setYear(2011);
        ASSERT_TRUE(tagged.save());
        ASSERT_TRUE(TestSongs::make(songs->filePath("untitled.ogg"), 2, 30));
        ASSERT_TRUE(TestSongs::make(songs->filePath("short.mp3"), 3, 2, {"Short", "Ada"}));
        ASSERT_TRUE(TestSongs::make(songs->filePath("download.mp3"), 4, 8, {"Fetched", "Bo"}));
    }
    static void TearDownTestSuite() { delete songs; }

    void SetUp() override {
        CoordinatorTest::SetUp();
        ASSERT_TRUE(mpd.start());
        for (const auto &[song, to] : {std::pair{"first.mp3", "Ada/Storms/01 First.mp3"},
                                       {"untitled.ogg", "loose/untitled.ogg"},
                                       {"short.mp3", "Ada/Storms/short.mp3"}}) {
            QDir().mkpath(QFileInfo(music(to)).absolutePath());
            ASSERT_TRUE(QFile::copy(songs->filePath(song), music(to)));
        }
        ASSERT_TRUE(mpd.updateDatabase());
    }

    QString music(const QString &relative) const { return mpd.musicFolder() + '/' + relative; }
    MpdLibrary::Settings settings() const {
        return {mpd.host(), mpd.port(), mpd.musicFolder() + '/', 5000};
    }
    // A downloaded song waiting for the hand-off.
    QString downloaded(const QString &name) {
        QDir().mkpath(dir.filePath("downloads"));
        QFile::copy(songs->filePath("download.mp3"), dir.filePath("downloads/" + name));
        return dir.filePath("downloads/" + name);
    }
    QStringList sonarboxFolder() const {
        return QDir(music("Sonarbox")).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    MpdProcess mpd;
    std::shared_ptr<MpdLibrary> library = std::make_shared<MpdLibrary>(settings());
};

TEST_F(MusicLibraryTest, LibraryModeTakesMpdsSongsWithTheirTags) {
    const std::optional<QList<LibraryTrack>> tracks = library->tracks();
    ASSERT_TRUE(tracks);
    ASSERT_EQ(tracks->size(), 3);
    for (const LibraryTrack &t : *tracks) {
        EXPECT_EQ(t.modDate.toSecsSinceEpoch(),
                  QFileInfo(t.location).lastModified().toSecsSinceEpoch());
        // An untitled song goes by its file name, as players show it.
        if (t.location == music("loose/untitled.ogg")) {
            EXPECT_EQ(t.name, "untitled");
        }
    }

    auto duplicate = std::make_shared<Audio>();
    duplicate->fileURL = music("Ada/Storms/01 First.mp3");
    sonarbox().addDuplicateLibraryTrack(duplicate);
    sonarbox().setUserPickedMediaLibrary(LibraryChoice::MusicPlayer);
    LogCapture log;
    int completions = 0;
    SyncRunPtr run = sonarbox().newRun();
    ScanForLocalMedia(Sonarbox::instance(), library).scanFileSystemForMedia(run, [&] {
        ++completions;
    });

    EXPECT_EQ(completions, 1);
    // short.mp3 is under 100 KiB; the known duplicate is not offered again.
    QStringList summaries;
    for (const AudioPtr &t : run->localLibraryTracks())
        summaries << *t->fileURL + ": " + summary(*t);
    EXPECT_EQ(summaries,
              QStringList({music("loose/untitled.ogg") + ": untitled.ogg|untitled|-|-|ogg|-|-"}));
    EXPECT_EQ(log.count("=== START | ADDING SONGS FROM ITUNES TO localLibraryTracks ARRAY"), 1);
    EXPECT_EQ(log.count("=== FINISH | ADDING SONGS FROM ITUNES TO localLibraryTracks ARRAY"), 1);
    EXPECT_EQ(log.count("Tracks in mediaLibraryTracks array 1"), 1);

    sonarbox().setDuplicateLibraryTracks({});
    run = sonarbox().newRun();
    ScanForLocalMedia(Sonarbox::instance(), library).scanFileSystemForMedia(run, {});
    summaries.clear();
    for (const AudioPtr &t : run->localLibraryTracks())
        summaries << *t->fileURL + ": " + summary(*t);
    summaries.sort();
    EXPECT_EQ(
        summaries,
        QStringList({music("Ada/Storms/01 First.mp3") + ": First.mp3|First|Ada|Storms|mp3|2011|3",
                     music("loose/untitled.ogg") + ": untitled.ogg|untitled|-|-|ogg|-|-"}));
}

TEST_F(MusicLibraryTest, SongsCopiedInJustNowWaitWhenTheScanIsToldToLeaveThem) {
    sonarbox().setUserPickedMediaLibrary(LibraryChoice::MusicPlayer);
    ScanForLocalMedia scanner(Sonarbox::instance(), library);
    // The songs were copied into MPD's folder as the test began.
    scanner.setLeaveFilesWrittenWithin(std::chrono::minutes(1));
    SyncRunPtr run = sonarbox().newRun();
    scanner.scanFileSystemForMedia(run, {});
    EXPECT_TRUE(run->localLibraryTracks().isEmpty());
    EXPECT_EQ(scanner.takeFilesStillWritten(), 2);
    EXPECT_EQ(scanner.takeFilesStillWritten(), 0);

    scanner.setLeaveFilesWrittenWithin(std::chrono::milliseconds(0));
    run = sonarbox().newRun();
    scanner.scanFileSystemForMedia(run, {});
    EXPECT_EQ(run->localLibraryTracks().size(), 2);
    EXPECT_EQ(scanner.takeFilesStillWritten(), 0);
}

TEST_F(MusicLibraryTest, HandOffCopiesWithoutReplacingAndFillsOnePlaylist) {
    // The user already has a song of that name in the folder.
    QDir().mkpath(music("Sonarbox"));
    QFile::copy(songs->filePath("first.mp3"), music("Sonarbox/Bo - Cloud - Fetched.mp3"));
    iTunesModifier handOff(library);

    LogCapture log;
    const auto url = handOff.addSongsToItunes(downloaded("Bo - Cloud - Fetched.mp3"));
    const auto again = handOff.addSongsToItunes(downloaded("Bo - Cloud - Fetched.mp3"));
    const auto other = handOff.addSongsToItunes(downloaded("other.mp3"));

    ASSERT_TRUE(url && again && other);
    EXPECT_EQ(*url, "file://" + music("Sonarbox/Bo%20-%20Cloud%20-%20Fetched%20(2).mp3"));
    EXPECT_EQ(Utility::normalizeFilePath(*again), music("Sonarbox/Bo - Cloud - Fetched (3).mp3"));
    EXPECT_EQ(Utility::normalizeFilePath(*other), music("Sonarbox/other.mp3"));
    EXPECT_EQ(contentOf(music("Sonarbox/Bo - Cloud - Fetched.mp3")),
              contentOf(songs->filePath("first.mp3")));
    EXPECT_EQ(contentOf(music("Sonarbox/other.mp3")), contentOf(songs->filePath("download.mp3")));
    EXPECT_EQ(sonarboxFolder().size(), 4);
    EXPECT_EQ(askMpd(mpd), QStringList{"Sonarbox"});
    EXPECT_EQ(askMpd(mpd, "Sonarbox"),
              QStringList({"Sonarbox/Bo - Cloud - Fetched (2).mp3",
                           "Sonarbox/Bo - Cloud - Fetched (3).mp3", "Sonarbox/other.mp3"}));
    EXPECT_EQ(log.count(QStringLiteral("\n\nITUNES: Added %1 \nTrack: %2")
                            .arg(dir.filePath("downloads/other.mp3"), music("Sonarbox/other.mp3"))),
              1);
}

TEST_F(MusicLibraryTest, HandOffReusesTheUsersSonarboxPlaylist) {
    mpd_connection *c = mpd_connection_new(qPrintable(mpd.host()), mpd.port(), 5000);
    ASSERT_TRUE(mpd_run_playlist_add(c, "Sonarbox", "loose/untitled.ogg"));
    mpd_connection_free(c);

    ASSERT_TRUE(library->addSong(downloaded("song.mp3")));

    EXPECT_EQ(askMpd(mpd), QStringList{"Sonarbox"});
    EXPECT_EQ(askMpd(mpd, "Sonarbox"), QStringList({"loose/untitled.ogg", "Sonarbox/song.mp3"}));
}

TEST_F(MusicLibraryTest, FailedHandOffLeavesNoFileBehind) {
    // MPD has no decoder for it, so its update never lists it.
    const QString unplayable = downloaded("song.xyz");
    iTunesModifier handOff(library);

    LogCapture log;
    EXPECT_FALSE(handOff.addSongsToItunes(unplayable));
    EXPECT_FALSE(handOff.addSongsToItunes(dir.filePath("downloads/never-there.mp3")));
    // The stored playlist cannot be written.
    ASSERT_TRUE(QDir().mkpath(mpd.playlistFolder() + "/Sonarbox.m3u"));
    EXPECT_FALSE(handOff.addSongsToItunes(downloaded("song.mp3")));

    EXPECT_EQ(sonarboxFolder(), QStringList());
    EXPECT_EQ(log.count("\n\nITUNES: CANT ADD " + unplayable + " to ITUNES"), 1);
    // MPD forgets the song whose copy was removed.
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return library->tracks()->size() == 3; }));
}

TEST_F(MusicLibraryTest, MpdAwayGivesNothingQuicklyAndTheScanGoesOn) {
    // A server that takes the connection but never says a word.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    MpdLibrary mute({mpd.host(), silent.serverPort(), mpd.musicFolder(), 300});
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(mute.tracks());
    EXPECT_FALSE(mute.addSong(downloaded("mute.mp3")));
    EXPECT_LT(clock.elapsed(), 3000);

    mpd.stop();
    clock.restart();
    EXPECT_FALSE(library->tracks());
    EXPECT_FALSE(library->addSong(downloaded("song.mp3")));
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(sonarboxFolder(), QStringList());

    sonarbox().setUserPickedMediaLibrary(LibraryChoice::MusicPlayer);
    LogCapture log;
    int completions = 0;
    const SyncRunPtr run = sonarbox().newRun();
    ScanForLocalMedia(Sonarbox::instance(), library).scanFileSystemForMedia(run, [&] {
        ++completions;
    });
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(run->localLibraryTracks().isEmpty());
    EXPECT_EQ(log.count("Could not connect to the iTunes library"), 1);
}

} // namespace
