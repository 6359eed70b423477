#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// Turns SIGINT and SIGTERM into a Qt signal on the main thread. The handler
// only writes the signal number into a pipe (nothing else is safe there); a
// socket notifier reads it in the event loop. One watcher per process.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void signalled(int signo);

private:
    void readPipe();

    std::unique_ptr<QSocketNotifier> m_notifier;
};
