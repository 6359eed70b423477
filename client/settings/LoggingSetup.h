#pragma once

#include <QLoggingCategory>
#include <QString>

// Where the log of a program goes. A person's terminal shows what the
// program says to them, not its log: every log line goes to the file
// `$XDG_STATE_HOME/Sonarbox/sonarbox.log` (`~/.local/state/…`), which keeps at
// most kLogFileBytes and the two files before it; warnings and errors also
// go to standard error, and with `verbose` every line does. Secrets never
// reach the log in the first place (the service layer masks them).
namespace Logging {

constexpr qint64 kLogFileBytes = 1024 * 1024;
constexpr int kLogFilesKept = 2;

QString logFilePath();
// Installs the log for the rest of the process: call once in main, after
// the QCoreApplication. `verbose` is also set by SONARBOX_VERBOSE=1 in the
// environment (for tests that read log lines from standard error).
void install(bool verbose);
// Whether a line of this type is written to standard error (so a live
// status line there must be cleared first).
bool reachesTerminal(QtMsgType type);

} // namespace Logging
