// The progress page against the coordinator's real sync chain, and the
// settings view against a real store and preferences.
#include "CustomProgressBar.h"
#include "ShellFixture.h"
#include "TestEnvironment.h"
#include "engine/Sonarbox.h"
#include "library/FolderDialogs.h"
#include "screens/LaunchSBX.h"
#include "screens/ProcessPage.h"
#include "screens/Settings.h"
#include "screens/TracksWindow.h"
#include "screens/Version.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/NotificationCenter.h"
#include "store/GenericDAO.h"
#include "sync/TransferLimits.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <algorithm>
#include <cmath>
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
        Sonarbox::Stages stages = Sonarbox::instance().placeholderStages();
        stages.fingderPrintLocalMediaFiles = [this](const SyncRunPtr &run,
                                                    Sonarbox::Completion done) {
            Sonarbox &sonarbox = Sonarbox::instance();
            SyncProgress &progress = sonarbox.syncProgress();
            progress.beginStage(SyncProgress::Stage::Matching, 5);
            progress.finishItem(QStringLiteral("Morning Tide"), SyncProgress::Outcome::Succeeded);
            progress.finishItem(QStringLiteral("Noon Tide"), SyncProgress::Outcome::Unmatched);
            progress.setCurrentItem(QStringLiteral("Evening Tide"),
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
        Sonarbox::instance().setStages(Sonarbox::instance().placeholderStages());
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
    // The sync has ended: Done beside the Sync toggle is the one way on.
    for (const char *name : {"processVewSyncButton", "doneBtn"})
        EXPECT_TRUE(shown(&page, name)) << name;
    for (const char *name : {"youDontNeedToWait", "launchSbxBtn", "nextArrow"})
        EXPECT_FALSE(shown(&page, name)) << name;
}

// WCAG 2 contrast ratio of two colours (1 to 21).
double contrast(QColor a, QColor b) {
    const auto luminance = [](QColor c) {
        const auto channel = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette darkPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
    dark.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x30));
    return dark;
}

// The bar's fill must stand out from the page behind it (3 : 1, what a
// graphical object needs), whether the desktop's palette is light or dark.
TEST_F(ScreensTest, TheProgressBarsFillStandsOutUnderALightAndADarkPalette) {
    struct RestorePalette {
        QPalette saved = QApplication::palette();
        ~RestorePalette() { QApplication::setPalette(saved); }
    } restore;
    for (const bool darkTheme : {false, true}) {
        SCOPED_TRACE(darkTheme ? "dark palette" : "light palette");
        QApplication::setPalette(darkTheme ? darkPalette() : QPalette(QColor(0xef, 0xef, 0xef)));
        SyncProgress &progress = Sonarbox::instance().syncProgress();
        progress.beginStage(SyncProgress::Stage::Uploading, 2);
        progress.finishItem(QStringLiteral("Half Way"), SyncProgress::Outcome::Succeeded);
        ProcessPage page;
        page.resize(640, 460);
        page.show();
        QApplication::processEvents();
        auto *bar = child<CustomProgressBar>(&page, "progressBar");
        ASSERT_TRUE(bar);
        ASSERT_FLOAT_EQ(bar->progress(), 0.5f);
        const QImage image = page.grab().toImage();
        const QRect frame = bar->frame();
        const int y = frame.center().y();
        const QColor fill = image.pixelColor(frame.left() + 5, y);
        const QColor background = image.pixelColor(frame.left() - 5, y);
        const QColor empty = image.pixelColor(frame.right() - 5, y);
        EXPECT_GE(contrast(fill, background), 3.0)
            << fill.name().toStdString() << " on " << background.name().toStdString();
        EXPECT_LT(contrast(empty, background), 1.1) << "the rest of the bar is the page";
    }
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

// Tracks the service has (matched, uploaded, downloaded) and tracks it has
// not (waiting for upload, not answered yet, failed).
void storeTracks(int inCloud, int notInCloud) {
    for (int i = 0; i < inCloud + notInCloud; ++i) {
        auto track = std::make_shared<Audio>();
        track->checksum = QStringLiteral("%1").arg(i, 32, 10, QLatin1Char('0'));
        track->fileURL = QStringLiteral("/music/%1.mp3").arg(i);
        if (i < inCloud) {
            track->userMediaID = QString::number(1000 + i);
            track->downloadable = true;
            track->uploaded = i % 3 == 1;
            track->downloaded = i % 3 == 2 ? 1 : 0;
        } else if (i % 3 == 0) {
            track->downloadable = false;
        } else if (i % 3 == 1) {
            track->downloadable = false;
            track->failureReason = QStringLiteral("the service refused it (quota full)");
        }
        GenericDAO::instance().save(track);
    }
}

std::unique_ptr<Settings> openSettings() {
    auto settings = std::make_unique<Settings>();
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return settings->countsShown(); }));
    return settings;
}

