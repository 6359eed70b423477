#include "StageQueue.h"

StageOperation::StageOperation(std::function<void()> body, const char *name)
    : m_body(std::move(body))
    , m_name(name) {}

StageOperation::State StageOperation::state() const {
    std::lock_guard lock(m_lock);
    return m_state;
}

void StageOperation::cancel() {
    std::lock_guard lock(m_lock);
    if (m_state == State::Created || m_state == State::Queued)
        m_state = State::Cancelled;
}

bool StageOperation::markQueued() {
    std::lock_guard lock(m_lock);
    if (m_state != State::Created)
        return false;
    m_state = State::Queued;
    return true;
}

bool StageOperation::markRunning() {
    std::lock_guard lock(m_lock);
    if (m_state != State::Queued)
        return false;
    m_state = State::Running;
    return true;
}

void StageOperation::markFinished() {
    std::lock_guard lock(m_lock);
    m_state = State::Finished;
}

StageQueue::StageQueue()
    : m_worker([this] { run(); }) {}

StageQueue::~StageQueue() {
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_worker.join();
}

bool StageQueue::addOperation(const StageOperationPtr &op) {
    if (!op || !op->markQueued())
        return false;
    {
        std::lock_guard lock(m_lock);
        m_pending.push_back(op);
    }
    m_wake.notify_one();
    return true;
}

void StageQueue::waitUntilAllOperationsAreFinished() {
    std::unique_lock lock(m_lock);
    m_idle.wait(lock, [this] { return m_pending.empty() && !m_busy; });
}

bool StageQueue::isStageThread() const {
    return std::this_thread::get_id() == m_worker.get_id();
}

int StageQueue::operationCount() const {
    std::lock_guard lock(m_lock);
    return int(m_pending.size()) + (m_busy ? 1 : 0);
}

void StageQueue::run() {
    for (;;) {
        StageOperationPtr op;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [this] { return m_stopping || !m_pending.empty(); });
            if (m_pending.empty())
                return; // stopping with nothing left
            op = m_pending.front();
            m_pending.pop_front();
            m_busy = true;
        }
        if (op->markRunning()) {
            op->m_body();
            op->markFinished();
        }
        {
            std::lock_guard lock(m_lock);
            m_busy = false;
            if (m_pending.empty())
                m_idle.notify_all();
        }
    }
}
