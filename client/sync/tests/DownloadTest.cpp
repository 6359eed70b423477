// The download stage against a scripted gateway (faults on demand) and against
// sonarbox-cloud.
#include "TransferFixture.h"

#include "CloudProcess.h"
#include "MpdProcess.h"
#include "TestSongs.h"
#include "engine/Sonarbox.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/Utility.h"
#include "sync/DownloadSongsFromCloud.h"
#include "sync/MpdLibrary.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>

#include <sys/mount.h>

namespace {

const QByteArray kDownloadPath = "/Vexmusic/rest/downloadController/redirectToCdnDownload/";

QJsonObject item(int id, const QString &song, const QString &artist = QStringLiteral("Unknown"),
                 const QString &album = QStringLiteral("Unknown"), int downloadable = 1) {
    return {{"id", id},
            {"mediaType", "AUDIO"},
            {"deleted", 0},
            {"downloadable", downloadable},
            {"name", song + QStringLiteral(".mp3")},
            {"songName", song},
            {"artistName", artist},
            {"albumName", album},
            {"checksum", QStringLiteral("c%1").arg(id)}};
}

scripted::Reply listing(const QJsonArray &items) {
    const QJsonObject body{
        {"responseStatus", "OK"}, {"milliseconds", 1000}, {"updatedUserMedias", items}};
    return scripted::Reply::json(QJsonDocument(body).toJson(QJsonDocument::Compact));
}

bool isListing(const scripted::Request &r) {
    return r.target.endsWith("/Vexmusic/rest/medias/sync");
}

qint64 listedFrom(const scripted::Request &r) {
    return QJsonDocument::fromJson(r.body).object().value("milliseconds").toInteger();
}

int downloadId(const scripted::Request &r) {
    return r.target.startsWith(kDownloadPath)
               ? r.target.mid(kDownloadPath.size()).split('/').first().toInt()
               : -1;
}

class FakeLibrary : public MusicLibrary {
public:
    explicit FakeLibrary(QString folder)
        : m_folder(std::move(folder)) {}
    std::optional<QList<LibraryTrack>> tracks() override { return QList<LibraryTrack>(); }
    std::optional<QString> addSong(const QString &path) override {
        addedFrom = path;
        thread = QThread::currentThread();
        if (away)
            return std::nullopt;
        QDir().mkpath(m_folder);
        const QString location = m_folder + QStringLiteral("/in library.mp3");
        return QFile::copy(path, location) ? std::optional(location) : std::nullopt;
    }
    QString addedFrom;
    QThread *thread = nullptr;
    std::atomic<bool> away{false}; // MPD down, or without a music folder

private:
    QString m_folder;
};

class DownloadTest : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        Sonarbox::instance().setLoggedUser(ada());
        Sonarbox::instance().setJSessionID(QStringLiteral("JSESSIONID=sess42; Path=/"));
    }
    std::function<void(std::function<void()>)> stage(DownloadSongsFromCloud &stageObject) {
        return [this, &stageObject](std::function<void()> done) {
            lastRun = Sonarbox::instance().newRun();
            // As the coordinator does: the next run lists from where this
            // one's downloads got.
            stageObject.syncCloudMediaWithLocal(lastRun, [run = lastRun, done] {
                Sonarbox::instance().setSyncMilliSeconds(run->listingPosition());
                done();
            });
        };
    }
    static QString downloads() { return Sonarbox::instance().userDownloadDirectory(); }
    // The run of the last stage() started.
    SyncRunPtr lastRun;
    static QStringList filesIn(const QString &folder) {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    // The songs asked for. The network layer itself asks once more when a
    // connection closes early; that repeat is not the stage's.
    QList<int> downloadsAsked() const {
        QList<int> ids;
        for (const auto &r : server->requests()) {
            if (downloadId(r) >= 0 && (ids.isEmpty() || ids.last() != downloadId(r)))
                ids << downloadId(r);
        }
        return ids;
    }

    iTunesModifier noLibrary{nullptr};
    DownloadSongsFromCloud downloader{Sonarbox::instance(), &noLibrary};
};

} // namespace

