#include "sync/StageQueue.h"

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(StageQueue, RunsOperationsOneAtATimeInOrderOnOneThread) {
    StageQueue queue;
    std::mutex lock;
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<int> maxRunning{0};
    std::vector<std::thread::id> threads;
    for (int i = 0; i < 20; ++i) {
        queue.addOperation(std::make_shared<StageOperation>([&, i] {
            const int now = ++running;
            maxRunning = std::max(maxRunning.load(), now);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            {
                std::lock_guard g(lock);
                order.push_back(i);
                threads.push_back(std::this_thread::get_id());
            }
            --running;
        }));
    }
    queue.waitUntilAllOperationsAreFinished();
    ASSERT_EQ(order.size(), 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(order[size_t(i)], i);
    EXPECT_EQ(maxRunning.load(), 1);
    for (const auto &id : threads) {
        EXPECT_EQ(id, threads.front());
        EXPECT_NE(id, std::this_thread::get_id());
    }
}

TEST(StageQueue, CancelledBeforeStartNeverRunsAndRunningOneFinishes) {
    StageQueue queue;
    std::promise<void> started;
    std::promise<void> release;
    auto releaseFuture = release.get_future().share();
    std::atomic<bool> firstDone{false};
    std::atomic<bool> secondRan{false};
    auto first = std::make_shared<StageOperation>([&] {
        started.set_value();
        releaseFuture.wait();
        firstDone = true;
    });
    auto second = std::make_shared<StageOperation>([&] { secondRan = true; });
    queue.addOperation(first);
    queue.addOperation(second);
    started.get_future().wait();
    first->cancel(); // too late: it is running
    second->cancel();
    release.set_value();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(firstDone);
    EXPECT_TRUE(first->isFinished());
    EXPECT_FALSE(secondRan);
    EXPECT_TRUE(second->isCancelled());
}

TEST(StageQueue, AnOperationIsAcceptedOnce) {
    StageQueue queue;
    std::atomic<int> runs{0};
    auto op = std::make_shared<StageOperation>([&] { ++runs; });
    EXPECT_TRUE(queue.addOperation(op));
    EXPECT_FALSE(queue.addOperation(op));
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_FALSE(queue.addOperation(op));
    auto cancelled = std::make_shared<StageOperation>([&] { ++runs; });
    cancelled->cancel();
    EXPECT_FALSE(queue.addOperation(cancelled));
    EXPECT_FALSE(queue.addOperation(nullptr));
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(runs.load(), 1);
}

} // namespace
