#include "FileStillness.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

qint64 nanoseconds(const timespec &time) {
    return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

qint64 nowNs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

// A process that opens a file for writing while we hold a lease on it makes
// the kernel signal us (SIGIO), whose default action ends the program. The
// lease is held only for an instant, but a writer may come in that instant:
// the signal is ignored unless someone already handles it.
void ignoreLeaseBreaks() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (::sigaction(SIGIO, nullptr, &current) != 0)
            return;
        if ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            ::sigaction(SIGIO, &ignore, nullptr);
        }
    });
}

} // namespace

FileStillness::Seen FileStillness::Seen::of(const struct stat &attributes) {
    return {qint64(attributes.st_size),
            std::max(nanoseconds(attributes.st_mtim), nanoseconds(attributes.st_ctim))};
}

void FileStillness::setWaiting(std::function<bool()> stop) {
    m_waits = true;
    m_stop = std::move(stop);
}

std::chrono::nanoseconds FileStillness::restLeft(qint64 statusNs) const {
    if (m_settle.count() <= 0)
        return {};
    return std::chrono::nanoseconds(std::max<qint64>(0, statusNs + m_settle.count() - nowNs()));
}

bool FileStillness::sleepUntilRested(qint64 statusNs) const {
    using namespace std::chrono_literals;
    for (;;) {
        const std::chrono::nanoseconds left = restLeft(statusNs);
        if (left.count() <= 0)
            return true;
        if (m_stop && m_stop())
            return false;
        std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(left, 100ms));
    }
}

FileStillness::Verdict FileStillness::beforeReading(int fd, struct stat *attributes,
                                                    const std::optional<Seen> &first) const {
    if (m_settle.count() > 0) {
        const Seen now = Seen::of(*attributes);
        if (first && now != *first)
            return Verdict::Changing;
        const qint64 statusNs = nanoseconds(attributes->st_ctim);
        if (restLeft(statusNs).count() > 0) {
            if (!m_waits || !sleepUntilRested(statusNs) || ::fstat(fd, attributes) != 0 ||
                Seen::of(*attributes) != now)
                return Verdict::Changing;
        }
    }
    return openForWriting(fd).value_or(false) ? Verdict::OpenForWriting : Verdict::Still;
}

FileStillness::Verdict FileStillness::afterReading(int fd, const Seen &before) const {
    // A writer that came while the file was read.
    if (openForWriting(fd).value_or(false))
        return Verdict::OpenForWriting;
    if (m_settle.count() <= 0)
        return Verdict::Still;
    struct stat now {};
    if (::fstat(fd, &now) != 0 || Seen::of(now) != before)
        return Verdict::Changing;
    return Verdict::Still;
}

FileStillness::Verdict FileStillness::ofPath(const QByteArray &encodedPath) const {
    const int fd = ::open(encodedPath.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return Verdict::Still;
    struct stat attributes {};
    const Verdict verdict =
        ::fstat(fd, &attributes) == 0 ? beforeReading(fd, &attributes) : Verdict::Still;
    ::close(fd);
    return verdict;
}

std::optional<bool> FileStillness::openForWriting(int fd) {
    ignoreLeaseBreaks();
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
        return false;
    }
    if (errno == EAGAIN)
        return true;
    // EACCES or EPERM: not our file; EINVAL: a file system without leases.
    return std::nullopt;
}
