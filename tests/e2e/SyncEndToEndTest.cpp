// Whole syncs against the real server, recognition engine and libtonemill:
// once through the coordinator in this process, and once through
// sonarbox-headless killed in the middle of a sync and started again.
#include "ChildProcess.h"
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

#include <QDir>
#include <QDirIterator>
#include <QUrl>

#include <gtest/gtest.h>

#include <csignal>

namespace {

QString one(const QStringList &rows) {
    return rows.size() == 1 ? rows.first() : QStringLiteral("<%1 rows>").arg(rows.size());
}

// Every file under the folder, hidden ones included, by path relative to it.
QStringList filesIn(const QString &folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

// How many files of the same bytes as the local `file` the server stores.
QString storedCopies(const SyncWorld &world, const QString &file) {
    return one(world.cloud.query(
        QStringLiteral("SELECT count(*) FROM files WHERE md5 = '%1'").arg(world.md5.value(file))));
}

int countLines(const LogCapture &log, const QString &text) {
    int n = 0;
    for (const QString &line : log.lines())
        n += line.contains(text) ? 1 : 0;
    return n;
}

TEST(SyncEndToEnd, FirstSyncMatchesUploadsAndDownloadsThenTheNextChangesNothing) {
    SyncWorld world;
    QString error;
    ASSERT_TRUE(world.build(&error)) << error.toStdString();
    QTemporaryDir home;
    ASSERT_TRUE(DeploymentConfig::load(world.configFile()));
    NSDefaultsUtility::setStorageFile(home.filePath(QStringLiteral("prefs.conf")));
    StoreSetup::setStoreFolder(home.filePath(QStringLiteral("store")));

    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.reinitialize();
    installServiceReporting();
    SyncEngine engine;
    engine.install(sonarbox);

    ASSERT_TRUE(signInAndChoose(world.musicFolder(), world.downloadFolder()));

    const auto syncOnce = [&] {
        sonarbox.sync(true);
        EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !sonarbox.syncInProgress; }, 600000));
        sonarbox.operationQueue().waitUntilAllOperationsAreFinished();
        return sonarbox.progressPage().state().description;
    };

    EXPECT_EQ(syncOnce(), QStringLiteral("Sync Completed"));

    // The catalogued songs were added from the catalogue: none of the
    // person's copies reached the server, yet each is known there.
    for (const QString &copy : world.cataloguedCopies) {
        SCOPED_TRACE(copy.toStdString());
        EXPECT_EQ(storedCopies(world, copy), "0");
        const AudioPtr stored =
            GenericDAO::instance().getById(QStringLiteral("audioByCode"), world.md5.value(copy));
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->downloadable, std::optional<bool>(true));
        ASSERT_TRUE(stored->userMediaID);
        EXPECT_NE(*stored->userMediaID, "-1");
        // What the recognition engine said replaced the person's tags.
        EXPECT_EQ(stored->artist, std::optional<QString>("The Testers"));
        EXPECT_EQ(stored->album, std::optional<QString>("Sample Album"));
    }
    // The others were uploaded, byte for byte.
    for (const QString &song : world.unknownSongs) {
        SCOPED_TRACE(song.toStdString());
        EXPECT_EQ(one(world.cloud.query(
                      QStringLiteral("SELECT count(*) FROM user_media m JOIN files f ON "
                                     "f.id = m.file_id WHERE f.md5 = '%1'")
                          .arg(world.md5.value(song)))),
                  "1");
    }
    // The song only the cloud had arrived under its names.
    const QString downloaded =
        QDir(world.downloadFolder())
            .filePath(QStringLiteral("Elsewhere - Other Desk - Far Away.mp3"));
    EXPECT_EQ(filesIn(world.downloadFolder()),
              QStringList{QStringLiteral("Elsewhere - Other Desk - Far Away.mp3")});
    EXPECT_EQ(fileMd5(downloaded), world.md5.value(world.cloudOnlySong));
    const int storedTracks = GenericDAO::instance().getSize(QStringLiteral("Audio"));
    EXPECT_EQ(storedTracks, world.cataloguedCopies.size() + world.unknownSongs.size() + 1);

    // The hourly sync of an unchanged library only lists the cloud library.
    const QStringList serverFiles = world.cloud.query(QStringLiteral("SELECT md5 FROM files"));
    LogCapture log;
    EXPECT_EQ(syncOnce(), QStringLiteral("Sync Completed"));
    EXPECT_GT(countLines(log, QStringLiteral("rest/medias/sync")), 0);
    EXPECT_EQ(countLines(log, QStringLiteral("createUserMediaFromCatalog")), 0);
    EXPECT_EQ(countLines(log, QStringLiteral("UploadUrl:")), 0);
    EXPECT_EQ(countLines(log, QStringLiteral("| connect")), 0);
    EXPECT_EQ(world.cloud.query(QStringLiteral("SELECT md5 FROM files")), serverFiles);
    EXPECT_EQ(GenericDAO::instance().getSize(QStringLiteral("Audio")), storedTracks);
    EXPECT_EQ(filesIn(world.downloadFolder()),
              QStringList{QStringLiteral("Elsewhere - Other Desk - Far Away.mp3")});

    sonarbox.logOut();
    sonarbox.operationQueue().waitUntilAllOperationsAreFinished();
}

