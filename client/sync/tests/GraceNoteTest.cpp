// The fingerprint and match stage against the real recognition library and
// engine (a catalogue made from generated songs) and a real sonarbox-cloud
// whose catalogue holds the same songs.
#include "sync/GraceNote.h"
#include "CloudProcess.h"
#include "ServiceTestSupport.h"
#include "TestEnvironment.h"
#include "TestSongs.h"
#include "engine/Sonarbox.h"
#include "settings/DeploymentConfig.h"
#include "settings/NSDefaultsUtility.h"
#include "store/GenericDAO.h"
#include "store/StoreSetup.h"
#include "sync/RecognitionInitData.h"

#include <tonemill/tonemill.h>

#include <QCryptographicHash>
#include <QFile>

#include <gtest/gtest.h>

namespace {

// What the stage hands to the library, and what a test does around the call.
struct Recorded {
    QList<QStringList> argv;
    QList<int> responseSizes;
    QList<int> results;
    int cutResponseAt = 0;           // > 0: a smaller result buffer than the stage gave
    std::function<void()> afterCall; // e.g. the user presses Stop
} g_recorded;                        // written on the stage thread, read once it is idle

int recordingRecognize(int argc, char *argv[], char *response, int size, char *user, int userSize) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromUtf8(argv[i]);
    g_recorded.argv << args;
    g_recorded.responseSizes << size;
    const int cut = g_recorded.cutResponseAt;
    const int result = tonemill_doGraceNote(argc, argv, response, cut ? cut : size, user, userSize);
    g_recorded.results << result;
    if (g_recorded.afterCall)
        g_recorded.afterCall();
    return result;
}

QString md5(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly)
               ? QString::fromLatin1(
                     QCryptographicHash::hash(f.readAll(), QCryptographicHash::Md5).toHex())
               : QString();
}

AudioPtr track(const QString &path, const char *album = nullptr, const char *artist = nullptr) {
    Audio a{.name = QFileInfo(path).fileName(), .fileURL = path};
    if (album)
        a.album = album;
    if (artist)
        a.artist = artist;
    return std::make_shared<Audio>(a);
}

using Text = std::optional<QString>;

class GraceNoteTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        world = std::make_unique<QTemporaryDir>();
        // Two catalogued songs, and the user's copies of them re-encoded and
        // tagged otherwise, so that only the fingerprint can match them.
        const struct {
            const char *name;
            uint32_t seed;
            TestSongs::Tags tags;
            const char *bitrate;
        } songs[] = {{"cat1", 1, {"Opening", "The Testers", "First Light", 1}, ""},
                     {"cat2", 2, {"Second Wind", "The Testers", "First Light", 2}, ""},
                     {"a", 1, {"rip 1", "The Testers", "First Light"}, "96k"},
                     {"b", 2, {"rip 2", "Guest Star", "First Light"}, "96k"},
                     {"c", 51, {"Lost Song", "The Testers", "First Light"}, ""},
                     {"e", 53, {"Other Song", "The Testers", "First Light"}, ""},
                     {"d", 52, {"Loose"}, ""}};
        for (const auto &s : songs)
            ASSERT_TRUE(TestSongs::make(path(s.name), s.seed, 14, s.tags, s.bitrate));
        ASSERT_TRUE(QFile::copy(path("c"), path("truncated")));
        ASSERT_TRUE(QFile(path("truncated")).resize(10000));
        const QString catalogue = world->filePath("recognition.db");
        const QStringList originals{path("cat1"), path("cat2")};
        ASSERT_TRUE(TestSongs::makeCatalog(catalogue, originals));
        engineConfig = TestSongs::writeEngineConfig(world->filePath("engine"), catalogue);
        cloud = std::make_unique<CloudProcess>();
        ASSERT_TRUE(cloud->importFiles(originals, catalogue));
        // It also answers the engine's lookups from the same catalogue.
        ASSERT_TRUE(cloud->start({"--recognition-catalog", catalogue, "--recognition-clients",
                                  "1000001:0123456789ABCDEF0123456789ABCDEF"}));
    }
    static void TearDownTestSuite() { cloud.reset(); }
    static QString path(const QString &name) { return world->filePath("music/" + name + ".mp3"); }

    // A fresh store and account on the server, signed in.
    void SetUp() override {
        NSDefaultsUtility::setStorageFile(dir.filePath("prefs.conf"));
        StoreSetup::setStoreFolder(dir.filePath("store"));
        sonarbox().reinitialize();
        sonarbox().syncProgress().beginSync();
        sonarbox().setStatusMenu(&menu);
        useGateway(cloud->baseUrl());
        static int accounts = 0;
        email = QStringLiteral("listener%1@example.com").arg(++accounts);
        ASSERT_TRUE(cloud->addUser(email, "secret-pw"));
        auto user = std::make_shared<User>(User{.id = "1",
                                                .username = email,
                                                .password = "secret-pw",
                                                .deviceId = sonarbox().deviceID()});
        bool signedIn = false;
        onStage([&] { signedIn = Sonarbox::instance().signIn(user).signedIn(); });
        ASSERT_TRUE(signedIn);
        GenericDAO::instance().save(user);
        sonarbox().setLoggedUser(user);
        QObject::connect(
            &sonarbox().syncProgress(), &SyncProgress::changed, &context,
            [this] { shownStates << sonarbox().syncProgress().state(); }, Qt::DirectConnection);
        g_recorded = {};
    }
    void TearDown() override {
        g_recorded = {};
        sonarbox().setStatusMenu(nullptr);
        sonarbox().reinitialize();
        DeploymentConfig::resetToDefault();
        NSDefaultsUtility::setStorageFile(QString());
    }

    static Sonarbox &sonarbox() { return Sonarbox::instance(); }
    static void onStage(std::function<void()> work) {
        sonarbox().operationQueue().addOperation(std::make_shared<StageOperation>(std::move(work)));
        sonarbox().operationQueue().waitUntilAllOperationsAreFinished();
    }
    // Runs the stage over `tracks`; answers whether it called its completion.
    bool run(const QList<AudioPtr> &tracks) {
        const SyncRunPtr syncRun = sonarbox().newRun();
        syncRun->setLocalLibraryTracks(tracks);
        bool completed = false;
        onStage([&] { stage.fingderPrintLocalMediaFiles(syncRun, [&] { completed = true; }); });
        return completed;
    }
    // An empty `initData` leaves the engine to the gateway's lookup service.
    void useGateway(const QString &url, const QString &initData = engineConfig,
                    const QString &caFile = {}) {
        static int generation = 0; // a new file each time: the reader caches by path
        const QString ini = dir.filePath(QStringLiteral("sonarbox-%1.ini").arg(++generation));
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[service]\ngatewayBaseUrl=%1\nwebSiteUrl=%1\ncaFile=%3\n"
                               "[recognition]\nclientId=1000001\n"
                               "clientTag=0123456789ABCDEF0123456789ABCDEF\ninitData=%2\n")
                    .arg(url, initData, caFile)
                    .toUtf8());
        f.close();
        ASSERT_TRUE(DeploymentConfig::load(ini));
    }
    static AudioPtr stored(const QString &file) {
        for (const AudioPtr &a : GenericDAO::instance().getAll<Audio>())
            if (a->fileURL == file)
                return a;
        return nullptr;
    }

    StatusMenu menu;
    QTemporaryDir dir;
    QObject context;
    QList<SyncProgress::State> shownStates;
    QString email;
    GraceNote stage{Sonarbox::instance(), &recordingRecognize};
    inline static std::unique_ptr<QTemporaryDir> world;
    inline static std::unique_ptr<CloudProcess> cloud;
    inline static QString engineConfig;
};