// The settings count what the store holds, as the track view lists it,
// whatever the first scan once found.
TEST_F(ScreensTest, SettingsCountTheStoredTracksAsTheTrackViewListsThem) {
    storeTracks(5, 3);
    Sonarbox &sonarbox = Sonarbox::instance();
    auto user = std::make_shared<User>();
    user->username = Email;
    sonarbox.setLoggedUser(user);
    sonarbox.setDidUserPickLibrary(true);

    TracksWindow tracks;
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return tracks.model()->rowCount() == 8; }));
    EXPECT_EQ(tracks.countLabel()->text(), "8 tracks");
    for (const qint64 toProcess : {0, 3, 9}) {
        NSDefaultsUtility::standard().saveSongAmountToProcessFromLibrary(toProcess);
        EXPECT_EQ(text(openSettings().get(), "statusLabel"), "5 / 8 Tracks Synced") << toProcess;
    }
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
    sonarbox.setUserPickedMediaLibrary(LibraryChoice::MusicFolder);
    {
        Settings settings;
        EXPECT_EQ(text(&settings, "loggedInAsLabel"), "Logged in as: grace@example.com");
        EXPECT_EQ(text(&settings, "collectionLocationLabel"),
                  "Location of my collection: Music Folder");
        EXPECT_TRUE(shown(&settings, "logOutBtn"));
        EXPECT_TRUE(shown(&settings, "changeLibraryBtn"));
    }
    sonarbox.syncInProgress = true; // the library cannot change under a running sync
    sonarbox.setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
    Settings settings;
    EXPECT_FALSE(shown(&settings, "changeLibraryBtn"));
    EXPECT_TRUE(shown(&settings, "logOutBtn"));
    EXPECT_EQ(settings.localPickedLibrary(), "Other Folder");
    sonarbox.syncInProgress = false;
}

TEST_F(ScreensTest, SettingsNameTheFoldersByPathAndTheService) {
    Sonarbox &sonarbox = Sonarbox::instance();
    {
        Settings settings; // signed out: no folders, but the service
        EXPECT_EQ(text(&settings, "serviceAddressLabel"), "Service: " + gateway);
        for (const char *name :
             {"collectionFoldersLabel", "downloadFolderLabel", "changeDownloadFolderBtn"})
            EXPECT_FALSE(shown(&settings, name)) << name;
    }
    auto user = std::make_shared<User>();
    user->username = Email;
    sonarbox.setLoggedUser(user);
    sonarbox.setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
    const QString rock = home.filePath(QStringLiteral("Rock & Roll"));
    const QString jazz = home.filePath(QStringLiteral("Jazz"));
    sonarbox.setUserMediaFoldersToScan(
        {QUrl::fromLocalFile(rock + "/"), QUrl::fromLocalFile(jazz)});
    sonarbox.setUserDownloadDirectory(home.filePath(QStringLiteral("Downloads/")));
    {
        Settings settings;
        EXPECT_EQ(text(&settings, "collectionLocationLabel"),
                  "Location of my collection: Other Folder");
        EXPECT_EQ(text(&settings, "collectionFoldersLabel"), rock + "\n" + jazz);
        EXPECT_EQ(text(&settings, "downloadFolderLabel"),
                  "Download folder: " + home.filePath(QStringLiteral("Downloads")));
        EXPECT_EQ(text(&settings, "serviceAddressLabel"), "Service: " + gateway);
        for (const char *name :
             {"collectionFoldersLabel", "downloadFolderLabel", "changeDownloadFolderBtn"})
            EXPECT_TRUE(shown(&settings, name)) << name;
    }
    sonarbox.setUserPickedMediaLibrary(LibraryChoice::MusicFolder);
    Settings settings;
    EXPECT_EQ(text(&settings, "collectionLocationLabel"),
              "Location of my collection: Music Folder");
    EXPECT_EQ(text(&settings, "collectionFoldersLabel"), QDir::homePath() + "/Music");
}