TEST(SyncEndToEnd, AProcessKilledDuringASyncFinishesOnItsNextStartWithNothingLostOrDoubled) {
    SyncWorld world;
    QString error;
    ASSERT_TRUE(world.build(&error, 2, 3)) << error.toStdString();
    Headless headless(world.configFile());
    ASSERT_EQ(headless.signIn(SyncWorld::Email, SyncWorld::Password), 0);

    for (const char *stage : {"Downloading", "Uploading"}) {
        SCOPED_TRACE(stage);
        ChildProcess p;
        ASSERT_TRUE(headless.start(p, {QStringLiteral("--library"), world.musicFolder(),
                                       QStringLiteral("--download-dir"), world.downloadFolder(),
                                       QStringLiteral("--once")}));
        QByteArray seen;
        const bool reached = TestEnvironment::waitUntil(
            [&] {
                seen = p.output(20);
                return seen.contains(stage) || !p.isRunning();
            },
            300000);
        p.signal(SIGKILL);
        p.waitForFinished(10000);
        EXPECT_TRUE(reached) << seen.toStdString();
        // The recognition library's own diagnostics stay off the program's output.
        EXPECT_FALSE(seen.contains("SDKMGRERR")) << seen.toStdString();
    }

    QByteArray output;
    EXPECT_EQ(headless.run({QStringLiteral("--once")}, {}, &output), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("Sync Completed")) << output.toStdString();

    // No partial download, and the cloud-only song once.
    EXPECT_EQ(filesIn(world.downloadFolder()),
              QStringList{QStringLiteral("Elsewhere - Other Desk - Far Away.mp3")});
    // No file twice on the server, and every local song is there, uploaded or
    // matched from the catalogue.
    EXPECT_EQ(one(world.cloud.query(
                  QStringLiteral("SELECT count(*) FROM (SELECT md5 FROM files GROUP BY md5, size "
                                 "HAVING count(*) > 1)"))),
              "0");
    for (const QString &song : world.unknownSongs) {
        EXPECT_EQ(storedCopies(world, song), "1") << song.toStdString();
    }
    const int accountMedia =
        one(world.cloud.query(QStringLiteral("SELECT count(*) FROM user_media"))).toInt();
    EXPECT_EQ(accountMedia, world.cataloguedCopies.size() + world.unknownSongs.size() + 1);
    QByteArray status;
    EXPECT_EQ(headless.run({QStringLiteral("--status")}, {}, &status), 0);
    EXPECT_TRUE(status.contains("Sync Completed")) << status.toStdString();
}

