// The desktop program's whole first run, driven through the real window the
// way a person clicks it: landing, sign-in, folder choice, scan summary, a
// whole sync against sonarbox-cloud and the recognition engine, and the
// page's way on once the sync has ended.
#include "CustomView.h"
#include "MainWindow.h"
#include "SyncWorld.h"
#include "TestEnvironment.h"
#include "engine/Sonarbox.h"
#include "engine/StatusReporting.h"
#include "engine/SyncEngine.h"
#include "library/FolderDialogs.h"
#include "library/MediaScanSummary.h"
#include "library/SummaryCellView.h"
#include "settings/DeploymentConfig.h"
#include "settings/NSDefaultsUtility.h"
#include "store/GenericDAO.h"
#include "store/StoreSetup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString topName(const MainWindow &window) {
    CustomView *top = window.topView();
    return top ? top->viewName() : QStringLiteral("<none>");
}

template <typename T> T *on(const MainWindow &window, const char *name) {
    CustomView *top = window.topView();
    T *found = top ? top->findChild<T *>(QLatin1String(name)) : nullptr;
    EXPECT_NE(found, nullptr) << name << " on " << topName(window).toStdString();
    return found;
}

bool click(const MainWindow &window, const char *name) {
    auto *button = on<QAbstractButton>(window, name);
    if (!button || !button->isEnabled())
        return false;
    button->click();
    return true;
}

bool reaches(const MainWindow &window, const QString &screen, int ms = 30000) {
    return TestEnvironment::waitUntil([&] { return topName(window) == screen; }, ms);
}

TEST(ShellEndToEnd, FirstRunFromLandingThroughAWholeSyncToDone) {
    SyncWorld world;
    QString error;
    ASSERT_TRUE(world.build(&error)) << error.toStdString();
    QTemporaryDir home;
    ASSERT_TRUE(DeploymentConfig::load(world.configFile()));
    NSDefaultsUtility::setStorageFile(home.filePath(QStringLiteral("prefs.conf")));
    StoreSetup::setStoreFolder(home.filePath(QStringLiteral("store")));
    NSDefaultsUtility::standard().saveUserDownloadDirectory(world.downloadFolder());

    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.reinitialize();
    QStringList opened;
    sonarbox.setUrlOpener([&opened](const QUrl &url) {
        opened << url.toString();
        return true;
    });
    installServiceReporting();
    SyncEngine engine;
    engine.install(sonarbox);
    FolderDialogs::setChooser(
        [&world](const FolderDialogs::Request &, FolderDialogs::Answer answer) {
            answer({world.musicFolder()});
        });

    MainWindow window;
    window.show();
    ASSERT_EQ(topName(window), "LandingPage");

    ASSERT_TRUE(click(window, "signInBtn"));
    ASSERT_TRUE(reaches(window, "LoginRegister"));
    on<QLineEdit>(window, "loginUsernameField")->setText(SyncWorld::Email);
    on<QLineEdit>(window, "loginPasswordField")->setText(SyncWorld::Password);
    ASSERT_TRUE(click(window, "loginBtn"));
    ASSERT_TRUE(reaches(window, "MediaLibraryPicker"));
    EXPECT_TRUE(sonarbox.flow_newUser);

    ASSERT_TRUE(click(window, "otherFolderOptionLabel"));
    ASSERT_TRUE(click(window, "addFolderButton"));
    ASSERT_TRUE(click(window, "continueBtn"));
    ASSERT_TRUE(reaches(window, "MediaScanSummary"));

    // The scan runs while the summary is up; Next is usable once it is done.
    auto *summary = qobject_cast<MediaScanSummary *>(window.topView());
    ASSERT_TRUE(summary);
    ASSERT_TRUE(
        TestEnvironment::waitUntil([&] { return summary->nextButton()->isEnabled(); }, 120000));
    const int local = int(world.cataloguedCopies.size() + world.unknownSongs.size());
    ASSERT_EQ(summary->amountOfRows(), 1);
    ASSERT_TRUE(summary->cellAt(0));
    EXPECT_EQ(summary->cellAt(0)->folderFileCount()->text(),
              QStringLiteral("Found %1 tracks").arg(local));

    ASSERT_TRUE(click(window, "nextBtn"));
    ASSERT_TRUE(reaches(window, "ProcessPage"));
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !sonarbox.syncInProgress; }, 600000));
    sonarbox.operationQueue().waitUntilAllOperationsAreFinished();
    QApplication::processEvents();
    EXPECT_EQ(on<QLabel>(window, "progressDescription")->text(), "Sync Completed");

    // Every local song is in the store with the service's identifier, and
    // the song only the cloud had has been downloaded.
    const QList<AudioPtr> tracks = GenericDAO::instance().getAll<Audio>();
    EXPECT_EQ(tracks.size(), local + 1);
    for (const AudioPtr &track : tracks)
        EXPECT_TRUE(track->userMediaID.has_value()) << track->fileURL.value_or("?").toStdString();
    EXPECT_EQ(QDir(world.downloadFolder()).entryList(QDir::Files).size(), 1);

    // The sync has ended: Done beside the Sync toggle is the way on, which
    // closes the window; the web application is the tray's to open.
    const auto shown = [&window](const char *name) {
        auto *widget = on<QWidget>(window, name);
        return widget && widget->isVisibleTo(window.topView());
    };
    EXPECT_TRUE(shown("processVewSyncButton"));
    EXPECT_FALSE(shown("launchSbxBtn"));
    EXPECT_FALSE(shown("youDontNeedToWait"));
    ASSERT_TRUE(click(window, "doneBtn"));
    EXPECT_FALSE(window.isVisible());
    sonarbox.launchSBX();
    EXPECT_EQ(opened, QStringList{world.cloud.baseUrl() + "/"});

    FolderDialogs::setChooser({});
    sonarbox.setUrlOpener({});
    StoreSetup::setStoreFolder({});
}

} // namespace
