#include "Synchronize.h"

#include "service/CommonRequest.h"
#include "service/JSONRecievedDataParser.h"
#include "service/JSONRequestBuilder.h"
#include "service/SecretMasking.h"
#include "settings/Localization.h"
#include "settings/Logging.h"
#include "sync/Sonarbox.h"

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

bool Synchronize::login(const UserPtr &user, QObject * /*view*/) {
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.setSyncMessage(QString());
    if (!user)
        return false;

    CommonRequest request;
    const RunContext context{user, sonarbox.jSessionID(), sonarbox.deviceID()};
    const std::optional<QByteArray> reply = request.connect(
        context, JSONRequestBuilder::loginRequest(*user), QStringLiteral("userLoginProcess"));
    if (const std::optional<QString> session = request.receivedSession())
        sonarbox.setJSessionID(session);
    if (request.error()) {
        // "%c" of the flag: the character whose code is the flag's value (1), as
        // the line has always been written; not the digit.
        qCWarning(lcAccounts).noquote()
            << QStringLiteral("Synchronize.login request.error=TRUE | Error: %1")
                   .arg(QChar(char16_t(request.error())));
        return false;
    }
    if (!QJsonDocument::fromJson(reply.value_or(QByteArray())).isObject()) {
        qCWarning(lcAccounts).noquote()
            << QStringLiteral("The answer to the sign-in is not the service's: not signed in");
        return false;
    }
    QString status;
    JSONRecievedDataParser::parseJSONResponse(reply.value_or(QByteArray()), &status);
    sonarbox.setReplyStatus(status);
    const auto refusal = refusals().constFind(status);
    if (refusal != refusals().constEnd()) {
        if (refusal->messageKey)
            sonarbox.setSyncMessage(
                Localization::localizedString(QString::fromLatin1(refusal->messageKey)));
        return false;
    }
    if (status == QLatin1String("SUCCESS")) {
        qCInfo(lcAccounts).noquote()
            << QStringLiteral("User Valid | JSESSION ID: %1")
                   .arg(SecretMasking::masked(sonarbox.jSessionID().value_or(QString())));
    }
    return true;
}

bool Synchronize::getUserMediaFromCloud(QString *whyNot) {
    return getUserMediaFromCloud(Sonarbox::instance().runContext(), whyNot);
}

bool Synchronize::getUserMediaFromCloud(const RunContext &context, QString *whyNot) {
    Sonarbox &sonarbox = Sonarbox::instance();
    bool refused = false;
    QString why;
    std::optional<JSONRecievedDataParser::CloudListing> listing =
        listCloudMedia(context, sonarbox.syncMilliSeconds(), &why, &refused);
    if (!listing) {
        if (whyNot)
            *whyNot = why;
        if (refused)
            sonarbox.stopSyncBecause(why);
        return false;
    }
    sonarbox.setSyncMilliSeconds(listing->milliseconds);
    sonarbox.setCloudLibraryTracks(listing->tracks);
    return true;
}

std::optional<JSONRecievedDataParser::CloudListing>
Synchronize::listCloudMedia(const RunContext &context, qint64 since, QString *whyNot,
                            bool *refused) {
    const auto failed = [&](const QString &why) {
        qCWarning(lcAccounts).noquote()
            << QStringLiteral("Cloud library listing failed: %1").arg(why);
        if (whyNot)
            *whyNot = why;
        return std::nullopt;
    };
    CommonRequest request;
    const std::optional<QByteArray> reply =
        request.connect(context, JSONRequestBuilder::buildGetUserMediaRequest(since),
                        QStringLiteral("getUserContentProcess"));
    if (!reply) {
        const QString detail = request.errorString();
        return failed(
            detail.isEmpty()
                ? QStringLiteral("the cloud library could not be fetched")
                : QStringLiteral("the cloud library could not be fetched (%1)").arg(detail));
    }
    // A listing can be large: read once, its tracks made as it is read.
    JSONRecievedDataParser::ListingReply listing =
        JSONRecievedDataParser::parseListingReply(*reply);
    Sonarbox::instance().setReplyStatus(listing.status);
    if (!listing.answered)
        return failed(
            QStringLiteral("the service answered the cloud library listing without a status"));
    if (listing.status == QLatin1String("OK"))
        return std::move(listing.listing);
    const QString refusal = QStringLiteral("Missing login session, please logout and log back in.");
    qCWarning(lcAccounts).noquote() << refusal;
    if (whyNot)
        *whyNot = refusal;
    if (refused)
        *refused = true;
    return std::nullopt;
}