TEST_F(DownloadTest, DownloadsTheCloudOnlySongsUnderTheirNames) {
    CloudProcess cloud;
    ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
    ASSERT_TRUE(cloud.start());
    useGateway(cloud.baseUrl());
    const QString tagged = dir.filePath(QStringLiteral("elsewhere/tagged.mp3"));
    const QString plain = dir.filePath(QStringLiteral("elsewhere/plain.mp3"));
    ASSERT_TRUE(TestSongs::make(tagged, 1, 2.0, {"Blue Song", "Ada", "First"}));
    ASSERT_TRUE(TestSongs::make(plain, 2, 2.0));
    for (const QString &file : {tagged, plain})
        ASSERT_TRUE(cloud.uploadAsAnotherDevice("ada@example.com", "s3cret!", file));
    ASSERT_TRUE(Sonarbox::instance().signIn(Sonarbox::instance().loggedUser()).signedIn());
    // The user's own file of the same name stays as it is.
    writeFile(downloads() + "/Ada - First - Blue Song.mp3", "mine");

    LogCapture log;
    EXPECT_EQ(runStage(stage(downloader)), 1);
    EXPECT_EQ(filesIn(downloads()), (QStringList{"Ada - First - Blue Song (2).mp3",
                                                 "Ada - First - Blue Song.mp3", "plain.mp3"}));
    EXPECT_EQ(readFile(downloads() + "/Ada - First - Blue Song.mp3"), "mine");
    EXPECT_EQ(readFile(downloads() + "/Ada - First - Blue Song (2).mp3"), readFile(tagged));
    EXPECT_EQ(readFile(downloads() + "/plain.mp3"), readFile(plain));
    const QList<AudioPtr> stored = GenericDAO::instance().getAll<Audio>();
    ASSERT_EQ(stored.size(), 2);
    for (const AudioPtr &track : stored) {
        EXPECT_EQ(Utility::getMD5FromFile(track->fileURL.value_or(QString())), track->checksum);
        EXPECT_EQ(track->downloaded, 1);
        EXPECT_EQ(track->synced, 1);
        EXPECT_EQ(track->downloadable, true);
    }
    EXPECT_EQ(notifications, QStringList{"Download Complete"});
    EXPECT_FALSE(log.contains("s3cret!"));

    // Nothing new: the next run downloads nothing.
    LogCapture again;
    EXPECT_EQ(runStage(stage(downloader)), 1);
    EXPECT_FALSE(again.contains("| connect"));
    EXPECT_EQ(filesIn(downloads()).size(), 3);
    EXPECT_EQ(notifications.size(), 1);
}

