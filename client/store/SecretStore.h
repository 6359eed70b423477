#pragma once

#include <QHash>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class SecretKeyring;
class StoreSetup;

// An account's secrets: the password and the Facebook access token.
struct AccountSecrets {
    std::optional<QString> password;
    std::optional<QString> facebookToken;
    bool operator==(const AccountSecrets &) const = default;
};

// Keeps account secrets out of the store file: in the desktop keyring when
// one answers, otherwise in a file that only the user can read (mode 0600) in
// the store folder. Secrets are never logged. Every store has one of its own
// (StoreSetup::secrets()), with its own file and its own memory; the keyring
// entries are filed by account name.
//
// Reading asks the keyring, then the file; an entry in the file is moved into
// the keyring as soon as the keyring takes it (an entry lands in the file only
// while the keyring does not answer, so the file's is the newer one). Each
// account is read once per process and kept in memory; writes go through to
// the keyring or the file.
//
// A keyring that does not answer (locked, prompting, timed out) leaves the
// secrets it may hold unknown, never absent: saving the account without them
// keeps what is stored. The person is told once per process.
//
// Thread-safe. A call that reaches the keyring blocks for at most the
// keyring time-out.
class SecretStore {
public:
    enum class Backend { Keychain, File };

    // The keyring service name the entries are filed under.
    static inline const QString ServiceName = QStringLiteral("Sonarbox");
    // The fallback file, in the store folder.
    static inline const QString FallbackFileName = QStringLiteral("secrets.json");

    // The default store's secrets.
    static SecretStore &instance();

    // Where a save goes now: the keyring when it answers, else the file.
    Backend backend();
    // Forgets every secret kept in memory and what is known of the keyring,
    // as a new process would start.
    void reset();

    // The account's secrets (both absent when none are kept or they could
    // not be read).
    AccountSecrets read(const QString &account);
    // Whether the account's secrets could be read (false while the keyring
    // that may hold them did not answer).
    bool isKnown(const QString &account);
    // Replaces the account's secrets; absent ones are removed, unless they
    // could not be read. False on failure (logged).
    bool write(const QString &account, const AccountSecrets &secrets);
    // Removes the account's secrets from the keyring (when it answers) and the file.
    bool remove(const QString &account);

    // Shown once per process when the keyring does not answer (title, text);
    // called from any thread. Empty: the warning in the log only.
    using Notice = std::function<void(const QString &title, const QString &text)>;
    static void setLockedNotice(Notice notice);
    // How long one keyring call may take (10 s unless changed).
    static void setKeyringTimeout(std::chrono::milliseconds timeout);
    // How long a keyring that did not answer is left alone before it is asked
    // again (60 s unless changed): every question may block for the time-out.
    static void setSilentKeyringRetry(std::chrono::milliseconds wait);

    // The default store's fallback file.
    static QString fallbackFilePath();
    // This store's fallback file, in its folder.
    QString filePath() const;

    ~SecretStore();
    SecretStore(const SecretStore &) = delete;
    SecretStore &operator=(const SecretStore &) = delete;

private:
    friend class StoreSetup;
    enum class Keyring { Unchecked, Answers, Silent, Absent };
    struct Entry {
        AccountSecrets secrets;
        bool known = true;
        std::chrono::steady_clock::time_point askAgain{};
    };

    explicit SecretStore(const StoreSetup &setup);
    Keyring keyring();
    void keyringSilent(const QString &reason);
    AccountSecrets readFromBackends(const QString &account, bool *known);
    bool persist(const QString &account, const AccountSecrets &secrets);
    bool removeFromBackends(const QString &account);
    std::optional<Entry> cached(const QString &account);
    void remember(const QString &account, const Entry &entry);

    const StoreSetup &m_setup;
    std::mutex m_cacheLock; // the entries; never held during a keyring call
    QHash<QString, Entry> m_entries;
    QString m_entriesFile;    // the secrets file of the store folder the entries belong to
    std::mutex m_backendLock; // the keyring state, the keyring and the file
    Keyring m_keyring = Keyring::Unchecked;
    std::chrono::steady_clock::time_point m_askKeyringAgain{};
    bool m_told = false;
    std::unique_ptr<SecretKeyring> m_keychain;
};
