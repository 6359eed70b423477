#include "SecretMasking.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace SecretMasking {

namespace {

bool isSecretKey(const QString &key) {
    static const QSet<QString> secrets = {
        QStringLiteral("password"),
        QStringLiteral("passwordConfirmation"),
        QStringLiteral("hashedPassword"),
        QStringLiteral("signature"),
        QStringLiteral("accessToken"),
        QStringLiteral("facebookToken"),
        QStringLiteral("token"),
        QStringLiteral("getToken"),
        QStringLiteral("gracenoteUser"),
        QStringLiteral("jsessionid"),
        QStringLiteral("JSESSIONID"),
        // The recognition user handle travels as {"value": …}; it is a credential.
        QStringLiteral("value"),
    };
    return secrets.contains(key);
}

QJsonValue maskedLeaf(const QJsonValue &value) {
    if (value.isString())
        return masked(value.toString());
    if (value.isNull() || value.isUndefined())
        return value;
    return QStringLiteral("********");
}

QString cut(const QString &text, qsizetype fullSize) {
    if (text.size() <= MaximumLoggedBody)
        return text;
    return text.left(MaximumLoggedBody) + QStringLiteral("… (%1 bytes in all)").arg(fullSize);
}

} // namespace

QString masked(const QString &secret) {
    return secret.isEmpty() ? secret : QStringLiteral("********");
}

QJsonValue maskedJson(const QJsonValue &value) {
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            *it = isSecretKey(it.key()) ? maskedLeaf(*it) : maskedJson(*it);
        return object;
    }
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        for (auto it = array.begin(); it != array.end(); ++it)
            *it = maskedJson(*it);
        return array;
    }
    return value;
}

QString bodyForLog(const QByteArray &body) {
    // Listings can be large; a log line is no place for them.
    if (body.size() > 256 * 1024)
        return QStringLiteral("(%1 bytes, not shown)").arg(body.size());
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error == QJsonParseError::NoError && !document.isNull()) {
        const QJsonValue masked = maskedJson(document.isObject() ? QJsonValue(document.object())
                                                                 : QJsonValue(document.array()));
        const QJsonDocument out =
            masked.isObject() ? QJsonDocument(masked.toObject()) : QJsonDocument(masked.toArray());
        return cut(QString::fromUtf8(out.toJson(QJsonDocument::Indented)).trimmed(), body.size());
    }
    return cut(QString::fromUtf8(body.left(MaximumLoggedBody * 4)), body.size());
}

QString describe(const User &user) {
    return QStringLiteral("id: %1, username: %2, deviceId: %3, password: %4, facebookToken: %5")
        .arg(user.id.value_or(QString()), user.username.value_or(QString()),
             user.deviceId.value_or(QString()), masked(user.password.value_or(QString())),
             masked(user.facebookToken.value_or(QString())));
}

} // namespace SecretMasking
