#include "JSONRequestBuilder.h"

#include "CommonRequest.h"
#include "SecretMasking.h"
#include "settings/Logging.h"
#include "settings/Utility.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QByteArray compact(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray indented(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

// Adds the member only when the value is present.
void insertIfPresent(QJsonObject &object, const QString &key, const std::optional<QString> &value) {
    if (value)
        object.insert(key, *value);
}

} // namespace

std::optional<QByteArray> JSONRequestBuilder::loginRequest(const ServiceClient &client,
                                                           const User &user) {
    if (user.facebookToken) {
        QJsonObject login{{QStringLiteral("accessToken"), *user.facebookToken},
                          {QStringLiteral("referrer"), QString()},
                          {QStringLiteral("inviteFriendKey"), QString()}};
        insertIfPresent(login, QStringLiteral("deviceId"), user.deviceId);
        return compact({{QStringLiteral("loginDesktopThroughFacebook"), login}});
    }
    if (!user.username || !user.password || !user.deviceId) {
        // The service cannot judge a login without these; sending one would
        // only produce a confusing refusal.
        qCWarning(lcService) << "Login request without user name, password or device id";
        return std::nullopt;
    }
    const QJsonObject login{{QStringLiteral("username"), *user.username},
                            {QStringLiteral("password"), *user.password},
                            {QStringLiteral("hashedPassword"), QString()},
                            {QStringLiteral("appId"), QStringLiteral("desktop")},
                            {QStringLiteral("deviceId"), *user.deviceId},
                            {QStringLiteral("signature"), getUserSignature(client, user)}};
    return compact({{QStringLiteral("loginDesktop"), login}});
}

std::optional<QByteArray> JSONRequestBuilder::buildRegisterUserRequest(const ServiceClient &client,
                                                                       const User &user) {
    QJsonObject registration;
    insertIfPresent(registration, QStringLiteral("firstName"), user.firstName);
    insertIfPresent(registration, QStringLiteral("lastName"), user.lastName);
    insertIfPresent(registration, QStringLiteral("username"), user.username);
    insertIfPresent(registration, QStringLiteral("password"), user.password);
    insertIfPresent(registration, QStringLiteral("passwordConfirmation"), user.password);
    insertIfPresent(registration, QStringLiteral("deviceId"), user.deviceId);
    registration.insert(QStringLiteral("REGISTERED_FROM_DESKTOP"), 1);
    registration.insert(QStringLiteral("signature"), getUserSignature(client, user));
    return indented({{QStringLiteral("registerWithErrorCodes"), registration}});
}

QByteArray JSONRequestBuilder::buildGetTokenRequest() {
    return indented({{QStringLiteral("getToken"), QString()}});
}

QByteArray JSONRequestBuilder::buildStatusObject(const QString &status, int tracksFound) {
    const QJsonObject update{{QStringLiteral("status"), status},
                             {QStringLiteral("tracksFound"), tracksFound}};
    return indented({{QStringLiteral("updateDeviceServiceStatus"), update}});
}

QByteArray JSONRequestBuilder::buildGetUserMediaRequest(qint64 milliseconds) {
    return compact({{QStringLiteral("milliseconds"), milliseconds},
                    {QStringLiteral("version"), QStringLiteral("1.0")}});
}

QByteArray JSONRequestBuilder::buildNewUserHandleForGracenote(const QString &handle) {
    return indented({{QStringLiteral("value"), handle}});
}

QByteArray
JSONRequestBuilder::buildMediaFromCatalogByChecksumOrFingerprint(const Audio &track,
                                                                 const QJsonArray &withGNResponse) {
    // The first result entry for this file supplies its first match, if any.
    std::optional<QJsonValue> trackInfo;
    for (const QJsonValue &entry : withGNResponse) {
        const QJsonValue input = entry.toObject().value(QStringLiteral("input"));
        if (!track.fileURL || !input.isString() || input.toString() != *track.fileURL)
            continue;
        const QJsonArray infos =
            entry.toObject().value(QStringLiteral("graceNoteTrackInfo")).toArray();
        if (!infos.isEmpty())
            trackInfo = infos.first();
        break;
    }
    QJsonObject body{{QStringLiteral("score"), 1},
                     {QStringLiteral("provider"), QStringLiteral("GRACENOTE")}};
    insertIfPresent(body, QStringLiteral("checksum"), track.checksum);
    if (track.fingerPrintID && *track.fingerPrintID != QLatin1String("-1"))
        body.insert(QStringLiteral("fingerprintId"), *track.fingerPrintID);
    if (trackInfo)
        body.insert(QStringLiteral("graceNoteTrackInfo"), *trackInfo);
    return indented(body);
}

QString JSONRequestBuilder::getUserToken(const ServiceClient &client, const UserPtr &user) {
    CommonRequest request(client);
    const std::optional<QByteArray> reply =
        // A token belongs to no session: the sign-in it signs makes the session.
        request.connect(RunContext{user, std::nullopt, QString()}, buildGetTokenRequest(),
                        QStringLiteral("getTokenProcess"));
    if (!reply)
        return NoToken;
    // The reply is a JSON string literal: the token is what stands between the
    // first two double quotes.
    const QList<QByteArray> pieces = reply->split('"');
    if (pieces.size() < 2)
        return NoToken;
    return QString::fromLatin1(pieces.at(1));
}

QString JSONRequestBuilder::getUserSignature(const ServiceClient &client, const User &user) {
    const QString token = getUserToken(client);
    const QString username = user.username.value_or(QString());
    const QString password = user.password.value_or(QString());
    const QString deviceId = user.deviceId.value_or(QString());
    qCInfo(lcService).noquote()
        << QStringLiteral("UNHASHED SIGNATURE: %1")
               .arg(QStringLiteral("Username:%1\nPassword:%2\nDeviceID:%3\nUserToken:%4")
                        .arg(username, SecretMasking::masked(password), deviceId,
                             SecretMasking::masked(token)));
    return Utility::getMD5FromString(username + password + deviceId + token);
}