TEST_F(DownloadTest, FetchesOnlyNewDownloadableSongsAndKeepsTheTokenForTheService) {
    auto viaFacebook = std::make_shared<User>();
    viaFacebook->username = QStringLiteral("fb@example.com");
    viaFacebook->facebookToken = QStringLiteral("fb-token-XYZ");
    Sonarbox::instance().setLoggedUser(viaFacebook);
    auto local = std::make_shared<Audio>();
    local->userMediaID = QStringLiteral("12");
    local->checksum = QStringLiteral("c12");
    GenericDAO::instance().addTrackToDB(local, true);

    scripted::Server cdn([](const scripted::Request &) {
        scripted::Reply reply;
        reply.body = "audio-14";
        return reply;
    });
    server->setHandler([&](const scripted::Request &r) {
        if (isListing(r))
            return listing({item(11, "Not Mine To Take", "Ada", "First", 0),
                            item(12, "Already Here"), item(14, "Back", "AC/DC")});
        scripted::Reply redirect;
        redirect.status = 302;
        redirect.headers = {{"Location", cdn.baseUrl().toUtf8() + "/file/14"}};
        return redirect;
    });
    LogCapture log;
    EXPECT_EQ(runStage(stage(downloader)), 1);
    EXPECT_EQ(downloadsAsked(), QList<int>{14});
    const scripted::Request asked = server->requests().last();
    EXPECT_EQ(asked.target, kDownloadPath + "14/?jsessionId=sess42");
    EXPECT_EQ(asked.header("FACEBOOK_TOKEN"), "fb-token-XYZ");
    EXPECT_FALSE(asked.header("PASSWORD"));
    ASSERT_EQ(cdn.requests().size(), 1);
    EXPECT_FALSE(cdn.requests().first().header("FACEBOOK_TOKEN"));
    EXPECT_EQ(filesIn(downloads()), QStringList{"AC_DC - Back.mp3"});
    EXPECT_EQ(readFile(downloads() + "/AC_DC - Back.mp3"), "audio-14");
    EXPECT_FALSE(log.contains("fb-token-XYZ"));
    EXPECT_FALSE(log.contains("sess42"));
}

// A download cut off half-way, one refused, one empty, one fine; the next run
// lists the failed ones again and finishes the cut-off one.
TEST_F(DownloadTest, AFailedDownloadLeavesNoFileAndIsTriedAgain) {
    writeFile(downloads() + "/.sonarbox-Ab12Cd.part", "left by a killed run");
    writeFile(downloads() + "/.sonarbox-notes.part", "the user's own");
    const QByteArray whole(200000, 'w');
    std::atomic<int> attempts{0};
    server->setHandler([&](const scripted::Request &r) {
        if (isListing(r)) {
            return listing(listedFrom(r) < 1000 ? QJsonArray{item(21, "dies"), item(22, "refused"),
                                                             item(23, "fine"), item(24, "empty")}
                                                : QJsonArray{});
        }
        scripted::Reply reply;
        reply.body = "fine bytes";
        if (downloadId(r) == 22) {
            reply.status = 500;
        } else if (downloadId(r) == 24) {
            reply.status = 204;
            reply.body.clear();
        } else if (downloadId(r) == 21) {
            reply.body = whole;
            if (++attempts == 1) {
                reply.headers = {{"Content-Length", "200000"}};
                reply.body = whole.left(50000);
                reply.withContentLength = false;
            }
        }
        return reply;
    });
    EXPECT_EQ(runStage(stage(downloader)), 1);
    EXPECT_EQ(filesIn(downloads()), (QStringList{".sonarbox-notes.part", "fine.mp3"}));
    EXPECT_EQ(GenericDAO::instance().getAll<Audio>().size(), 1);

    EXPECT_EQ(runStage(stage(downloader)), 1);
    EXPECT_EQ(downloadsAsked(), (QList<int>{21, 22, 23, 24, 21, 22, 24}));
    EXPECT_EQ(filesIn(downloads()), (QStringList{".sonarbox-notes.part", "dies.mp3", "fine.mp3"}));
    EXPECT_EQ(readFile(downloads() + "/dies.mp3"), whole);
    EXPECT_EQ(GenericDAO::instance().getAll<Audio>().size(), 2);
    EXPECT_EQ(notifications.size(), 2);
}

