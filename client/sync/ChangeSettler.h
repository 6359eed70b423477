#pragma once

#include <QSet>
#include <QString>

#include <chrono>
#include <optional>

// When a sync is to follow changes to the music: once they have settled (a
// quiet spell without a further change), and no later than a longest wait
// after the first of them, so that a collection that keeps changing is still
// synced. Changes that come while a sync runs are kept for one more sync at
// its end; syncs never overlap.
//
// A file being written is a change that has not settled: while any file is
// open for writing the changes are not quiet, and a file's quiet spell starts
// when its writer closes it. The longest wait still starts a sync for the
// changes noted so far, but a file open for writing at that moment is not
// taken by it: it stays open here, and its close is a change of its own that
// a later sync follows. A file that stays open starts no further sync by
// itself.
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
    // `file` is open for writing from now on (told again while it stays so:
    // only the first time counts).
    void opened(const QString &file, TimePoint now);
    // `file` was closed after writing, or is no longer followed: a change.
    void closed(const QString &file, TimePoint now);
    void syncStarted();
    void syncEnded();
    bool syncing() const { return m_syncing; }

    // When the changes noted so far are due for a sync; none while nothing
    // waits or a sync runs.
    std::optional<TimePoint> dueAt() const;
    // True when a sync is to start now; the changes are then taken by it,
    // except the files still open for writing.
    bool takeDue(TimePoint now);
    bool hasChanges() const { return m_first.has_value(); }
    qsizetype filesOpen() const { return m_open.size(); }
    // Forgets the changes noted so far, and the files open for writing.
    void clear();

private:
    Duration m_quiet;
    Duration m_longest;
    std::optional<TimePoint> m_first;
    TimePoint m_last{};
    QSet<QString> m_open;
    bool m_syncing = false;
};
