#pragma once

#include <cstdio>

// Libraries in this process (libtonemill among them) print their
// diagnostics on standard output and standard error, as they must. A program
// whose terminal is meant for people claims both descriptors: they then lead
// into pipes whose lines a thread of its own logs under "sonarbox.tonemill"
// (so they reach the log file, and the terminal only with --verbose), and the
// program writes its own lines to `output()` and `error()`, which lead where
// descriptors 1 and 2 led before. Children inherit the pipes, so what they
// print is logged too.
//
// What must outlive a failing process still reaches the terminal: the
// sanitizers' reports are written straight to it, and a process that aborts
// (a failed assertion, an uncaught exception, the C library's own checks)
// first hands it what is still waiting in the pipe.
namespace StandardStreams {

// Call early in main, before other threads print. Answers false, and
// changes nothing, when the descriptors cannot be moved. At exit (the
// application object's end, else exit()) the lines still in the pipes are
// logged, descriptor 2 leads to the terminal again and descriptor 1 to it too
// (late lines of a library must not reach a script reading the output).
bool claim();

// The program's own standard output and error: where descriptors 1 and 2
// led before they were claimed; stdout and stderr while unclaimed.
FILE *output();
FILE *error();

} // namespace StandardStreams
