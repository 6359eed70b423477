#include "AccountCommands.h"

#include "Console.h"
#include "PasswordPrompt.h"
#include "engine/LoginPortal.h"
#include "engine/Sonarbox.h"
#include "settings/Localization.h"
#include "settings/NSDefaultsUtility.h"
#include "store/GenericDAO.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// Waits for background work while the main thread keeps serving it.
template <typename T> T waitFor(const QFuture<T> &future) {
    QFutureWatcher<T> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<T>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished())
        loop.exec();
    return future.result();
}

// The reason the last sign-in failed, as the login screen shows it.
QString failureMessage() {
    const QString message = Sonarbox::instance().syncMessage();
    return message.isEmpty() ? Localization::localizedString(
                                   QStringLiteral("DeviceIdNotFoundServiceErrorMessage"))
                             : message;
}

// How long the courtesy log-out may hold up the local one.
constexpr int kLogOutTimeoutMs = 10000;

} // namespace

int signInCommand(const QString &email) {
    Sonarbox &sonarbox = Sonarbox::instance();
    const std::optional<QString> password =
        readPassword(QStringLiteral("Password for %1: ").arg(email));
    // The login screen sends nothing without both texts.
    if (!password || password->isEmpty()) {
        sonarbox.setSyncStatus(QStringLiteral("FAILED"));
        sonarbox.setSyncMessage(
            Localization::localizedString(QStringLiteral("AuthenticationError")));
        Console::printError(QStringLiteral("Sign-in failed: %1").arg(sonarbox.syncMessage()));
        return 1;
    }

    // There is only ever one local account: a new sign-in takes the place of
    // the stored one (the record is replaced only when the service accepts).
    auto user = std::make_shared<User>();
    if (const UserPtr stored = GenericDAO::instance().uniqueResult<User>())
        user->objectID = stored->objectID;
    user->id = QStringLiteral("1");
    user->deviceId = sonarbox.deviceID();
    user->username = email;
    user->password = *password;

    if (!waitFor(LoginPortal::loginNewUser(user, nullptr))) {
        Console::printError(QStringLiteral("Sign-in failed: %1").arg(failureMessage()));
        return 1;
    }
    // As after the login screen, the library is chosen again for the new
    // sign-in (whose tracks start from nothing).
    NSDefaultsUtility::standard().saveDidUserPickMediaLibrary(QStringLiteral("NO"));
    sonarbox.setDidUserPickLibrary(false);
    Console::printLine(QStringLiteral("Signed in as %1.").arg(email));
    return 0;
}

int signOutCommand() {
    Sonarbox &sonarbox = Sonarbox::instance();
    const UserPtr user = GenericDAO::instance().uniqueResult<User>();
    if (!user) {
        Console::printLine(QStringLiteral("Not signed in."));
        return 0;
    }
    sonarbox.setLoggedUser(user);

    // Courtesy to the service: end this device's session there. The session
    // of an earlier run is gone with that run, so sign in for it first. Any
    // failure here leaves the local sign-out as it is. Only these two
    // requests give up sooner; the engine's own keep their time-out.
    const ServiceClient logOut = sonarbox.serviceClient().withTimeout(kLogOutTimeoutMs);
    const bool told = waitFor(QtConcurrent::run(
        [user, logOut] { return Sonarbox::instance().signOutOfService(user, logOut); }));

    sonarbox.logOut();
    Console::printLine(told ? QStringLiteral("Signed out.")
                            : QStringLiteral("Signed out on this computer (the service could not "
                                             "be told)."));
    return 0;
}
