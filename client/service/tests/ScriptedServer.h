#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>

class QTcpServer;

// An HTTP/1.1 server on 127.0.0.1 for the service client's tests. It runs on
// its own thread, records every request exactly as it arrived (header order
// included) and answers each one with what the test's handler returns.
namespace scripted {

using Headers = QList<QPair<QByteArray, QByteArray>>;

struct Request {
    QByteArray method;
    QByteArray target;
    Headers headers;
    QByteArray body;
    // The first value of the header (names compared case-insensitively).
    std::optional<QByteArray> header(const QByteArray &name) const;
    QList<QByteArray> headerNames() const;
};

struct Reply {
    enum class Mode {
        Respond,     // status line, headers, body
        NeverAnswer, // keep the connection open, say nothing
        Close,       // close the connection without a reply
    };
    Mode mode = Mode::Respond;
    int status = 200;
    Headers headers;
    QByteArray body;
    // Without Content-Length the body ends when the connection closes.
    bool withContentLength = true;

    static Reply json(const QByteArray &body, int status = 200);
};

class Server {
public:
    using Handler = std::function<Reply(const Request &)>;
    explicit Server(Handler handler = {});
    ~Server();

    void setHandler(Handler handler);
    quint16 port() const { return m_port; }
    QString baseUrl() const;
    QList<Request> requests() const;
    void clearRequests();

private:
    class Worker;
    friend class Worker;
    Reply answer(const Request &request);
    void record(const Request &request);

    QThread m_thread;
    QObject *m_context = nullptr; // lives on m_thread
    Worker *m_worker = nullptr;
    quint16 m_port = 0;
    mutable QMutex m_lock;
    Handler m_handler;
    QList<Request> m_requests;
};

// A port on 127.0.0.1 that refuses connections.
quint16 closedPort();

} // namespace scripted
