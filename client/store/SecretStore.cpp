#include "SecretStore.h"

#include "SecretFile.h"
#include "SecretKeyring.h"
#include "StoreSetup.h"
#include "settings/Logging.h"

#include <QCoreApplication>
#include <QDir>

#include <atomic>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::mutex g_optionsLock;
SecretStore::Notice g_notice;
bool g_noticeShown = false; // the person hears of a silent keyring once, whatever the stores
std::chrono::milliseconds g_timeout = 10s;
std::chrono::milliseconds g_retry = 60s;

std::chrono::milliseconds keyringTimeout() {
    std::lock_guard lock(g_optionsLock);
    return g_timeout;
}

Clock::time_point askSilentKeyringAgain() {
    std::lock_guard lock(g_optionsLock);
    return Clock::now() + g_retry;
}

QString keyFor(const QString &account) {
    // Every account has an entry, even one still without a user name.
    return account.isEmpty() ? QStringLiteral("(no user name)") : account;
}

bool isEmpty(const AccountSecrets &secrets) {
    return !secrets.password && !secrets.facebookToken;
}

// The stores alive, for the keyrings to close with the application object.
std::mutex g_liveLock;
std::vector<SecretStore *> g_live;
std::atomic<bool> g_closeKeyringsAdded{false};

} // namespace

SecretStore &SecretStore::instance() {
    return StoreSetup::instance().secrets();
}

SecretStore::SecretStore(const StoreSetup &setup)
    : m_setup(setup) {
    std::lock_guard lock(g_liveLock);
    g_live.push_back(this);
}

SecretStore::~SecretStore() {
    std::lock_guard lock(g_liveLock);
    std::erase(g_live, this);
}

void SecretStore::setLockedNotice(Notice notice) {
    std::lock_guard lock(g_optionsLock);
    g_notice = std::move(notice);
}

void SecretStore::setKeyringTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard lock(g_optionsLock);
    g_timeout = timeout;
}

void SecretStore::setSilentKeyringRetry(std::chrono::milliseconds wait) {
    std::lock_guard lock(g_optionsLock);
    g_retry = wait;
}

QString SecretStore::fallbackFilePath() {
    return instance().filePath();
}

QString SecretStore::filePath() const {
    return m_setup.applicationFilesDirectory() + QLatin1Char('/') + FallbackFileName;
}

void SecretStore::reset() {
    {
        std::lock_guard lock(m_backendLock);
        m_keyring = Keyring::Unchecked;
        m_told = false;
    }
    {
        std::lock_guard lock(g_optionsLock);
        g_noticeShown = false;
    }
    std::lock_guard lock(m_cacheLock);
    m_entries.clear();
}

SecretStore::Backend SecretStore::backend() {
    std::lock_guard lock(m_backendLock);
    return keyring() == Keyring::Answers ? Backend::Keychain : Backend::File;
}

std::optional<SecretStore::Entry> SecretStore::cached(const QString &account) {
    const QString file = filePath();
    std::lock_guard lock(m_cacheLock);
    // Another store folder (tools and tests switch) has secrets of its own.
    if (file != m_entriesFile) {
        m_entries.clear();
        m_entriesFile = file;
    }
    const auto found = m_entries.constFind(account);
    if (found == m_entries.constEnd())
        return std::nullopt;
    return *found;
}

void SecretStore::remember(const QString &account, const Entry &entry) {
    const QString file = filePath();
    std::lock_guard lock(m_cacheLock);
    if (file != m_entriesFile) {
        m_entries.clear();
        m_entriesFile = file;
    }
    m_entries.insert(account, entry);
}

// The backend lock is held by the callers of everything below.

SecretStore::Keyring SecretStore::keyring() {
    if (m_keyring == Keyring::Answers || m_keyring == Keyring::Absent)
        return m_keyring;
    if (m_keyring == Keyring::Silent && Clock::now() < m_askKeyringAgain)
        return m_keyring;

    QString reason = QStringLiteral("there is no session bus");
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        if (!m_keychain) {
            m_keychain = std::make_unique<SecretKeyring>(ServiceName);
            // The keyrings' threads stop with the application object.
            if (QCoreApplication::instance() && !g_closeKeyringsAdded.exchange(true)) {
                qAddPostRoutine([] {
                    g_closeKeyringsAdded = false;
                    std::lock_guard stores(g_liveLock);
                    for (SecretStore *store : g_live) {
                        std::lock_guard lock(store->m_backendLock);
                        store->m_keychain.reset();
                        store->m_keyring = Keyring::Unchecked;
                    }
                });
            }
        }
        // Only a keyring that can store and remove an entry will do.
        const QString probeKey = QStringLiteral("(probe)");
        const auto probe = m_keychain->write(probeKey, QByteArray("{}"), keyringTimeout());
        if (probe.outcome == SecretKeyring::Outcome::Done &&
            m_keychain->remove(probeKey, keyringTimeout()).outcome !=
                SecretKeyring::Outcome::NoAnswer) {
            m_keyring = Keyring::Answers;
            qCInfo(lcStore).noquote()
                << QStringLiteral("Account secrets are kept in the desktop keychain (service %1).")
                       .arg(ServiceName);
            return m_keyring;
        }
        // A secret service that is there but refuses (locked) or stays
        // silent holds secrets nobody may take for absent.
        if (probe.outcome != SecretKeyring::Outcome::Absent &&
            SecretKeyring::secretServiceOnBus()) {
            keyringSilent(probe.errorString);
            return m_keyring;
        }
        reason = probe.errorString;
    }
    m_keyring = Keyring::Absent;
    qCInfo(lcStore).noquote()
        << QStringLiteral("No desktop keychain answers (%1); account secrets are kept in %2, "
                          "readable only by this user.")
               .arg(reason, QDir::toNativeSeparators(filePath()));
    return m_keyring;
}