TEST_F(GraceNoteTest, AlbumGroupsAreMatchedByFingerprintAndTheRestLeftForUpload) {
    LogCapture log;
    const QList<AudioPtr> tracks{track(path("a"), "First Light", "The Testers"),
                                 track(path("b"), "First Light", "The Testers"),
                                 track(path("c"), "First Light", "Guest Star"),
                                 track(path("e"), "First Light", "The Testers"), track(path("d"))};
    ASSERT_TRUE(run(tracks));

    // One call per album title (both artists in it), one for the track without
    // album; the recognition user made by the first is kept, sent and used next.
    ASSERT_EQ(g_recorded.argv.size(), 2);
    const QStringList head{"Main", "1000001", "0123456789ABCDEF0123456789ABCDEF", engineConfig};
    EXPECT_EQ(g_recorded.argv[0],
              (head + QStringList{"-C", path("a"), path("b"), path("c"), path("e")}));
    EXPECT_EQ(g_recorded.responseSizes[0], 4 * 10240);
    const QString handle = GenericDAO::instance().uniqueResult<User>()->gracenoteUser.value_or("");
    ASSERT_FALSE(handle.isEmpty());
    EXPECT_EQ(g_recorded.argv[1], (head + QStringList{"-u", handle, path("d")}));
    EXPECT_EQ(cloud->query("SELECT gracenote_user FROM users WHERE email='" + email + "'"),
              QStringList{handle});
    const QStringList userLines = log.lines().filter("NEW USER");
    ASSERT_EQ(userLines.size(), 1);
    EXPECT_FALSE(userLines[0].contains(handle));

    // Before each group: 0 % before the 4-track album, 80 % after it; what
    // the page and the menu show as each group begins.
    QStringList shown, counted;
    QString lastTrack;
    for (const SyncProgress::State &p : std::as_const(shownStates)) {
        if (p.song.isEmpty() || p.song + p.artist == lastTrack)
            continue;
        lastTrack = p.song + p.artist;
        shown << QStringLiteral("%1 %2 %3 %4").arg(p.fraction).arg(p.percentage, p.song, p.artist);
        counted << QStringLiteral("%1 %2/%3")
                       .arg(SyncProgress::activityName(p.stage))
                       .arg(p.itemsDone)
                       .arg(p.itemsTotal);
    }
    EXPECT_EQ(shown.join(" | ").toStdString(),
              "0 0% First Light The Testers | 0.8 80% Unknown Album Unknown Artist");
    EXPECT_EQ(counted.join(" | ").toStdString(), "Importing 0/5 | Importing 4/5");

    // The catalogued copies carry what the engine and the service said; the
    // others are left for upload.
    const AudioPtr a = stored(path("a")), b = stored(path("b"));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(std::tuple(a->songName, a->artist, a->album, a->sequence, a->checksum),
              std::tuple(Text("Opening"), Text("The Testers"), Text("First Light"),
                         std::optional<qint64>(1), Text(md5(path("a")))));
    EXPECT_EQ(std::tuple(b->songName, b->artist, b->sequence),
              std::tuple(Text("Second Wind"), Text("The Testers"), std::optional<qint64>(2)));
    for (const AudioPtr &m : {a, b}) {
        EXPECT_EQ(m->downloadable, true);
        EXPECT_GT(m->userMediaID.value_or("0").toLongLong(), 0);
        EXPECT_NE(m->fingerPrintID.value_or("-1"), "-1");
    }
    for (const char *name : {"c", "d", "e"}) {
        const AudioPtr u = stored(path(name));
        ASSERT_TRUE(u) << name;
        EXPECT_EQ(std::tuple(u->downloadable, u->userMediaID, u->checksum),
                  std::tuple(std::optional(false), Text("-1"), Text(md5(path(name)))));
    }
    EXPECT_EQ(stage.amoundOfSongsFingerprinted(), 2);
    const SyncProgress::State progress = sonarbox().syncProgress().state();
    EXPECT_EQ(std::tuple(progress.itemsTotal, progress.tracksMatched, progress.tracksUnmatched),
              std::tuple(5, 2, 3));

    // Nothing is new the second time: no call, and the same user is not sent again.
    ASSERT_TRUE(run(tracks));
    EXPECT_EQ(g_recorded.argv.size(), 2);
    EXPECT_EQ(log.lines().filter("NEW USER").size(), 1);
}

