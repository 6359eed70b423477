// sonarbox-headless: the client's engine without the desktop shell. It loads
// the deployment configuration, opens the local store, brings the coordinator
// up and runs syncs (one with --once, else one now and one every hour).
#include "service/ServiceReporting.h"
#include "settings/DeploymentConfig.h"
#include "settings/Localization.h"
#include "settings/Logging.h"
#include "store/GenericDAO.h"
#include "store/StoreSetup.h"
#include "sync/Sonarbox.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <QThreadPool>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Sonarbox"));
    QCoreApplication::setApplicationName(QStringLiteral("Sonarbox"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SONARBOX_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs the Sonarbox sync engine without the desktop shell."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("config"), QStringLiteral("Deployment configuration file."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("once"), QStringLiteral("Run one sync, then exit.")});
    parser.process(app);

    Localization::install();
    QTextStream out(stdout);
    QString error;
    if (!DeploymentConfig::loadFromArguments(app.arguments(), &error)) {
        QTextStream(stderr) << "sonarbox-headless: " << error << "\n";
        return 2;
    }
    const DeploymentConfig &config = DeploymentConfig::current();
    out << "Configuration: " << config.source << "\n"
        << "Service: " << config.gatewayBaseUrl << "\n";

    StoreSetup &store = StoreSetup::instance();
    out << "Store: " << store.storeFilePath() << "\n";
    if (!store.managedObjectContext())
        out << "The store could not be opened; running without it.\n";

    Sonarbox &sonarbox = Sonarbox::instance();
    installServiceReporting();
    out << "Device: " << sonarbox.deviceID() << "\n";
    const UserPtr user = GenericDAO::instance().uniqueResult<User>();
    out << "Account: " << (user && user->username ? *user->username : QStringLiteral("none"))
        << "\n";
    out.flush();

    const bool once = parser.isSet(QStringLiteral("once"));
    QObject::connect(&sonarbox, &Sonarbox::syncStateChanged, &app, [&] {
        if (sonarbox.syncInProgress)
            return;
        out << "Sync: " << sonarbox.progressPage().state().description << "\n";
        out.flush();
        if (once)
            app.quit();
    });
    sonarbox.sync(true);
    const int rc = app.exec();
    // Background work (the status report) needs the application object.
    QThreadPool::globalInstance()->waitForDone();
    StoreSetup::instance().applicationShouldTerminate();
    return rc;
}
