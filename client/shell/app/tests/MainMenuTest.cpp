// The status menu's state table, its one snapshot, the offline guard and the
// percentage line it reads from the progress model.
#include "MainMenu.h"
#include "LogCapture.h"
#include "TestEnvironment.h"

#include <QAction>
#include <QCoreApplication>
#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

namespace {

void settle() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// The items in the table's column order: status line, Sync Now, Stop Sync,
// Settings, About, Help, Log Out, Open web app; '+' on, '-' off.
QString states(const MainMenu &menu) {
    const QList<QAction *> items = {menu.statusBarMenuItem(), menu.syncNowMenuItem(),
                                    menu.stopSyncMenuItem(),  menu.settingsMenuItem(),
                                    menu.aboutMenuItem(),     menu.helpMenuItem(),
                                    menu.logOutMenuItem(),    menu.launchSBXMenuItem()};
    QString s;
    for (QAction *item : items)
        s += item->isEnabled() ? QLatin1Char('+') : QLatin1Char('-');
    return s;
}

// Every item off, the status line too (the settings screen's state).
void allOff(MainMenu &menu) {
    menu.statusMenuShowSettingsPage();
    settle();
    ASSERT_EQ(states(menu), QStringLiteral("--------"));
}

struct Row {
    const char *operation;
    std::function<void(MainMenu &)> call;
    const char *title;
    // '+' on, '-' off, '=' unchanged, in the column order of `states`.
    const char *cells;
    bool logs;
};

// With every item on and then with every item off beforehand, a '=' cell
// shows as '+' and as '-'.
QString expected(const char *cells, QChar unchanged) {
    QString s = QString::fromLatin1(cells);
    s.replace(QLatin1Char('='), unchanged);
    return s;
}

} // namespace

// The program's menu before any screen has reported (the start-up sign-in
// runs then): nothing that needs an account is live. The first use of the
// shared menu in this process.
TEST(MainMenu, TheSharedMenuStartsWithOnlyAboutAndHelp) {
    MainMenu &menu = MainMenu::instance();
    settle();
    EXPECT_EQ(states(menu), QStringLiteral("+---++--"));
    EXPECT_TRUE(menu.quitMenuItem()->isEnabled());
    EXPECT_EQ(menu.statusBarMenuItem()->text(), "Open");
    // The login screen that follows a failed sign-in keeps them off.
    menu.statusMenuLoggedOut();
    settle();
    EXPECT_EQ(states(menu), QStringLiteral("+---++--"));
}

TEST(MainMenu, EveryRowOfTheStateTable) {
    const std::vector<Row> rows = {
        {"statusMenuLoggedOut", &MainMenu::statusMenuLoggedOut, "Sign in", "=-==++-=", true},
        {"statusMenuLibraryPickerView", &MainMenu::statusMenuLibraryPickerView, "Open",
         "+-=++++=", true},
        {"statusMenuScanSummaryView", &MainMenu::statusMenuScanSummaryView, "Open",
         "+-=++++=", true},
        {"statusMenuSyncStarted", &MainMenu::statusMenuSyncStarted, "Sync now", "=-++++++", true},
        {"statusMenuFingerPrintStarted", &MainMenu::statusMenuFingerPrintStarted, "Sync now",
         "=-++++++", false},
        {"statusMenuUploadStarted", &MainMenu::statusMenuUploadStarted, "Sync now", "=-++++++",
         true},
        {"statusMenuDownloadStarted", &MainMenu::statusMenuDownloadStarted, "Downloading",
         "=-++++++", false},
        {"statusMenuSyncStopped", &MainMenu::statusMenuSyncStopped, "Sync Stopped", "=+-+++++",
         true},
        {"statusMenuSyncFinished", &MainMenu::statusMenuSyncFinished, "Synced", "=+-+++++", true},
        {"statusMenuShowProcessPage", &MainMenu::statusMenuShowProcessPage, "Open",
         "=+-===+=", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.operation);
        {
            MainMenu menu;
            LogCapture log;
            row.call(menu);
            settle();
            EXPECT_EQ(menu.statusBarMenuItem()->text(), QString::fromLatin1(row.title));
            EXPECT_EQ(states(menu), expected(row.cells, QLatin1Char('+')));
            const QString line =
                QStringLiteral("[%1] @class:MainMenu").arg(QLatin1String(row.operation));
            EXPECT_EQ(log.count(line), row.logs ? 1 : 0);
        }
        {
            MainMenu menu;
            allOff(menu);
            row.call(menu);
            settle();
            EXPECT_EQ(states(menu), expected(row.cells, QLatin1Char('-')));
        }
    }
}