void SecretStore::keyringSilent(const QString &reason) {
    m_keyring = Keyring::Silent;
    m_askKeyringAgain = askSilentKeyringAgain();
    if (m_told)
        return;
    m_told = true;
    qCWarning(lcStore).noquote()
        << QStringLiteral("The desktop keyring is locked or does not answer (%1): the account "
                          "secrets it holds stay there untouched, and new ones are kept in %2, "
                          "readable only by this user, until it answers.")
               .arg(reason, QDir::toNativeSeparators(filePath()));
    Notice notice;
    {
        std::lock_guard lock(g_optionsLock);
        if (!g_noticeShown)
            notice = g_notice;
        g_noticeShown = g_noticeShown || notice;
    }
    if (notice) {
        notice(QStringLiteral("Your keyring is locked"),
               QStringLiteral("Unlock your desktop keyring so that Sonarbox can use your saved "
                              "sign-in."));
    }
}

AccountSecrets SecretStore::readFromBackends(const QString &account, bool *known) {
    const QString key = keyFor(account);
    const QString path = filePath();
    std::optional<AccountSecrets> inKeyring;
    bool keyringKnows = false;
    const Keyring state = keyring();
    if (state == Keyring::Answers) {
        const auto answer = m_keychain->read(key, keyringTimeout());
        if (answer.outcome == SecretKeyring::Outcome::Done)
            inKeyring = SecretFile::fromJson(answer.data);
        if (answer.outcome == SecretKeyring::Outcome::NoAnswer)
            keyringSilent(answer.errorString);
        else
            keyringKnows = true;
    } else {
        keyringKnows = state == Keyring::Absent;
    }

    *known = true;
    if (const auto inFile = SecretFile::read(path, key)) {
        // Written there while the keyring did not answer: newer than a copy
        // in the keyring, and moved into it now that it answers.
        if (m_keyring == Keyring::Answers) {
            const auto moved =
                m_keychain->write(key, SecretFile::toJson(*inFile), keyringTimeout());
            if (moved.outcome == SecretKeyring::Outcome::Done) {
                if (SecretFile::remove(path, key))
                    qCInfo(lcStore) << "Account secrets moved from the secrets file into the "
                                       "desktop keychain.";
            } else {
                keyringSilent(moved.errorString);
            }
        }
        return *inFile;
    }
    if (inKeyring)
        return *inKeyring;
    *known = keyringKnows;
    return {};
}

bool SecretStore::persist(const QString &account, const AccountSecrets &secrets) {
    const QString key = keyFor(account);
    const QString path = filePath();
    if (keyring() == Keyring::Answers) {
        const auto answer = m_keychain->write(key, SecretFile::toJson(secrets), keyringTimeout());
        // An older copy left in the file would win over this one later.
        if (answer.outcome == SecretKeyring::Outcome::Done)
            return SecretFile::remove(path, key);
        keyringSilent(answer.errorString);
    }
    return SecretFile::write(path, key, secrets);
}

bool SecretStore::removeFromBackends(const QString &account) {
    const QString key = keyFor(account);
    bool removed = true;
    const Keyring state = keyring();
    if (state == Keyring::Answers) {
        const auto answer = m_keychain->remove(key, keyringTimeout());
        if (answer.outcome == SecretKeyring::Outcome::NoAnswer) {
            keyringSilent(answer.errorString);
            removed = false;
        }
    } else if (state == Keyring::Silent) {
        removed = false;
    }
    if (!removed) {
        qCWarning(lcStore) << "Account secrets could not be removed from the desktop keyring: it "
                              "does not answer.";
    }
    return SecretFile::remove(filePath(), key) && removed;
}

// ---- the public operations

AccountSecrets SecretStore::read(const QString &account) {
    const auto usable = [](const std::optional<Entry> &entry) {
        return entry && (entry->known || Clock::now() < entry->askAgain);
    };
    if (const auto entry = cached(account); usable(entry))
        return entry->secrets;
    std::lock_guard lock(m_backendLock);
    if (const auto entry = cached(account); usable(entry))
        return entry->secrets;
    bool known = true;
    const AccountSecrets secrets = readFromBackends(account, &known);
    remember(account, Entry{secrets, known, askSilentKeyringAgain()});
    return secrets;
}

bool SecretStore::isKnown(const QString &account) {
    const auto entry = cached(account);
    return !entry || entry->known;
}

bool SecretStore::write(const QString &account, const AccountSecrets &secrets) {
    const auto entry = cached(account);
    if (isEmpty(secrets)) {
        if (entry && !entry->known) {
            qCInfo(lcStore) << "Account secrets that could not be read are kept as they are.";
            return true;
        }
        return remove(account);
    }
    if (entry && entry->known && entry->secrets == secrets)
        return true;
    std::lock_guard lock(m_backendLock);
    remember(account, Entry{secrets, true, {}});
    return persist(account, secrets);
}

bool SecretStore::remove(const QString &account) {
    std::lock_guard lock(m_backendLock);
    remember(account, Entry{{}, true, {}});
    return removeFromBackends(account);
}
