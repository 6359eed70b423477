// The progress page against the coordinator's real sync chain, and the
// settings view against a real store and preferences.
#include "CustomProgressBar.h"
#include "ShellFixture.h"
#include "TestEnvironment.h"
#include "screens/LaunchSBX.h"
#include "screens/ProcessPage.h"
#include "screens/Settings.h"
#include "screens/Version.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/NotificationCenter.h"
#include "store/GenericDAO.h"
#include "sync/Sonarbox.h"
#include "sync/TransferLimits.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <semaphore>

namespace {

template <typename T> T *child(QWidget *screen, const char *name) {
    T *found = screen->findChild<T *>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QString text(QWidget *screen, const char *name) {
    QLabel *label = child<QLabel>(screen, name);
    return label ? label->text() : QString();
}

QString buttonTitle(QWidget *screen, const char *name) {
    QPushButton *button = child<QPushButton>(screen, name);
    return button ? button->text() : QString();
}

bool shown(QWidget *screen, const char *name) {
    QWidget *widget = child<QWidget>(screen, name);
    return widget && widget->isVisibleTo(screen);
}

// A fingerprint stage that holds the sync until the test lets it go, after
// reporting a track as the real stages do.
struct HeldSync {
    std::binary_semaphore release{0};
    std::atomic<bool> entered{false};

    void install() {
        Sonarbox::Stages stages = Sonarbox::placeholderStages();
        stages.fingderPrintLocalMediaFiles = [this](const SyncRunPtr &run,
                                                    Sonarbox::Completion done) {
            Sonarbox &sonarbox = Sonarbox::instance();
            sonarbox.progressPage().setProgress(0.4, QStringLiteral("40%"),
                                                QStringLiteral("The Harbour Lights"),
                                                QStringLiteral("Evening Tide"));
            entered = true;
            release.acquire();
            if (sonarbox.stopRequested(*run)) {
                sonarbox.applicationWasStopped();
                return;
            }
            done();
        };
        Sonarbox::instance().setStages(stages);
    }
};

class ScreensTest : public ShellFixture {
protected:
    void TearDown() override {
        held.release.release(); // never leave the stage thread waiting
        ShellFixture::TearDown();
        Sonarbox::instance().setStages(Sonarbox::placeholderStages());
    }
    HeldSync held;
};

TEST_F(ScreensTest, ProgressPageShowsTheSyncWhileItRunsAndWhenItHasFinished) {
    held.install();
    ProcessPage page;
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.sync(true);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return held.entered.load(); }));
    QApplication::processEvents();

    auto *bar = child<CustomProgressBar>(&page, "progressBar");
    ASSERT_TRUE(bar);
    EXPECT_EQ(text(&page, "processViewTxtContent"),
              "We are adding your music now. Soon you'll be listening to all your music anywhere.");
    EXPECT_EQ(buttonTitle(&page, "processVewSyncButton"), "Stop");
    EXPECT_EQ(bar->songName(), "Evening Tide");
    EXPECT_EQ(bar->songArtist(), "The Harbour Lights");
    EXPECT_EQ(bar->percentage(), "40%");
    EXPECT_FLOAT_EQ(bar->progress(), 0.4f);

    held.release.release();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !sonarbox.syncInProgress; }));
    QApplication::processEvents();
    EXPECT_EQ(text(&page, "progressDescription"), "Sync Completed");
    EXPECT_EQ(child<QLabel>(&page, "progressDescription")->property("tag").toInt(), 112);
    EXPECT_EQ(bar->percentage(), "100%");
    EXPECT_FLOAT_EQ(bar->progress(), 1.0f);
    EXPECT_EQ(bar->songName(), "");
    EXPECT_EQ(buttonTitle(&page, "processVewSyncButton"), "Sync");
    EXPECT_EQ(text(&page, "processViewTxtContent"),
              "We have added your music. Now you can listen to your music anywhere.");
    EXPECT_EQ(text(&page, "youDontNeedToWait"),
              "You can continue while the import is in progress.");
    EXPECT_EQ(buttonTitle(&page, "doneBtn"), "Done");
    EXPECT_EQ(buttonTitle(&page, "launchSbxBtn"), "Continue");
}