TEST(MainMenu, SettingsScreenDisablesEverythingAndClosingRestoresTheSnapshot) {
    MainMenu menu;
    menu.statusMenuSyncStarted(); // Sync Now off, the rest on
    settle();
    LogCapture log;
    menu.statusMenuShowSettingsPage();
    settle();
    EXPECT_EQ(menu.statusBarMenuItem()->text(), QStringLiteral("Settings"));
    EXPECT_EQ(states(menu), QStringLiteral("--------"));
    const QMap<QString, bool> snapshot = menu.tempStatusMenu();
    EXPECT_EQ(snapshot.keys(),
              QStringList({"aboutMenuItem", "helpMenuItem", "launchSBXMenuItem", "logOutMenuItem",
                           "settingsMenuItem", "stopSyncMenuItem", "syncNowMenuItem"}));
    EXPECT_FALSE(snapshot.value("syncNowMenuItem"));
    EXPECT_TRUE(snapshot.value("stopSyncMenuItem"));
    EXPECT_TRUE(snapshot.value("logOutMenuItem"));

    // A change while the snapshot is held is overwritten by the restore.
    menu.statusMenuSyncFinished();
    menu.statusMenuCloseSettingsPage();
    settle();
    EXPECT_EQ(menu.statusBarMenuItem()->text(), QStringLiteral("Open"));
    EXPECT_EQ(states(menu), QStringLiteral("+-++++++"));
    EXPECT_EQ(log.count(QStringLiteral("[statusMenuShowSettingsPage] @class:MainMenu")), 1);
    EXPECT_EQ(log.count(QStringLiteral("[statusMenuCloseSettingsPage] @class:MainMenu")), 1);
}

TEST(MainMenu, NetworkLostTwiceKeepsTheFirstSnapshot) {
    MainMenu menu;
    menu.statusMenuSyncStopped(); // Stop Sync off, the rest on
    settle();
    LogCapture log;
    menu.statusMenuShowOffline();
    settle();
    EXPECT_EQ(menu.statusBarMenuItem()->text(), QStringLiteral("Offline"));
    EXPECT_EQ(states(menu), QStringLiteral("+-------")); // the status line is left alone
    menu.statusMenuShowOffline();
    settle();
    EXPECT_EQ(log.count(QStringLiteral("OFFLINE")), 1);
    EXPECT_FALSE(menu.tempStatusMenu().value("stopSyncMenuItem"));
    EXPECT_TRUE(menu.tempStatusMenu().value("syncNowMenuItem"));

    menu.statusMenuShowBackOnline();
    settle();
    EXPECT_EQ(menu.statusBarMenuItem()->text(), QStringLiteral("Open"));
    EXPECT_EQ(states(menu), QStringLiteral("++-+++++"));
    EXPECT_EQ(log.count(QStringLiteral("ONLINE")), 1);

    // Back online without a loss: nothing changes.
    menu.statusMenuSyncStarted();
    settle();
    menu.statusMenuShowBackOnline();
    settle();
    EXPECT_EQ(menu.statusBarMenuItem()->text(), QStringLiteral("Sync now"));
    EXPECT_EQ(states(menu), QStringLiteral("+-++++++"));
    EXPECT_EQ(log.count(QStringLiteral("ONLINE")), 1);
}

TEST(MainMenu, NetworkLostWhileTheSettingsScreenIsOpen) {
    MainMenu menu;
    menu.statusMenuSyncFinished();
    menu.statusMenuShowSettingsPage();
    settle();
    menu.statusMenuShowOffline();
    settle();
    EXPECT_EQ(menu.statusBarMenuItem()->text(), QStringLiteral("Offline"));
    for (bool enabled : menu.tempStatusMenu())
        EXPECT_FALSE(enabled);

    menu.statusMenuCloseSettingsPage();
    settle();
    EXPECT_EQ(menu.statusBarMenuItem()->text(), QStringLiteral("Open"));
    EXPECT_EQ(states(menu), QStringLiteral("+-------"));
    menu.statusMenuShowBackOnline(); // the title is no longer "Offline"
    settle();
    EXPECT_EQ(states(menu), QStringLiteral("+-------"));

    menu.statusMenuSyncFinished();
    settle();
    EXPECT_EQ(states(menu), QStringLiteral("++-+++++"));
}

