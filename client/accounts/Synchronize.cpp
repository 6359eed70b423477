#include "Synchronize.h"

#include "service/CommonRequest.h"
#include "service/JSONRecievedDataParser.h"
#include "service/JSONRequestBuilder.h"
#include "service/SecretMasking.h"
#include "settings/Localization.h"
#include "settings/Logging.h"

#include <QHash>
#include <QJsonDocument>

namespace {

struct Refusal {
    const char *messageKey; // nullptr: the message stays unset
};

// Service statuses that refuse a sign-in, with the message each one shows.
// Any other status, or none, signs the user in; an answer that is not a JSON
// object at all (an error page, another server on the address) does not.
const QHash<QString, Refusal> &refusals() {
    static const QHash<QString, Refusal> table = {
        {QStringLiteral("FAILED_FACEBOOK_AUTHENTICATION"),
         {"facebook_account_deauthorized_message"}},
        {QStringLiteral("DEVICE_ID_NOT_FOUND"), {"DeviceIdNotFoundServiceErrorMessage"}},
        {QStringLiteral("INVALID_DEVICE_ID"), {"DesktopLimitErrorMessage"}},
        {QStringLiteral("REGISTER_TO_APPLICATION_FIRST"), {"register_before_login_message"}},
        {QStringLiteral("FAILED_CREDENTIALS_MISSING"), {"AuthenticationError"}},
        {QStringLiteral("FAILED_INVALID_EMAIL"), {"AuthenticationError"}},
        {QStringLiteral("FAILED_USER_EXISTS"), {nullptr}},
        {QStringLiteral("FAILED"), {"AuthenticationError"}},
    };
    return table;
}

} // namespace

SignInResult Synchronize::login(const ServiceClient &client, const UserPtr &user,
                                const RunContext &context) {
    SignInResult result;
    result.user = user;
    result.session = context;
    result.session.account = user;
    if (!user)
        return result;

    CommonRequest request(client);
    const std::optional<QByteArray> reply =
        request.connect(result.session, JSONRequestBuilder::loginRequest(client, *user),
                        QStringLiteral("userLoginProcess"));
    if (const std::optional<QString> session = request.receivedSession()) {
        result.session.session = session;
        result.newSession = true;
    }
    if (request.error()) {
        // "%c" of the flag: the character whose code is the flag's value (1), as
        // the line has always been written; not the digit.
        qCWarning(lcAccounts).noquote()
            << QStringLiteral("Synchronize.login request.error=TRUE | Error: %1")
                   .arg(QChar(char16_t(request.error())));
        return result;
    }
    if (!QJsonDocument::fromJson(reply.value_or(QByteArray())).isObject()) {
        qCWarning(lcAccounts).noquote()
            << QStringLiteral("The answer to the sign-in is not the service's: not signed in");
        return result;
    }
    JSONRecievedDataParser::parseJSONResponse(reply.value_or(QByteArray()), &result.status);
    result.answered = true;
    const auto refusal = refusals().constFind(result.status);
    if (refusal != refusals().constEnd()) {
        result.outcome = SignInResult::Outcome::Refused;
        if (refusal->messageKey)
            result.message =
                Localization::localizedString(QString::fromLatin1(refusal->messageKey));
        return result;
    }
    result.outcome = SignInResult::Outcome::SignedIn;
    if (result.status == QLatin1String("SUCCESS")) {
        qCInfo(lcAccounts).noquote()
            << QStringLiteral("User Valid | JSESSION ID: %1")
                   .arg(SecretMasking::masked(result.session.session.value_or(QString())));
    }
    return result;
}
