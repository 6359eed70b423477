#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <chrono>
#include <functional>
#include <optional>

#include <sys/stat.h>

// Whether a new file may be read now, or may still be being written: a copy
// that stalls, a download, a tag editor saving. Read too early, the sync
// would take the checksum of half a file and upload the half.
//
// A file is taken only when no process holds it open for writing (a read
// lease cannot be had while one does) and its size and times have rested for
// the settle time. Where no lease can be had at all (a file of another user,
// a file system without leases), its stillness alone decides.
class FileStillness {
public:
    enum class Verdict {
        Still,
        // Some process holds it open for writing.
        OpenForWriting,
        // Changed within the settle time, or while it was being looked at.
        Changing,
    };

    // What tells that a file changed: its size, and the later of its
    // modification and status change times (a copy that keeps the source's
    // modification time still sets the change time), in ns since the epoch.
    struct Seen {
        qint64 size = 0;
        qint64 changedNs = 0;
        static Seen of(const struct stat &attributes);
        bool operator==(const Seen &) const = default;
    };

    // Zero: only a writer holds a file back; its times are not looked at.
    explicit FileStillness(std::chrono::nanoseconds settleTime)
        : m_settle(settleTime) {}

    // A file that lacks only rest is waited for (never longer than the
    // settle time) instead of being judged Changing; `stop` ends the wait.
    void setWaiting(std::function<bool()> stop);

    // How much longer a file whose status last changed at `statusNs` must
    // rest; zero once it has. The status change time is the one a person
    // cannot set: a modification time may lie in the future.
    std::chrono::nanoseconds restLeft(qint64 statusNs) const;

    // Of the file open read-only as `fd`, whose attributes are `attributes`:
    // whether it may be read now. `first`: how it was when it was first
    // looked at, which it must still be. After a wait `attributes` are the
    // file's new ones.
    Verdict beforeReading(int fd, struct stat *attributes,
                          const std::optional<Seen> &first = std::nullopt) const;
    // After reading it: whether it is still as it was `before`.
    Verdict afterReading(int fd, const Seen &before) const;
    // The same as beforeReading() for a file known only by its path; one
    // that cannot be opened is not being written as far as this can tell.
    Verdict ofPath(const QByteArray &encodedPath) const;

    // Whether some process holds the file of `fd` (opened read-only) open
    // for writing, as a read lease tells; nothing when no lease can be had
    // for another reason. The lease is given back at once: never held while
    // the file is read, it never keeps a writer waiting.
    static std::optional<bool> openForWriting(int fd);

private:
    bool sleepUntilRested(qint64 statusNs) const;

    std::chrono::nanoseconds m_settle;
    bool m_waits = false;
    std::function<bool()> m_stop;
};
