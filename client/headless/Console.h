#pragma once

#include <QString>

#include <cstdio>

// The program's standard output and error. Lines are written whole and
// flushed at once. When standard output is a terminal, one live status line
// (a progress bar) can sit below the printed lines: printing a line, or a log
// line reaching the same terminal, clears it first, and the next show()
// draws it again. Every operation may be called from any thread.
namespace Console {

// Keeps the terminal for the program's own lines: whatever else the process
// writes to standard output and error goes to the log (see
// settings/StandardStreams.h). Call first thing in main.
void claimStandardStreams();

bool outputIsTerminal();
// Characters per line of the terminal (80 when it cannot be asked).
int terminalWidth();

void printLine(const QString &line);
void printError(const QString &line);

// Draws the live status line (terminal only; otherwise nothing happens).
void showStatus(const QString &text);
void clearStatus();

// Routes Qt's log output through the console, so that log lines on the
// terminal never run into the live status line. Call after Logging::install.
void installLogHandler();

} // namespace Console
