// Two sync engines side by side in one process, as the proof that an engine's
// state is handed down rather than reached for: two accounts on two servers,
// each engine with its own preferences, configuration, notification centre,
// store, service client, stage queue, progress model and music, syncing at
// the same time. Recognition (the engine and libtonemill, one per process)
// is the one thing they share.
#include "SyncWorld.h"
#include "TestEnvironment.h"
#include "engine/Sonarbox.h"
#include "engine/SyncEngine.h"
#include "settings/DeploymentConfig.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/NotificationCenter.h"
#include "settings/PreferenceKeys.h"
#include "store/GenericDAO.h"
#include "store/StoreSetup.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

#include <gtest/gtest.h>

#include <memory>

namespace {

// One engine and the world it syncs.
struct Side {
    Side(int seeds, int catalogued, int unknown, int cloudOnly) {
        world.seeds = seeds;
        world.keepRequestLog = true;
        built = world.build(&error, catalogued, unknown, cloudOnly);
        if (!built)
            return;
        const std::optional<DeploymentConfig> config =
            DeploymentConfig::fromFile(world.configFile(), &error);
        if (!config) {
            built = false;
            return;
        }
        preferences = std::make_unique<NSDefaultsUtility>(home.filePath("prefs.conf"));
        storeSetup = std::make_unique<StoreSetup>(home.filePath("store"));
        store = std::make_unique<GenericDAO>(*storeSetup);
        sonarbox = std::make_unique<Sonarbox>(
            EngineParts{preferences.get(), *config, &notifications, store.get()});
        stages = std::make_unique<SyncEngine>(SyncDependencies{.coordinator = sonarbox.get()});
        stages->install(*sonarbox);
        QObject::connect(&sonarbox->syncProgress(), &SyncProgress::event, &receiver,
                         [this](const SyncProgress::Event &e) {
                             if (e.kind == SyncProgress::Event::Kind::ItemFinished)
                                 finished[e.state.stage] << e.item;
                         });
    }

    // Signs the world's account in through this engine only, and chooses its
    // music folder and download folder.
    bool signInAndChoose() {
        auto user = std::make_shared<User>();
        user->id = QStringLiteral("1");
        user->username = SyncWorld::Email;
        user->password = SyncWorld::Password;
        user->deviceId = sonarbox->deviceID();
        if (!QtConcurrent::run([&] { return sonarbox->signIn(user).signedIn(); }).result())
            return false;
        store->save(user);
        sonarbox->setLoggedUser(user);
        sonarbox->setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
        sonarbox->setUserMediaFoldersToScan({QUrl::fromLocalFile(world.musicFolder())});
        sonarbox->setUserDownloadDirectory(world.downloadFolder());
        return true;
    }

    QStringList localFiles() const { return world.cataloguedCopies + world.unknownSongs; }
    // The server's copies of a file, by its bytes.
    int storedCopies(const QString &md5) const {
        return world.cloud
            .query(QStringLiteral("SELECT count(*) FROM files WHERE md5 = '%1'").arg(md5))
            .value(0)
            .toInt();
    }

