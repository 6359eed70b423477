#pragma once

#include <cstdio>

// Libraries in this process (libtonemill among them) print their
// diagnostics on standard output. A program whose standard output is meant
// for people or scripts claims it: it gets a stream on the original standard
// output, and file descriptor 1 then leads into a pipe whose lines a thread
// of its own logs under "sonarbox.tonemill" (so they reach the log file, and
// the terminal only with --verbose). Call it before any other thread runs;
// it answers `stdout` when the descriptors cannot be moved. At exit (the
// application object's end, else exit()) the lines still in the pipe are
// logged and descriptor 1 leads to standard error.
FILE *claimStandardOutput();
