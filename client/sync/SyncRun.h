#pragma once

#include "store/RunContext.h"

#include <QObject>

#include <atomic>
#include <memory>

// One sync, from its start to its end: the account it was started for (its
// run context, kept to the end whatever happens to the sign-in meanwhile) and
// whether it has been told to stop. Every stage of the sync, and every
// transfer it starts, works for this run only: a stop, a log-out or a newer
// sync that replaces it ends all of them, not only the one that polls first.
class SyncRun : public QObject {
    Q_OBJECT
public:
    explicit SyncRun(RunContext context);

    const RunContext &context() const { return m_context; }
    bool isStopped() const { return m_stopped.load(); }
    // Any thread; the first call emits `stopped`.
    void stop();

signals:
    // The transfers of the run connect here to end at once.
    void stopped();

private:
    const RunContext m_context;
    std::atomic<bool> m_stopped{false};
};

using SyncRunPtr = std::shared_ptr<SyncRun>;