TEST_F(GraceNoteTest, ARefusedRecognitionUserIsReplacedByANewOne) {
    UserPtr user = sonarbox().loggedUser();
    user->gracenoteUser = QStringLiteral("not-a-user");
    ASSERT_TRUE(run({track(path("a"), "First Light")}));
    ASSERT_EQ(g_recorded.argv.size(), 2);
    EXPECT_EQ(g_recorded.argv[0].mid(4, 2), (QStringList{"-u", "not-a-user"}));
    EXPECT_EQ(g_recorded.argv[1].mid(4, 2), (QStringList{"-C", path("a")}));
    const QString handle = GenericDAO::instance().uniqueResult<User>()->gracenoteUser.value_or("");
    EXPECT_FALSE(handle.isEmpty());
    EXPECT_NE(handle, "not-a-user");
    EXPECT_EQ(stored(path("a"))->downloadable, true);
}

TEST_F(GraceNoteTest, StopBetweenGroupsKeepsTheGroupsDone) {
    g_recorded.afterCall = [] { sonarbox().flow_stopProcesses = true; };
    EXPECT_FALSE(run({track(path("d")), track(path("c"), "First Light")}));
    EXPECT_EQ(g_recorded.argv.size(), 1);
    EXPECT_TRUE(stored(path("d")));
    EXPECT_FALSE(stored(path("c")));
    EXPECT_FALSE(sonarbox().flow_stopProcesses);
}

TEST_F(GraceNoteTest, UnansweredCatalogueRequestsAreAskedAgainOnTheNextRun) {
    LogCapture log;
    const TestEnvironment::RefusingPort nobody;
    useGateway(nobody.url());
    ASSERT_TRUE(run({track(path("a"), "First Light")}));
    EXPECT_TRUE(log.contains("!=!=! NULL RESPONSE for song a.mp3"));
    ASSERT_TRUE(stored(path("a")));
    EXPECT_FALSE(stored(path("a"))->downloadable);
    EXPECT_EQ(sonarbox().syncProgress().state().tracksFailed, 1);

    // Its checksum is not the catalogue's: only the kept fingerprint ID matches it.
    useGateway(cloud->baseUrl());
    ASSERT_TRUE(run({}));
    EXPECT_EQ(stored(path("a"))->downloadable, true);
    EXPECT_GT(stored(path("a"))->userMediaID.value_or("0").toLongLong(), 0);
}

TEST_F(GraceNoteTest, UnreadableFilesAndCutResultDocuments) {
    ASSERT_TRUE(run({track(path("truncated"), "Broken"), track(path("vanished"), "Broken")}));
    const AudioPtr truncated = stored(path("truncated"));
    ASSERT_TRUE(truncated);
    EXPECT_EQ(std::tuple(truncated->checksum, truncated->fingerPrintID, truncated->downloadable),
              std::tuple(Text(md5(path("truncated"))), Text("-1"), std::optional(false)));
    EXPECT_FALSE(stored(path("vanished")));
    EXPECT_EQ(sonarbox().syncProgress().state().tracksFailed, 1);

    // A document cut at the buffer's end: stored with the file's own MD5.
    g_recorded.cutResponseAt = 64;
    ASSERT_TRUE(run({track(path("a"), "First Light")}));
    ASSERT_TRUE(stored(path("a")));
    EXPECT_EQ(std::tuple(stored(path("a"))->checksum, stored(path("a"))->songName),
              std::tuple(Text(md5(path("a"))), Text()));
}

TEST_F(GraceNoteTest, OfflineSkipsEveryTrackAndAnEmptyRunShowsTheLaunchControls) {
    sonarbox().isAppOffline = true;
    EXPECT_TRUE(run({track(path("d"))}));
    EXPECT_TRUE(g_recorded.argv.isEmpty());
    EXPECT_FALSE(stored(path("d")));

    sonarbox().isAppOffline = false;
    sonarbox().flow_newUser = true;
    sonarbox().progressPage().showNewUserFlow(true);
    EXPECT_TRUE(run({}));
    EXPECT_FALSE(sonarbox().progressPage().state().launchButtonHidden);
}

