// sonarbox: the desktop program. A tray icon with the status menu and one
// main window with the screens, on top of the same engine as
// sonarbox-headless.
#include "AppDelegate.h"
#include "MainMenu.h"
#include "Notifications.h"
#include "ScreenRenderer.h"
#include "Shutdown.h"
#include "TrayIcons.h"
#include "engine/EngineInstance.h"
#include "engine/PauseCommands.h"
#include "engine/Sonarbox.h"
#include "settings/DeploymentConfig.h"
#include "settings/Localization.h"
#include "settings/LoggingSetup.h"
#include "settings/StandardStreams.h"
#include "store/StoreSetup.h"
#include "sync/DesktopNotifier.h"
#include "sync/LoginItems.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char **argv) {
    // The embedded browser of the Facebook sign-in needs both before the
    // application object exists; its sandbox refuses to run as root.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");

    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Sonarbox"));
    QCoreApplication::setApplicationName(QStringLiteral("Sonarbox"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SONARBOX_VERSION));
    // The window manager and the panel's task list match the window to the
    // installed .desktop entry and show the program's own icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.sonarbox.Sonarbox"));
    QApplication::setWindowIcon(TrayIcons::application());
    // Closing the window leaves the program in the tray.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Keeps your music collection and your cloud music library in step."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption configOption(
        QStringLiteral("config"),
        QStringLiteral("The deployment configuration file (default: SONARBOX_CONFIG, else the "
                       "built-in one)."),
        QStringLiteral("FILE"));
    parser.addOption(configOption);
    const QCommandLineOption verboseOption(
        QStringLiteral("verbose"),
        QStringLiteral("Show every log line on standard error too (they always go to the log "
                       "file, ~/.local/state/Sonarbox/sonarbox.log)."));
    parser.addOption(verboseOption);
    const QCommandLineOption quitOption(
        QStringLiteral("quit"),
        QStringLiteral("Quit the Sonarbox that is running, as its menu's Quit does."));
    parser.addOption(quitOption);
    // Screenshots of every screen and menu state (scripts/screens.sh).
    QCommandLineOption renderOption(QStringLiteral("render-screens"),
                                    QStringLiteral("Render the screens into PNG files."),
                                    QStringLiteral("OUTDIR"));
    renderOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(renderOption);
    parser.process(app); // --help and --version print and exit here
    Logging::install(parser.isSet(verboseOption));

    Localization::install();
    QString error;
    if (!DeploymentConfig::loadFromArguments(app.arguments(), &error)) {
        std::fprintf(stderr, "sonarbox: %s\n", qPrintable(error));
        return 2;
    }
    // A login item starts the program as it was started now, with the same
    // configuration file.
    if (parser.isSet(configOption))
        LoginItems::setProgramArguments(
            {QStringLiteral("--config"), DeploymentConfig::current().source});

    if (parser.isSet(renderOption)) {
        const int rendered =
            ScreenRenderer::renderScreens(parser.value(renderOption), parser.positionalArguments());
        // The notification is drawn by the session's notification service,
        // when it has one (scripts/screens.sh starts one and takes its picture).
        if (rendered == 0 && !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
            Notifications notifications(Sonarbox::instance().syncProgress());
            if (notifications.signInNeeded()) {
                DesktopNotifier::flush();
                std::printf("notified\n");
            }
        }
        return rendered;
    }

    // One desktop program per user and store: a second start brings the
    // first one's window up and ends; an engine without a window (the
    // headless one) keeps the store to itself.
    const QString storeFolder = StoreSetup::instance().applicationFilesDirectory();
    if (parser.isSet(quitOption)) {
        const std::optional<QString> reply =
            EngineInstance::send(storeFolder, QStringLiteral("quit"));
        if (!reply || !reply->startsWith(QLatin1String("ok"))) {
            std::fprintf(stderr, "sonarbox: no Sonarbox is running for the store %s.\n",
                         qPrintable(storeFolder));
            return 1;
        }
        return 0;
    }
    EngineInstance instance(storeFolder);
    if (!instance.acquire(&error)) {
        const std::optional<QString> reply =
            EngineInstance::send(storeFolder, QStringLiteral("raise"));
        if (reply && reply->startsWith(QLatin1String("ok"))) {
            std::fprintf(stderr, "sonarbox: Sonarbox is already running; its window is shown.\n");
            return 0;
        }
        std::fprintf(stderr, "sonarbox: %s\n", qPrintable(error));
        return EngineInstance::BusyExitCode;
    }

    // From here on libtonemill and whatever else prints on the standard
    // streams goes to the log; the person's terminal keeps the warnings.
    StandardStreams::claim();
    AppDelegate delegate;
    instance.setHandler(QStringLiteral("raise"), [&delegate](const QString &) {
        delegate.showApplicationWindow();
        return QStringLiteral("ok");
    });
    // The menu's own Quit, asked from outside (`sonarbox --quit`, scripts).
    instance.setHandler(QStringLiteral("quit"), [](const QString &) {
        QMetaObject::invokeMethod(
            MainMenu::instance().quitMenuItem(),
            [] { MainMenu::instance().quitMenuItem()->trigger(); }, Qt::QueuedConnection);
        return QStringLiteral("ok");
    });
    // `sonarbox-headless --pause` / `--resume` reach this program too.
    PauseCommands::install(instance);
    delegate.applicationDidFinishLaunching();
    const int exitCode = QApplication::exec();

    // However the program ends (Quit, the session ending), the sync stops,
    // background work gets a few seconds to end, and the store is saved. The
    // screens go first: a sign-in ending now must not lead to a new screen
    // and a new sync. The network monitor's thread is joined while the
    // application object still exists: a probe answering during its
    // destruction would post to an object being torn down.
    delegate.closeWindows();
    const bool settled = Shutdown::finishBackgroundWork(std::chrono::seconds(4));
    Sonarbox::instance().stopNetworkMonitoring();
    const bool saved = StoreSetup::instance().applicationShouldTerminate() ==
                       StoreSetup::TerminateReply::TerminateNow;
    if (!saved)
        std::fprintf(StandardStreams::error(), "sonarbox: the store could not be saved.\n");
    if (!settled) {
        // A thread still inside a sign-in or a stage would be waited for by
        // the objects' destructors; what must be kept is saved.
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}
