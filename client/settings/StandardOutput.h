#pragma once

#include <cstdio>

// Libraries in this process (the recognition library among them) print
// their diagnostics on standard output. A program whose standard output is
// meant for people or scripts claims it: it gets a stream on the original
// standard output, and file descriptor 1 then leads to standard error, where
// everything else the process prints joins the log. Call it before any other
// thread runs; it answers `stdout` when the descriptors cannot be moved.
FILE *claimStandardOutput();
