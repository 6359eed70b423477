#pragma once

#include "settings/MeteredSource.h"

#include <QMetaObject>
#include <QObject>
#include <QString>

#include <atomic>
#include <mutex>

class SyncState;

// Whether transfers may run now. They may not while the person has paused
// syncing (a preference, so a pause outlasts a restart), nor while the
// connection is metered unless the person allowed syncing on one (a
// preference whose default the deployment configuration gives). Readable
// from any thread; the coordinator follows `changed` and stops or resumes.
class SyncPause : public QObject {
    Q_OBJECT
public:
    // The choices are `state`'s preferences, the default its configuration's.
    explicit SyncPause(const SyncState &state, QObject *parent = nullptr);

    // Reads both choices from the preferences again (a fresh start does).
    void reload();

    bool pausedByUser() const { return m_pausedByUser.load(); }
    // Stores the choice at once.
    void setPausedByUser(bool paused);
    bool syncOnMeteredConnections() const { return m_syncOnMetered.load(); }
    void setSyncOnMeteredConnections(bool allowed);

    // Where the metered state comes from; none: never metered.
    void setMeteredSource(MeteredSourcePtr source);
    bool hasMeteredSource() const;
    bool isMetered() const;

    // What the status line says while transfers may not run: "Paused" (the
    // person paused) or "Paused: metered connection"; empty while they may.
    QString statusText() const;
    bool isPaused() const { return !statusText().isEmpty(); }

signals:
    // The status text or the person's choice changed (on the thread that
    // changed it).
    void changed();

private:
    void update();

    const SyncState &m_state;
    std::atomic<bool> m_pausedByUser{false};
    std::atomic<bool> m_syncOnMetered{false};
    mutable std::mutex m_lock; // the source, its connection and the last state
    MeteredSourcePtr m_source;
    QMetaObject::Connection m_sourceConnection;
    QString m_lastStatus;
    bool m_lastPausedByUser = false;
};
