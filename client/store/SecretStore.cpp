#include "SecretStore.h"

#include "StoreSetup.h"
#include "settings/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QThread>

#include <qt6keychain/keychain.h>

#include <chrono>
#include <future>

namespace {

constexpr auto KeychainTimeout = std::chrono::seconds(10);

QString keyFor(const QString &account) {
    // Every account has an entry, even one still without a user name.
    return account.isEmpty() ? QStringLiteral("(no user name)") : account;
}

QJsonObject toJson(const AccountSecrets &secrets) {
    QJsonObject object;
    if (secrets.password)
        object.insert(QStringLiteral("password"), *secrets.password);
    if (secrets.facebookToken)
        object.insert(QStringLiteral("facebookToken"), *secrets.facebookToken);
    return object;
}

AccountSecrets fromJson(const QJsonObject &object) {
    AccountSecrets secrets;
    if (object.contains(QStringLiteral("password")))
        secrets.password = object.value(QStringLiteral("password")).toString();
    if (object.contains(QStringLiteral("facebookToken")))
        secrets.facebookToken = object.value(QStringLiteral("facebookToken")).toString();
    return secrets;
}

// --- the fallback file: one JSON object, account -> secrets ---

QJsonObject readFallbackFile() {
    QFile file(SecretStore::fallbackFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool writeFallbackFile(const QJsonObject &entries) {
    const QString path = SecretStore::fallbackFilePath();
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

// The keychain jobs are asynchronous and need an event loop: they run on a
// thread of their own, and the caller waits for the answer.
class SecretStore::Keychain {
public:
    enum class Kind { Read, Write, Delete };
    struct Answer {
        QKeychain::Error error = QKeychain::OtherError;
        QString errorString;
        QByteArray data;
    };

    Keychain() {
        m_thread.setObjectName(QStringLiteral("sonarbox-secrets"));
        m_thread.start();
        m_jobParent.moveToThread(&m_thread);
    }
    ~Keychain() {
        m_thread.quit();
        m_thread.wait();
    }

    Answer run(Kind kind, const QString &key, const QByteArray &data = {}) {
        auto promise = std::make_shared<std::promise<Answer>>();
        std::future<Answer> answer = promise->get_future();
        QMetaObject::invokeMethod(
            &m_jobParent,
            [kind, key, data, promise] {
                QKeychain::Job *job = nullptr;
                if (kind == Kind::Read) {
                    job = new QKeychain::ReadPasswordJob(SecretStore::ServiceName);
                } else if (kind == Kind::Write) {
                    auto *write = new QKeychain::WritePasswordJob(SecretStore::ServiceName);
                    write->setBinaryData(data);
                    job = write;
                } else {
                    job = new QKeychain::DeletePasswordJob(SecretStore::ServiceName);
                }
                job->setAutoDelete(true);
                // Never the library's own clear-text fallback.
                job->setInsecureFallback(false);
                job->setKey(key);
                QObject::connect(
                    job, &QKeychain::Job::finished, [kind, promise](QKeychain::Job *done) {
                        Answer result;
                        result.error = done->error();
                        result.errorString = done->errorString();
                        if (kind == Kind::Read && done->error() == QKeychain::NoError)
                            result.data =
                                static_cast<QKeychain::ReadPasswordJob *>(done)->binaryData();
                        promise->set_value(result);
                    });
                job->start();
            },
            Qt::QueuedConnection);
        if (answer.wait_for(KeychainTimeout) != std::future_status::ready)
            return Answer{QKeychain::OtherError, QStringLiteral("the keychain did not answer"), {}};
        return answer.get();
    }

private:
    QThread m_thread;
    QObject m_jobParent;
};

SecretStore &SecretStore::instance() {
    static SecretStore store;
    return store;
}

SecretStore::SecretStore() = default;
SecretStore::~SecretStore() = default;

QString SecretStore::fallbackFilePath() {
    return StoreSetup::instance().applicationFilesDirectory() + QLatin1Char('/') + FallbackFileName;
}

void SecretStore::reset() {
    std::lock_guard lock(m_lock);
    m_backend.reset();
}

SecretStore::Backend SecretStore::backend() {
    std::lock_guard lock(m_lock);
    return chooseBackend();
}

SecretStore::Backend SecretStore::chooseBackend() {
    if (m_backend)
        return *m_backend;
    QString reason = QStringLiteral("there is no session bus");
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        if (!m_keychain) {
            m_keychain = std::make_unique<Keychain>();
            // The keychain thread stops with the application object.
            if (QCoreApplication::instance()) {
                qAddPostRoutine([] {
                    SecretStore &store = SecretStore::instance();
                    std::lock_guard lock(store.m_lock);
                    store.m_keychain.reset();
                    store.m_backend.reset();
                });
            }
        }
        // Only a keychain that can store and remove an entry will do.
        const QString probeKey = QStringLiteral("(probe)");
        const auto probe = m_keychain->run(Keychain::Kind::Write, probeKey, QByteArray("{}"));
        if (probe.error == QKeychain::NoError &&
            m_keychain->run(Keychain::Kind::Delete, probeKey).error == QKeychain::NoError) {
            m_backend = Backend::Keychain;
            qCInfo(lcStore).noquote()
                << QStringLiteral("Account secrets are kept in the desktop keychain (service %1).")
                       .arg(ServiceName);
            return *m_backend;
        }
        reason = probe.errorString;
    }
    m_backend = Backend::File;
    qCInfo(lcStore).noquote()
        << QStringLiteral("No desktop keychain answers (%1); account secrets are kept in %2, "
                          "readable only by this user.")
               .arg(reason, QDir::toNativeSeparators(fallbackFilePath()));
    return *m_backend;
}

AccountSecrets SecretStore::read(const QString &account) {
    std::lock_guard lock(m_lock);
    if (chooseBackend() == Backend::File)
        return fromJson(readFallbackFile().value(keyFor(account)).toObject());
    const auto answer = m_keychain->run(Keychain::Kind::Read, keyFor(account));
    if (answer.error == QKeychain::EntryNotFound)
        return {};
    if (answer.error != QKeychain::NoError) {
        qCWarning(lcStore).noquote()
            << "Could not read account secrets from the keychain:" << answer.errorString;
        return {};
    }
    return fromJson(QJsonDocument::fromJson(answer.data).object());
}

bool SecretStore::write(const QString &account, const AccountSecrets &secrets) {
    if (!secrets.password && !secrets.facebookToken)
        return remove(account);
    std::lock_guard lock(m_lock);
    if (chooseBackend() == Backend::File) {
        QJsonObject entries = readFallbackFile();
        entries.insert(keyFor(account), toJson(secrets));
        return writeFallbackFile(entries);
    }
    const auto answer =
        m_keychain->run(Keychain::Kind::Write, keyFor(account),
                        QJsonDocument(toJson(secrets)).toJson(QJsonDocument::Compact));
    if (answer.error != QKeychain::NoError) {
        qCWarning(lcStore).noquote()
            << "Could not write account secrets to the keychain:" << answer.errorString;
        return false;
    }
    return true;
}

bool SecretStore::remove(const QString &account) {
    std::lock_guard lock(m_lock);
    if (chooseBackend() == Backend::File) {
        QJsonObject entries = readFallbackFile();
        if (!entries.contains(keyFor(account)))
            return true;
        entries.remove(keyFor(account));
        return writeFallbackFile(entries);
    }
    const auto answer = m_keychain->run(Keychain::Kind::Delete, keyFor(account));
    if (answer.error != QKeychain::NoError && answer.error != QKeychain::EntryNotFound) {
        qCWarning(lcStore).noquote()
            << "Could not remove account secrets from the keychain:" << answer.errorString;
        return false;
    }
    return true;
}
