// What the cloud benchmarks share: a shell command's output, and one
// sonarbox-cloud serving a data folder on 127.0.0.1 for the benchmark's life,
// with what the kernel tells of its memory and processor time.
#pragma once

#include "LoadFigures.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace bench {

inline std::string run(const std::string &command) {
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

// Seconds since `start` on the steady clock.
inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Arguments for a shell command line, each in single quotes and led by a
// space (none of the benchmarks' paths and addresses holds a quote).
inline std::string shellWords(const std::vector<std::string> &args) {
    std::string out;
    for (const auto &a : args)
        out.append(" '").append(a).append("'");
    return out;
}

inline std::string readText(const std::string &path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Server {
public:
    explicit Server(const std::filesystem::path &data, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {SONARBOX_CLOUD_BINARY, "serve",    "--data",
                                         data.string(),         "--listen", "127.0.0.1:0"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        if (pipe(fds) != 0)
            std::exit(1);
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            dup2(fds[1], 1);
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 2); // the request log would only slow the run
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        std::string line;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            line += c;
        close(fds[0]);
        port = std::stoi(line.substr(line.rfind(':') + 1));
    }
    ~Server() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;
    int port = 0;

    // The peak resident size (VmHWM) in KiB since the start or the last reset.
    long peakResidentKiB() const { return bench::peakResidentKiB(readText(proc("status"))); }
    // Starts the peak anew from the present resident size, so that a phase
    // of a benchmark gets a peak of its own.
    void resetPeakResident() const { std::ofstream(proc("clear_refs")) << "5"; }
    // Processor time used so far, user and system, in clock ticks.
    long long processorTicks() const { return bench::processorTicks(readText(proc("stat"))); }

private:
    std::string proc(const char *name) const {
        return "/proc/" + std::to_string(pid_) + "/" + name;
    }
    pid_t pid_ = -1;
};

} // namespace bench
