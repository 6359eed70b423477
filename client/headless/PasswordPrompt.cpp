#include "PasswordPrompt.h"

#include "settings/StandardStreams.h"

#include <QByteArray>

#include <csignal>
#include <cstdio>

#include <termios.h>
#include <unistd.h>

namespace {

termios g_savedTerminal{};

// Ctrl-C at the prompt must not leave the terminal without echo.
void restoreAndDie(int signo) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
    std::signal(signo, SIG_DFL);
    std::raise(signo);
}

// One line of standard input without its line end; nothing at end of input.
std::optional<QByteArray> readLine() {
    QByteArray line;
    for (;;) {
        const int c = std::fgetc(stdin);
        if (c == EOF) {
            if (line.isEmpty())
                return std::nullopt;
            break;
        }
        if (c == '\n')
            break;
        line.append(char(c));
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

std::optional<QString> readPassword(const QString &prompt) {
    if (isatty(STDIN_FILENO) != 1) {
        const std::optional<QByteArray> line = readLine();
        if (!line)
            return std::nullopt;
        return QString::fromUtf8(*line);
    }

    // Never read a password that the terminal would echo.
    if (tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0)
        return std::nullopt;
    std::fputs(prompt.toLocal8Bit().constData(), StandardStreams::error());
    std::fflush(StandardStreams::error());
    struct sigaction restore {
    }, previousInt{}, previousTerm{};
    restore.sa_handler = restoreAndDie;
    sigemptyset(&restore.sa_mask);
    sigaction(SIGINT, &restore, &previousInt);
    sigaction(SIGTERM, &restore, &previousTerm);
    termios silent = g_savedTerminal;
    silent.c_lflag &= ~tcflag_t(ECHO);
    silent.c_lflag |= ECHONL; // the Enter key still moves to the next line
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);

    const std::optional<QByteArray> line = readLine();

    tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    if (!line)
        return std::nullopt;
    return QString::fromUtf8(*line);
}
