#include "ScreenRenderer.h"

#include "Fonts.h"
#include "MainMenu.h"
#include "TrayIcons.h"
#include "accounts/PhFacebook.h"
#include "engine/Sonarbox.h"
#include "engine/SyncEngine.h"
#include "library/MediaLibraryPicker.h"
#include "library/MediaScanSummary.h"
#include "screens/LastSyncSummary.h"
#include "screens/LaunchSBX.h"
#include "screens/ProcessPage.h"
#include "screens/Settings.h"
#include "screens/TracksWindow.h"
#include "screens/Version.h"
#include "settings/DeploymentConfig.h"
#include "settings/FolderUrls.h"
#include "settings/Localization.h"
#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "signin/FacebookBrowser.h"
#include "signin/LandingPage.h"
#include "signin/LoginRegister.h"
#include "signin/SignUp.h"
#include "store/GenericDAO.h"
#include "sync/SyncProgress.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <QWebEngineView>

#include <cstdio>
#include <functional>
#include <memory>

namespace ScreenRenderer {

namespace {

const QSize ScreenSize(640, 460);

void settle(const std::function<bool()> &done = {}, int ms = 0) {
    const QDeadlineTimer deadline(ms);
    do {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        if (done && done())
            return;
    } while (!deadline.hasExpired());
}

class Renderer {
public:
    explicit Renderer(const QString &outDir)
        : m_dir(outDir) {}

    // Shows a new screen made by `make`, lets `prepare` put it into a state,
    // and writes it as `<name>.png`.
    template <typename Screen>
    void render(const QString &name, const std::function<void(Screen &)> &prepare = {}) {
        QWidget frame;
        frame.setWindowTitle(QStringLiteral("Sonarbox"));
        frame.resize(ScreenSize);
        auto *screen = new Screen(&frame);
        screen->resize(ScreenSize);
        frame.show();
        if (prepare)
            prepare(*screen);
        settle({}, 100);
        save(frame.grab(), name);
    }

    bool save(const QPixmap &image, const QString &name) {
        const QString path = QDir(m_dir).filePath(name + QStringLiteral(".png"));
        const bool ok = !image.isNull() && image.save(path);
        std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "could not write",
                     qPrintable(path));
        m_failures += ok ? 0 : 1;
        return ok;
    }

    int failures() const { return m_failures; }

private:
    QString m_dir;
    int m_failures = 0;
};

// A sync of the seven-song demo, told to the progress model as the stages
// tell it: four matched, three uploaded, one downloaded.
void tellADemoSync(SyncProgress &progress) {
    using Outcome = SyncProgress::Outcome;
    using Stage = SyncProgress::Stage;
    progress.beginSync();
    progress.beginStage(Stage::Scanning, 0);
    progress.trackFound(7);
    progress.beginStage(Stage::Matching, 7);
    for (int i = 0; i < 7; ++i)
        progress.finishItem(QStringLiteral("Track %1").arg(i + 1),
                            i < 4 ? Outcome::Succeeded : Outcome::Unmatched);
    progress.beginStage(Stage::Downloading, 1);
    progress.finishItem(QStringLiteral("Far Away"), Outcome::Succeeded);
    progress.beginStage(Stage::Uploading, 3);
    for (int i = 0; i < 3; ++i)
        progress.finishItem(QStringLiteral("Kitchen Session %1").arg(i + 1), Outcome::Succeeded);
    progress.showCompleted();
    progress.endSync(QStringLiteral("Sync Completed"));
}

// An hourly sync that finds nothing new.
void tellANothingToDoSync(SyncProgress &progress) {
    progress.beginSync();
    progress.beginStage(SyncProgress::Stage::Scanning, 0);
    progress.showCompleted();
    progress.endSync(QStringLiteral("Sync Completed"));
}

// Stored tracks in each state the track view shows.
void storeDemoTracks() {
    struct Track {
        const char *title;
        std::optional<bool> downloadable;
        std::optional<bool> uploaded;
        std::optional<QString> reason;
        qint64 downloaded;
    };
    const Track tracks[] = {
        {"Evening Tide", true, {}, {}, 0},
        {"Harbour Lights", true, true, {}, 0},
        {"Far Away", true, {}, {}, 1},
        {"Kitchen Session 1", false, {}, {}, 0},
        {"Kitchen Session 2", {}, {}, {}, 0},
        {"Kitchen Session 3", false, {}, QStringLiteral("the service refused it (quota)"), 0},
    };
    int n = 0;
    for (const Track &t : tracks) {
        auto track = std::make_shared<Audio>();
        track->checksum = QStringLiteral("%1").arg(++n, 32, 10, QLatin1Char('0'));
        track->songName = QLatin1String(t.title);
        track->artist = QStringLiteral("The Harbour Lights");
        track->album = QStringLiteral("Evening Tide");
        track->fileURL = QStringLiteral("/home/ada/Music/%1.mp3").arg(QLatin1String(t.title));
        track->downloadable = t.downloadable;
        track->uploaded = t.uploaded;
        track->failureReason = t.reason;
        track->downloaded = t.downloaded;
        GenericDAO::instance().save(track);
    }
}

// Every state's tray icon at a panel's size, on a dark and on a light panel.
QPixmap trayIconsOnPanels() {
    const TrayState states[] = {TrayState::Idle, TrayState::Syncing, TrayState::Offline,
                                TrayState::NeedsAttention};
    constexpr int kIcon = 22;
    constexpr int kCell = 40;
    QPixmap strip(kCell * 4, kCell * 2);
    QPainter painter(&strip);
    const QColor panels[] = {QColor(0x20, 0x20, 0x20), QColor(0xf0, 0xf0, 0xf0)};
    for (int row = 0; row < 2; ++row) {
        painter.fillRect(0, row * kCell, strip.width(), kCell, panels[row]);
        for (int i = 0; i < 4; ++i) {
            const QPixmap icon = TrayIcons::forState(states[i]).pixmap(kIcon, kIcon);
            painter.drawPixmap(i * kCell + (kCell - kIcon) / 2, row * kCell + (kCell - kIcon) / 2,
                               icon);
        }
    }
    painter.end();
    return strip;
}

UserPtr sampleUser() {
    auto user = std::make_shared<User>();
    user->id = QStringLiteral("1");
    user->username = QStringLiteral("ada@example.com");
    return user;
}

} // namespace

