// sonarbox: the desktop program. A tray icon with the status menu and one
// main window with the screens, on top of the same engine as
// sonarbox-headless.
#include "AppDelegate.h"
#include "ScreenRenderer.h"
#include "settings/DeploymentConfig.h"
#include "settings/Localization.h"
#include "store/StoreSetup.h"
#include "sync/LoginItems.h"
#include "sync/Sonarbox.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QThreadPool>

#include <cstdio>
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
    // Screenshots of every screen and menu state (scripts/screens.sh).
    QCommandLineOption renderOption(QStringLiteral("render-screens"),
                                    QStringLiteral("Render the screens into PNG files."),
                                    QStringLiteral("OUTDIR"));
    renderOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(renderOption);
    parser.process(app); // --help and --version print and exit here

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

    if (parser.isSet(renderOption))
        return ScreenRenderer::renderScreens(parser.value(renderOption),
                                             parser.positionalArguments());

    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    const int exitCode = QApplication::exec();

    // However the program ends (Quit, the session ending), background work
    // finishes and the store is saved. The network monitor's thread is joined
    // while the application object still exists: a probe answering during its
    // destruction would post to an object being torn down.
    Sonarbox::instance().stopNetworkMonitoring();
    QThreadPool::globalInstance()->waitForDone();
    if (StoreSetup::instance().applicationShouldTerminate() !=
        StoreSetup::TerminateReply::TerminateNow)
        std::fprintf(stderr, "sonarbox: the store could not be saved.\n");
    return exitCode;
}
