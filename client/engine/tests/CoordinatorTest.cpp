#include "CoordinatorFixture.h"

#include "settings/DeploymentConfig.h"
#include "settings/NotificationCenter.h"
#include "settings/PreferenceKeys.h"
#include "settings/Utility.h"
#include "store/GenericDAO.h"
#include "sync/DesktopNotifier.h"

#include <QFile>
#include <QSignalSpy>
#include <QTimer>

namespace {

using Coordinator = CoordinatorTest;

TEST_F(Coordinator, CreationWritesPreferenceDefaultsAndRegistersNothing) {
    using namespace PreferenceKeys;
    EXPECT_EQ(NSDefaultsUtility::standard().text(LoadAppOnOSBoot), "YES");
    EXPECT_FALSE(NSDefaultsUtility::standard().contains(FirstTimeAppRun));
    EXPECT_TRUE(NSDefaultsUtility::standard().contains(SettingsNotifications));
    EXPECT_FALSE(NSDefaultsUtility::standard().boolean(SettingsNotifications));
    // Every program of the engine creates the coordinator: none of them may
    // touch the session's login items by doing so.
    EXPECT_FALSE(sonarbox().isAppInLoginItems());
    EXPECT_FALSE(QDir(LoginItems::autostartDirectory()).exists());

    EXPECT_EQ(sonarbox().deviceID(), NSDefaultsUtility::standard().getUUID());
    EXPECT_EQ(sonarbox().userPickedMediaLibrary(), LibraryChoice::MusicPlayer);
    EXPECT_EQ(sonarbox().syncMilliSeconds(), 0);
    EXPECT_TRUE(sonarbox().settings_syncNewSongs);
    EXPECT_FALSE(sonarbox().jSessionID().has_value());
    EXPECT_TRUE(sonarbox().userDirectory().endsWith('/'));
}

TEST_F(Coordinator, TheLibraryChoiceIsThePreferenceAloneAndEverySetIsAnnounced) {
    QSignalSpy announced(&sonarbox(), &Sonarbox::libraryChoiceChanged);
    sonarbox().setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
    EXPECT_EQ(NSDefaultsUtility::standard().getUserPickedMediaLibrary(), 3);
    EXPECT_EQ(announced.count(), 1);

    // No second copy: what the preferences say (another program of the
    // engine wrote them) is the choice at once.
    NSDefaultsUtility::standard().saveUserPickedMediaLibrary(2);
    EXPECT_EQ(sonarbox().userPickedMediaLibrary(), LibraryChoice::MusicFolder);
    // A number that names no choice means the chosen folders, as the scan
    // has always read it.
    NSDefaultsUtility::standard().saveUserPickedMediaLibrary(0);
    EXPECT_EQ(sonarbox().userPickedMediaLibrary(), LibraryChoice::ChosenFolders);

    // A log-out forgets it, and says so.
    sonarbox().resetUser();
    EXPECT_EQ(NSDefaultsUtility::standard().getUserPickedMediaLibrary(), 1);
    EXPECT_EQ(announced.count(), 2);
}

TEST_F(Coordinator, TheDesktopProgramRegistersItselfOnceAtItsFirstStartThenFollowsTheSwitch) {
    sonarbox().registerLoginItemAtStart();
    // Adding the login item writes "NO"; the first start is then marked handled.
    EXPECT_EQ(NSDefaultsUtility::standard().text(QLatin1StringView("firstTimeAppRun")), "YES");
    EXPECT_EQ(NSDefaultsUtility::standard().text(QLatin1StringView("loadAppOnOSBoot")), "YES");
    EXPECT_TRUE(sonarbox().isAppInLoginItems());
    EXPECT_TRUE(sonarbox().settings_openAtLogin);
    const QString program = QCoreApplication::applicationFilePath();
    // The entry is named after the running program: this test program.
    EXPECT_EQ(LoginItems::entryPath(), LoginItems::autostartDirectory() + "/engine_tests.desktop");
    QFile entry(LoginItems::entryPath());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QByteArray text = entry.readAll();
    EXPECT_TRUE(text.contains("\nExec=\"" + program.toUtf8() + "\"\n")) << text.constData();
    EXPECT_TRUE(text.contains("\nTryExec=" + program.toUtf8() + "\n")) << text.constData();

    // Later starts add nothing more; an entry removed behind our back while the
    // switch is on comes back.
    sonarbox().registerLoginItemAtStart();
    EXPECT_EQ(QDir(LoginItems::autostartDirectory()).entryList(QDir::Files).size(), 1);
    ASSERT_TRUE(QFile::remove(LoginItems::entryPath()));
    sonarbox().registerLoginItemAtStart();
    EXPECT_TRUE(sonarbox().isAppInLoginItems());
}

TEST_F(Coordinator, LoginItemRemovalAndAPreferenceThatSaysNo) {
    sonarbox().registerLoginItemAtStart();
    sonarbox().deleteAppFromLoginItem();
    EXPECT_FALSE(sonarbox().isAppInLoginItems());
    EXPECT_FALSE(sonarbox().settings_openAtLogin);
    EXPECT_EQ(NSDefaultsUtility::standard().text(QLatin1StringView("loadAppOnOSBoot")), "NO");
    // A start with "NO" stored does not add the program again.
    sonarbox().reinitialize();
    sonarbox().registerLoginItemAtStart();
    EXPECT_FALSE(sonarbox().isAppInLoginItems());
    EXPECT_FALSE(sonarbox().settings_openAtLogin);
    // Another program's autostart entry is not ours to remove.
    QDir().mkpath(LoginItems::autostartDirectory());
    QFile other(LoginItems::autostartDirectory() + "/other.desktop");
    other.open(QIODevice::WriteOnly);
    other.write("[Desktop Entry]\nExec=/usr/bin/true\n");
    other.close();
    sonarbox().addAppAsLoginItem();
    sonarbox().deleteAppFromLoginItem();
    EXPECT_TRUE(QFile::exists(other.fileName()));
}

TEST_F(Coordinator, LoginItemsQuoteOddPathsAndArgumentsAndFindThemAgain) {
    // A program whose path needs every kind of quoting, with arguments.
    const QString program = dir.filePath("my \"odd\" $prog 100%");
    QFile file(program);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    sonarbox().addAppAsLoginItem(); // this program's own entry
    LoginItems::setProgramPath(program);
    LoginItems::setProgramArguments({"--config", "/srv/a b/c`d.ini"});
    const bool added = LoginItems::add();
    const bool found = LoginItems::contains();
    QFile entry(LoginItems::entryPath());
    entry.open(QIODevice::ReadOnly);
    const QByteArray text = entry.readAll();
    const int removed = LoginItems::remove();
    LoginItems::setProgramPath(QString());
    LoginItems::setProgramArguments({});

    EXPECT_TRUE(added);
    EXPECT_TRUE(found);
    EXPECT_EQ(removed, 1);
    // Two programs' entries live side by side.
    EXPECT_TRUE(sonarbox().isAppInLoginItems());
    EXPECT_TRUE(text.contains("\nExec=\"" + dir.path().toUtf8() +
                              "/my \\\\\"odd\\\\\" \\\\$prog 100%%\" \"--config\" "
                              "\"/srv/a b/c\\\\`d.ini\"\n"))
        << text.constData();
    // A hand-written entry with one backslash before the quotes is ours too.
    QDir().mkpath(LoginItems::autostartDirectory());
    QFile handWritten(LoginItems::autostartDirectory() + "/mine.desktop");
    handWritten.open(QIODevice::WriteOnly);
    handWritten.write("Exec=\"" + dir.path().toUtf8() + "/my \\\"odd\\\" \\$prog 100%%\"\n");
    handWritten.close();
    LoginItems::setProgramPath(program);
    EXPECT_TRUE(LoginItems::contains());
    LoginItems::setProgramPath(QString());
}

TEST_F(Coordinator, LogOutForgetsTheSessionTheAccountAndItsTracks) {
    Sonarbox &s = sonarbox();
    auto user = std::make_shared<User>();
    user->id = "1";
    user->username = "ana@example.com";
    GenericDAO::instance().save(user);
    ASSERT_NE(GenericDAO::instance().uniqueResult<User>(), nullptr);
    auto track = std::make_shared<Audio>();
    track->checksum = "0123456789abcdef0123456789abcdef";
    track->fileURL = "/music/a.mp3";
    GenericDAO::instance().addTrackToDB(track, true);
    ASSERT_TRUE(GenericDAO::instance().isFileInDB("/music/a.mp3"));

    s.setLoggedUser(user);
    s.setJSessionID(QStringLiteral("JSESSIONID=abc; Path=/"));
    s.setSyncStatus("SUCCESS");
    s.setSyncError("x");
    s.setSyncMilliSeconds(123456);
    s.setLocalLibraryTracks({track});
    s.setDuplicateLibraryTracks({track});
    s.setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
    NSDefaultsUtility::standard().saveUserPickedMediaLibrary(3);
    NSDefaultsUtility::standard().saveDidUserPickMediaLibrary("YES");
    NSDefaultsUtility::standard().saveSongAmountToProcessFromLibrary(40);
    NSDefaultsUtility::standard().saveUserDownloadDirectory("/srv/dl");
    NSDefaultsUtility::standard().getSaveUserMediaFoldersToScan(
        QList<QUrl>{QUrl("file:///music/")});
    s.setUserMediaFoldersToScan({QUrl("file:///music/")});
    const QString uuid = NSDefaultsUtility::standard().getUUID();

    s.sync(false);
    const SyncRunPtr run = s.chainRun();
    ASSERT_TRUE(run);
    EXPECT_EQ(run->localLibraryTracks(), QList<AudioPtr>{track}) << "the last scan's findings";
    run->setCloudLibraryTracks({track});
    settle();
    ASSERT_TRUE(s.syncTimer()->isActive());

    int posted = 0;
    const int token =
        NotificationCenter::defaultCenter().addObserver("logOutNotification", [&](QObject *object) {
            EXPECT_EQ(object, &s);
            ++posted;
        });
    s.logOut();
    NotificationCenter::defaultCenter().removeObserver(token);
    settle();

    EXPECT_EQ(posted, 1);
    EXPECT_FALSE(s.syncTimer()->isActive());
    ASSERT_TRUE(s.jSessionID().has_value());
    EXPECT_EQ(*s.jSessionID(), "");
    EXPECT_TRUE(s.syncStatus().isEmpty());
    EXPECT_TRUE(s.syncError().isEmpty());
    EXPECT_EQ(s.loggedUser(), nullptr);
    EXPECT_EQ(s.syncMilliSeconds(), 0);
    EXPECT_TRUE(s.localLibraryTracks().isEmpty());
    // The account's lists went with its runs: a run made now has none.
    EXPECT_TRUE(run->isStopped());
    const SyncRunPtr next = s.newRun();
    EXPECT_TRUE(next->localLibraryTracks().isEmpty());
    EXPECT_TRUE(next->cloudLibraryTracks().isEmpty());
    EXPECT_EQ(next->listingPosition(), 0);
    EXPECT_TRUE(s.duplicateLibraryTracks().isEmpty());
    EXPECT_EQ(fingerprintedReset, 0);
    EXPECT_EQ(s.userPickedMediaLibrary(), LibraryChoice::MusicPlayer);
    EXPECT_EQ(NSDefaultsUtility::standard().getUserPickedMediaLibrary(), 1);
    EXPECT_FALSE(NSDefaultsUtility::standard().getDidUserPickMediaLibrary());
    EXPECT_EQ(NSDefaultsUtility::standard().getSongAmountToProcessFromLibrary(), 0);
    EXPECT_EQ(NSDefaultsUtility::standard().getUserDownloadDirectory(),
              NSDefaultsUtility::defaultDownloadDirectory());
    EXPECT_FALSE(NSDefaultsUtility::standard().getSaveUserMediaFoldersToScan().has_value());
    EXPECT_TRUE(s.userMediaFoldersToScan().isEmpty());
    EXPECT_EQ(NSDefaultsUtility::standard().getUUID(), uuid);
    EXPECT_FALSE(GenericDAO::instance().isFileInDB("/music/a.mp3"));
    EXPECT_EQ(GenericDAO::instance().uniqueResult<User>(), nullptr);
}

TEST_F(Coordinator, DesktopNotificationsFollowTheSettingAndTheSystemVersion) {
    QStringList shown;
    DesktopNotifier::setFallback(
        [&](const QString &title, const QString &text) { shown << title + "|" + text; });
    sonarbox().settings_showNotifications = false;
    EXPECT_FALSE(sonarbox().notifyUser("T", "x"));
    sonarbox().settings_showNotifications = true;
    sonarbox().setMinOSVersion(8);
    EXPECT_FALSE(sonarbox().notifyUser("T", "x"));
    sonarbox().setMinOSVersion(9);
    EXPECT_TRUE(sonarbox().notifyUser("T", "x"));
    // A finished sync announces itself.
    sonarbox().sync(false);
    settle();
    DesktopNotifier::setFallback({});
    EXPECT_EQ(shown, QStringList({"T|x", "Sync Complete|Your media is now synced with Sonarbox"}));
}

TEST_F(Coordinator, DownloadFolderChoice) {
    QString asked;
    std::optional<QString> answer = QStringLiteral("/home/ana/Music/Incoming");
    sonarbox().setFolderChooser(
        [&](const QString &message, std::function<void(std::optional<QString>)> done) {
            asked = message;
            done(answer);
        });
    QString shown;
    sonarbox().changeDefaultDownloadDir([&](const QString &text) { shown = text; });
    EXPECT_EQ(asked, "Pick a folder to Download to...");
    EXPECT_EQ(sonarbox().userDownloadDirectory(), "/home/ana/Music/Incoming");
    EXPECT_EQ(NSDefaultsUtility::standard().getUserDownloadDirectory(), "/home/ana/Music/Incoming");
    EXPECT_EQ(shown, "../Music/Incoming");

    answer.reset(); // cancelled
    shown.clear();
    sonarbox().changeDefaultDownloadDir([&](const QString &text) { shown = text; });
    EXPECT_EQ(sonarbox().userDownloadDirectory(), "/home/ana/Music/Incoming");
    EXPECT_TRUE(shown.isEmpty());
}

TEST_F(Coordinator, WebSiteCommandsAndTheActiveReport) {
    QStringList opened;
    sonarbox().setUrlOpener([&](const QUrl &url) {
        opened << url.toString();
        return true;
    });
    std::mutex reportLock;
    QStringList reports;
    sonarbox().setStatusReporter([&](const RunContext &, const QString &status, int amount) {
        std::lock_guard g(reportLock);
        reports << QStringLiteral("%1 %2").arg(status).arg(amount);
    });
    const QString site = DeploymentConfig::current().webSiteUrl;
    sonarbox().launchSBX();
    sonarbox().launchSBXWebsite();
    sonarbox().helpAction();
    EXPECT_EQ(opened, QStringList({site + "/", site, site + "/#/faq"}));
    ASSERT_TRUE(TestEnvironment::waitUntil([&] {
        std::lock_guard g(reportLock);
        return !reports.isEmpty();
    }));
    std::lock_guard g(reportLock);
    EXPECT_EQ(reports, QStringList({"ACTIVE 0"}));
}

TEST_F(Coordinator, MatchingIsReportedWithTheTrackCount) {
    std::mutex reportLock;
    QStringList reports;
    sonarbox().setStatusReporter([&](const RunContext &, const QString &status, int amount) {
        std::lock_guard g(reportLock);
        reports << QStringLiteral("%1 %2").arg(status).arg(amount);
    });
    sonarbox().setLocalLibraryTracks({std::make_shared<Audio>(), std::make_shared<Audio>()});
    sonarbox().sync(false);
    settle();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] {
        std::lock_guard g(reportLock);
        return !reports.isEmpty();
    }));
    std::lock_guard g(reportLock);
    EXPECT_EQ(reports, QStringList({"MATCHING 2"}));
}

