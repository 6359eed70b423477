// The preview of a sync against the real server, recognition engine and
// libtonemill: what it says the sync would do is what the sync then does, it
// sends nothing that changes the cloud library, and the sync does not
// fingerprint again what it identified.
#include "engine/DryRun.h"
#include "Headless.h"
#include "ServiceTestSupport.h"
#include "SyncWorld.h"
#include "TestEnvironment.h"
#include "TestPrinting.h"
#include "engine/LoginPortal.h"
#include "engine/Sonarbox.h"
#include "engine/StatusReporting.h"
#include "engine/SyncEngine.h"
#include "settings/DeploymentConfig.h"
#include "settings/NSDefaultsUtility.h"
#include "store/GenericDAO.h"
#include "store/StoreSetup.h"
#include "sync/IdentificationCache.h"

#include <tonemill/tonemill.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

// The files handed to libtonemill for decoding and fingerprinting.
std::atomic<int> g_fingerprintedFiles{0};

int countingRecognize(int argc, char *argv[], char *response, int responseSize, char *user,
                      int userSize) {
    // "Main", client ID, tag, initialisation data, "-C" or "-u" and a
    // handle, then the files.
    int first = 4;
    if (first < argc && std::strcmp(argv[first], "-u") == 0)
        first += 2;
    else if (first < argc && std::strcmp(argv[first], "-C") == 0)
        first += 1;
    g_fingerprintedFiles += std::max(0, argc - first);
    return tonemill_doGraceNote(argc, argv, response, responseSize, user, userSize);
}

// The bytes of every file the server holds (catalogue matches add none).
qint64 bytesOnServer(const SyncWorld &world) {
    return world.cloud.query(QStringLiteral("SELECT coalesce(sum(size), 0) FROM files"))
        .value(0)
        .toLongLong();
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QString CatalogueMatch = QStringLiteral("/createUserMediaFromCatalog ");
const QString Upload = QStringLiteral("/DesktopUploadMedia");
const QString Download = QStringLiteral("/redirectToCdnDownload/");
const QString RecognitionUser = QStringLiteral("/updateGracenoteUser ");

class DryRunEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        world.cloud.keepRequestLog();
        QString error;
        ASSERT_TRUE(world.build(&error)) << error.toStdString();
        ASSERT_TRUE(DeploymentConfig::load(world.configFile()));
        NSDefaultsUtility::setStorageFile(home.filePath(QStringLiteral("prefs.conf")));
        StoreSetup::setStoreFolder(home.filePath(QStringLiteral("store")));
        Sonarbox &sonarbox = Sonarbox::instance();
        sonarbox.reinitialize();
        installServiceReporting();
        g_fingerprintedFiles = 0;
        engine = std::make_unique<SyncEngine>(SyncDependencies{{}, &countingRecognize});
        engine->install(sonarbox);

        ASSERT_TRUE(signInAndChoose(world.musicFolder(), world.downloadFolder()));
    }
    void TearDown() override {
        Sonarbox::instance().logOut();
        Sonarbox::instance().operationQueue().waitUntilAllOperationsAreFinished();
        engine.reset();
    }

    DryRunReport preview() {
        std::optional<DryRunReport> report;
        DryRun::start(*engine, [&](const DryRunReport &r) { report = r; });
        EXPECT_TRUE(TestEnvironment::waitUntil([&] { return report.has_value(); }, 600000));
        return report.value_or(DryRunReport{});
    }
    QString sync() {
        Sonarbox &sonarbox = Sonarbox::instance();
        sonarbox.sync(true);
        EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !sonarbox.syncInProgress; }, 600000));
        sonarbox.operationQueue().waitUntilAllOperationsAreFinished();
        return sonarbox.progressPage().state().description;
    }
    qsizetype requests(const QString &path) const { return world.cloud.requestLog(path).size(); }

    SyncWorld world;
    QTemporaryDir home;
    std::unique_ptr<SyncEngine> engine;
};

