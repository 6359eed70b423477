#include "ChildProcess.h"

#include "TestChild.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

// The child's environment: ours with the options' changes.
std::vector<QByteArray> environmentFor(const QStringList &changes) {
    std::vector<QByteArray> env;
    for (char **e = environ; *e; ++e)
        env.emplace_back(*e);
    for (const QString &change : changes) {
        const QByteArray text = change.toLocal8Bit();
        const qsizetype eq = text.indexOf('=');
        const QByteArray name = eq < 0 ? text : text.left(eq);
        std::erase_if(env, [&](const QByteArray &v) { return v.startsWith(name + '='); });
        if (eq >= 0)
            env.push_back(text);
    }
    return env;
}

std::vector<char *> pointers(std::vector<QByteArray> &texts) {
    std::vector<char *> p;
    for (QByteArray &t : texts)
        p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

} // namespace

ChildProcess::~ChildProcess() {
    if (!m_reaped) {
        testchild::signalGroup(m_pid, SIGKILL);
        waitForFinished(10000);
    }
    closeFd(m_input);
    closeFd(m_output);
}

void ChildProcess::closeFd(int &fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool ChildProcess::start(const QString &program, const QStringList &args, const Options &options) {
    // A child that ends before reading its input must not kill the test.
    ::signal(SIGPIPE, SIG_IGN);
    std::vector<QByteArray> argTexts{program.toLocal8Bit()};
    for (const QString &a : args)
        argTexts.push_back(a.toLocal8Bit());
    std::vector<QByteArray> envTexts = environmentFor(options.environment);
    std::vector<char *> argv = pointers(argTexts), envp = pointers(envTexts);

    int in[2], out[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0)
        return false;
    if (options.output == Output::Capture && ::pipe2(out, O_CLOEXEC) != 0)
        return false;
    int quiet = -1, errors = -1;
    if (options.output == Output::Discard)
        quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (!options.errorFile.isEmpty())
        errors = ::open(options.errorFile.toLocal8Bit().constData(),
                        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);

    const pid_t test = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        if (!testchild::tieToTest(test))
            ::_exit(127);
        ::dup2(in[0], STDIN_FILENO);
        if (out[1] >= 0)
            ::dup2(out[1], STDOUT_FILENO);
        if (quiet >= 0)
            ::dup2(quiet, STDOUT_FILENO);
        if (errors >= 0)
            ::dup2(errors, STDERR_FILENO);
        ::execvpe(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (pid > 0)
        ::setpgid(pid, pid); // as the child does: a signal to the group reaches it from now on
    ::close(in[0]);
    if (out[1] >= 0)
        ::close(out[1]);
    if (quiet >= 0)
        ::close(quiet);
    if (errors >= 0)
        ::close(errors);
    if (pid < 0) {
        ::close(in[1]);
        if (out[0] >= 0)
            ::close(out[0]);
        return false;
    }
    m_pid = pid;
    m_reaped = false;
    m_exitCode = -1;
    m_endingSignal = 0;
    m_captured.clear();
    m_input = in[1];
    m_output = out[0];
    return true;
}

void ChildProcess::write(const QByteArray &data) {
    qsizetype done = 0;
    while (m_input >= 0 && done < data.size()) {
        const ssize_t n = ::write(m_input, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
}

void ChildProcess::closeInput() {
    closeFd(m_input);
}

void ChildProcess::drain(int ms) {
    if (m_output < 0) {
        if (ms > 0)
            ::usleep(useconds_t(ms) * 1000);
        return;
    }
    pollfd p{m_output, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0)
        return;
    char buffer[65536];
    const ssize_t n = ::read(m_output, buffer, sizeof buffer);
    if (n > 0)
        m_captured.append(buffer, n);
    else if (n == 0)
        closeFd(m_output); // the child closed its end
}

QByteArray ChildProcess::output(int ms) {
    drain(ms);
    // Whatever else is already there.
    for (int i = 0; i < 64 && m_output >= 0; ++i) {
        pollfd p{m_output, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0)
            break;
        drain(0);
    }
    return m_captured;
}

bool ChildProcess::isRunning() {
    if (m_reaped)
        return false;
    int status = 0;
    const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
        m_reaped = true;
        m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        m_endingSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        return false;
    }
    return r == 0;
}

bool ChildProcess::waitForFinished(int ms) {
    const QDeadlineTimer deadline(ms);
    while (isRunning()) {
        if (deadline.hasExpired())
            return false;
        drain(10);
    }
    // What the child wrote before it ended (bounded: a grandchild may still
    // hold the pipe open).
    const QDeadlineTimer rest(2000);
    while (m_output >= 0 && !rest.hasExpired())
        drain(50);
    return true;
}

void ChildProcess::signal(int signalNumber) {
    if (!m_reaped)
        ::kill(m_pid, signalNumber);
}

void ChildProcess::stop(int graceMs) {
    if (!isRunning())
        return;
    testchild::signalGroup(m_pid, SIGTERM);
    if (!waitForFinished(graceMs)) {
        testchild::signalGroup(m_pid, SIGKILL);
        waitForFinished(2000);
    }
}

ChildProcess::Result ChildProcess::run(const QString &program, const QStringList &args,
                                       const QByteArray &input, int timeoutMs,
                                       const Options &options) {
    Result result;
    ChildProcess child;
    if (!child.start(program, args, options))
        return result;
    child.write(input);
    child.closeInput();
    if (!child.waitForFinished(timeoutMs)) {
        testchild::signalGroup(child.pid(), SIGKILL);
        child.waitForFinished(10000);
        result.output = child.output();
        return result;
    }
    result.output = child.output();
    result.exitCode = child.exitCode();
    result.signal = child.endingSignal();
    return result;
}
