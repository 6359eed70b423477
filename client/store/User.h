#pragma once

#include <QString>

#include <memory>
#include <optional>

// The signed-in account; the store holds at most one, with id "1".
// Detached while objectID is 0.
struct User {
    qint64 objectID = 0;
    bool isStored() const { return objectID != 0; }

    std::optional<QString> id;
    std::optional<QString> username;
    std::optional<QString> password;
    std::optional<QString> deviceId;
    std::optional<QString> facebookToken;
    std::optional<QString> firstName;
    std::optional<QString> lastName;
    std::optional<QString> gracenoteUser;
    std::optional<qint64> audioEncrypted;
    std::optional<qint64> authenticated;
    std::optional<qint64> firstLogin;
    std::optional<qint64> lastRequest;
    std::optional<QString> encryptionKey;

    bool operator==(const User &) const = default;
};

using UserPtr = std::shared_ptr<User>;