// The chooser opens as a sheet and answers later; the tests' chooser stands
// in for the person, so no modal dialog waits for a click.
TEST_F(ScreensTest, SettingsChangeTheDownloadFolderThroughTheChooser) {
    Sonarbox &sonarbox = Sonarbox::instance();
    auto user = std::make_shared<User>();
    user->username = Email;
    sonarbox.setLoggedUser(user);
    const QString before = home.filePath(QStringLiteral("Downloads"));
    sonarbox.setUserDownloadDirectory(before);
    const QString chosen = home.filePath(QStringLiteral("Chosen"));
    QList<FolderDialogs::Request> asked;
    FolderDialogs::Answer pending;
    FolderDialogs::setChooser(
        [&](const FolderDialogs::Request &request, FolderDialogs::Answer answer) {
            asked << request;
            pending = std::move(answer);
        });

    auto settings = std::make_unique<Settings>();
    auto *button = child<QPushButton>(settings.get(), "changeDownloadFolderBtn");
    ASSERT_TRUE(button);
    EXPECT_EQ(button->text(), "Change…");
    button->click();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].parent, settings.get());
    EXPECT_EQ(asked[0].message, "Pick a folder to Download to...");
    EXPECT_FALSE(asked[0].multipleSelection);
    pending({}); // cancelled: nothing changes
    EXPECT_EQ(sonarbox.userDownloadDirectory(), before);
    EXPECT_EQ(text(settings.get(), "downloadFolderLabel"), "Download folder: " + before);

    button->click();
    pending({chosen});
    EXPECT_EQ(text(settings.get(), "downloadFolderLabel"), "Download folder: " + chosen);
    EXPECT_EQ(sonarbox.userDownloadDirectory(), chosen);
    EXPECT_EQ(NSDefaultsUtility::standard().text(QLatin1StringView("UserDownloadDirectory")),
              chosen);

    // An answer that comes after the settings have closed is still kept.
    button->click();
    settings.reset();
    pending({before});
    EXPECT_EQ(sonarbox.userDownloadDirectory(), before);
    EXPECT_EQ(NSDefaultsUtility::standard().text(QLatin1StringView("UserDownloadDirectory")),
              before);
    FolderDialogs::setChooser({});
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
    EXPECT_TRUE(NSDefaultsUtility::standard().boolean(QLatin1StringView("settings_notifications")));
    notifications->click();
    EXPECT_FALSE(
        NSDefaultsUtility::standard().boolean(QLatin1StringView("settings_notifications")));
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
    EXPECT_EQ(NSDefaultsUtility::standard().text(QLatin1StringView("uploadLimitKiBps")), "2500");
    EXPECT_EQ(NSDefaultsUtility::standard().text(QLatin1StringView("downloadLimitKiBps")), "750");

    down->setValue(0);
    EXPECT_EQ(TransferLimits::inForce(), (TransferLimits{2500, 0}));
    EXPECT_EQ(NSDefaultsUtility::standard().text(QLatin1StringView("downloadLimitKiBps")), "0");
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
    EXPECT_FALSE(NSDefaultsUtility::standard().boolean(QLatin1StringView("syncPaused")));
    EXPECT_EQ(button->text(), "Pause syncing");
    button->click();
    EXPECT_TRUE(NSDefaultsUtility::standard().boolean(QLatin1StringView("syncPaused")));
    EXPECT_EQ(button->text(), "Resume syncing");

    metered->click();
    EXPECT_TRUE(pause.syncOnMeteredConnections());
    EXPECT_TRUE(
        NSDefaultsUtility::standard().boolean(QLatin1StringView("syncOnMeteredConnections")));
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
