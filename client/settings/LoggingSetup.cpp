#include "LoggingSetup.h"

#include "LoggingFile.h"
#include "StandardStreams.h"

#include <QDateTime>
#include <QDir>

#include <atomic>
#include <cstdio>

#include <unistd.h>

namespace Logging {

namespace {

LoggingFile *g_file = nullptr; // set once, kept for the process
std::atomic<bool> g_verbose{false};

char levelLetter(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return 'D';
    case QtInfoMsg:
        return 'I';
    case QtWarningMsg:
        return 'W';
    case QtCriticalMsg:
        return 'E';
    case QtFatalMsg:
        return 'F';
    }
    return '?';
}

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (g_file) {
        const QString line =
            QStringLiteral("%1 %2 %3 %4: %5")
                .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs))
                .arg(::getpid())
                .arg(QLatin1Char(levelLetter(type)))
                .arg(QLatin1String(context.category ? context.category : "default"), message);
        g_file->append(line.toUtf8());
    }
    if (!reachesTerminal(type))
        return;
    // Written here rather than by Qt's own handler, which writes to
    // descriptor 2: a program that claimed it logs what arrives there.
    FILE *terminal = StandardStreams::error();
    const QByteArray text = qFormatLogMessage(type, context, message).toLocal8Bit() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), terminal);
    std::fflush(terminal);
}

} // namespace

QString logFilePath() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // XDG_STATE_HOME counts only when it is an absolute path.
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/Sonarbox/sonarbox.log");
}

bool reachesTerminal(QtMsgType type) {
    return g_verbose.load() || type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg;
}

void install(bool verbose) {
    g_verbose = verbose || qEnvironmentVariable("SONARBOX_VERBOSE") == QLatin1String("1");
    if (!g_file)
        g_file = new LoggingFile(logFilePath(), kLogFileBytes, kLogFilesKept);
    qInstallMessageHandler(handler);
}

} // namespace Logging
