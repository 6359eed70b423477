// sonarbox-headless: the client's engine without the desktop shell. It signs
// in, records where the music lives and the download folder, prints the
// state of the account, and runs syncs (one with --once, else one now and
// one every hour until SIGINT or SIGTERM).
#include "AccountCommands.h"
#include "Console.h"
#include "HeadlessOptions.h"
#include "LibrarySettings.h"
#include "ProgressPrinter.h"
#include "SignalWatcher.h"
#include "StatusReport.h"
#include "SyncRunner.h"
#include "settings/DeploymentConfig.h"
#include "settings/GAUtility.h"
#include "settings/Localization.h"
#include "store/StoreSetup.h"
#include "sync/LoginItems.h"
#include "sync/Sonarbox.h"
#include "sync/StatusReporting.h"
#include "sync/SyncEngine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QThreadPool>
#include <QTimer>

#include <memory>

namespace {

int runSyncs(bool once) {
    Sonarbox &sonarbox = Sonarbox::instance();
    const DeploymentConfig &config = DeploymentConfig::current();
    Console::printLine(QStringLiteral("Configuration: %1").arg(config.source));
    Console::printLine(QStringLiteral("Service: %1").arg(config.gatewayBaseUrl));
    Console::printLine(QStringLiteral("Store: %1").arg(StoreSetup::instance().storeFilePath()));
    Console::printLine(QStringLiteral("Device: %1").arg(sonarbox.deviceID()));

    auto engine = std::make_unique<SyncEngine>();
    engine->install(sonarbox);
    // A sync stops when the service's host goes away; the hourly retry
    // carries on once it is back.
    sonarbox.startNetworkMonitoring();
    ProgressPrinter printer(sonarbox.syncProgress());
    SignalWatcher signalWatcher;
    SyncRunner runner(once);
    QObject::connect(&signalWatcher, &SignalWatcher::signalled, &runner, &SyncRunner::stop);
    QObject::connect(&runner, &SyncRunner::finished, qApp,
                     [](int exitCode) { QCoreApplication::exit(exitCode); });
    QTimer::singleShot(0, &runner, &SyncRunner::start);
    const int exitCode = QCoreApplication::exec();
    // Joined while the application object still exists: a probe answering
    // during its destruction would post to an object being torn down.
    sonarbox.stopNetworkMonitoring();

    // A stage that never let go still runs on the stage thread: taking the
    // engine down would wait for it for ever.
    if (sonarbox.operationQueue().operationCount() != 0)
        (void)engine.release();
    return exitCode;
}

// The login item names this program as it was started and, when a
// configuration file was chosen, that file, so that the session starts the
// engine against the same service.
int setStartAtLogin(bool on) {
    Sonarbox &sonarbox = Sonarbox::instance();
    if (!on) {
        sonarbox.deleteAppFromLoginItem();
        Console::printLine(QStringLiteral("Start at login: off"));
        return 0;
    }
    const QString config = DeploymentConfig::current().source;
    if (!config.startsWith(QLatin1Char(':')))
        LoginItems::setProgramArguments(
            {QStringLiteral("--config"), QFileInfo(config).absoluteFilePath()});
    sonarbox.addAppAsLoginItem();
    if (!sonarbox.isAppInLoginItems()) {
        Console::printError(
            QStringLiteral("The login item %1 could not be written.").arg(LoginItems::entryPath()));
        return 1;
    }
    Console::printLine(QStringLiteral("Start at login: on (%1)").arg(LoginItems::entryPath()));
    return 0;
}

int run(const HeadlessOptions &options) {
    if (options.logout) {
        if (const int rc = signOutCommand())
            return rc;
    }
    if (options.login) {
        if (const int rc = signInCommand(*options.login))
            return rc;
    }
    if (options.library) {
        const bool changed = recordLibraryChoice(*options.library);
        Console::printLine(changed ? QStringLiteral("Library recorded.")
                                   : QStringLiteral("Library unchanged."));
    }
    if (options.downloadDir) {
        recordDownloadDirectory(*options.downloadDir);
        Console::printLine(QStringLiteral("Download folder: %1").arg(*options.downloadDir));
    }
    if (options.autostart) {
        if (const int rc = setStartAtLogin(*options.autostart))
            return rc;
    }
    if (options.status) {
        for (const QString &line : statusReport())
            Console::printLine(line);
    }
    return options.runsSync() ? runSyncs(options.once) : 0;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Sonarbox"));
    QCoreApplication::setApplicationName(QStringLiteral("Sonarbox"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SONARBOX_VERSION));

    QCommandLineParser parser;
    addHeadlessOptions(parser);
    parser.process(app); // --help and --version print and exit here
    Console::claimStandardOutput();

    Localization::install();
    QString error;
    const std::optional<HeadlessOptions> options = readHeadlessOptions(parser, &error);
    if (!options) {
        Console::printError(QStringLiteral("sonarbox-headless: %1").arg(error));
        return 2;
    }
    if (!DeploymentConfig::loadFromArguments(app.arguments(), &error)) {
        Console::printError(QStringLiteral("sonarbox-headless: %1").arg(error));
        return 2;
    }
    Console::installLogHandler();

    StoreSetup &store = StoreSetup::instance();
    if (!store.managedObjectContext())
        Console::printError(QStringLiteral("The store %1 could not be opened; running without it.")
                                .arg(store.storeFilePath()));
    // As the desktop program starts: the analytics sender (which reports the
    // program's start when the deployment and the user allow it), then the
    // first-run check. A status query is not a use of the program.
    if (!options->status || options->runsSync()) {
        GAUtility::instance();
        Sonarbox::instance().isTheAppRunningFirstTime();
    }
    Sonarbox::instance();
    installServiceReporting();

    const int exitCode = run(*options);

    // Background work (the status report, a sign-in) needs the application object.
    QThreadPool::globalInstance()->waitForDone();
    if (store.applicationShouldTerminate() != StoreSetup::TerminateReply::TerminateNow)
        Console::printError(QStringLiteral("The store could not be saved."));
    return exitCode;
}
