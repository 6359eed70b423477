// The pieces that keep heavy work off the event threads: the worker pool, the
// stream slots, the cover cache and the pace of a transcoded stream.
#include "CoverCache.h"
#include "StreamSlots.h"
#include "TranscodeStream.h"
#include "WorkPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

using namespace cloud;
using namespace std::chrono_literals;

namespace {

TEST(WorkPoolTest, OneKindNeverTakesEveryWorker) {
    WorkPool pool(3);
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<int> coversRunning{0};
    std::atomic<int> coversMost{0};
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(pool.submit(WorkKind::Cover, [&, released](bool cancelled) {
            // Stopping hands queued jobs their cancellation on its own thread.
            if (cancelled)
                return;
            const int now = ++coversRunning;
            coversMost = std::max(coversMost.load(), now);
            released.wait();
            --coversRunning;
        }));
    // With every cover worker stuck, a transcode still gets the third worker.
    std::promise<void> transcoded;
    ASSERT_TRUE(pool.submit(WorkKind::Transcode, [&](bool) { transcoded.set_value(); }));
    EXPECT_EQ(transcoded.get_future().wait_for(10s), std::future_status::ready);
    // The transcode may be done before the second cover has begun: the covers
    // are let go only once both that may run do, or a while has passed.
    for (int i = 0; i < 1000 && coversRunning < 2; ++i)
        std::this_thread::sleep_for(10ms);
    release.set_value();
    pool.stop();
    EXPECT_EQ(coversMost, 2);
}

TEST(WorkPoolTest, StoppingCancelsWhatHasNotRunAndRefusesMore) {
    WorkPool pool(1, 3);
    std::promise<void> release;
    std::promise<void> started;
    ASSERT_TRUE(pool.submit(WorkKind::Cover, [&](bool) {
        started.set_value();
        release.get_future().wait();
    }));
    started.get_future().wait();
    std::vector<int> outcome; // 1 ran, 2 cancelled; touched by one thread at a time
    std::mutex mutex;
    const auto record = [&](bool cancelled) {
        std::lock_guard lock(mutex);
        outcome.push_back(cancelled ? 2 : 1);
    };
    ASSERT_TRUE(pool.submit(WorkKind::Cover, record));
    ASSERT_TRUE(pool.submitAt(WorkKind::Transcode, WorkPool::Clock::now() + 1h, record));
    ASSERT_TRUE(pool.submit(WorkKind::Transcode, record));
    EXPECT_FALSE(pool.submit(WorkKind::Transcode, record)) << "the queue holds three";
    std::thread stopper([&] { pool.stop(); });
    std::this_thread::sleep_for(50ms);
    release.set_value();
    stopper.join();
    EXPECT_EQ(outcome, (std::vector<int>{2, 2, 2}));
    EXPECT_FALSE(pool.submit(WorkKind::Cover, record));
}

TEST(WorkPoolTest, TimedJobsWaitForTheirTime) {
    WorkPool pool(2);
    std::promise<WorkPool::Clock::time_point> ran;
    const auto due = WorkPool::Clock::now() + 200ms;
    ASSERT_TRUE(pool.submitAt(WorkKind::Transcode, due,
                              [&](bool) { ran.set_value(WorkPool::Clock::now()); }));
    EXPECT_GE(ran.get_future().get(), due);
}

TEST(StreamSlotsTest, SlotsPerAccountAndInAllAreGivenBack) {
    StreamSlots slots(2, 3);
    auto a1 = slots.take(1);
    auto a2 = slots.take(1);
    EXPECT_TRUE(a1 && a2);
    EXPECT_FALSE(slots.take(1)) << "two per account";
    auto b1 = slots.take(2);
    EXPECT_TRUE(b1);
    EXPECT_FALSE(slots.take(3)) << "three in all";
    a1.reset();
    EXPECT_TRUE(slots.take(3));
    EXPECT_TRUE(slots.take(1)) << "the slot came back to its account";
}

TEST(CoverCacheTest, BoundedInBytesLeastRecentlyUsedFirst) {
    CoverCache cache(16 * 1024);
    const auto picture = [](std::size_t bytes) {
        return std::make_shared<const Picture>(Picture{std::string(bytes, 'p'), "image/jpeg"});
    };
    cache.put("a", picture(1500));
    cache.put("b", picture(1500));
    cache.put("none", nullptr);
    ASSERT_TRUE(cache.find("a")); // a is now the most recently used
    for (int i = 0; i < 8; ++i)
        cache.put("c" + std::to_string(i), picture(1500));
    EXPECT_LE(cache.bytes(), 16u * 1024);
    EXPECT_TRUE(cache.find("a"));
    EXPECT_FALSE(cache.find("b"));
    // A file without a picture is remembered as such.
    cache.put("gone", nullptr);
    const auto none = cache.find("gone");
    ASSERT_TRUE(none);
    EXPECT_EQ(*none, nullptr);
    // One picture may not push a whole grid out.
    cache.put("large", picture(2100));
    EXPECT_FALSE(cache.find("large"));
    EXPECT_TRUE(cache.find("a"));
}

TEST(TranscodePaceTest, AtOnceWithinTheLeadThenFourTimesRealTime) {
    const auto start = WorkPool::Clock::now();
    EXPECT_EQ(nextPieceAt(start, 0), start);
    EXPECT_EQ(nextPieceAt(start, 30), start);
    EXPECT_EQ(nextPieceAt(start, 70), start + 10s);
    EXPECT_EQ(nextPieceAt(start, 270), start + 60s);
}

} // namespace