TEST_F(DryRunEndToEnd, SaysWhatTheSyncThenDoesWithoutChangingAnythingAndIsNotFingerprintedAgain) {
    Sonarbox &sonarbox = Sonarbox::instance();
    // The other installation's uploads of the cloud-only songs are in the log already.
    const qsizetype uploadsBefore = requests(Upload);
    const qint64 bytesBefore = bytesOnServer(world);
    const qint64 position = sonarbox.syncMilliSeconds();

    const DryRunReport report = preview();
    ASSERT_TRUE(report.completed()) << report.error.toStdString();
    const qsizetype local = world.cataloguedCopies.size() + world.unknownSongs.size();
    EXPECT_EQ(report.filesFound, local);
    EXPECT_EQ(report.filesToIdentify, local);
    EXPECT_EQ(report.tracksKnown, 0);
    EXPECT_EQ(report.expectedFromCatalogue, world.cataloguedCopies.size());
    EXPECT_EQ(report.songsToDownload, world.cloudOnlySongs.size());
    EXPECT_EQ(report.tracksToUpload, world.unknownSongs.size());
    qint64 unknownBytes = 0;
    for (const QString &song : world.unknownSongs)
        unknownBytes += QFileInfo(song).size();
    EXPECT_EQ(report.uploadBytes, unknownBytes);
    EXPECT_FALSE(report.uploadBytesPerSecond);
    EXPECT_TRUE(report.lines().contains(
        QStringLiteral("Upload time: not estimated, no upload rate has been measured yet")))
        << report.lines().join('\n').toStdString();
    EXPECT_EQ(g_fingerprintedFiles.load(), local);

    // Nothing reached the service that changes it, and nothing was kept here
    // but what identified the files.
    EXPECT_EQ(requests(CatalogueMatch), 0);
    EXPECT_EQ(requests(Upload), uploadsBefore);
    EXPECT_EQ(requests(Download), 0);
    EXPECT_EQ(requests(RecognitionUser), 0);
    EXPECT_EQ(bytesOnServer(world), bytesBefore);
    EXPECT_EQ(GenericDAO::instance().getSize(QStringLiteral("Audio")), 0);
    EXPECT_TRUE(QDir(world.downloadFolder()).isEmpty());
    EXPECT_EQ(sonarbox.syncMilliSeconds(), position);

    // The sync does what the preview said, without fingerprinting again.
    g_fingerprintedFiles = 0;
    EXPECT_EQ(sync(), QStringLiteral("Sync Completed"));
    EXPECT_EQ(g_fingerprintedFiles.load(), 0);
    // What the store holds now is not kept twice.
    IdentificationCache kept;
    kept.open(IdentificationCache::fileIn(StoreSetup::instance().applicationFilesDirectory()));
    EXPECT_EQ(kept.size(), 0);
    EXPECT_EQ(requests(CatalogueMatch), report.filesToIdentify);
    EXPECT_EQ(requests(Upload) - uploadsBefore, report.tracksToUpload);
    EXPECT_EQ(bytesOnServer(world) - bytesBefore, report.uploadBytes);
    EXPECT_EQ(requests(Download), report.songsToDownload);
    int fromCatalogue = 0;
    for (const QString &copy : world.cataloguedCopies) {
        const AudioPtr stored =
            GenericDAO::instance().getById(QStringLiteral("audioByCode"), world.md5.value(copy));
        fromCatalogue += stored && stored->downloadable == true && stored->uploaded != true;
    }
    EXPECT_EQ(fromCatalogue, report.expectedFromCatalogue);

    // Now that uploads were timed, the next preview estimates with their
    // rate; and it has nothing left to do.
    const DryRunReport after = preview();
    ASSERT_TRUE(after.completed()) << after.error.toStdString();
    EXPECT_TRUE(after.uploadBytesPerSecond);
    EXPECT_EQ(after.filesToIdentify, 0);
    EXPECT_EQ(after.tracksKnown, local);
    EXPECT_EQ(after.songsToDownload, 0);
    EXPECT_EQ(after.tracksToUpload, 0);
}

TEST(DryRunHeadless, PrintsTheReportAndSendsNothingThatChangesTheCloudLibrary) {
    SyncWorld world;
    world.cloud.keepRequestLog();
    QString error;
    ASSERT_TRUE(world.build(&error)) << error.toStdString();
    const qsizetype uploadsBefore = world.cloud.requestLog(Upload).size();
    Headless headless(world.configFile());
    ASSERT_EQ(headless.signIn(SyncWorld::Email, SyncWorld::Password), 0);

    QByteArray output;
    EXPECT_EQ(headless.runOver(world.musicFolder(), world.downloadFolder(),
                               {QStringLiteral("--dry-run")}, &output),
              0)
        << output.toStdString() << readAll(headless.errorFile()).toStdString();
    for (const char *line :
         {"Files to identify: 5", "Tracks already known: 0",
          "Expected from the catalogue without upload: 3", "Songs to download: 1",
          "Tracks to upload: 2 (", "Upload time: not estimated"})
        EXPECT_TRUE(output.contains(line)) << line << "\n" << output.toStdString();
    EXPECT_TRUE(world.cloud.requestLog(CatalogueMatch).isEmpty());
    EXPECT_EQ(world.cloud.requestLog(Upload).size(), uploadsBefore);
    EXPECT_TRUE(QDir(world.downloadFolder()).isEmpty());

    QByteArray tracks;
    EXPECT_EQ(headless.run({QStringLiteral("--tracks")}, {}, &tracks), 0);
    EXPECT_TRUE(tracks.contains("0 tracks")) << tracks.toStdString();
    EXPECT_EQ(headless.run({QStringLiteral("--dry-run"), QStringLiteral("--once")}), 2);
}

} // namespace
