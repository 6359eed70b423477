// The status menu while syncing is paused: the pause item's text, the status
// line's reason and Sync Now, through the other states that come and go.
#include "MainMenu.h"

#include <QAction>
#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

void settle() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

QString title(const MainMenu &menu) {
    return menu.statusBarMenuItem()->text();
}

} // namespace

TEST(PauseMenu, ThePausedStatusReplacesIdleTitlesAndSyncNowStaysOffUntilResume) {
    MainMenu menu;
    menu.statusMenuSyncFinished();
    settle();
    ASSERT_EQ(title(menu), "Synced");
    EXPECT_EQ(menu.pauseMenuItem()->text(), "Pause syncing");

    menu.statusMenuPauseChanged(true, QStringLiteral("Paused"));
    settle();
    EXPECT_EQ(title(menu), "Paused");
    EXPECT_EQ(menu.pauseMenuItem()->text(), "Resume syncing");
    EXPECT_TRUE(menu.pauseMenuItem()->isEnabled());
    EXPECT_FALSE(menu.syncNowMenuItem()->isEnabled());
    EXPECT_TRUE(menu.logOutMenuItem()->isEnabled());

    // Idle states keep saying why nothing syncs, and keep Sync Now off.
    menu.statusMenuShowProcessPage();
    menu.statusMenuSyncStopped();
    settle();
    EXPECT_EQ(title(menu), "Paused");
    EXPECT_FALSE(menu.syncNowMenuItem()->isEnabled());

    // The network's loss says so; its return comes back to the pause, and
    // the snapshot does not turn Sync Now on.
    menu.statusMenuShowOffline();
    settle();
    EXPECT_EQ(title(menu), "Offline");
    menu.statusMenuShowBackOnline();
    settle();
    EXPECT_EQ(title(menu), "Paused");
    EXPECT_FALSE(menu.syncNowMenuItem()->isEnabled());

    // The person resumes while the connection is metered: still no sync.
    menu.statusMenuPauseChanged(false, QStringLiteral("Paused: metered connection"));
    settle();
    EXPECT_EQ(title(menu), "Paused: metered connection");
    EXPECT_EQ(menu.pauseMenuItem()->text(), "Pause syncing");
    EXPECT_FALSE(menu.syncNowMenuItem()->isEnabled());

    menu.statusMenuPauseChanged(false, QString());
    settle();
    EXPECT_EQ(title(menu), "Open");
    EXPECT_TRUE(menu.syncNowMenuItem()->isEnabled());
    menu.statusMenuSyncFinished();
    settle();
    EXPECT_EQ(title(menu), "Synced");
}

TEST(PauseMenu, APauseLeavesTheSignInAndTheSettingsTitlesAlone) {
    MainMenu menu;
    menu.statusMenuLoggedOut();
    menu.statusMenuPauseChanged(true, QStringLiteral("Paused"));
    settle();
    EXPECT_NE(title(menu), "Paused");
    EXPECT_FALSE(menu.syncNowMenuItem()->isEnabled());

    // Closing the settings screen shows "Open", which the pause replaces.
    menu.statusMenuShowSettingsPage();
    settle();
    const QString settingsTitle = title(menu);
    EXPECT_NE(settingsTitle, "Paused");
    menu.statusMenuCloseSettingsPage();
    settle();
    EXPECT_EQ(title(menu), "Paused");
}