// A reinstall: an empty store (and a new device) over the same music and
// download folders. Every song the account already holds is recognised by
// its checksum; nothing goes up or comes down again.
TEST(SyncEndToEnd, AReinstallOverTheSameMusicAdoptsItWithoutUploadOrDownload) {
    SyncWorld world;
    QString error;
    ASSERT_TRUE(world.build(&error, 2, 2)) << error.toStdString();
    const QStringList firstSync = {QStringLiteral("--library"), world.musicFolder(),
                                   QStringLiteral("--download-dir"), world.downloadFolder(),
                                   QStringLiteral("--once")};
    {
        Headless before(world.configFile());
        ASSERT_EQ(before.run({QStringLiteral("--login"), SyncWorld::Email},
                             SyncWorld::Password.toUtf8() + "\n"),
                  0);
        QByteArray output;
        ASSERT_EQ(before.run(firstSync, {}, &output), 0) << output.toStdString();
    }
    const QStringList downloaded = filesIn(world.downloadFolder());
    const QStringList serverFiles = world.cloud.query(QStringLiteral("SELECT id FROM files"));
    ASSERT_EQ(downloaded.size(), 1);

    Headless after(world.configFile());
    ASSERT_EQ(after.run({QStringLiteral("--login"), SyncWorld::Email},
                        SyncWorld::Password.toUtf8() + "\n"),
              0);
    QByteArray output;
    EXPECT_EQ(after.run(firstSync, {}, &output), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(" 0 uploaded, 0 downloaded, 0 failed")) << output.toStdString();
    EXPECT_EQ(filesIn(world.downloadFolder()), downloaded);
    EXPECT_EQ(world.cloud.query(QStringLiteral("SELECT id FROM files")), serverFiles);
    QByteArray status;
    EXPECT_EQ(after.run({QStringLiteral("--status")}, {}, &status), 0);
    EXPECT_TRUE(
        status.contains(QStringLiteral("Tracks stored: %1")
                            .arg(world.cataloguedCopies.size() + world.unknownSongs.size() + 1)
                            .toUtf8()))
        << status.toStdString();
}

// The default set-up: the client names no recognition data of its own and its
// engine asks the server's lookup service, which holds the catalogue.
TEST(SyncEndToEnd, TheDefaultSetUpMatchesThroughTheServersLookupWithoutUpload) {
    SyncWorld world;
    QString error;
    ASSERT_TRUE(world.build(&error, 2, 1, 1, SyncWorld::Recognition::Lookup))
        << error.toStdString();
    Headless headless(world.configFile());
    ASSERT_EQ(headless.signIn(SyncWorld::Email, SyncWorld::Password), 0);
    QByteArray output;
    EXPECT_EQ(headless.runOver(world.musicFolder(), world.downloadFolder(),
                               {QStringLiteral("--once")}, &output),
              0)
        << output.toStdString();
    EXPECT_TRUE(output.contains("2 matched without upload, 1 uploaded, 1 downloaded, 0 failed"))
        << output.toStdString();
    for (const QString &copy : world.cataloguedCopies)
        EXPECT_EQ(storedCopies(world, copy), "0") << copy.toStdString();
}

// The default set-up, whose engine asks the server's lookup service, with that
// service down (the server holds no recognition catalogue): each recognition
// call fails, and the sync goes on as without matches, so every song still
// reaches the cloud, by upload.
TEST(SyncEndToEnd, WithTheLookupServiceDownTheSyncUploadsWhatItCouldNotMatchAndCompletes) {
    SyncWorld world;
    QString error;
    ASSERT_TRUE(world.build(&error, 2, 1, 1, SyncWorld::Recognition::LookupDown))
        << error.toStdString();
    Headless headless(world.configFile());
    ASSERT_EQ(headless.signIn(SyncWorld::Email, SyncWorld::Password), 0);
    QByteArray output;
    EXPECT_EQ(headless.runOver(world.musicFolder(), world.downloadFolder(),
                               {QStringLiteral("--once")}, &output),
              0)
        << output.toStdString();
    EXPECT_TRUE(output.contains("0 matched without upload, 3 uploaded, 1 downloaded, 0 failed"))
        << output.toStdString();
    for (const QString &song : world.cataloguedCopies + world.unknownSongs) {
        EXPECT_EQ(storedCopies(world, song), "1") << song.toStdString();
    }
    // The person's terminal says once that matching failed; libtonemill's
    // own report of each failed call, which says why, goes to the log.
    QFile errors(headless.errorFile());
    ASSERT_TRUE(errors.open(QIODevice::ReadOnly));
    const QByteArray said = errors.readAll();
    EXPECT_EQ(said.count("recognition calls failed"), 1) << said.toStdString();
    EXPECT_FALSE(said.contains("GNSDK Error")) << said.toStdString();
    EXPECT_FALSE(output.contains("GNSDK Error")) << output.toStdString();
    QFile log(headless.logFile());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray logged = log.readAll();
    EXPECT_TRUE(logged.contains(" I sonarbox.tonemill: GNSDK Error @ ") &&
                logged.contains("/recognition/v1/lookup answered 404"))
        << logged.toStdString();
}

} // namespace