TEST_F(DownloadTest, AFailedListingOrALostNetworkStopsTheSync) {
    Sonarbox &sonarbox = Sonarbox::instance();
    server->setHandler([](const scripted::Request &) {
        return scripted::Reply::json(R"({"responseStatus":"FAILED"})");
    });
    sonarbox.syncStarted();
    EXPECT_EQ(runStage(stage(downloader), [] { return true; }), 0);
    EXPECT_FALSE(sonarbox.syncInProgress);
    EXPECT_EQ(
        sonarbox.progressPage().state().description,
        QStringLiteral("Sync stopped: Missing login session, please logout and log back in."));

    sonarbox.applicationWasStopped();
    server->clearRequests();
    server->setHandler([](const scripted::Request &r) {
        Sonarbox::instance().isAppOffline = true;
        return isListing(r) ? listing({item(31, "later")}) : scripted::Reply();
    });
    sonarbox.syncStarted();
    LogCapture log;
    EXPECT_EQ(runStage(stage(downloader), [] { return true; }), 0);
    EXPECT_EQ(server->requests().size(), 1);
    EXPECT_TRUE(log.contains("!!! APP OFFLINE"));
    EXPECT_FALSE(sonarbox.syncInProgress);
    EXPECT_FALSE(sonarbox.flow_stopProcesses);
}

TEST_F(DownloadTest, AListingLargerThanOtherRepliesSyncsAndOneTooLargeStopsTheSyncVisibly) {
    Sonarbox &sonarbox = Sonarbox::instance();
    // Scaled down: other replies may carry 64 KiB, the listing 1 MiB.
    sonarbox.serviceClient().setMaximumReplySize(64 * 1024);
    sonarbox.serviceClient().setMaximumListingSize(1024 * 1024);
    QJsonArray items;
    for (int id = 1; id <= 1500; ++id)
        items.append(item(id, QStringLiteral("Song %1").arg(id), "Artist", "Album", 0));
    const scripted::Reply large = listing(items);
    ASSERT_GT(large.body.size(), 200 * 1024);
    server->setHandler([&](const scripted::Request &) { return large; });
    EXPECT_EQ(runStage(stage(downloader)), 1);
    EXPECT_EQ(lastRun->cloudLibraryTracks().size(), 1500);

    QList<SyncProgress::Event> ends;
    QObject receiver; // the connection ends with the test
    QObject::connect(&sonarbox.syncProgress(), &SyncProgress::event, &receiver,
                     [&](const SyncProgress::Event &e) {
                         if (e.kind == SyncProgress::Event::Kind::SyncEnded)
                             ends << e;
                     });
    sonarbox.serviceClient().setMaximumListingSize(100 * 1024);
    sonarbox.syncStarted();
    sonarbox.syncProgress().beginSync();
    EXPECT_EQ(runStage(stage(downloader), [] { return true; }), 0);
    const QString expected = QStringLiteral(
        "Sync stopped: the cloud library could not be fetched (The reply is larger than 100 KiB.)");
    EXPECT_FALSE(sonarbox.syncInProgress);
    EXPECT_EQ(sonarbox.progressPage().state().description, expected);
    ASSERT_EQ(ends.size(), 1);
    EXPECT_EQ(ends.first().detail, expected);
    EXPECT_EQ(NSDefaultsUtility::standard().text(QLatin1StringView("lastSyncOutcome")), expected);
}

TEST_F(DownloadTest, TheMusicLibraryTakesTheSongOffTheMainThread) {
    Sonarbox::instance().setUserPickedMediaLibrary(LibraryChoice::MusicPlayer);
    auto library = std::make_shared<FakeLibrary>(dir.filePath("library"));
    iTunesModifier handOff(library);
    DownloadSongsFromCloud viaLibrary(Sonarbox::instance(), &handOff);
    server->setHandler([](const scripted::Request &r) {
        scripted::Reply reply;
        reply.body = "library bytes";
        return isListing(r) ? listing({item(41, "Lib Song", "Ada", "First")}) : reply;
    });

    EXPECT_EQ(runStage(stage(viaLibrary)), 1);
    EXPECT_EQ(library->addedFrom, downloads() + "/Ada - First - Lib Song.mp3");
    EXPECT_NE(library->thread, QCoreApplication::instance()->thread());
    EXPECT_FALSE(QFile::exists(library->addedFrom));
    const QList<AudioPtr> stored = GenericDAO::instance().getAll<Audio>();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.first()->fileURL, dir.filePath("library/in library.mp3"));
    EXPECT_EQ(stored.first()->synced, 1);
    EXPECT_EQ(readFile(dir.filePath("library/in library.mp3")), "library bytes");
}

