#include "SecretKeyring.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QMap>

#include <qt6keychain/keychain.h>

#include <future>
#include <memory>

namespace {

const QString SecretsService = QStringLiteral("org.freedesktop.secrets");

using Attributes = QMap<QString, QString>;

} // namespace

SecretKeyring::SecretKeyring(QString service)
    : m_service(std::move(service)) {
    m_thread.setObjectName(QStringLiteral("sonarbox-secrets"));
    m_thread.start();
    m_jobParent.moveToThread(&m_thread);
}

SecretKeyring::~SecretKeyring() {
    m_thread.quit();
    m_thread.wait();
}

SecretKeyring::Answer SecretKeyring::read(const QString &key, std::chrono::milliseconds timeout) {
    Answer answer = run(Kind::Read, key, {}, timeout);
    return answer.outcome == Outcome::NotFound ? confirmNotFound(key, timeout) : answer;
}

SecretKeyring::Answer SecretKeyring::write(const QString &key, const QByteArray &data,
                                           std::chrono::milliseconds timeout) {
    return run(Kind::Write, key, data, timeout);
}

SecretKeyring::Answer SecretKeyring::remove(const QString &key, std::chrono::milliseconds timeout) {
    // A locked entry is not removed either, and is reported as not found.
    Answer answer = run(Kind::Delete, key, {}, timeout);
    return answer.outcome == Outcome::NotFound ? confirmNotFound(key, timeout) : answer;
}

SecretKeyring::Answer SecretKeyring::run(Kind kind, const QString &key, const QByteArray &data,
                                         std::chrono::milliseconds timeout) {
    auto promise = std::make_shared<std::promise<Answer>>();
    std::future<Answer> result = promise->get_future();
    const QString service = m_service;
    QMetaObject::invokeMethod(
        &m_jobParent,
        [kind, key, data, service, promise] {
            QKeychain::Job *job = nullptr;
            if (kind == Kind::Read) {
                job = new QKeychain::ReadPasswordJob(service);
            } else if (kind == Kind::Write) {
                auto *write = new QKeychain::WritePasswordJob(service);
                write->setBinaryData(data);
                job = write;
            } else {
                job = new QKeychain::DeletePasswordJob(service);
            }
            job->setAutoDelete(true);
            // Never the library's own clear-text fallback.
            job->setInsecureFallback(false);
            job->setKey(key);
            QObject::connect(job, &QKeychain::Job::finished, [kind, promise](QKeychain::Job *done) {
                Answer answer;
                answer.errorString = done->errorString();
                switch (done->error()) {
                case QKeychain::NoError:
                    answer.outcome = Outcome::Done;
                    if (kind == Kind::Read)
                        answer.data = static_cast<QKeychain::ReadPasswordJob *>(done)->binaryData();
                    break;
                case QKeychain::EntryNotFound:
                    answer.outcome = Outcome::NotFound;
                    break;
                case QKeychain::NoBackendAvailable:
                case QKeychain::NotImplemented:
                    answer.outcome = Outcome::Absent;
                    break;
                default:
                    answer.outcome = Outcome::NoAnswer;
                    break;
                }
                promise->set_value(answer);
            });
            job->start();
        },
        Qt::QueuedConnection);
    if (result.wait_for(timeout) != std::future_status::ready)
        return Answer{Outcome::NoAnswer, QStringLiteral("the keyring did not answer in time"), {}};
    return result.get();
}

SecretKeyring::Answer SecretKeyring::confirmNotFound(const QString &key,
                                                     std::chrono::milliseconds timeout) const {
    const Answer notFound{Outcome::NotFound, {}, {}};
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Without a secret service the answer came from another keyring, which
    // says "not found" only when it means it.
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(SecretsService))
        return notFound;
    static const auto registered = qDBusRegisterMetaType<Attributes>();
    Q_UNUSED(registered);
    QDBusMessage search = QDBusMessage::createMethodCall(
        SecretsService, QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("SearchItems"));
    // The attributes QtKeychain files its entries under.
    search << QVariant::fromValue(
        Attributes{{QStringLiteral("user"), key}, {QStringLiteral("server"), m_service}});
    const QDBusMessage reply = bus.call(search, QDBus::Block, int(timeout.count()));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return Answer{
            Outcome::NoAnswer,
            QStringLiteral("the secret service did not answer: %1").arg(reply.errorMessage()),
            {}};
    const auto locked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(1));
    if (!locked.isEmpty())
        return Answer{Outcome::NoAnswer, QStringLiteral("the keyring is locked"), {}};
    return notFound;
}

bool SecretKeyring::secretServiceOnBus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    if (bus.interface()->isServiceRegistered(SecretsService))
        return true;
    const QDBusMessage reply = bus.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames")));
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().toStringList().contains(SecretsService);
}