TEST_F(ScreensTest, SyncToggleStopsTheRunningSyncThenStartsANewOne) {
    held.install();
    ProcessPage page;
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.sync(true);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return held.entered.load(); }));
    QApplication::processEvents();
    QPushButton *toggle = child<QPushButton>(&page, "processVewSyncButton");
    ASSERT_EQ(toggle->text(), "Stop");

    toggle->click();
    QApplication::processEvents();
    EXPECT_EQ(toggle->text(), "Sync");
    EXPECT_FALSE(sonarbox.syncInProgress);
    EXPECT_TRUE(sonarbox.flow_stopProcesses);
    EXPECT_EQ(text(&page, "progressDescription"), "Sync stopped");
    held.entered = false;
    held.release.release(); // the held stage sees the stop request and ends its chain
    sonarbox.operationQueue().waitUntilAllOperationsAreFinished();

    toggle->click();
    QApplication::processEvents();
    EXPECT_EQ(toggle->text(), "Stop");
    EXPECT_TRUE(sonarbox.syncInProgress);
    // The new sync gets as far as the held stage: no stop request is left over.
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return held.entered.load(); }));
    EXPECT_FALSE(sonarbox.flow_stopProcesses);
    held.release.release();
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !sonarbox.syncInProgress; }));
}

TEST_F(ScreensTest, SyncWhileOfflineOnlyShowsTheAlert) {
    ProcessPage page;
    page.show();
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.isAppOffline = true;
    QPushButton *toggle = child<QPushButton>(&page, "processVewSyncButton");
    ASSERT_EQ(toggle->text(), "Sync");

    toggle->click(); // returns at once: the alert does not block
    QMessageBox *alert = page.offlineAlert();
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->text(), "Application is Offline");
    EXPECT_EQ(alert->informativeText(), "Please connect to the internet to resume sync.");
    ASSERT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(alert->buttons().first()->text(), "Ok");
    EXPECT_EQ(toggle->text(), "Sync");
    EXPECT_FALSE(sonarbox.syncInProgress);
    EXPECT_FALSE(log.contains("=== SYNC PROCESS START"));

    toggle->click(); // still one alert
    EXPECT_EQ(page.findChildren<QMessageBox *>().size(), 1);
    alert->buttons().first()->click();
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !page.offlineAlert(); }));
}

void storeTracks(int identified, int unidentified) {
    for (int i = 0; i < identified + unidentified; ++i) {
        auto track = std::make_shared<Audio>();
        track->checksum = QStringLiteral("%1").arg(i, 32, 10, QLatin1Char('0'));
        track->fileURL = QStringLiteral("/music/%1.mp3").arg(i);
        if (i < identified)
            track->userMediaID = QString::number(1000 + i);
        GenericDAO::instance().save(track);
    }
}

std::unique_ptr<Settings> openSettings() {
    auto settings = std::make_unique<Settings>();
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return settings->countsShown(); }));
    return settings;
}

TEST_F(ScreensTest, SettingsCountsSyncedTracksButNeverMoreThanThoseToProcess) {
    storeTracks(5, 2);
    Sonarbox &sonarbox = Sonarbox::instance();
    auto user = std::make_shared<User>();
    user->username = Email;
    sonarbox.setLoggedUser(user);
    sonarbox.setDidUserPickLibrary(true);

    NSDefaultsUtility::saveSongAmountToProcessFromLibrary(9);
    EXPECT_EQ(text(openSettings().get(), "statusLabel"), "5 / 9 Tracks Synced");
    NSDefaultsUtility::saveSongAmountToProcessFromLibrary(3);
    EXPECT_EQ(text(openSettings().get(), "statusLabel"), "3 / 3 Tracks Synced");
}

