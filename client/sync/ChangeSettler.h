#pragma once

#include <chrono>
#include <optional>

// When a sync is to follow changes to the music: once they have settled (a
// quiet spell without a further change), and no later than a longest wait
// after the first of them, so that a collection that keeps changing is still
// synced. Changes that come while a sync runs are kept for one more sync at
// its end; syncs never overlap.
//
// Only bookkeeping over the times it is told, so that it can be tested
// without waiting: the owner asks `dueAt` when to look again and then calls
// `takeDue`.
class ChangeSettler {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using Duration = Clock::duration;

    ChangeSettler(Duration quiet, Duration longest);
    void setIntervals(Duration quiet, Duration longest);

    void changed(TimePoint now);
    void syncStarted();
    void syncEnded();
    bool syncing() const { return m_syncing; }

    // When the changes noted so far are due for a sync; none while nothing
    // waits or a sync runs.
    std::optional<TimePoint> dueAt() const;
    // True when a sync is to start now; the changes are then taken by it.
    bool takeDue(TimePoint now);
    bool hasChanges() const { return m_first.has_value(); }
    // Forgets the changes noted so far.
    void clear();

private:
    Duration m_quiet;
    Duration m_longest;
    std::optional<TimePoint> m_first;
    TimePoint m_last{};
    bool m_syncing = false;
};
