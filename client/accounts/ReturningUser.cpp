#include "ReturningUser.h"

#include "Synchronize.h"
#include "settings/GAUtility.h"
#include "settings/Localization.h"
#include "settings/Logging.h"
#include "sync/Sonarbox.h"

#include <QtConcurrent/QtConcurrentRun>

ReturningUser::Result ReturningUser::doLogin(const UserPtr &user) {
    Sonarbox &sonarbox = Sonarbox::instance();
    // Only a status set by this sign-in may decide below; one left from an
    // earlier exchange would hide that the service never answered.
    sonarbox.setSyncStatus(QString());
    const bool facebook = user && !user->facebookToken.value_or(QString()).isEmpty();

    if (Synchronize::login(user)) {
        sonarbox.setSyncStatus(QStringLiteral("SUCCESS"));
        sonarbox.flow_stopProcesses = false;
        if (facebook)
            GAUtility::instance().GAFacebookLoginSuccessful();
        else
            GAUtility::instance().GALoginButtonSuccessfulLogin();
        qCInfo(lcAccounts) << "Existing user successfully logged in";
        return Result::SignedIn;
    }

    qCWarning(lcAccounts) << "Error Loging In";
    const bool answered = !sonarbox.syncStatus().isEmpty();
    if (!answered) {
        sonarbox.setSyncStatus(QStringLiteral("FAILED"));
        sonarbox.setSyncMessage(
            Localization::localizedString(QStringLiteral("DeviceIdNotFoundServiceErrorMessage")));
    }
    if (facebook)
        GAUtility::instance().GAFacebookLoginFailed();
    else
        GAUtility::instance().GALoginButtonFailLogin();
    sonarbox.flow_errorAtLogin = true;
    qCWarning(lcAccounts) << "Existing user failed to login";
    return answered ? Result::Refused : Result::NoAnswer;
}

QFuture<ReturningUser::Result> ReturningUser::doLoginInBackground(const UserPtr &user) {
    return QtConcurrent::run([user] { return doLogin(user); });
}
