// Whole syncs against the real server, recognition engine and libtonemill:
// once through the coordinator in this process, and once through
// sonarbox-headless killed in the middle of a sync and started again.
#include "ChildProcess.h"
#include "ServiceTestSupport.h"
#include "SyncWorld.h"
#include "TestEnvironment.h"
#include "accounts/LoginPortal.h"
#include "service/ServiceReporting.h"
#include "settings/DeploymentConfig.h"
#include "settings/NSDefaultsUtility.h"
#include "store/GenericDAO.h"
#include "store/StoreSetup.h"
#include "sync/Sonarbox.h"
#include "sync/SyncEngine.h"

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

    auto user = std::make_shared<User>();
    user->id = QStringLiteral("1");
    user->username = SyncWorld::Email;
    user->password = SyncWorld::Password;
    user->deviceId = sonarbox.deviceID();
    QFuture<bool> signedIn = LoginPortal::loginNewUser(user, nullptr);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return signedIn.isFinished(); }, 30000));
    ASSERT_TRUE(signedIn.result());

    sonarbox.setUserPickedMediaLibrary(3);
    sonarbox.setUserMediaFoldersToScan({QUrl::fromLocalFile(world.musicFolder())});
    sonarbox.setUserDownloadDirectory(world.downloadFolder());

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
        EXPECT_EQ(
            one(world.cloud.query(QStringLiteral("SELECT count(*) FROM files WHERE md5 = '%1'")
                                      .arg(world.md5.value(copy)))),
            "0");
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

// sonarbox-headless in a home of its own.
class Headless {
public:
    explicit Headless(const QString &config)
        : m_config(config) {
        const QString home = m_home.path();
        m_options.environment = {QStringLiteral("HOME=") + home,
                                 QStringLiteral("XDG_CONFIG_HOME=%1/.config").arg(home),
                                 QStringLiteral("XDG_DATA_HOME=%1/.local/share").arg(home),
                                 QStringLiteral("XDG_CACHE_HOME=%1/.cache").arg(home),
                                 QStringLiteral("DBUS_SESSION_BUS_ADDRESS")};
        m_options.output = ChildProcess::Output::Capture;
        m_options.errorFile = m_home.filePath(QStringLiteral("stderr.log"));
    }

    // Runs to the end; answers the exit code (-1: crashed or hung).
    int run(const QStringList &args, const QByteArray &input = {}, QByteArray *output = nullptr) {
        const ChildProcess::Result r = ChildProcess::run(QStringLiteral(SONARBOX_HEADLESS_EXE),
                                                         arguments(args), input, 600000, m_options);
        if (output)
            *output = r.output;
        return r.exitCode;
    }

    bool start(ChildProcess &p, const QStringList &args) {
        return p.start(QStringLiteral(SONARBOX_HEADLESS_EXE), arguments(args), m_options);
    }

private:
    QStringList arguments(const QStringList &args) const {
        return QStringList{QStringLiteral("--config"), m_config} + args;
    }

    QTemporaryDir m_home;
    QString m_config;
    ChildProcess::Options m_options;
};

TEST(SyncEndToEnd, AProcessKilledDuringASyncFinishesOnItsNextStartWithNothingLostOrDoubled) {
    SyncWorld world;
    QString error;
    ASSERT_TRUE(world.build(&error, 2, 3)) << error.toStdString();
    Headless headless(world.configFile());
    ASSERT_EQ(headless.run({QStringLiteral("--login"), SyncWorld::Email},
                           SyncWorld::Password.toUtf8() + "\n"),
              0);

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
        EXPECT_EQ(
            one(world.cloud.query(QStringLiteral("SELECT count(*) FROM files WHERE md5 = '%1'")
                                      .arg(world.md5.value(song)))),
            "1")
            << song.toStdString();
    }
    const int accountMedia =
        one(world.cloud.query(QStringLiteral("SELECT count(*) FROM user_media"))).toInt();
    EXPECT_EQ(accountMedia, world.cataloguedCopies.size() + world.unknownSongs.size() + 1);
    QByteArray status;
    EXPECT_EQ(headless.run({QStringLiteral("--status")}, {}, &status), 0);
    EXPECT_TRUE(status.contains("Sync Completed")) << status.toStdString();
}

} // namespace
