#include "StandardOutput.h"

#include <unistd.h>

FILE *claimStandardOutput() {
    const int own = dup(STDOUT_FILENO);
    FILE *stream = own >= 0 ? fdopen(own, "w") : nullptr;
    if (!stream)
        return stdout;
    std::fflush(stdout);
    if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::fclose(stream);
        return stdout;
    }
    return stream;
}
