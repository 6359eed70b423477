#pragma once

#include "SecretStore.h"

#include <QString>

#include <optional>

// The fallback for account secrets where no desktop keyring takes them: one
// JSON file (account -> secrets) that only the user can read (mode 0600).
// Not thread-safe: the SecretStore serialises every use.
namespace SecretFile {

// The entry of the account, or nothing when the file holds none.
std::optional<AccountSecrets> read(const QString &path, const QString &key);
// Replaces the account's entry; false on failure (logged).
bool write(const QString &path, const QString &key, const AccountSecrets &secrets);
// Removes the account's entry; true when the file no longer holds one.
bool remove(const QString &path, const QString &key);

// The JSON form of the secrets, as the file and the keyring keep them.
QByteArray toJson(const AccountSecrets &secrets);
AccountSecrets fromJson(const QByteArray &json);

} // namespace SecretFile
