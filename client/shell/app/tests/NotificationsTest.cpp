// Which ends of a sync tell the person on the desktop, with the settings'
// completion switch off (the default) and on.
#include "Notifications.h"
#include "engine/Sonarbox.h"
#include "sync/DesktopNotifier.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

class NotificationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        // No session bus in the tests: every notification takes the fallback.
        DesktopNotifier::setFallback(
            [this](const QString &title, const QString &text) { shown << title + ": " + text; });
        Sonarbox::instance().settings_showNotifications = false;
    }
    void TearDown() override {
        DesktopNotifier::setFallback({});
        Sonarbox::instance().settings_showNotifications = false;
    }

    // One sync whose uploads end as given, then `how`.
    void sync(const QString &how, const QStringList &uploadReasons = {}) {
        progress.beginSync();
        progress.beginStage(SyncProgress::Stage::Uploading, uploadReasons.size());
        for (const QString &reason : uploadReasons)
            progress.finishItem(QStringLiteral("song.mp3"), SyncProgress::Outcome::Failed, reason);
        progress.endSync(how);
        QCoreApplication::processEvents();
    }

    SyncProgress progress;
    Notifications notifications{progress};
    QStringList shown;
};

TEST_F(NotificationsTest, WhatNeedsThePersonIsToldWithoutBeingAsked) {
    sync(QStringLiteral("Sync Completed"));
    sync(QStringLiteral("Sync stopped")); // the person's own stop
    EXPECT_TRUE(shown.isEmpty()) << shown.join('|').toStdString();

    sync(QStringLiteral("Sync stopped: the cloud library could not be fetched"));
    sync(QStringLiteral("Sync Completed: 2 uploads refused (quota full), 1 upload failed"),
         {QStringLiteral("refused (quota full)"), QStringLiteral("refused (quota full)"),
          QStringLiteral("HTTP status 500")});
    notifications.signInNeeded();
    EXPECT_EQ(shown,
              (QStringList{"Sync failed: The sync could not go on: the cloud library could not "
                           "be fetched.",
                           "Uploads refused: 2 tracks were not uploaded: your cloud library is "
                           "full.",
                           "Sign-in needed: Sonarbox could not sign you in. Open Sonarbox and "
                           "sign in again to keep your music in step."}));
}

// A failing sync tried again every few minutes tells its failure once, until
// a sync goes through or it fails another way.
TEST_F(NotificationsTest, AFailureTriedAgainIsToldOnce) {
    const QString fetched = QStringLiteral("Sync stopped: the cloud library could not be fetched");
    for (int i = 0; i < 3; ++i)
        sync(QStringLiteral("Sync stopped: Missing login session"));
    sync(fetched);
    sync(QStringLiteral("Sync Completed"));
    sync(fetched);
    const QString told = QStringLiteral(
        "Sync failed: The sync could not go on: the cloud library could not be fetched.");
    EXPECT_EQ(shown, (QStringList{"Sync failed: The sync could not go on: Missing login session.",
                                  told, told}));
}

TEST_F(NotificationsTest, WithTheCompletionSwitchOnRefusalsAreLeftToTheSyncsOwnSummary) {
    Sonarbox::instance().settings_showNotifications = true;
    sync(QStringLiteral("Sync Completed: 1 upload refused (quota full)"),
         {QStringLiteral("refused (quota full)")});
    EXPECT_TRUE(shown.isEmpty()) << shown.join('|').toStdString();
}

} // namespace
