#include "SignUpFlow.h"

#include "service/CommonRequest.h"
#include "service/JSONRecievedDataParser.h"
#include "service/JSONRequestBuilder.h"
#include "settings/Localization.h"
#include "settings/Logging.h"
#include "settings/Utility.h"

std::optional<QString> SignUpFlow::validateFields(const Fields &fields) {
    const QString email = fields.email.trimmed();
    const QString password = fields.password.trimmed();
    const QString confirm = fields.passwordConfirm.trimmed();
    if (email.isEmpty())
        return QStringLiteral("email_empty_message");
    if (!Utility::isValidEmail(email))
        return QStringLiteral("invalid_email_message");
    if (fields.firstName.trimmed().isEmpty())
        return QStringLiteral("first_name_empty_message");
    if (fields.lastName.trimmed().isEmpty())
        return QStringLiteral("last_name_empty_message");
    if (password.isEmpty())
        return QStringLiteral("password_empty_message");
    if (confirm != password)
        return QStringLiteral("password_is_not_the_same_message");
    if (password.size() <= 2)
        return QStringLiteral("password_minimum_size_message");
    if (!fields.termsAccepted)
        return QStringLiteral("InAdvance_CheckLicensesAndConditions");
    return std::nullopt;
}

UserPtr SignUpFlow::newUser(const Fields &fields, const QString &deviceID) {
    auto user = std::make_shared<User>();
    user->id = QStringLiteral("1");
    user->deviceId = deviceID;
    user->username = fields.email;
    user->firstName = fields.firstName;
    user->lastName = fields.lastName;
    user->password = fields.password;
    return user;
}

SignUpFlow::Registration SignUpFlow::registerUser(const ServiceClient &client, const UserPtr &user,
                                                  const RunContext &context) {
    Registration registration;
    CommonRequest request(client);
    RunContext sent = context;
    sent.account = user;
    const std::optional<QByteArray> reply =
        request.connect(sent, JSONRequestBuilder::buildRegisterUserRequest(client, *user),
                        QStringLiteral("signUpUserProcess"));
    if (request.error() || !reply) {
        // Without an answer nothing was created: saying so beats letting the
        // following sign-in fail with a message about something else.
        qCWarning(lcAccounts) << "Sign-up request failed: the service could not be reached";
        registration.status =
            Localization::localizedString(QStringLiteral("DeviceIdNotFoundServiceErrorMessage"));
        return registration;
    }
    std::optional<QString> status;
    registration.accepted = JSONRecievedDataParser::parseJSONResponseFromSignUp(*reply, &status);
    if (status) {
        registration.answered = true;
        registration.status = *status;
    }
    qCInfo(lcAccounts).noquote()
        << (registration.accepted ? QStringLiteral("Sign-up accepted")
                                  : QStringLiteral("Sign-up refused: %1").arg(registration.status));
    return registration;
}
