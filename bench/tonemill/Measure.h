#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

// What one contender cost.
struct Cost {
    double wallSeconds = 0;
    double cpuSeconds = 0;            // user + system of the child
    long peakKiB = 0;                 // peak resident set of the child
    double mainThreadCpuSeconds = -1; // the child's calling thread, when known
    bool ok = false;

    // Least wall time on two idle cores: the calling thread's own work, or
    // half of all the work, whichever is longer.
    double twoCoreBound() const {
        return mainThreadCpuSeconds < 0 ? cpuSeconds
                                        : std::max(mainThreadCpuSeconds, cpuSeconds / 2);
    }
};

// Runs a program with its arguments in a child process, output discarded.
Cost runProgram(const std::vector<std::string> &argv);
// Runs work() in a forked child; its result becomes the exit status. The
// CPU time of the child's calling thread is reported too.
Cost runInChild(const std::function<bool()> &work);
