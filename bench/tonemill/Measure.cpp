#include "Measure.h"

#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

Cost waitFor(pid_t child, std::chrono::steady_clock::time_point start) {
    Cost cost;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) {
        return cost;
    }
    cost.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto seconds = [](const timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
    cost.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    cost.peakKiB = usage.ru_maxrss;
    cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return cost;
}

void silence() {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        close(null);
    }
}

} // namespace

Cost runProgram(const std::vector<std::string> &argv) {
    std::vector<char *> args;
    for (const std::string &arg : argv) {
        args.push_back(const_cast<char *>(arg.c_str()));
    }
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        silence();
        execvp(args[0], args.data());
        _exit(127);
    }
    return child < 0 ? Cost{} : waitFor(child, start);
}

Cost runInChild(const std::function<bool()> &work) {
    // One shared page carries the calling thread's CPU time back.
    void *page =
        mmap(nullptr, sizeof(double), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) {
        return Cost{};
    }
    auto *mainThreadCpu = static_cast<double *>(page);
    *mainThreadCpu = -1;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        silence();
        const bool ok = work();
        timespec used{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
        *mainThreadCpu = used.tv_sec + used.tv_nsec / 1e9;
        _exit(ok ? 0 : 1);
    }
    Cost cost = child < 0 ? Cost{} : waitFor(child, start);
    cost.mainThreadCpuSeconds = *mainThreadCpu;
    munmap(page, sizeof(double));
    return cost;
}
