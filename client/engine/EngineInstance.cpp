#include "EngineInstance.h"

#include "settings/Logging.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace {

const QString kLockFileName = QStringLiteral("sonarbox.lock");
// A command line longer than this is not one of ours.
constexpr qint64 kMaximumLine = 4096;

// The same store reached through another spelling of its path is the same store.
QString canonicalFolder(const QString &folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(folder).absoluteFilePath()) : canonical;
}

} // namespace

EngineInstance::EngineInstance(const QString &storeFolder, QObject *parent)
    : QObject(parent)
    , m_storeFolder(storeFolder)
    , m_lock(lockFilePath(storeFolder)) {
    // Only a dead holder makes the lock stale, never its age: an engine
    // runs for weeks.
    m_lock.setStaleLockTime(0);
}

EngineInstance::~EngineInstance() {
    if (m_server) {
        m_server->close();
        m_server.reset();
    }
    if (m_held)
        m_lock.unlock();
}

QString EngineInstance::lockFilePath(const QString &storeFolder) {
    return storeFolder + QLatin1Char('/') + kLockFileName;
}

QString EngineInstance::socketPath(const QString &storeFolder) {
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = QDir::tempPath();
    const QByteArray digest =
        QCryptographicHash::hash(canonicalFolder(storeFolder).toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    return runtime + QStringLiteral("/sonarbox-") + QString::fromLatin1(digest);
}

bool EngineInstance::acquire(QString *error) {
    if (m_held)
        return true;
    QDir().mkpath(m_storeFolder);
    if (!m_lock.tryLock(0)) {
        if (error) {
            *error = m_lock.error() == QLockFile::LockFailedError
                         ? busyMessage()
                         : QStringLiteral("The lock file %1 could not be written.")
                               .arg(lockFilePath(m_storeFolder));
        }
        return false;
    }
    m_held = true;

    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString path = socketPath(m_storeFolder);
    // Whoever listened there before is gone: the lock was free.
    QLocalServer::removeServer(path);
    if (!m_server->listen(path)) {
        // The store is ours all the same; only a later start cannot reach us.
        qCWarning(lcSync).noquote()
            << QStringLiteral("The instance socket %1 could not be opened: %2")
                   .arg(path, m_server->errorString());
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, &EngineInstance::onConnection);
    return true;
}

std::optional<EngineInstance::Holder> EngineInstance::holder() const {
    qint64 pid = 0;
    QString host;
    QString program;
    if (!m_lock.getLockInfo(&pid, &host, &program))
        return std::nullopt;
    return Holder{pid, program};
}

QString EngineInstance::busyMessage() const {
    const std::optional<Holder> who = holder();
    const QString by = who ? QStringLiteral("%1 (process %2)").arg(who->program).arg(who->pid)
                           : QStringLiteral("another program");
    return QStringLiteral("The store %1 is in use by %2: one Sonarbox engine per store.")
        .arg(m_storeFolder, by);
}

void EngineInstance::setHandler(const QString &command, Handler handler) {
    m_handlers.insert(command, std::move(handler));
}

void EngineInstance::onConnection() {
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(socket); });
        if (socket->bytesAvailable() > 0)
            answer(socket);
    }
}

void EngineInstance::answer(QLocalSocket *socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaximumLine)
            socket->disconnectFromServer();
        return;
    }
    const QString line = QString::fromUtf8(socket->readLine(kMaximumLine)).trimmed();
    const qsizetype space = line.indexOf(QLatin1Char(' '));
    const QString command = space < 0 ? line : line.left(space);
    const QString argument = space < 0 ? QString() : line.mid(space + 1);
    const auto handler = m_handlers.constFind(command);
    const QString reply = handler == m_handlers.constEnd()
                              ? QStringLiteral("error unknown command %1").arg(command)
                              : (*handler)(argument);
    qCInfo(lcSync).noquote() << QStringLiteral("Instance command \"%1\": %2").arg(command, reply);
    socket->write(reply.toUtf8() + '\n');
    socket->flush();
    socket->disconnectFromServer();
}

std::optional<QString> EngineInstance::send(const QString &storeFolder, const QString &command,
                                            int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    // The holder may have taken the lock a moment ago and not be listening yet.
    for (;;) {
        socket.connectToServer(socketPath(storeFolder));
        if (socket.waitForConnected(int(qMax<qint64>(deadline.remainingTime(), 0))))
            break;
        if (deadline.hasExpired())
            return std::nullopt;
        QThread::msleep(50);
    }
    socket.write(command.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(int(qMax<qint64>(deadline.remainingTime(), 1))))
        return std::nullopt;
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() ||
            !socket.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1))))
            return std::nullopt;
    }
    return QString::fromUtf8(socket.readLine(kMaximumLine)).trimmed();
}