TEST_F(ScreensTest, SettingsShowsTheAccountOnlyForASignedInUser) {
    Sonarbox &sonarbox = Sonarbox::instance();
    {
        Settings settings;
        for (const char *name :
             {"collectionLocationLabel", "loggedInAsLabel", "logOutBtn", "changeLibraryBtn"})
            EXPECT_FALSE(shown(&settings, name)) << name;
        QApplication::processEvents();
        EXPECT_EQ(text(&settings, "statusLabel"), "Tracks Synced"); // the form's text
    }
    auto user = std::make_shared<User>();
    user->username = Email;
    sonarbox.setLoggedUser(user);
    sonarbox.setUserPickedMediaLibrary(2);
    {
        Settings settings;
        EXPECT_EQ(text(&settings, "loggedInAsLabel"), "Logged in as: grace@example.com");
        EXPECT_EQ(text(&settings, "collectionLocationLabel"),
                  "Location of my collection: Music Folder");
        EXPECT_TRUE(shown(&settings, "logOutBtn"));
        EXPECT_TRUE(shown(&settings, "changeLibraryBtn"));
    }
    sonarbox.syncInProgress = true; // the library cannot change under a running sync
    sonarbox.setUserPickedMediaLibrary(3);
    Settings settings;
    EXPECT_FALSE(shown(&settings, "changeLibraryBtn"));
    EXPECT_TRUE(shown(&settings, "logOutBtn"));
    EXPECT_EQ(settings.localPickedLibrary(), "Other Folder");
    sonarbox.syncInProgress = false;
}

TEST_F(ScreensTest, SettingsSwitchesReadAndWriteTheirValues) {
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.setMinOSVersion(8);
    {
        Settings settings;
        EXPECT_FALSE(shown(&settings, "showNotificationsCheckbox"));
        EXPECT_FALSE(shown(&settings, "showNotificationTxtLabel"));
    }
    sonarbox.setMinOSVersion(9);
    sonarbox.settings_showNotifications = false;
    sonarbox.settings_syncNewSongs = true;
    Settings settings;
    auto *notifications = child<QCheckBox>(&settings, "showNotificationsCheckbox");
    auto *syncNew = child<QCheckBox>(&settings, "syncNewSongsCheckbox");
    ASSERT_TRUE(notifications && syncNew);
    EXPECT_TRUE(notifications->isVisibleTo(&settings));
    EXPECT_FALSE(notifications->isChecked());
    EXPECT_TRUE(syncNew->isChecked());

    notifications->click();
    EXPECT_TRUE(sonarbox.settings_showNotifications);
    EXPECT_TRUE(NSDefaultsUtility::boolean(QLatin1StringView("settings_notifications")));
    notifications->click();
    EXPECT_FALSE(NSDefaultsUtility::boolean(QLatin1StringView("settings_notifications")));
    syncNew->click();
    EXPECT_FALSE(sonarbox.settings_syncNewSongs);
}

// The boxes show the limits in force; a limit typed takes hold (and is
// saved) once confirmed, not at every keystroke.
TEST_F(ScreensTest, SettingsLimitBoxesShowAndSaveTheTransferLimits) {
    TransferLimits::set({0, 750});
    Settings settings;
    auto *up = child<QSpinBox>(&settings, "uploadLimitSpinBox");
    auto *down = child<QSpinBox>(&settings, "downloadLimitSpinBox");
    ASSERT_TRUE(up && down);
    EXPECT_EQ(up->text(), "No limit");
    EXPECT_EQ(down->text(), "750 KiB/s");

    up->selectAll();
    QTest::keyClicks(up, "2500");
    EXPECT_EQ(TransferLimits::inForce(), (TransferLimits{0, 750}));
    QTest::keyClick(up, Qt::Key_Return);
    EXPECT_EQ(TransferLimits::inForce(), (TransferLimits{2500, 750}));
    EXPECT_EQ(NSDefaultsUtility::text(QLatin1StringView("uploadLimitKiBps")), "2500");
    EXPECT_EQ(NSDefaultsUtility::text(QLatin1StringView("downloadLimitKiBps")), "750");

    down->setValue(0);
    EXPECT_EQ(TransferLimits::inForce(), (TransferLimits{2500, 0}));
    EXPECT_EQ(NSDefaultsUtility::text(QLatin1StringView("downloadLimitKiBps")), "0");
    TransferLimits::set({});
}

