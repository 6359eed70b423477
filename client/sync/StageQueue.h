#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// One stage of a sync: a body that runs at most once, and can be cancelled
// until it starts.
class StageOperation {
public:
    enum class State { Created, Queued, Running, Finished, Cancelled };

    explicit StageOperation(std::function<void()> body, const char *name = "");
    const char *name() const { return m_name; }
    State state() const;
    bool isCancelled() const { return state() == State::Cancelled; }
    bool isFinished() const { return state() == State::Finished; }
    // Cancels an operation that has not started; a running one goes on.
    void cancel();

private:
    friend class StageQueue;
    bool markQueued();
    bool markRunning();
    void markFinished();

    std::function<void()> m_body;
    const char *m_name;
    mutable std::mutex m_lock;
    State m_state = State::Created;
};

using StageOperationPtr = std::shared_ptr<StageOperation>;

// The sync's operation queue: one worker thread, first in first out, one
// operation at a time. An operation is accepted once only.
class StageQueue {
public:
    StageQueue();
    ~StageQueue();
    StageQueue(const StageQueue &) = delete;
    StageQueue &operator=(const StageQueue &) = delete;

    // Answers false when the operation was queued before or is cancelled.
    bool addOperation(const StageOperationPtr &op);
    // Blocks until every queued operation has run or been skipped.
    void waitUntilAllOperationsAreFinished();
    bool isStageThread() const;
    int operationCount() const;

private:
    void run();

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<StageOperationPtr> m_pending;
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_worker;
};
