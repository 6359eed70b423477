#include "Console.h"

#include "settings/LoggingSetup.h"
#include "settings/StandardStreams.h"

#include <QByteArray>

#include <mutex>

#include <sys/ioctl.h>
#include <unistd.h>

namespace Console {

namespace {

std::mutex g_lock;
bool g_statusShown = false; // guarded by g_lock

FILE *out() {
    return StandardStreams::output();
}
FILE *err() {
    return StandardStreams::error();
}
QtMessageHandler g_previousHandler = nullptr;

void eraseStatusLocked() {
    if (!g_statusShown)
        return;
    std::fputs("\r\033[K", out());
    std::fflush(out());
    g_statusShown = false;
}

void writeLocked(FILE *stream, const QString &line) {
    const QByteArray bytes = line.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

bool errorIsTerminal() {
    static const bool terminal = isatty(fileno(err())) == 1;
    return terminal;
}

void logHandler(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (Logging::reachesTerminal(type)) {
        std::lock_guard guard(g_lock);
        if (errorIsTerminal())
            eraseStatusLocked();
    }
    if (g_previousHandler) {
        g_previousHandler(type, context, message);
        return;
    }
    std::lock_guard guard(g_lock);
    writeLocked(err(), qFormatLogMessage(type, context, message));
}

} // namespace

void claimStandardStreams() {
    StandardStreams::claim();
}

bool outputIsTerminal() {
    static const bool terminal = isatty(fileno(out())) == 1;
    return terminal;
}

int terminalWidth() {
    winsize size{};
    if (ioctl(fileno(out()), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

void printLine(const QString &line) {
    std::lock_guard guard(g_lock);
    eraseStatusLocked();
    writeLocked(out(), line);
}

void printError(const QString &line) {
    std::lock_guard guard(g_lock);
    if (errorIsTerminal())
        eraseStatusLocked();
    writeLocked(err(), line);
}

void showStatus(const QString &text) {
    if (!outputIsTerminal())
        return;
    std::lock_guard guard(g_lock);
    const QByteArray bytes = text.toLocal8Bit();
    std::fputs("\r\033[K", out());
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out());
    std::fflush(out());
    g_statusShown = true;
}

void clearStatus() {
    std::lock_guard guard(g_lock);
    eraseStatusLocked();
}

void installLogHandler() {
    g_previousHandler = qInstallMessageHandler(logHandler);
}

} // namespace Console