// While syncing is paused the Sync button starts nothing, says why, and
// still offers Sync (it had turned to "Stop" at the press).
TEST_F(ScreensTest, TheSyncButtonWhilePausedStartsNothingAndStillOffersSync) {
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.syncPause().setPausedByUser(true);
    ProcessPage page;
    QApplication::processEvents();
    auto *button = child<QPushButton>(&page, "processVewSyncButton");
    ASSERT_TRUE(button);
    ASSERT_EQ(button->text(), "Sync");
    button->click();
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_FALSE(sonarbox.syncInProgress);
    EXPECT_EQ(button->text(), "Sync");
    EXPECT_EQ(text(&page, "progressDescription"), "Paused");
    sonarbox.syncPause().setPausedByUser(false);
}

// The pause button follows the person's pause and toggles it; the metered
// box shows and saves whether syncing goes on over a metered connection.
TEST_F(ScreensTest, SettingsPauseButtonAndMeteredBoxFollowAndSetThePause) {
    SyncPause &pause = Sonarbox::instance().syncPause();
    pause.setPausedByUser(true);
    Settings settings;
    auto *button = child<QPushButton>(&settings, "pauseSyncBtn");
    auto *metered = child<QCheckBox>(&settings, "syncOnMeteredCheckbox");
    ASSERT_TRUE(button && metered);
    EXPECT_EQ(button->text(), "Resume syncing");
    EXPECT_FALSE(metered->isChecked());

    button->click();
    EXPECT_FALSE(pause.pausedByUser());
    EXPECT_FALSE(NSDefaultsUtility::boolean(QLatin1StringView("syncPaused")));
    EXPECT_EQ(button->text(), "Pause syncing");
    button->click();
    EXPECT_TRUE(NSDefaultsUtility::boolean(QLatin1StringView("syncPaused")));
    EXPECT_EQ(button->text(), "Resume syncing");

    metered->click();
    EXPECT_TRUE(pause.syncOnMeteredConnections());
    EXPECT_TRUE(NSDefaultsUtility::boolean(QLatin1StringView("syncOnMeteredConnections")));
    pause.setPausedByUser(false);
}

TEST_F(ScreensTest, ScreenButtonsPostTheirNotifications) {
    QStringList posted;
    QList<int> tokens;
    for (const char *name : {"closeSettingsViewNotification", "showMediaPickerViewNotification",
                             "showLaunchSBXScreenNotification", "closeAboutViewNotification"}) {
        tokens << NotificationCenter::defaultCenter().addObserver(
            QLatin1String(name), [&posted, name](QObject *) { posted << QLatin1String(name); });
    }
    auto user = std::make_shared<User>();
    user->username = Email;
    Sonarbox::instance().setLoggedUser(user);

    Settings settings;
    child<QPushButton>(&settings, "changeLibraryBtn")->click();
    child<QPushButton>(&settings, "closeBtn")->click();
    ProcessPage page;
    child<QPushButton>(&page, "doneBtn")->click();
    child<QPushButton>(&page, "launchSbxBtn")->click();
    Version about;
    EXPECT_TRUE(text(&about, "applicationNameAndVersion").startsWith("Desktop Cient v."));
    child<QPushButton>(&about, "doneButton")->click();
    EXPECT_EQ(posted,
              (QStringList{"showMediaPickerViewNotification", "closeSettingsViewNotification",
                           "closeSettingsViewNotification", "showLaunchSBXScreenNotification",
                           "closeAboutViewNotification"}));
    for (const int token : tokens)
        NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(ScreensTest, LaunchOpensTheWebApplicationAndEndsTheNewUserFlow) {
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.flow_newUser = true;
    LaunchSBX launch;
    EXPECT_FALSE(sonarbox.flow_newUser);
    auto *button = child<QPushButton>(&launch, "launchSBXBtn");
    EXPECT_EQ(button->text(), "Launch Sonarbox");
    button->click();
    EXPECT_EQ(openedUrls, QStringList{gateway + "/"});
}

} // namespace
