#pragma once

#include <cstddef>
#include <cstdint>

// The driver behind the exported entry points: arguments, engine start, user,
// one query over all items, shutdown.
class TonemillMain {
public:
    static int32_t mainGraceNote(int argc, char *argv[], char *responseBuffer, int32_t responseSize,
                                 char *userBuffer, int32_t userSize, int32_t mode);
    static int32_t PrintUsage(const char *programName);
    // Threads that decode and hash the files of one call (>= 1).
    static int DecodeWorkers(std::size_t fileCount);
};