TEST_F(Coordinator, NewUserFlowHidesTheRightControls) {
    sonarbox().showNewUserFlow(true);
    ProgressPage::State p = sonarbox().progressPage().state();
    EXPECT_TRUE(p.syncButtonHidden && p.doneButtonHidden && p.nextArrowHidden &&
                p.noNeedToWaitHidden && p.launchButtonHidden);
    sonarbox().showNewUserFlow(false);
    p = sonarbox().progressPage().state();
    EXPECT_FALSE(p.syncButtonHidden || p.doneButtonHidden);
    EXPECT_TRUE(p.nextArrowHidden && p.noNeedToWaitHidden && p.launchButtonHidden);
}

TEST_F(Coordinator, FirstRunIsRecordedOncePerVersion) {
    EXPECT_FALSE(NSDefaultsUtility::standard().number(PreferenceKeys::Version).has_value());
    sonarbox().isTheAppRunningFirstTime();
    const auto stored = NSDefaultsUtility::standard().number(PreferenceKeys::Version);
    ASSERT_TRUE(stored.has_value());
    NSDefaultsUtility::standard().setNumber(PreferenceKeys::Version, 0.0001);
    sonarbox().isTheAppRunningFirstTime();
    EXPECT_EQ(NSDefaultsUtility::standard().number(PreferenceKeys::Version), stored);
}

} // namespace
