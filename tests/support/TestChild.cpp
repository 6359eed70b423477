#include "TestChild.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testchild {

namespace {

// The shell that shell() runs: the command runs in the background of a shell
// that waits for it, because a shell defers its traps while a command runs in
// its foreground. The test's death sends SIGTERM to this shell, and the trap
// then kills the whole group: the command and whatever it started, which a
// death signal of their own would not reach.
const char *const kGuardedShell = "trap 'kill -KILL 0' TERM; /bin/sh -c \"$1\" & wait $!";

pid_t start(const std::vector<std::string> &args, int output, int errors, int deathSignal) {
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t test = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        if (!tieToTest(test, deathSignal))
            ::_exit(127);
        if (input >= 0)
            ::dup2(input, STDIN_FILENO);
        if (output >= 0)
            ::dup2(output, STDOUT_FILENO);
        if (errors >= 0)
            ::dup2(errors, STDERR_FILENO);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    // The child sets its group itself too; whichever comes first, a signal
    // to the group reaches it from here on.
    if (pid > 0)
        ::setpgid(pid, pid);
    if (input >= 0)
        ::close(input);
    return pid;
}

} // namespace

bool tieToTest(pid_t test, int deathSignal) noexcept {
    ::setpgid(0, 0);
    if (::prctl(PR_SET_PDEATHSIG, deathSignal, 0, 0, 0) != 0)
        return false;
    // The test may have ended between the fork and the line above: then the
    // child already belongs to another parent, and no signal will come.
    return ::getppid() == test;
}

pid_t spawn(const std::vector<std::string> &argv, int output, int errors) {
    return start(argv, output, errors, SIGKILL);
}

void signalGroup(pid_t child, int signal) noexcept {
    if (child > 0)
        ::kill(-child, signal);
}

int wait(pid_t child) noexcept {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

pid_t spawnShell(const std::string &command, int output, int errors) {
    return start({"/bin/sh", "-c", kGuardedShell, "sh", command}, output, errors, SIGTERM);
}

int shell(const std::string &command, std::string *output) {
    int fds[2] = {-1, -1};
    if (output && ::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = start({"/bin/sh", "-c", kGuardedShell, "sh", command}, fds[1], -1, SIGTERM);
    if (fds[1] >= 0)
        ::close(fds[1]);
    if (fds[0] >= 0) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = pid > 0 ? ::read(fds[0], buffer, sizeof buffer) : 0;
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            output->append(buffer, static_cast<std::size_t>(n));
        }
        ::close(fds[0]);
    }
    return pid > 0 ? wait(pid) : -1;
}

} // namespace testchild