int renderScreens(const QString &outDir, const QStringList &musicFolders) {
    QString error;
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(outDir));
        return 1;
    }
    if (!registerCustomFonts(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    Sonarbox &sonarbox = Sonarbox::instance();
    SyncEngine engine;
    engine.install(sonarbox);
    Renderer renderer(outDir);

    renderer.render<LandingPage>(QStringLiteral("landing"));
    renderer.render<LoginRegister>(QStringLiteral("login"));
    sonarbox.setSyncStatus(QStringLiteral("FAILED"));
    sonarbox.setSyncMessage(Localization::localizedString(QStringLiteral("AuthenticationError")));
    renderer.render<LoginRegister>(QStringLiteral("login-failed"));
    sonarbox.setSyncStatus(QString());
    sonarbox.setSyncMessage(QString());

    renderer.render<SignUp>(QStringLiteral("signup"));
    renderer.render<SignUp>(QStringLiteral("signup-errors"), [](SignUp &page) {
        const auto text = [&page](const char *field, const char *value) {
            if (auto *edit = page.findChild<QLineEdit *>(QLatin1String(field)))
                edit->setText(QLatin1String(value));
        };
        text("firstNameField", "Ada");
        text("emailField", "ada.example.com");
        text("passwordField", "secret1");
        text("passwordConfirmField", "secret2");
        if (auto *button = page.findChild<QPushButton *>(QStringLiteral("signUpBtn")))
            button->click();
    });

    renderer.render<MediaLibraryPicker>(QStringLiteral("library-picker"));
    if (musicFolders.size() >= 2) {
        sonarbox.setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
        QList<QUrl> folders;
        for (const QString &folder : musicFolders)
            folders << FolderUrls::fromPath(QDir(folder).absolutePath());
        sonarbox.setUserMediaFoldersToScan(folders);
        renderer.render<MediaScanSummary>(QStringLiteral("scan-summary"), [](MediaScanSummary &s) {
            settle([&s] { return s.nextButton()->isEnabled(); }, 60000);
        });
    }

    // The progress page shows the coordinator's models, as a sync keeps them:
    // two of five tracks matched, the third being identified.
    ProgressPage &progress = sonarbox.progressPage();
    SyncProgress &counts = sonarbox.syncProgress();
    sonarbox.showNewUserFlow(false);
    progress.beginSync();
    counts.beginSync();
    counts.beginStage(SyncProgress::Stage::Matching, 5);
    counts.finishItem(QStringLiteral("Morning Tide"), SyncProgress::Outcome::Succeeded);
    counts.finishItem(QStringLiteral("Noon Tide"), SyncProgress::Outcome::Succeeded);
    progress.setTextContent(QStringLiteral(
        "We are adding your music now. Soon you'll be listening to all your music anywhere."));
    progress.setSyncButtonTitle(QStringLiteral("Stop"));
    progress.setDescription(QStringLiteral("Matching your music"));
    counts.setCurrentItem(QStringLiteral("Evening Tide"), QStringLiteral("The Harbour Lights"),
                          QStringLiteral("Evening Tide"));
    renderer.render<ProcessPage>(QStringLiteral("progress-syncing"));
    // A new account's sync, once the catalogue has matched a track: it may
    // go on while the import runs.
    sonarbox.showNewUserFlow(true);
    progress.showLaunchControls();
    renderer.render<ProcessPage>(QStringLiteral("progress-syncing-new-user"));
    progress.setDescription(QStringLiteral("Sync Completed"));
    progress.setSyncButtonTitle(QStringLiteral("Sync"));
    progress.setTextContent(
        QStringLiteral("We have added your music. Now you can listen to your music anywhere."));
    progress.endSync();
    counts.showCompleted();
    counts.endSync(QStringLiteral("Sync Completed"));
    renderer.render<ProcessPage>(QStringLiteral("progress-finished"));

    // The same page once a sync has ended, with its summary line; then after
    // an hourly sync that had nothing to do, beside the last change.
    LastSyncSummary &summary = LastSyncSummary::instance();
    tellADemoSync(sonarbox.syncProgress());
    settle([&summary] { return !summary.text().isEmpty(); }, 5000);
    renderer.render<ProcessPage>(QStringLiteral("progress-summary"));
    tellANothingToDoSync(sonarbox.syncProgress());
    settle([&summary] { return summary.text().contains(QStringLiteral(": 0 found")); }, 5000);
    renderer.render<ProcessPage>(QStringLiteral("progress-last-change"));

    storeDemoTracks();
    {
        TracksWindow tracks;
        tracks.resize(ScreenSize);
        tracks.show();
        settle([&tracks] { return !tracks.isLoading() && tracks.model()->rowCount() > 0; }, 10000);
        settle({}, 100);
        renderer.save(tracks.grab(), QStringLiteral("tracks"));
    }
    renderer.save(trayIconsOnPanels(), QStringLiteral("tray-icons"));

    renderer.render<LaunchSBX>(QStringLiteral("launch-web-application"));
    renderer.render<Version>(QStringLiteral("about"));

    sonarbox.setLoggedUser(sampleUser());
    sonarbox.setDidUserPickLibrary(true);
    sonarbox.setUserPickedMediaLibrary(LibraryChoice::MusicFolder);
    renderer.render<Settings>(QStringLiteral("settings"),
                              [](Settings &s) { settle([&s] { return s.countsShown(); }, 10000); });
    // Chosen folders, named by their paths.
    if (musicFolders.size() >= 2) {
        sonarbox.setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
        renderer.render<Settings>(QStringLiteral("settings-folders"), [](Settings &s) {
            settle([&s] { return s.countsShown(); }, 10000);
        });
    }
    sonarbox.setLoggedUser({});

    // Forty of a hundred songs downloaded.
    SyncProgress downloading;
    const QList<std::pair<QString, std::function<void(MainMenu &)>>> menuStates = {
        {QStringLiteral("menu-synced"), [](MainMenu &m) { m.statusMenuSyncFinished(); }},
        {QStringLiteral("menu-downloading"),
         [&downloading](MainMenu &m) {
             m.statusMenuDownloadStarted();
             m.follow(downloading);
             downloading.beginStage(SyncProgress::Stage::Downloading, 100);
             for (int i = 0; i < 40; ++i)
                 downloading.finishItem(QStringLiteral("Song %1").arg(i + 1),
                                        SyncProgress::Outcome::Succeeded);
         }},
        {QStringLiteral("menu-offline"), [](MainMenu &m) { m.statusMenuShowOffline(); }},
        {QStringLiteral("menu-logged-out"), [](MainMenu &m) { m.statusMenuLoggedOut(); }},
    };
    for (const auto &[name, apply] : menuStates) {
        MainMenu menu;
        apply(menu);
        settle({}, 100); // the menu applies its changes on the main thread
        menu.menu()->adjustSize();
        renderer.save(menu.menu()->grab(), name);
    }

    // The Facebook sign-in window with the login page of the deployment's
    // Facebook host (scripts/screens.sh points it at a local sonarbox-cloud).
    const DeploymentConfig &config = DeploymentConfig::current();
    if (!config.facebookWebHost.isEmpty() && !config.facebookAppId.isEmpty()) {
        WebEngineFacebookHost &host = WebEngineFacebookHost::install();
        FacebookBrowser browser(host.profile());
        browser.resize(ScreenSize);
        browser.show();
        const PhFacebook facebook(config.facebookAppId, nullptr);
        browser.loadAddress(facebook.authorizationAddress(std::nullopt));
        bool finished = false;
        QObject::connect(browser.webView(), &QWebEngineView::loadFinished, &browser,
                         [&finished](bool) { finished = true; });
        settle(
            [&] {
                return finished &&
                       browser.webView()->url().path() == QStringLiteral("/connect/uiserver.php");
            },
            30000);
        settle({}, 1000); // the page paints after its load has finished
        renderer.save(browser.grab(), QStringLiteral("facebook-login"));
    }
    return renderer.failures() == 0 ? 0 : 1;
}

} // namespace ScreenRenderer
