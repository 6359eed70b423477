#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// When a sync that could not go on is tried again, alike in the desktop and
// the headless programs: after the same pause, counted afresh from the latest
// failure. Each program decides which endings it tries again and how it
// reports the wait; both sign the account in again before they sync, so that
// a session the service no longer knows is replaced.
class SyncRetry : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultIntervalMs = 5 * 60 * 1000;

    explicit SyncRetry(QObject *parent = nullptr);

    int intervalMs() const { return m_intervalMs; }
    // Tests shorten it; it holds from the next schedule().
    void setIntervalMs(int ms) { m_intervalMs = ms; }
    // "5 min": the wait in words, for the programs' messages.
    QString intervalText() const;

    // Starts the wait (again): `due` follows once, after the interval.
    void schedule();
    void cancel() { m_timer.stop(); }
    bool isScheduled() const { return m_timer.isActive(); }

signals:
    void due();

private:
    QTimer m_timer;
    int m_intervalMs = DefaultIntervalMs;
};
