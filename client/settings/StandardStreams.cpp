#include "StandardStreams.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#include <sanitizer/common_interface_defs.h>
#endif

Q_LOGGING_CATEGORY(lcLibraryOutput, "sonarbox.tonemill", QtInfoMsg)

namespace {

// One claimed descriptor: the program's own stream on what it led to, and
// the reading end of the pipe that now takes its place.
struct Claimed {
    FILE *own = nullptr;
    int pipe = -1;
};

Claimed g_output;
Claimed g_error;
std::thread *g_reader = nullptr;
std::atomic<bool> g_stopping{false};
// For the abort handler, which may read only plain values: the terminal's
// standard error, and the error pipe's reading end while it is open.
volatile sig_atomic_t g_terminalError = -1;
volatile sig_atomic_t g_errorPipe = -1;
// The last bytes read from the error pipe. The message that explains an
// abort is often read (and logged) just before the abort: the handler shows
// these again. `g_recentEnd` counts every byte ever kept.
char g_recent[2048];
std::atomic<size_t> g_recentEnd{0};
// The handshake between the abort handler and the reader: the reader marks
// a read of the error pipe busy, and takes no more once an abort began; the
// handler waits for a busy read to be kept before it shows what was read.
std::atomic<bool> g_aborting{false};
std::atomic<bool> g_readingError{false};

void keepRecent(const char *bytes, size_t n) {
    size_t end = g_recentEnd.load(std::memory_order_relaxed);
    for (size_t i = 0; i < n; ++i)
        g_recent[(end + i) % sizeof g_recent] = bytes[i];
    g_recentEnd.store(end + n, std::memory_order_release);
}

void logLines(QByteArray &pending, bool all) {
    qsizetype end;
    while ((end = pending.indexOf('\n')) >= 0 || (all && !pending.isEmpty())) {
        const qsizetype cut = end >= 0 ? end : pending.size();
        const QByteArray line = pending.left(cut).trimmed();
        pending.remove(0, cut + 1);
        if (!line.isEmpty())
            qCInfo(lcLibraryOutput).noquote() << QString::fromLocal8Bit(line);
    }
}

// Logs the lines of both pipes until every writer is gone, or until the end
// is asked and the pipes are empty (children may still hold a writing end).
void readPipes(int outputFd, int errorFd) {
    QByteArray pending[2];
    pollfd fds[2] = {{outputFd, POLLIN, 0}, {errorFd, POLLIN, 0}};
    char buffer[4096];
    int open = 2;
    while (open > 0) {
        const int ready = ::poll(fds, 2, 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready == 0 && g_stopping.load())
            break;
        for (int i = 0; i < 2 && ready > 0; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const bool error = fds[i].fd == errorFd;
            if (error) {
                g_readingError = true;
                if (g_aborting) {
                    g_readingError = false;
                    continue;
                }
            }
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (error) {
                if (n > 0)
                    keepRecent(buffer, size_t(n));
                g_readingError = false;
            }
            if (n > 0) {
                pending[i].append(buffer, n);
                logLines(pending[i], false);
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                fds[i].fd = -1; // poll skips it from now on
                --open;
            }
        }
    }
    for (QByteArray &lines : pending)
        logLines(lines, true);
    ::close(outputFd);
    ::close(errorFd);
}

// An abort ends the process before the logger could pass on the message
// that explains it: the last error lines and what is still in the error
// pipe go to the terminal.
void handleAbort(int signal) {
    const int terminal = g_terminalError;
    const int pipe = g_errorPipe;
    g_aborting = true;
    // A read in progress is kept within microseconds; a reader stopped in it
    // (the process is ending) is not waited for long.
    for (int i = 0; i < 100 && g_readingError; ++i) {
        const timespec pause{0, 1'000'000};
        ::nanosleep(&pause, nullptr);
    }
    if (terminal >= 0) {
        const size_t end = g_recentEnd.load(std::memory_order_acquire);
        const size_t start = end > sizeof g_recent ? end - sizeof g_recent : 0;
        for (size_t at = start; at < end;) {
            const size_t from = at % sizeof g_recent;
            const size_t run = std::min(end - at, sizeof g_recent - from);
            if (::write(terminal, g_recent + from, run) != ssize_t(run))
                break;
            at += run;
        }
    }
    if (terminal >= 0 && pipe >= 0) {
        char buffer[4096];
        pollfd p{pipe, POLLIN, 0};
        while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
            const ssize_t n = ::read(pipe, buffer, sizeof buffer);
            if (n <= 0 || ::write(terminal, buffer, size_t(n)) != n)
                break;
        }
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Makes `fd` lead into a new pipe; answers the program's own stream on what
// it led to, and the pipe's reading end.
bool claimDescriptor(int fd, Claimed *claimed) {
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (own < 0)
        return false;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        ::close(own);
        return false;
    }
    FILE *stream = ::fdopen(own, "w");
    if (!stream || ::dup2(fds[1], fd) < 0) {
        if (stream)
            std::fclose(stream);
        else
            ::close(own);
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    ::close(fds[1]);
    // Whole lines as they are written, in step with the program's log.
    std::setvbuf(stream, nullptr, _IOLBF, 0);
    *claimed = {stream, fds[0]};
    return true;
}

void release() {
    if (!g_reader)
        return;
    std::fflush(stdout);
    std::fflush(stderr);
    // Closes the pipes' writing ends (children may still hold one: the reader
    // then stops once the pipes are empty, not at their end).
    ::dup2(fileno(g_error.own), STDERR_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    g_errorPipe = -1; // the reader closes it
    g_stopping = true;
    g_reader->join();
    delete g_reader;
    g_reader = nullptr;
}

} // namespace

namespace StandardStreams {

bool claim() {
    if (g_reader)
        return true;
    std::fflush(stdout);
    std::fflush(stderr);
    Claimed output;
    if (!claimDescriptor(STDOUT_FILENO, &output))
        return false;
    Claimed error;
    if (!claimDescriptor(STDERR_FILENO, &error)) {
        // Standard output back as it was.
        ::dup2(fileno(output.own), STDOUT_FILENO);
        std::fclose(output.own);
        ::close(output.pipe);
        return false;
    }
    g_output = output;
    g_error = error;
    // Whole lines from the libraries too, rather than pieces.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    g_terminalError = fileno(g_error.own);
    g_errorPipe = g_error.pipe;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    __sanitizer_set_report_fd(reinterpret_cast<void *>(static_cast<intptr_t>(g_terminalError)));
#endif
    std::signal(SIGABRT, handleAbort);
    g_reader = new std::thread(readPipes, g_output.pipe, g_error.pipe);
    if (QCoreApplication::instance())
        qAddPostRoutine(release);
    else
        std::atexit(release);
    return true;
}

FILE *output() {
    return g_output.own ? g_output.own : stdout;
}

FILE *error() {
    return g_error.own ? g_error.own : stderr;
}

} // namespace StandardStreams
