// For tests of how children end when their test dies: a test starts a
// stand-in test (its own program running one of its DISABLED_ cases, in a
// suite named StandIn), kills it as a time-out would, and then sees what
// became of the processes the stand-in had started.
#pragma once

#include "TestChild.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// While it lives, the children of this process's descendants that lose
// their parent come to this process instead of to init, so that the test can
// reap them and read how they ended.
class OrphanReaper {
public:
    OrphanReaper() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }
    ~OrphanReaper() { ::prctl(PR_SET_CHILD_SUBREAPER, 0); }
    OrphanReaper(const OrphanReaper &) = delete;
    OrphanReaper &operator=(const OrphanReaper &) = delete;

    // Every process below `ancestor` now, each with its command name.
    static std::map<pid_t, std::string> descendantsOf(pid_t ancestor) {
        std::map<pid_t, pid_t> parents;
        std::map<pid_t, std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            if (!std::getline(stat, line))
                continue;
            // "pid (command) state ppid …"; the command may hold spaces.
            const auto open = line.find('('), close = line.rfind(')');
            if (open == std::string::npos || close == std::string::npos)
                continue;
            std::istringstream rest(line.substr(close + 1));
            char state = 0;
            pid_t parent = 0;
            rest >> state >> parent;
            const pid_t pid = std::stoi(name);
            parents[pid] = parent;
            names[pid] = line.substr(open + 1, close - open - 1);
        }
        std::map<pid_t, std::string> below;
        for (const auto &[pid, parent] : parents) {
            for (pid_t up = parent; up > 1; up = parents.count(up) ? parents[up] : 0) {
                if (up == ancestor) {
                    below[pid] = names[pid];
                    break;
                }
            }
        }
        return below;
    }

    // Reaps `orphan` once it has ended, waiting up to `ms`: its wait status.
    // Nothing when it is still running: it is then killed, so that a failed
    // test leaves nothing behind either.
    static std::optional<int> reap(pid_t orphan, int ms) {
        const std::optional<int> status = reapWithin(orphan, ms);
        if (!status) {
            ::kill(orphan, SIGKILL);
            reapWithin(orphan, 5000);
        }
        return status;
    }

private:
    static std::optional<int> reapWithin(pid_t orphan, int ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            int status = 0;
            const pid_t r = ::waitpid(orphan, &status, WNOHANG);
            if (r == orphan)
                return status;
            if (r < 0 || std::chrono::steady_clock::now() > deadline)
                return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
};

// This program running the stand-in case StandIn.DISABLED_<name>, its
// standard output read here.
class StandIn {
public:
    // `temporary`: the stand-in's TMPDIR, when not empty (a killed stand-in
    // leaves its temporary files behind).
    explicit StandIn(const std::string &name, const std::string &temporary = {}) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        m_output = fds[0];
        std::vector<std::string> argv = {self(), "--gtest_also_run_disabled_tests",
                                         "--gtest_filter=StandIn.DISABLED_" + name};
        if (!temporary.empty())
            argv.insert(argv.begin(), {"env", "TMPDIR=" + temporary});
        m_pid = testchild::spawn(argv, fds[1]);
        ::close(fds[1]);
    }
    ~StandIn() {
        kill();
        if (m_output >= 0)
            ::close(m_output);
    }
    StandIn(const StandIn &) = delete;
    StandIn &operator=(const StandIn &) = delete;
    pid_t pid() const { return m_pid; }

    // The first line from the stand-in that starts with `prefix`; empty when
    // none came within two minutes (or the stand-in ended first).
    std::string lineStartingWith(const std::string &prefix) {
        for (;;) {
            const auto end = m_seen.find('\n');
            if (end != std::string::npos) {
                const std::string line = m_seen.substr(0, end);
                m_seen.erase(0, end + 1);
                if (line.rfind(prefix, 0) == 0)
                    return line;
                continue;
            }
            pollfd p{m_output, POLLIN, 0};
            char buffer[4096];
            const ssize_t n =
                ::poll(&p, 1, 120000) > 0 ? ::read(m_output, buffer, sizeof buffer) : 0;
            if (n <= 0)
                return {};
            m_seen.append(buffer, static_cast<std::size_t>(n));
        }
    }

    // Reaps the stand-in once it ends: its exit code, -1 when killed.
    int wait() {
        const int code = testchild::wait(m_pid);
        m_pid = -1;
        return code;
    }
    // SIGKILL, as ctest's time-out sends, and reaped.
    void kill() {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        testchild::wait(m_pid);
        m_pid = -1;
    }

    // Says a line to the test, from the stand-in.
    static void say(const std::string &line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    // In the stand-in: waits for the test to kill it.
    [[noreturn]] static void waitToBeKilled() {
        for (;;)
            ::pause();
    }

private:
    static std::string self() {
        char path[PATH_MAX] = {};
        const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
        return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
    }

    pid_t m_pid = -1;
    int m_output = -1;
    std::string m_seen;
};

// Starts the stand-in `name`, kills it once it says "ready", and expects
// every process it had started by then (among them one of each command name
// in `expected`) to end with it.
inline void expectAllKilledWithTheStandIn(const std::string &name,
                                          const std::vector<std::string> &expected) {
    OrphanReaper reaper;
    std::string temporary =
        (std::filesystem::temp_directory_path() / "sonarbox-stand-in-XXXXXX").string();
    ASSERT_NE(::mkdtemp(temporary.data()), nullptr);
    struct Remove {
        std::string path;
        ~Remove() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } remove{temporary};
    StandIn test(name, temporary);
    ASSERT_EQ(test.lineStartingWith("ready"), "ready");
    // A child may have been started a moment ago and not have its program's
    // name yet.
    std::map<pid_t, std::string> children;
    std::vector<std::string> missing = expected;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!missing.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        children = OrphanReaper::descendantsOf(test.pid());
        missing.clear();
        for (const std::string &command : expected) {
            bool found = false;
            for (const auto &child : children)
                found = found || child.second == command;
            if (!found)
                missing.push_back(command);
        }
    }
    for (const std::string &command : missing)
        ADD_FAILURE() << "no " << command << " below the stand-in";
    test.kill();
    for (const auto &[pid, command] : children) {
        EXPECT_TRUE(OrphanReaper::reap(pid, 20000).has_value())
            << command << " (" << pid << ") outlived its test";
    }
}