// The music library down during the hand-off: the song waits in the download
// folder (not in a temporary one, not lost), and the next sync hands it over
// without downloading it again.
TEST_F(DownloadTest, AFailedHandOffKeepsTheSongAndTheNextSyncHandsItOver) {
    const QByteArray tmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", dir.filePath("tmp").toUtf8());
    QDir().mkpath(dir.filePath("tmp"));
    Sonarbox::instance().setUserPickedMediaLibrary(LibraryChoice::MusicPlayer);
    auto library = std::make_shared<FakeLibrary>(dir.filePath("library"));
    library->away = true;
    iTunesModifier handOff(library);
    DownloadSongsFromCloud viaLibrary(Sonarbox::instance(), &handOff);
    server->setHandler([](const scripted::Request &r) {
        scripted::Reply reply;
        reply.body = "waiting bytes";
        return isListing(r) ? listing({item(42, "Waits")}) : reply;
    });

    EXPECT_EQ(runStage(stage(viaLibrary)), 1);
    EXPECT_EQ(filesIn(downloads()), QStringList{"Waits.mp3"});
    EXPECT_TRUE(filesIn(dir.filePath("tmp")).isEmpty());
    QList<AudioPtr> stored = GenericDAO::instance().getAll<Audio>();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.first()->fileURL, downloads() + "/Waits.mp3");
    EXPECT_EQ(stored.first()->synced, 0);
    EXPECT_EQ(Sonarbox::instance().syncProgress().state().tracksFailed, 1);

    library->away = false;
    EXPECT_EQ(runStage(stage(viaLibrary)), 1);
    if (tmp.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", tmp);
    EXPECT_EQ(downloadsAsked(), QList<int>{42});
    EXPECT_TRUE(filesIn(downloads()).isEmpty());
    stored = GenericDAO::instance().getAll<Audio>();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.first()->fileURL, dir.filePath("library/in library.mp3"));
    EXPECT_EQ(stored.first()->synced, 1);
    EXPECT_EQ(readFile(dir.filePath("library/in library.mp3")), "waiting bytes");
}

// The same with the real music player's library: MPD stopped during the
// hand-off, then back for the next sync.
TEST_F(DownloadTest, WithMpdStoppedTheSongWaitsInTheDownloadFolderUntilMpdIsBack) {
    MpdProcess mpd;
    ASSERT_TRUE(mpd.start());
    const QByteArray tmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", dir.filePath("tmp").toUtf8());
    QDir().mkpath(dir.filePath("tmp"));
    Sonarbox::instance().setUserPickedMediaLibrary(LibraryChoice::MusicPlayer);
    auto library = std::make_shared<MpdLibrary>(
        MpdLibrary::Settings{mpd.host(), mpd.port(), mpd.musicFolder() + '/', 3000});
    iTunesModifier handOff(library);
    DownloadSongsFromCloud viaMpd(Sonarbox::instance(), &handOff);
    ASSERT_TRUE(TestSongs::make(dir.filePath("cloud.mp3"), 4, 8, {"Fetched", "Bo"}));
    const QByteArray song = readFile(dir.filePath("cloud.mp3"));
    server->setHandler([&](const scripted::Request &r) {
        scripted::Reply reply;
        reply.body = song;
        return isListing(r) ? listing({item(71, "Fetched", "Bo")}) : reply;
    });

    mpd.stop();
    EXPECT_EQ(runStage(stage(viaMpd)), 1);
    EXPECT_EQ(filesIn(downloads()), QStringList{"Bo - Fetched.mp3"});
    EXPECT_TRUE(filesIn(dir.filePath("tmp")).isEmpty());
    EXPECT_TRUE(filesIn(mpd.musicFolder() + "/Sonarbox").isEmpty());

    ASSERT_TRUE(mpd.start());
    EXPECT_EQ(runStage(stage(viaMpd)), 1);
    if (tmp.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", tmp);
    EXPECT_EQ(downloadsAsked(), QList<int>{71});
    EXPECT_TRUE(filesIn(downloads()).isEmpty());
    EXPECT_EQ(filesIn(mpd.musicFolder() + "/Sonarbox"), QStringList{"Bo - Fetched.mp3"});
    EXPECT_TRUE(filesIn(dir.filePath("tmp")).isEmpty());
    const QList<AudioPtr> stored = GenericDAO::instance().getAll<Audio>();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.first()->fileURL, mpd.musicFolder() + "/Sonarbox/Bo - Fetched.mp3");
    EXPECT_EQ(stored.first()->synced, 1);
}

