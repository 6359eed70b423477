#include "sync/ChangeSettler.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const ChangeSettler::TimePoint t0 = ChangeSettler::TimePoint{} + 1000h;

ChangeSettler settler() {
    return ChangeSettler(30s, 5min);
}

} // namespace

TEST(ChangeSettler, ABurstOfChangesIsDueOnceAQuietSpellFollowsTheLastOfThem) {
    ChangeSettler s = settler();
    EXPECT_FALSE(s.dueAt());
    EXPECT_FALSE(s.takeDue(t0));
    // 5,000 files arriving over ten seconds.
    for (int i = 0; i < 5000; ++i)
        s.changed(t0 + i * 2ms);
    const auto last = t0 + 4999 * 2ms;
    ASSERT_TRUE(s.dueAt());
    EXPECT_EQ(*s.dueAt(), last + 30s);
    EXPECT_FALSE(s.takeDue(last + 29s));
    EXPECT_TRUE(s.takeDue(last + 30s));
    // Taken by that one sync: nothing is due any more.
    EXPECT_FALSE(s.dueAt());
    EXPECT_FALSE(s.takeDue(last + 10min));
}

TEST(ChangeSettler, ChangesThatNeverRestAreDueFiveMinutesAfterTheFirst) {
    ChangeSettler s = settler();
    for (auto t = t0; t < t0 + 10min; t += 10s)
        s.changed(t);
    EXPECT_EQ(*s.dueAt(), t0 + 5min);
    EXPECT_FALSE(s.takeDue(t0 + 5min - 1ms));
    EXPECT_TRUE(s.takeDue(t0 + 5min));
    // The next change starts a new wait of its own.
    s.changed(t0 + 6min);
    EXPECT_EQ(*s.dueAt(), t0 + 6min + 30s);
}

TEST(ChangeSettler, ChangesDuringASyncMakeExactlyOneMoreAtItsEnd) {
    ChangeSettler s = settler();
    s.changed(t0);
    ASSERT_TRUE(s.takeDue(t0 + 30s));
    s.syncStarted();
    // The sync runs for ten minutes; changes come meanwhile, and both the
    // quiet spell and the longest wait pass while it runs.
    s.changed(t0 + 1min);
    s.changed(t0 + 2min);
    EXPECT_FALSE(s.dueAt());
    EXPECT_FALSE(s.takeDue(t0 + 9min));
    s.syncEnded();
    EXPECT_TRUE(s.takeDue(t0 + 10min));
    EXPECT_FALSE(s.takeDue(t0 + 10min));

    // A sync without changes meanwhile is followed by none.
    s.syncStarted();
    s.syncEnded();
    EXPECT_FALSE(s.dueAt());

    // Changes still arriving at a sync's end wait for their quiet spell.
    s.syncStarted();
    s.changed(t0 + 20min);
    s.syncEnded();
    EXPECT_EQ(*s.dueAt(), t0 + 20min + 30s);
}

TEST(ChangeSettler, ShorterTimesApplyToTheChangesAlreadyNoted) {
    ChangeSettler s = settler();
    s.changed(t0);
    s.changed(t0 + 100ms);
    s.setIntervals(1s, 3s);
    EXPECT_EQ(*s.dueAt(), t0 + 1100ms);
    s.clear();
    EXPECT_FALSE(s.dueAt());
}

TEST(ChangeSettler, AFileBeingWrittenSettlesOnlyOnceClosedAndQuietAfterwards) {
    ChangeSettler s = settler();
    // A copy that stalls for a minute, far longer than the quiet spell.
    s.opened("a.mp3", t0);
    s.opened("a.mp3", t0 + 10s);
    EXPECT_EQ(s.filesOpen(), 1);
    // The longest wait counts from its first write.
    EXPECT_EQ(*s.dueAt(), t0 + 5min);
    EXPECT_FALSE(s.takeDue(t0 + 1min));
    s.closed("a.mp3", t0 + 2min);
    EXPECT_EQ(*s.dueAt(), t0 + 2min + 30s);
    EXPECT_FALSE(s.takeDue(t0 + 2min + 29s));
    EXPECT_TRUE(s.takeDue(t0 + 2min + 30s));

    // Another file open keeps settled changes from being quiet too.
    s.changed(t0 + 10min);
    s.opened("b.mp3", t0 + 10min + 1s);
    EXPECT_FALSE(s.takeDue(t0 + 11min));
    s.closed("b.mp3", t0 + 12min);
    EXPECT_EQ(*s.dueAt(), t0 + 12min + 30s);
}

TEST(ChangeSettler, AFileStillOpenAtTheLongestWaitIsNotTakenByTheSyncItStarts) {
    ChangeSettler s = settler();
    s.changed(t0);
    s.opened("long.flac", t0 + 1min);
    s.opened("short.flac", t0 + 2min);
    s.closed("short.flac", t0 + 3min);
    EXPECT_EQ(*s.dueAt(), t0 + 5min);
    ASSERT_TRUE(s.takeDue(t0 + 5min));
    // Still open: it starts no sync by itself, however long it stays so...
    EXPECT_EQ(s.filesOpen(), 1);
    EXPECT_FALSE(s.dueAt());
    // ...and other changes meanwhile wait for the longest wait again.
    s.changed(t0 + 6min);
    EXPECT_EQ(*s.dueAt(), t0 + 11min);
    ASSERT_TRUE(s.takeDue(t0 + 11min));
    // Its close is a change of its own.
    s.closed("long.flac", t0 + 20min);
    EXPECT_EQ(s.filesOpen(), 0);
    EXPECT_EQ(*s.dueAt(), t0 + 20min + 30s);
}
