#include "ScriptedServer.h"

#include "TestEnvironment.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace scripted {

std::optional<QByteArray> Request::header(const QByteArray &name) const {
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

QList<QByteArray> Request::headerNames() const {
    QList<QByteArray> names;
    for (const auto &header : headers)
        names << header.first;
    return names;
}

Reply Reply::json(const QByteArray &body, int status) {
    Reply reply;
    reply.status = status;
    reply.body = body;
    reply.headers = {{"Content-Type", "application/json"}};
    return reply;
}

namespace {

// Parses one complete request from the front of `buffer`, removing it.
std::optional<Request> takeRequest(QByteArray &buffer) {
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return std::nullopt;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    Request request;
    const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
    request.method = start.value(0);
    request.target = start.value(1);
    qsizetype length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        QByteArray value = line.mid(colon + 1);
        if (value.endsWith('\r'))
            value.chop(1);
        if (value.startsWith(' '))
            value.remove(0, 1);
        request.headers.append({line.left(colon), value});
        if (line.left(colon).compare("Content-Length", Qt::CaseInsensitive) == 0)
            length = value.trimmed().toLongLong();
    }
    if (buffer.size() < end + 4 + length)
        return std::nullopt;
    request.body = buffer.mid(end + 4, length);
    buffer.remove(0, end + 4 + length);
    return request;
}

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

class Server::Worker : public QTcpServer {
public:
    explicit Worker(Server *owner)
        : m_owner(owner) {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                serve(socket);
        });
    }

private:
    void serve(QTcpSocket *socket) {
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            while (const std::optional<Request> request = takeRequest(*buffer)) {
                m_owner->record(*request);
                respond(socket, m_owner->answer(*request));
            }
        });
    }

    void respond(QTcpSocket *socket, const Reply &reply) {
        if (reply.mode == Reply::Mode::NeverAnswer)
            return;
        if (reply.mode == Reply::Mode::Close) {
            socket->abort();
            return;
        }
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' +
                          reasonPhrase(reply.status) + "\r\n";
        for (const auto &[name, value] : reply.headers)
            head += name + ": " + value + "\r\n";
        if (reply.withContentLength)
            head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        head += "Connection: close\r\n\r\n";
        socket->write(head);
        socket->write(reply.body);
        socket->disconnectFromHost();
    }

    Server *m_owner;
};

Server::Server(Handler handler)
    : m_handler(std::move(handler)) {
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            m_worker = new Worker(this);
            m_worker->listen(QHostAddress::LocalHost, 0);
            m_port = m_worker->serverPort();
        },
        Qt::BlockingQueuedConnection);
}

Server::~Server() {
    QMetaObject::invokeMethod(
        m_context, [this] { delete m_worker; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_context;
}

void Server::setHandler(Handler handler) {
    QMutexLocker lock(&m_lock);
    m_handler = std::move(handler);
}

QString Server::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QList<Request> Server::requests() const {
    QMutexLocker lock(&m_lock);
    return m_requests;
}

void Server::clearRequests() {
    QMutexLocker lock(&m_lock);
    m_requests.clear();
}

Reply Server::answer(const Request &request) {
    Handler handler;
    {
        QMutexLocker lock(&m_lock);
        handler = m_handler;
    }
    return handler ? handler(request) : Reply::json("{}", 404);
}

void Server::record(const Request &request) {
    QMutexLocker lock(&m_lock);
    m_requests.append(request);
}

quint16 closedPort() {
    return TestEnvironment::freeLocalPort();
}

} // namespace scripted
