#pragma once

#include <QString>

#include <memory>
#include <mutex>
#include <optional>

// An account's secrets: the password and the Facebook access token.
struct AccountSecrets {
    std::optional<QString> password;
    std::optional<QString> facebookToken;
    bool operator==(const AccountSecrets &) const = default;
};

// Keeps account secrets out of the store file: in the desktop keychain (the
// freedesktop secret service) when one answers, otherwise in a file that only
// the user can read (mode 0600) in the store folder. The choice is made on
// first use and logged once. Secrets are never logged.
//
// Thread-safe; calls block until the keychain answers (bounded by a time-out).
class SecretStore {
public:
    enum class Backend { Keychain, File };

    // The keychain service name the entries are filed under.
    static inline const QString ServiceName = QStringLiteral("Sonarbox");
    // The fallback file, in the store folder.
    static inline const QString FallbackFileName = QStringLiteral("secrets.json");

    static SecretStore &instance();

    // The backend in use, choosing it on first use.
    Backend backend();
    // Forgets the choice: the next use probes the keychain again.
    void reset();

    // The account's secrets (both absent when none are kept).
    AccountSecrets read(const QString &account);
    // Replaces the account's secrets; absent ones are removed. False on failure (logged).
    bool write(const QString &account, const AccountSecrets &secrets);
    // Removes the account's secrets.
    bool remove(const QString &account);

    // The fallback file's path.
    static QString fallbackFilePath();

    ~SecretStore();

private:
    SecretStore();
    class Keychain;
    Backend chooseBackend();
    std::mutex m_lock;
    std::optional<Backend> m_backend;
    std::unique_ptr<Keychain> m_keychain;
};
