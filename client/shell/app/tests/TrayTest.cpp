// The program's start-up in this process, on a desktop whose tray comes
// late: the window's menu bar holds the menu until the tray appears, then
// the tray takes it over with the status and the last sync in its tooltip.
#include "AppDelegate.h"
#include "MainMenu.h"
#include "MainWindow.h"
#include "ShellFixture.h"
#include "TestEnvironment.h"
#include "engine/Sonarbox.h"

#include <QMenu>
#include <QMenuBar>
#include <QSystemTrayIcon>

#include <atomic>

namespace {

class TrayTest : public ShellFixture {
protected:
    void TearDown() override {
        AppDelegate::setTrayAvailability({});
        ShellFixture::TearDown();
    }
};

TEST_F(TrayTest, ATrayThatAppearsLaterTakesTheMenuOver) {
    std::atomic<bool> tray{false};
    AppDelegate::setTrayAvailability([&] { return tray.load(); });
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    MainWindow *window = delegate.appMainWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(delegate.trayIcon(), nullptr);
    QMenu *menu = MainMenu::instance().menu();
    EXPECT_TRUE(window->menuBar()->actions().contains(menu->menuAction()));
    EXPECT_TRUE(window->windowTitle().startsWith(QStringLiteral("Sonarbox — ")));
    EXPECT_TRUE(log.contains("No system tray on this desktop"));

    tray = true;
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return delegate.trayIcon() != nullptr; }, 6000));
    EXPECT_TRUE(log.contains("A system tray appeared: the menu moves into it"));
    EXPECT_EQ(delegate.trayIcon()->contextMenu(), menu);
    EXPECT_FALSE(window->menuBar()->actions().contains(menu->menuAction()));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Sonarbox"));
    // The status line follows in the tooltip.
    EXPECT_TRUE(delegate.trayIcon()->toolTip().startsWith(QStringLiteral("Sonarbox — ")))
        << delegate.trayIcon()->toolTip().toStdString();
    delegate.closeWindows();
}

// The menu the program starts with shows the coordinator's progress model:
// what a stage counts there goes to the status line (whatever the network
// check of the start-up shows after it).
TEST_F(TrayTest, TheStatusLineShowsTheRunningStageOfTheSync) {
    AppDelegate::setTrayAvailability([] { return false; });
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    QStringList titles;
    QObject::connect(&MainMenu::instance(), &MainMenu::statusTitleChanged, &delegate,
                     [&titles](const QString &title) { titles << title; });
    SyncProgress &progress = Sonarbox::instance().syncProgress();
    progress.beginStage(SyncProgress::Stage::Downloading, 4);
    progress.finishItem(QStringLiteral("Far Away"), SyncProgress::Outcome::Succeeded);
    EXPECT_TRUE(TestEnvironment::waitUntil([&titles] {
        return titles.contains(QStringLiteral("Downloading 25%"));
    })) << titles.join(QStringLiteral(" | ")).toStdString();
    progress.endSync(QStringLiteral("Sync stopped"));
    delegate.closeWindows();
}

} // namespace
