#include "ReturningUser.h"

#include "Synchronize.h"
#include "settings/GAUtility.h"
#include "settings/Localization.h"
#include "settings/Logging.h"

SignInResult ReturningUser::doLogin(const ServiceClient &client, const UserPtr &user,
                                    const RunContext &context) {
    const bool facebook = user && !user->facebookToken.value_or(QString()).isEmpty();

    SignInResult result = Synchronize::login(client, user, context);
    if (result.signedIn()) {
        result.status = QStringLiteral("SUCCESS");
        if (facebook)
            GAUtility::instance().GAFacebookLoginSuccessful();
        else
            GAUtility::instance().GALoginButtonSuccessfulLogin();
        qCInfo(lcAccounts) << "Existing user successfully logged in";
        return result;
    }

    qCWarning(lcAccounts) << "Error Loging In";
    // Only a status of this exchange decides: without one the service was not
    // reached, whatever an earlier exchange answered.
    if (!result.answered || result.status.isEmpty()) {
        result.outcome = SignInResult::Outcome::NoAnswer;
        result.answered = false;
        result.status = QStringLiteral("FAILED");
        result.message =
            Localization::localizedString(QStringLiteral("DeviceIdNotFoundServiceErrorMessage"));
    }
    if (facebook)
        GAUtility::instance().GAFacebookLoginFailed();
    else
        GAUtility::instance().GALoginButtonFailLogin();
    qCWarning(lcAccounts) << "Existing user failed to login";
    return result;
}