    SyncWorld world;
    QString error;
    bool built = false;
    QTemporaryDir home;
    std::unique_ptr<NSDefaultsUtility> preferences;
    NotificationCenter notifications;
    std::unique_ptr<StoreSetup> storeSetup;
    std::unique_ptr<GenericDAO> store;
    std::unique_ptr<Sonarbox> sonarbox;
    std::unique_ptr<SyncEngine> stages;
    QObject receiver;
    QMap<SyncProgress::Stage, QStringList> finished;
};

TEST(TwoEngines, SyncAtTheSameTimeAndNothingCrossesBetweenThem) {
    // The program's own preferences, store and configuration: nothing of
    // either engine may land there, and a request sent with the program's
    // configuration would reach no server.
    QTemporaryDir program;
    NSDefaultsUtility::setStorageFile(program.filePath("prefs.conf"));
    StoreSetup::setStoreFolder(program.filePath("store"));
    DeploymentConfig::resetToDefault();

    // Different music, and a different amount of it on each side.
    Side ada(0, 3, 2, 1);
    ASSERT_TRUE(ada.built) << ada.error.toStdString();
    Side bo(1000, 2, 3, 2);
    ASSERT_TRUE(bo.built) << bo.error.toStdString();
    ASSERT_TRUE(ada.signInAndChoose());
    ASSERT_TRUE(bo.signInAndChoose());
    EXPECT_NE(ada.sonarbox->deviceID(), bo.sonarbox->deviceID());

    ada.sonarbox->sync(true);
    bo.sonarbox->sync(true);
    EXPECT_TRUE(TestEnvironment::waitUntil(
        [&] { return !ada.sonarbox->syncInProgress && !bo.sonarbox->syncInProgress; }, 600000));
    for (Side *side : {&ada, &bo}) {
        side->sonarbox->operationQueue().waitUntilAllOperationsAreFinished();
        EXPECT_EQ(side->sonarbox->progressPage().state().description,
                  QStringLiteral("Sync Completed"));
    }

    for (const auto &[side, other] : {std::pair{&ada, &bo}, std::pair{&bo, &ada}}) {
        SCOPED_TRACE(side->world.musicFolder().toStdString());
        const SyncWorld &world = side->world;
        // Its own songs went to its own server: the unknown ones uploaded,
        // the catalogued ones matched; nothing of the other side's music.
        for (const QString &song : world.unknownSongs)
            EXPECT_EQ(side->storedCopies(world.md5.value(song)), 1) << song.toStdString();
        for (const QString &copy : world.cataloguedCopies)
            EXPECT_EQ(side->storedCopies(world.md5.value(copy)), 0) << copy.toStdString();
        for (const QString &file : other->localFiles())
            EXPECT_EQ(side->storedCopies(other->world.md5.value(file)), 0) << file.toStdString();

        // Its store holds its own tracks, each file once, and nothing else.
        EXPECT_EQ(side->store->getSize(QStringLiteral("Audio")),
                  side->localFiles().size() + world.cloudOnlySongs.size());
        for (const QString &path : side->store->storedFilePaths())
            EXPECT_TRUE(path.startsWith(world.musicFolder()) ||
                        path.startsWith(world.downloadFolder()))
                << path.toStdString();
        // What only its cloud had came down into its own download folder.
        EXPECT_EQ(QDir(world.downloadFolder()).entryList(QDir::Files).size(),
                  world.cloudOnlySongs.size());

        // Its progress model saw its own items only.
        EXPECT_EQ(side->finished.value(SyncProgress::Stage::Uploading).size(),
                  world.unknownSongs.size());
        EXPECT_EQ(side->finished.value(SyncProgress::Stage::Downloading).size(),
                  world.cloudOnlySongs.size());
        EXPECT_EQ(side->sonarbox->syncProgress().state().tracksFound, side->localFiles().size());

        // Its server answered every request: none came with a session or a
        // device of the other side's.
        const QStringList requests = world.cloud.requestLog();
        EXPECT_FALSE(requests.isEmpty());
        for (const QString &line : requests)
            EXPECT_FALSE(line.contains(QStringLiteral(" 401")) ||
                         line.contains(QStringLiteral(" 403")))
                << line.toStdString();
        // Its uploads: its own songs, beside those of the other installation
        // that put the cloud-only songs there.
        EXPECT_EQ(world.cloud.requestLog(QStringLiteral("/DesktopUploadMedia")).size(),
                  world.unknownSongs.size() + world.cloudOnlySongs.size());

        // Its preferences are its own file's.
        QSettings prefs(side->preferences->file(), QSettings::IniFormat);
        EXPECT_EQ(prefs.value(QString(PreferenceKeys::UUID)).toString(),
                  side->sonarbox->deviceID());
        EXPECT_EQ(prefs.value(QString(PreferenceKeys::LastSyncOutcome)).toString(),
                  QStringLiteral("Sync Completed"));
    }

    // The program's preferences and store were never written.
    EXPECT_FALSE(QFileInfo::exists(program.filePath("prefs.conf")));
    EXPECT_FALSE(QFileInfo::exists(program.filePath("store")));

    // A log-out is announced on its own engine's centre only.
    int adaHeard = 0, boHeard = 0;
    ada.notifications.addObserver(QStringLiteral("logOutNotification"),
                                  [&](QObject *) { ++adaHeard; });
    bo.notifications.addObserver(QStringLiteral("logOutNotification"),
                                 [&](QObject *) { ++boHeard; });
    ada.sonarbox->logOut();
    EXPECT_EQ(adaHeard, 1);
    EXPECT_EQ(boHeard, 0);
    EXPECT_TRUE(bo.sonarbox->loggedUser());
    EXPECT_EQ(bo.store->getSize(QStringLiteral("Audio")),
              bo.localFiles().size() + bo.world.cloudOnlySongs.size());

    NSDefaultsUtility::setStorageFile(QString());
    StoreSetup::setStoreFolder(QString());
}

} // namespace
