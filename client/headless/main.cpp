// sonarbox-headless: the client's engine without the desktop shell. It signs
// in, records where the music lives and the download folder, prints the
// state of the account, and runs syncs (one with --once, else one now and
// one every hour until SIGINT or SIGTERM).
#include "AccountCommands.h"
#include "Console.h"
#include "DryRunCommand.h"
#include "HeadlessOptions.h"
#include "LibrarySettings.h"
#include "ProgressPrinter.h"
#include "StatusReport.h"
#include "SyncRunner.h"
#include "engine/ChangeWatcher.h"
#include "engine/EngineInstance.h"
#include "engine/PauseCommands.h"
#include "engine/SignalWatcher.h"
#include "engine/Sonarbox.h"
#include "engine/StatusReporting.h"
#include "engine/SyncEngine.h"
#include "engine/TrackStates.h"
#include "settings/DeploymentConfig.h"
#include "settings/GAUtility.h"
#include "settings/Localization.h"
#include "settings/LoggingSetup.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/PreferenceKeys.h"
#include "store/StoreSetup.h"
#include "sync/LoginItems.h"
#include "sync/ScanForLocalMedia.h"
#include "sync/TransferLimits.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
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
    // Between the hourly syncs, changes to the music are synced once they
    // have settled; a single sync has no use for that.
    std::unique_ptr<ChangeWatcher> watcher;
    if (!once) {
        watcher = std::make_unique<ChangeWatcher>(sonarbox, *engine);
        watcher->start();
    } else {
        // Nothing follows a single sync to take the files it had to leave:
        // it waits for those written just before it, and leaves only those
        // still being written.
        engine->scanner().setLeaveFilesWrittenWithin(
            std::chrono::milliseconds(config.fileSettleMs));
        engine->scanner().setWaitForFilesWrittenWithin(true);
    }
    // A sync stops when the service's host goes away; the hourly retry
    // carries on once it is back.
    sonarbox.startNetworkMonitoring();
    ProgressPrinter printer(sonarbox.syncProgress());
    printer.setFilesLeft(
        [&scanner = engine->scanner()] { return scanner.filesLeftStillWritten(); });
    SignalWatcher signalWatcher;
    SyncRunner runner(once);
    QObject::connect(&signalWatcher, &SignalWatcher::signalled, &runner, &SyncRunner::stop);
    QObject::connect(&runner, &SyncRunner::finished, qApp,
                     [](int exitCode) { QCoreApplication::exit(exitCode); });
    QTimer::singleShot(0, &runner, &SyncRunner::start);
    const int exitCode = QCoreApplication::exec();
    watcher.reset();
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
    if (config != DeploymentConfig::defaultFile())
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
    if (options.shareUsage) {
        NSDefaultsUtility::standard().setBoolean(PreferenceKeys::ShareUsageStatistics,
                                                 *options.shareUsage);
        NSDefaultsUtility::standard().synchronize();
        Console::printLine(
            QStringLiteral("Share anonymous usage statistics: %1")
                .arg(*options.shareUsage ? QStringLiteral("on") : QStringLiteral("off")));
    }
    if (options.status) {
        for (const QString &line : statusReport())
            Console::printLine(line);
    }
    if (options.tracks) {
        const QList<TrackStates::Row> rows = TrackStates::load(options.failedOnly);
        for (const TrackStates::Row &row : rows)
            Console::printLine(TrackStates::line(row));
        Console::printLine(
            QStringLiteral("%1 %2")
                .arg(rows.size())
                .arg(options.failedOnly ? QStringLiteral("failed") : QStringLiteral("tracks")));
    }
    if (options.dryRun)
        return dryRunCommand();
    if (!options.runsSync())
        return 0;
    if (options.limitUp || options.limitDown) {
        TransferLimits limits = TransferLimits::inForce();
        limits.uploadKiBps = options.limitUp.value_or(limits.uploadKiBps);
        limits.downloadKiBps = options.limitDown.value_or(limits.downloadKiBps);
        TransferLimits::set(limits);
        const auto shown = [](int kiBps) {
            return kiBps == 0 ? QStringLiteral("no limit") : QStringLiteral("%1 KiB/s").arg(kiBps);
        };
        Console::printLine(QStringLiteral("Limits: upload %1, download %2")
                               .arg(shown(limits.uploadKiBps), shown(limits.downloadKiBps)));
    }
    return runSyncs(options.once);
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
    Console::claimStandardStreams();
    Logging::install(parser.isSet(QStringLiteral("verbose")));

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
    if (options->pause) {
        // Said to the engine that runs; with none running there is nobody to tell.
        const QString folder = store.applicationFilesDirectory();
        const std::optional<QString> reply = PauseCommands::send(folder, *options->pause);
        if (!reply) {
            Console::printError(
                QStringLiteral("sonarbox-headless: no Sonarbox engine is running for the store "
                               "%1; nothing was %2.")
                    .arg(folder,
                         *options->pause ? QStringLiteral("paused") : QStringLiteral("resumed")));
            return 1;
        }
        if (!reply->startsWith(QLatin1String("ok"))) {
            Console::printError(
                QStringLiteral("sonarbox-headless: the engine answered: %1").arg(*reply));
            return 1;
        }
        Console::printLine(reply->mid(3));
        return 0;
    }
    // Two engines syncing one store and account would upload and download
    // everything twice; the other commands (--status above all) work beside
    // a running engine.
    EngineInstance instance(store.applicationFilesDirectory());
    if (options->runsSync() && !instance.acquire(&error)) {
        Console::printError(QStringLiteral("sonarbox-headless: %1 Not syncing.").arg(error));
        return EngineInstance::BusyExitCode;
    }
    if (options->runsSync())
        PauseCommands::install(instance);
    if (!store.managedObjectContext())
        Console::printError(QStringLiteral("The store %1 could not be opened; running without it.")
                                .arg(store.storeFilePath()));
    // As the desktop program starts: the analytics sender (which reports the
    // program's start when the deployment and the user allow it), then the
    // first-run check.
    // A query or a change of preference is not a use of the program.
    if (options->runsSync() ||
        !(options->status || options->shareUsage || options->tracks || options->dryRun)) {
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
