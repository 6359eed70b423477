#pragma once

#include <QHash>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QLocalServer;
class QLocalSocket;

// One engine per user and store. The first engine to start holds a lock file
// in the store folder for as long as it runs, and listens on a local socket
// in the XDG runtime folder named after that store. A later start finds the
// lock taken and, instead of working on the same store, hands the first one
// a command over the socket ("raise" for the desktop program; more commands
// are added with setHandler) and ends.
//
// The wire format is one line each way: "command[ argument]\n" from the
// later start, "ok[ text]\n" or "error text\n" back from the holder.
class EngineInstance : public QObject {
    Q_OBJECT
public:
    // Who holds a store's lock, as its lock file says.
    struct Holder {
        qint64 pid = 0;
        QString program;
    };

    // The exit code of a program that did not start because another engine
    // holds its store.
    static constexpr int BusyExitCode = 4;

    explicit EngineInstance(const QString &storeFolder, QObject *parent = nullptr);
    ~EngineInstance() override;

    // Takes the store's lock and starts listening. False when another live
    // process holds it (see holder()) or the lock file cannot be written
    // (`error` says which).
    bool acquire(QString *error = nullptr);
    bool isHeld() const { return m_held; }
    // The process that holds the lock (nothing known when the lock is free
    // or unreadable).
    std::optional<Holder> holder() const;

    // What the holder answers to `command`; the handler runs on this
    // object's thread and returns the reply's text ("ok …" or "error …").
    using Handler = std::function<QString(const QString &argument)>;
    void setHandler(const QString &command, Handler handler);

    // Hands `command` to the engine holding the store's lock and returns its
    // reply line (without the newline), or nothing when no engine answered
    // within `timeoutMs`.
    static std::optional<QString> send(const QString &storeFolder, const QString &command,
                                       int timeoutMs = 3000);

    static QString lockFilePath(const QString &storeFolder);
    static QString socketPath(const QString &storeFolder);

    // The message for a person when the store is taken: which program holds it.
    QString busyMessage() const;

private:
    void onConnection();
    void answer(QLocalSocket *socket);

    QString m_storeFolder;
    QLockFile m_lock;
    bool m_held = false;
    std::unique_ptr<QLocalServer> m_server;
    QHash<QString, Handler> m_handlers;
};
