#include "DryRunCommand.h"

#include "Console.h"
#include "accounts/SignInResult.h"
#include "engine/DryRun.h"
#include "engine/Sonarbox.h"
#include "engine/SyncEngine.h"
#include "store/GenericDAO.h"

#include <QCoreApplication>
#include <QFutureWatcher>

int dryRunCommand() {
    Sonarbox &sonarbox = Sonarbox::instance();
    const UserPtr user = GenericDAO::instance().uniqueResult<User>();
    if (!user || (!user->username && !user->facebookToken)) {
        Console::printError(QStringLiteral("Not signed in: sign in first with --login EMAIL."));
        return 1;
    }
    if (!sonarbox.didUserPickLibrary()) {
        Console::printError(QStringLiteral(
            "No library chosen: choose one first with --library mpd|music|DIR[,DIR...]."));
        return 1;
    }
    // As the main window does with the stored account before signing it in.
    sonarbox.setLoggedUser(user);
    SyncEngine engine;
    engine.install(sonarbox);

    Console::printLine(QStringLiteral("Signing in as %1 at %2")
                           .arg(user->username.value_or(QStringLiteral("a Facebook account")),
                                sonarbox.serviceClient().gatewayBaseUrl()));
    QFutureWatcher<SignInResult::Outcome> signIn;
    QObject::connect(&signIn, &QFutureWatcher<SignInResult::Outcome>::finished, [&] {
        if (signIn.result() != SignInResult::Outcome::SignedIn) {
            const QString why =
                sonarbox.syncMessage().isEmpty() ? sonarbox.syncStatus() : sonarbox.syncMessage();
            Console::printError(QStringLiteral("Could not sign in: %1").arg(why));
            QCoreApplication::exit(1);
            return;
        }
        Console::printLine(QStringLiteral("Signed in. Working out what the next sync would do..."));
        DryRun::start(engine, [](const DryRunReport &report) {
            for (const QString &line : report.lines())
                Console::printLine(line);
            QCoreApplication::exit(report.completed() ? 0 : 1);
        });
    });
    signIn.setFuture(Sonarbox::instance().signInAgainInBackground(user));
    return QCoreApplication::exec();
}