TEST_F(GraceNoteTest, WithoutInitDataTheEngineAsksTheServicesLookup) {
    // The installed default names no initialisation data of its own.
    DeploymentConfig::resetToDefault();
    EXPECT_EQ(DeploymentConfig::current().recognitionInitData, QString());

    useGateway(cloud->baseUrl(), QString());
    ASSERT_TRUE(
        run({track(path("a"), "First Light"), track(path("b"), "First Light"), track(path("d"))}));
    ASSERT_EQ(g_recorded.argv.size(), 2);
    QFile data(g_recorded.argv[0][3]);
    ASSERT_TRUE(data.open(QIODevice::ReadOnly)) << g_recorded.argv[0][3].toStdString();
    EXPECT_EQ(data.readAll().toStdString(),
              "lookup=" + cloud->baseUrl().toStdString() + "/recognition/v1/lookup\n");
    EXPECT_EQ(g_recorded.argv[1][3], g_recorded.argv[0][3]);
    const AudioPtr a = stored(path("a")), b = stored(path("b")), d = stored(path("d"));
    ASSERT_TRUE(a && b && d);
    EXPECT_EQ(
        std::tuple(a->songName, a->downloadable, b->songName, b->downloadable),
        std::tuple(Text("Opening"), std::optional(true), Text("Second Wind"), std::optional(true)));
    EXPECT_EQ(d->downloadable, false);

    // The service's own CA file is trusted for its lookups too, in a file of
    // its own: another gateway never shares one.
    const QString ca = dir.filePath(QStringLiteral("home-ca.pem"));
    useGateway(QStringLiteral("https://music.example.org:8443"), QString(), ca);
    const QString other = RecognitionInitData::path(DeploymentConfig::current());
    QFile otherData(other);
    ASSERT_TRUE(otherData.open(QIODevice::ReadOnly)) << other.toStdString();
    EXPECT_EQ(otherData.readAll().toStdString(),
              "lookup=https://music.example.org:8443/recognition/v1/lookup\nca_file=" +
                  ca.toStdString() + "\n");
    EXPECT_NE(other, g_recorded.argv[0][3]);
    // A deployment's own file is handed over as it stands.
    useGateway(cloud->baseUrl());
    EXPECT_EQ(RecognitionInitData::path(DeploymentConfig::current()), engineConfig);
}

TEST_F(GraceNoteTest, ALookupServiceThatIsDownFailsTheCallAndTheStageGoesOn) {
    const TestEnvironment::RefusingPort nobody;
    QFile down(dir.filePath(QStringLiteral("down.conf")));
    ASSERT_TRUE(down.open(QIODevice::WriteOnly));
    down.write("lookup=" + nobody.url().toUtf8() + "/recognition/v1/lookup\n");
    down.close();
    useGateway(cloud->baseUrl(), down.fileName());
    ASSERT_TRUE(run({track(path("a"), "First Light"), track(path("b"), "First Light")}));
    EXPECT_EQ(g_recorded.results, QList<int>{0});
    // The stage goes on as without a match: the service is asked by checksum,
    // which it does not hold, so both are left for upload.
    for (const char *name : {"a", "b"}) {
        const AudioPtr t = stored(path(name));
        ASSERT_TRUE(t) << name;
        EXPECT_EQ(std::tuple(t->downloadable, t->userMediaID, t->fingerPrintID, t->checksum),
                  std::tuple(std::optional(false), Text("-1"), Text("-1"), Text(md5(path(name)))));
    }
    EXPECT_EQ(sonarbox().syncProgress().state().tracksUnmatched, 2);
    // The recognition user came back all the same, and is kept.
    EXPECT_FALSE(GenericDAO::instance().uniqueResult<User>()->gracenoteUser.value_or("").isEmpty());
}

} // namespace
