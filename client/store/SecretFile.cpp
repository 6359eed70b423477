#include "SecretFile.h"

#include "settings/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace SecretFile {
namespace {

QJsonObject toObject(const AccountSecrets &secrets) {
    QJsonObject object;
    if (secrets.password)
        object.insert(QStringLiteral("password"), *secrets.password);
    if (secrets.facebookToken)
        object.insert(QStringLiteral("facebookToken"), *secrets.facebookToken);
    return object;
}

AccountSecrets fromObject(const QJsonObject &object) {
    AccountSecrets secrets;
    if (object.contains(QStringLiteral("password")))
        secrets.password = object.value(QStringLiteral("password")).toString();
    if (object.contains(QStringLiteral("facebookToken")))
        secrets.facebookToken = object.value(QStringLiteral("facebookToken")).toString();
    return secrets;
}

QJsonObject readAll(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool writeAll(const QString &path, const QJsonObject &entries) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    // Restrict the new file before a single secret byte is written to it.
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        qCWarning(lcStore).noquote()
            << "Could not write the secrets file" << path << ":" << file.errorString();
        return false;
    }
    file.write(QJsonDocument(entries).toJson(QJsonDocument::Compact));
    if (!file.commit()) {
        qCWarning(lcStore).noquote()
            << "Could not write the secrets file" << path << ":" << file.errorString();
        return false;
    }
    return true;
}

} // namespace

std::optional<AccountSecrets> read(const QString &path, const QString &key) {
    const QJsonObject entries = readAll(path);
    if (!entries.contains(key))
        return std::nullopt;
    return fromObject(entries.value(key).toObject());
}

bool write(const QString &path, const QString &key, const AccountSecrets &secrets) {
    QJsonObject entries = readAll(path);
    entries.insert(key, toObject(secrets));
    return writeAll(path, entries);
}

bool remove(const QString &path, const QString &key) {
    QJsonObject entries = readAll(path);
    if (!entries.contains(key))
        return true;
    entries.remove(key);
    return writeAll(path, entries);
}

QByteArray toJson(const AccountSecrets &secrets) {
    return QJsonDocument(toObject(secrets)).toJson(QJsonDocument::Compact);
}

AccountSecrets fromJson(const QByteArray &json) {
    return fromObject(QJsonDocument::fromJson(json).object());
}

} // namespace SecretFile