TEST(MainMenu, RestoringWithoutASnapshotDisablesTheCommands) {
    MainMenu menu;
    menu.restorePreviousMenuState();
    settle();
    EXPECT_EQ(states(menu), QStringLiteral("+-------"));
}

TEST(MainMenu, TheLoginScreenLocksAndUnlocksLogOutAlone) {
    MainMenu menu;
    allOff(menu);
    menu.setLogOutMenuItemEnabled(true);
    settle();
    EXPECT_EQ(states(menu), QStringLiteral("------+-"));
    menu.statusMenuSyncFinished();
    menu.setLogOutMenuItemEnabled(false);
    settle();
    EXPECT_EQ(states(menu), QStringLiteral("-+-+++-+"));
}

// The status line shows the percentage the progress model made of a stage's
// counts, named after the stage.
TEST(MainMenu, StatusLineShowsTheRunningStageOfTheProgressModel) {
    MainMenu menu;
    SyncProgress progress;
    menu.follow(progress);
    progress.beginSync();
    progress.beginStage(SyncProgress::Stage::Scanning, 0);
    progress.trackFound(12);
    settle();
    EXPECT_EQ(menu.statusTitle(), QStringLiteral("Open")) << "a scan has no percentage";

    progress.beginStage(SyncProgress::Stage::Matching, 100);
    for (int i = 0; i < 53; ++i)
        progress.finishItem(QStringLiteral("Track"), SyncProgress::Outcome::Unmatched);
    settle();
    EXPECT_EQ(menu.statusBarMenuItem()->text(), QStringLiteral("Importing 52%"));

    progress.beginStage(SyncProgress::Stage::Uploading, 9, 9000);
    for (int i = 0; i < 9; ++i)
        progress.finishItem(QStringLiteral("Track"), SyncProgress::Outcome::Succeeded);
    settle();
    EXPECT_EQ(menu.statusBarMenuItem()->text(), QStringLiteral("Uploading 100%"));

    // The coordinator's report at the end stays: the ended model has no
    // stage to show.
    progress.showCompleted();
    menu.statusMenuSyncFinished();
    progress.endSync(QStringLiteral("Sync Completed"));
    settle();
    EXPECT_EQ(menu.statusBarMenuItem()->text(), QStringLiteral("Synced"));
}

// Stages report from their own thread; the menu shows the changes on the
// main thread in the order they were reported.
TEST(MainMenu, ReportsFromAnotherThreadArriveInOrder) {
    MainMenu menu;
    SyncProgress progress;
    menu.follow(progress);
    QSignalSpy titles(&menu, &MainMenu::statusTitleChanged);
    QThread *stage = QThread::create([&menu, &progress] {
        menu.statusMenuSyncStarted();
        progress.beginStage(SyncProgress::Stage::Downloading, 50);
        for (int i = 1; i <= 50; ++i) {
            progress.finishItem(QStringLiteral("Song"), SyncProgress::Outcome::Succeeded);
            progress.addBytes(1000); // the same percentage: no title of its own
        }
        menu.statusMenuSyncFinished();
    });
    stage->start();
    ASSERT_TRUE(stage->wait(5000));
    delete stage;
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return titles.count() >= 53; }));
    settle();
    EXPECT_EQ(titles.count(), 53);
    EXPECT_EQ(titles.at(0).at(0).toString(), QStringLiteral("Sync now"));
    EXPECT_EQ(titles.at(1).at(0).toString(), QStringLiteral("Downloading 0%"));
    EXPECT_EQ(titles.at(2).at(0).toString(), QStringLiteral("Downloading 2%"));
    EXPECT_EQ(titles.at(51).at(0).toString(), QStringLiteral("Downloading 100%"));
    EXPECT_EQ(titles.last().at(0).toString(), QStringLiteral("Synced"));
    EXPECT_EQ(states(menu), QStringLiteral("++-+++++"));
}
