#include "StandardOutput.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcLibraryOutput, "sonarbox.tonemill", QtInfoMsg)

namespace {

std::thread *g_reader = nullptr;
std::atomic<bool> g_stopping{false};

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

void readPipe(int fd) {
    QByteArray pending;
    char buffer[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready > 0) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                pending.append(buffer, n);
                logLines(pending, false);
                continue;
            }
            if (n == 0 || (errno != EINTR && errno != EAGAIN))
                break;
        } else if (ready < 0 && errno != EINTR) {
            break;
        } else if (g_stopping.load()) {
            break; // nothing left to read
        }
    }
    logLines(pending, true);
    ::close(fd);
}

void release() {
    if (!g_reader)
        return;
    std::fflush(stdout);
    // Closes the pipe's writing end (children may still hold one: the
    // reader then stops once the pipe is empty, not at its end).
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    g_stopping = true;
    g_reader->join();
    delete g_reader;
    g_reader = nullptr;
}

} // namespace

FILE *claimStandardOutput() {
    const int own = dup(STDOUT_FILENO);
    FILE *stream = own >= 0 ? fdopen(own, "w") : nullptr;
    if (!stream)
        return stdout;
    std::fflush(stdout);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        std::fclose(stream);
        return stdout;
    }
    if (::dup2(fds[1], STDOUT_FILENO) < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        std::fclose(stream);
        return stdout;
    }
    ::close(fds[1]);
    // Whole lines as they are printed, in step with the program's own log.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    g_reader = new std::thread(readPipe, fds[0]);
    if (QCoreApplication::instance())
        qAddPostRoutine(release);
    else
        std::atexit(release);
    return stream;
}
