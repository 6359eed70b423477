#include "WorkPool.h"

#include <algorithm>

namespace cloud {

WorkPool::WorkPool(int threads, std::size_t queueLimit)
    : threadCount_(std::max(1, threads))
    , queueLimit_(queueLimit) {
    const int n = threadCount_;
    perKindLimit_ = n > 1 ? n - 1 : 1;
    workers_.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        workers_.emplace_back([this] { work(); });
}

WorkPool::~WorkPool() {
    stop();
}

bool WorkPool::submit(WorkKind kind, Job job) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || queued() >= queueLimit_)
            return false;
        ready_.push_back({kind, std::move(job)});
    }
    changed_.notify_all();
    return true;
}

bool WorkPool::submitAt(WorkKind kind, Clock::time_point notBefore, Job job) {
    if (notBefore <= Clock::now())
        return submit(kind, std::move(job));
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || queued() >= queueLimit_)
            return false;
        timed_.emplace(notBefore, Entry{kind, std::move(job)});
    }
    changed_.notify_all();
    return true;
}

bool WorkPool::takeRunnable(Entry &out) {
    const auto now = Clock::now();
    while (!timed_.empty() && timed_.begin()->first <= now) {
        ready_.push_back(std::move(timed_.begin()->second));
        timed_.erase(timed_.begin());
    }
    const auto it = std::find_if(ready_.begin(), ready_.end(), [this](const Entry &e) {
        return running_[e.kind] < perKindLimit_;
    });
    if (it == ready_.end())
        return false;
    out = std::move(*it);
    ready_.erase(it);
    return true;
}

void WorkPool::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        Entry entry;
        if (takeRunnable(entry)) {
            ++running_[entry.kind];
            lock.unlock();
            try {
                entry.job(false);
            } catch (...) {
                // A job reports its own failure; the pool goes on.
            }
            entry.job = nullptr; // what it holds goes before the next job
            lock.lock();
            --running_[entry.kind];
            changed_.notify_all();
            continue;
        }
        if (stopping_)
            return;
        if (timed_.empty()) {
            changed_.wait(lock);
        } else {
            // A copy: the entry may be taken by another worker while this one waits.
            const Clock::time_point due = timed_.begin()->first;
            changed_.wait_until(lock, due);
        }
    }
}

void WorkPool::stop() {
    std::deque<Entry> dropped;
    {
        std::lock_guard lock(mutex_);
        if (stopping_ && workers_.empty())
            return;
        stopping_ = true;
        dropped.swap(ready_);
        for (auto &[when, entry] : timed_)
            dropped.push_back(std::move(entry));
        timed_.clear();
    }
    changed_.notify_all();
    for (auto &entry : dropped) {
        try {
            entry.job(true);
        } catch (...) {
        }
    }
    for (auto &t : workers_) {
        if (t.joinable())
            t.join();
    }
    workers_.clear();
}

} // namespace cloud
