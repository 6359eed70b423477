// A bounded pool of threads for work that takes long or much memory
// (decoding a cover, encoding a stream), so that it never runs on the event
// threads that answer everyone else's requests. Each kind of work may hold
// all workers but one, so one kind cannot starve the other.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace cloud {

// Transfer: reading a remote store's bytes for a download or a stream.
enum class WorkKind { Cover, Transcode, Transfer };

class WorkPool {
public:
    using Clock = std::chrono::steady_clock;
    // Called once: on a worker, or with `cancelled` set when the pool stops
    // before the job ran (it must still release whatever waits for it).
    using Job = std::function<void(bool cancelled)>;

    explicit WorkPool(int threads, std::size_t queueLimit = 1024);
    ~WorkPool();
    WorkPool(const WorkPool &) = delete;
    WorkPool &operator=(const WorkPool &) = delete;

    // Queues the job to run as soon as a worker is free, or not before
    // `notBefore`; false (and the job dropped) when the queue is full or the
    // pool has stopped.
    bool submit(WorkKind kind, Job job);
    bool submitAt(WorkKind kind, Clock::time_point notBefore, Job job);

    // Runs every job not yet started as cancelled, waits for the running
    // ones, and takes no more.
    void stop();

    int threads() const { return threadCount_; }

private:
    struct Entry {
        WorkKind kind;
        Job job;
    };
    void work();
    // The first queued job whose kind has a worker to spare; false when none.
    bool takeRunnable(Entry &out);
    std::size_t queued() const { return ready_.size() + timed_.size(); }

    int threadCount_;
    std::size_t queueLimit_;
    int perKindLimit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Entry> ready_;
    std::multimap<Clock::time_point, Entry> timed_;
    std::map<WorkKind, int> running_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

} // namespace cloud
