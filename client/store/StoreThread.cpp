#include "StoreThread.h"

#include <QCoreApplication>
#include <QThread>

struct StoreThread::Job {
    std::function<void()> task;
    bool done = false;
};

StoreThread &StoreThread::instance() {
    static StoreThread thread;
    return thread;
}

StoreThread::StoreThread() {
    // The id is set before the thread can run a job.
    std::lock_guard lock(m_lock);
    m_thread = std::thread([this] { loop(); });
    m_threadId = m_thread.get_id();
    // The connection must be closed while Qt is still alive: stop with the
    // application object when there is one, else at exit.
    if (QCoreApplication::instance())
        qAddPostRoutine([] { StoreThread::instance().stop(); });
}

StoreThread::~StoreThread() {
    stop();
}

bool StoreThread::isCurrent() const {
    return std::this_thread::get_id() == m_threadId;
}

bool StoreThread::run(const std::function<void()> &task) {
    if (isCurrent()) {
        task();
        return true;
    }
    auto job = std::make_shared<Job>();
    job->task = task;
    std::unique_lock lock(m_lock);
    if (m_stopping)
        return false;
    m_jobs.push_back(job);
    m_wake.notify_one();
    m_done.wait(lock, [&] { return job->done; });
    return true;
}

int StoreThread::addShutdownTask(std::function<void()> task) {
    std::lock_guard lock(m_lock);
    const int id = ++m_nextShutdownId;
    m_shutdown.emplace_back(id, std::move(task));
    return id;
}

void StoreThread::removeShutdownTask(int id) {
    std::lock_guard lock(m_lock);
    std::erase_if(m_shutdown, [id](const auto &entry) { return entry.first == id; });
}

void StoreThread::loop() {
    {
        // Wait until the constructor has recorded this thread's id.
        std::lock_guard lock(m_lock);
    }
    QThread::currentThread()->setObjectName(QStringLiteral("sonarbox-store"));
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [&] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty()) {
                // Stopping with nothing queued: run the shutdown work last.
                std::vector<std::pair<int, std::function<void()>>> shutdown;
                shutdown.swap(m_shutdown);
                lock.unlock();
                for (const auto &entry : shutdown)
                    entry.second();
                return;
            }
            job = m_jobs.front();
            m_jobs.pop_front();
        }
        job->task();
        std::lock_guard lock(m_lock);
        job->done = true;
        m_done.notify_all();
    }
}

void StoreThread::stop() {
    {
        std::lock_guard lock(m_lock);
        if (m_stopping)
            return;
        m_stopping = true;
        m_wake.notify_one();
    }
    if (m_thread.joinable())
        m_thread.join();
}
