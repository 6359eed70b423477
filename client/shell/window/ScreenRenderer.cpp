#include "ScreenRenderer.h"

#include "Fonts.h"
#include "MainMenu.h"
#include "accounts/PhFacebook.h"
#include "library/MediaLibraryPicker.h"
#include "library/MediaScanSummary.h"
#include "screens/LaunchSBX.h"
#include "screens/ProcessPage.h"
#include "screens/Settings.h"
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
#include "sync/Sonarbox.h"
#include "sync/SyncEngine.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
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
        sonarbox.setUserPickedMediaLibrary(3);
        QList<QUrl> folders;
        for (const QString &folder : musicFolders)
            folders << FolderUrls::fromPath(QDir(folder).absolutePath());
        sonarbox.setUserMediaFoldersToScan(folders);
        renderer.render<MediaScanSummary>(QStringLiteral("scan-summary"), [](MediaScanSummary &s) {
            settle([&s] { return s.nextButton()->isEnabled(); }, 60000);
        });
    }

    // The progress page shows the coordinator's model, as a sync keeps it.
    ProgressPage &progress = sonarbox.progressPage();
    sonarbox.showNewUserFlow(false);
    progress.setTextContent(QStringLiteral(
        "We are adding your music now. Soon you'll be listening to all your music anywhere."));
    progress.setSyncButtonTitle(QStringLiteral("Stop"));
    progress.setDescription(QStringLiteral("Matching your music"));
    progress.setProgress(0.4, QStringLiteral("40%"), QStringLiteral("The Harbour Lights"),
                         QStringLiteral("Evening Tide"));
    renderer.render<ProcessPage>(QStringLiteral("progress-syncing"));
    progress.setProgress(1.0, QStringLiteral("100%"), QString(), QString());
    progress.setDescription(QStringLiteral("Sync Completed"));
    progress.setSyncButtonTitle(QStringLiteral("Sync"));
    progress.setTextContent(
        QStringLiteral("We have added your music. Now you can listen to your music anywhere."));
    renderer.render<ProcessPage>(QStringLiteral("progress-finished"));

    renderer.render<LaunchSBX>(QStringLiteral("launch-web-application"));
    renderer.render<Version>(QStringLiteral("about"));

    sonarbox.setLoggedUser(sampleUser());
    sonarbox.setDidUserPickLibrary(true);
    sonarbox.setUserPickedMediaLibrary(2);
    renderer.render<Settings>(QStringLiteral("settings"),
                              [](Settings &s) { settle([&s] { return s.countsShown(); }, 10000); });
    sonarbox.setLoggedUser({});

    const QList<std::pair<QString, std::function<void(MainMenu &)>>> menuStates = {
        {QStringLiteral("menu-synced"), [](MainMenu &m) { m.statusMenuSyncFinished(); }},
        {QStringLiteral("menu-downloading"),
         [](MainMenu &m) {
             m.statusMenuDownloadStarted();
             m.setProgressInStatusMenu(100, 40, QStringLiteral("Downloading"));
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