// A song the person uploaded whose answer was never stored (the program was
// killed, or the store made anew over the same music) comes back in the
// listing: it is the stored track, not a song to download or upload again.
// Nor is the old version of a song whose new one has not replaced it in the
// cloud yet.
TEST_F(DownloadTest, AListedSongWithTheChecksumOfAStoredTrackIsAdoptedNotDownloaded) {
    auto own = std::make_shared<Audio>();
    own->fileURL = dir.filePath("music/Own Song.mp3");
    own->checksum = QStringLiteral("c51");
    own->userMediaID = QStringLiteral("-1");
    own->downloadable = false;
    GenericDAO::instance().addTrackToDB(own, true);
    // The old version of a song retagged since: until the cloud retires it,
    // the new version holds its place.
    auto retagged = std::make_shared<Audio>();
    retagged->fileURL = dir.filePath("music/Retagged.mp3");
    retagged->checksum = QStringLiteral("c54new");
    retagged->userMediaID = QStringLiteral("-1");
    retagged->replaces = QStringLiteral("54");
    GenericDAO::instance().addTrackToDB(retagged, true);
    // And a song downloaded before the store was made anew (a reinstall).
    writeFile(downloads() + "/Kept.mp3", "kept bytes");
    QJsonObject kept = item(53, "Kept");
    kept["checksum"] = Utility::getMD5FromFile(downloads() + "/Kept.mp3");
    server->setHandler([&](const scripted::Request &r) {
        scripted::Reply reply;
        reply.body = "fetched bytes";
        return isListing(r) ? listing({item(51, "Own Song", "Me", "Home Recordings"),
                                       item(52, "Other"), kept, item(54, "Retagged")})
                            : reply;
    });

    EXPECT_EQ(runStage(stage(downloader)), 1);
    EXPECT_EQ(downloadsAsked(), QList<int>{52});
    EXPECT_EQ(filesIn(downloads()), (QStringList{"Kept.mp3", "Other.mp3"}));
    const AudioPtr keptTrack = GenericDAO::instance().getById(
        QStringLiteral("audioByUserMediaID"), QStringLiteral("53"), QStringLiteral("userMediaID"),
        StoreSetup::instance().managedObjectContext());
    ASSERT_TRUE(keptTrack);
    EXPECT_EQ(keptTrack->fileURL, downloads() + "/Kept.mp3");
    const AudioPtr adopted =
        GenericDAO::instance().getById(QStringLiteral("audioByCode"), QStringLiteral("c51"));
    ASSERT_TRUE(adopted);
    EXPECT_EQ(adopted->userMediaID, QStringLiteral("51"));
    EXPECT_EQ(adopted->downloadable, true);
    EXPECT_EQ(adopted->synced, 1);
    EXPECT_EQ(adopted->fileURL, dir.filePath("music/Own Song.mp3"));
    EXPECT_TRUE(GenericDAO::instance().tracksByDownloadable(false).isEmpty());
}

