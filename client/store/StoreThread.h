#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

// The one thread that owns the stores' database connections. A connection may
// only be used by the thread that opened it, and a store is used from the
// main thread and from the sync stages, so every store operation is handed to
// this thread and the caller waits for it. A call made on the store thread
// itself runs at once, so operations may call each other freely.
//
// The thread and the hand-off are the standard library's (not QThread and
// queued Qt events) so that ThreadSanitizer sees every happens-before edge,
// down to the final join.
class StoreThread {
public:
    static StoreThread &instance();

    // Runs `task` on the store thread and returns when it is done; false
    // (task not run) once the thread has stopped at shutdown.
    bool run(const std::function<void()> &task);

    template <typename F> auto call(F &&f) -> decltype(f()) {
        using R = decltype(f());
        if constexpr (std::is_void_v<R>) {
            run(std::forward<F>(f));
        } else {
            std::optional<R> result;
            run([&] { result.emplace(f()); });
            return result ? std::move(*result) : R{};
        }
    }

    bool isCurrent() const;

    // Runs the registered shutdown tasks on the store thread and stops it;
    // called once when the application object goes away.
    void stop();
    // Work to do on the store thread before it stops (closing the connection).
    // The answer withdraws the task (an owner that goes away first).
    int addShutdownTask(std::function<void()> task);
    void removeShutdownTask(int id);

private:
    StoreThread();
    ~StoreThread();
    struct Job;
    void loop();

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<std::shared_ptr<Job>> m_jobs;
    std::vector<std::pair<int, std::function<void()>>> m_shutdown;
    int m_nextShutdownId = 0;
    bool m_stopping = false;
    std::thread m_thread;
    std::thread::id m_threadId;
};