// A run keeps the session it started with, and a failed delivery address (a
// signed, short-lived one) is never written to the log.
TEST_F(DownloadTest, ARunUsesItsOwnSessionAndNeverLogsASignedAddress) {
    scripted::Server cdn([](const scripted::Request &) {
        scripted::Reply reply;
        reply.mode = scripted::Reply::Mode::Close;
        return reply;
    });
    server->setHandler([&](const scripted::Request &r) {
        if (isListing(r)) {
            // Someone else signs in while this run lists.
            Sonarbox::instance().setJSessionID(QStringLiteral("JSESSIONID=other77; Path=/"));
            return listing({item(61, "Signed")});
        }
        scripted::Reply redirect;
        redirect.status = 302;
        redirect.headers = {{"Location", cdn.baseUrl().toUtf8() +
                                             "/file/61?Expires=99&Signature=SIGNED-SECRET-61"}};
        return redirect;
    });
    const SyncRunPtr run = Sonarbox::instance().newRun();
    LogCapture log;
    EXPECT_EQ(runStage([&](std::function<void()> done) {
                  downloader.syncCloudMediaWithLocal(run, done);
              }),
              1);
    ASSERT_GE(cdn.requests().size(), 1);
    EXPECT_EQ(server->requests().last().target, kDownloadPath + "61/?jsessionId=sess42");
    EXPECT_FALSE(log.contains("SIGNED-SECRET-61"));
    EXPECT_TRUE(log.contains("Download failed!"));
}

namespace {

// MPD itself, with a hand-off that waits at its start until the test lets it
// go: the test stops the sync while the hand-off is under way.
class HeldLibrary : public MusicLibrary {
public:
    explicit HeldLibrary(MusicLibraryPtr mpd)
        : m_mpd(std::move(mpd)) {}
    std::optional<QList<LibraryTrack>> tracks() override { return m_mpd->tracks(); }
    std::optional<QString> addSong(const QString &path) override {
        ++handOffs;
        while (held)
            QThread::msleep(5);
        const std::optional<QString> location = m_mpd->addSong(path);
        ++finished;
        return location;
    }
    std::atomic<int> handOffs{0};
    std::atomic<int> finished{0};
    std::atomic<bool> held{true};

private:
    MusicLibraryPtr m_mpd;
};

} // namespace

// Stopped while MPD takes the song: the hand-off that finishes afterwards is
// recorded all the same, so the next sync neither copies the song into MPD
// again nor adds it to the playlist a second time.
TEST_F(DownloadTest, AStopDuringTheHandOffToMpdStillRecordsTheSong) {
    CloudProcess cloud;
    ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
    ASSERT_TRUE(cloud.start());
    useGateway(cloud.baseUrl());
    MpdProcess mpd;
    ASSERT_TRUE(mpd.start());
    ASSERT_TRUE(TestSongs::make(dir.filePath("elsewhere/cloud.mp3"), 4, 4, {"Fetched", "Bo"}));
    ASSERT_TRUE(cloud.uploadAsAnotherDevice("ada@example.com", "s3cret!",
                                            dir.filePath("elsewhere/cloud.mp3")));
    Sonarbox &sonarbox = Sonarbox::instance();
    ASSERT_TRUE(Sonarbox::instance().signIn(sonarbox.loggedUser()).signedIn());
    sonarbox.setUserPickedMediaLibrary(LibraryChoice::MusicPlayer);
    auto library = std::make_shared<HeldLibrary>(std::make_shared<MpdLibrary>(
        MpdLibrary::Settings{mpd.host(), mpd.port(), mpd.musicFolder() + '/', 5000}));
    iTunesModifier handOff(library);
    DownloadSongsFromCloud viaMpd(Sonarbox::instance(), &handOff);
    // A failure below must not leave the hand-off, which viaMpd waits for
    // when it goes, held for ever.
    const auto release = qScopeGuard([&] { library->held = false; });

    sonarbox.syncStarted();
    const SyncRunPtr run = sonarbox.newRun();
    runStage([&](std::function<void()> done) { viaMpd.syncCloudMediaWithLocal(run, done); },
             [&] { return library->handOffs == 1; });
    ASSERT_EQ(library->handOffs, 1);
    sonarbox.stopSyncAction();
    library->held = false;
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return library->finished == 1; }));
    TestEnvironment::waitUntil([] { return false; }, 300);
    sonarbox.applicationWasStopped();

    const QString inMpd = mpd.musicFolder() + "/Sonarbox/Bo - Fetched.mp3";
    QList<AudioPtr> stored = GenericDAO::instance().getAll<Audio>();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.first()->fileURL, inMpd);
    EXPECT_EQ(stored.first()->synced, 1);

    sonarbox.syncStarted();
    EXPECT_EQ(runStage(stage(viaMpd)), 1);
    EXPECT_EQ(library->handOffs, 1);
    EXPECT_EQ(filesIn(mpd.musicFolder() + "/Sonarbox"), QStringList{"Bo - Fetched.mp3"});
    EXPECT_TRUE(filesIn(downloads()).isEmpty());
    QFile playlist(mpd.playlistFolder() + "/Sonarbox.m3u");
    ASSERT_TRUE(playlist.open(QIODevice::ReadOnly));
    EXPECT_EQ(playlist.readAll().trimmed(), "Sonarbox/Bo - Fetched.mp3");
    stored = GenericDAO::instance().getAll<Audio>();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.first()->fileURL, inMpd);
}

// A download folder without room for the song: the failure names the folder,
// and nothing of the song is left in it. The folder is a small tmpfs, which
// only a test that may mount can have.
TEST_F(DownloadTest, AFullDownloadFolderIsNamedAndKeepsNothingOfTheSong) {
    const QString folder = downloads();
    ASSERT_TRUE(QDir().mkpath(folder));
    const QByteArray mountPoint = QFile::encodeName(folder);
    if (::mount("sonarbox-test", mountPoint.constData(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount here: " << std::strerror(errno);
    const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });

    CloudProcess cloud;
    ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
    ASSERT_TRUE(cloud.start());
    useGateway(cloud.baseUrl());
    ASSERT_TRUE(TestSongs::makeSilenceOfSize(dir.filePath("elsewhere/big.wav"), 600 * 1024));
    ASSERT_TRUE(cloud.uploadAsAnotherDevice("ada@example.com", "s3cret!",
                                            dir.filePath("elsewhere/big.wav")));
    ASSERT_TRUE(Sonarbox::instance().signIn(Sonarbox::instance().loggedUser()).signedIn());

    EXPECT_EQ(runStage(stage(downloader)), 1);
    EXPECT_EQ(Sonarbox::instance().syncProgress().failureSummary(),
              QStringLiteral("1 download failed (no space left in %1)").arg(folder));
    EXPECT_TRUE(filesIn(folder).isEmpty()) << filesIn(folder).join(' ').toStdString();
    EXPECT_TRUE(GenericDAO::instance().getAll<Audio>().isEmpty());
}

// The stage names each song it fetches to the progress model, and the share
// of the listing done is the model's to make.
TEST_F(DownloadTest, EachSongAndTheShareDoneGoToTheProgressModel) {
    server->setHandler([&](const scripted::Request &r) {
        if (isListing(r))
            return listing(listedFrom(r) < 1000
                               ? QJsonArray{item(31, "Dawn", "Ada"), item(32, "Dusk", "Grace")}
                               : QJsonArray{});
        scripted::Reply reply;
        reply.body = "song bytes";
        return reply;
    });
    const ShownProgress shown;
    EXPECT_EQ(runStage(stage(downloader)), 1);
    EXPECT_EQ(shown.joined(),
              " /  0% | Dawn / Ada 0% | Dawn / Ada 50% | Dusk / Grace 50% | Dusk / Grace 100%");
}
