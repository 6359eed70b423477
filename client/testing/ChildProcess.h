#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// A program run by a test: started with fork and exec, its standard input a
// pipe, its standard output inherited, captured or discarded. It dies with
// the test, and stop(), a run past its limit and the destructor end its
// whole process group, what it started included (TestChild.h).
//
// Not QProcess: Qt starts children with vfork semantics, and until exec the
// child then runs on the parent's memory and on the calling thread's
// ThreadSanitizer state, which it corrupts. From then on the sanitizer
// reports no race on that thread, and the test dies at the next thread it
// starts ("starting new threads after multi-threaded fork"). fork is a call
// the sanitizer follows.
class ChildProcess {
public:
    enum class Output { Inherit, Capture, Discard };
    struct Options {
        // "NAME=VALUE" sets a variable for the child; "NAME" alone removes it.
        QStringList environment;
        Output output = Output::Inherit;
        // Standard error appended to this file; empty: inherited.
        QString errorFile;
    };

    ChildProcess() = default;
    // A child still running is killed, with its group, and reaped.
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Finds `program` on PATH unless it holds a slash.
    bool start(const QString &program, const QStringList &args, const Options &options);
    bool start(const QString &program, const QStringList &args) {
        return start(program, args, Options{});
    }

    void write(const QByteArray &data);
    void closeInput();
    // Waits up to `ms` for more output; answers everything captured so far.
    QByteArray output(int ms = 0);
    // Reaps the child when it ends within `ms` (reading its output meanwhile).
    bool waitForFinished(int ms);
    bool isRunning();
    // The exit code of a child that exited; -1 when it was killed by a signal.
    int exitCode() const { return m_exitCode; }
    // The signal that ended the child; 0 when it exited.
    int endingSignal() const { return m_endingSignal; }
    pid_t pid() const { return m_pid; }
    // To the child alone.
    void signal(int signalNumber);
    // SIGTERM to the child's group, and SIGKILL when the child is still there
    // after `graceMs`.
    void stop(int graceMs = 5000);

    struct Result {
        int exitCode = -1; // -1: did not start, was killed, or ran past the limit
        int signal = 0;    // what ended a child killed by a signal before the limit
        QByteArray output;
    };
    // Runs a program to its end, feeding it `input`; output captured.
    static Result run(const QString &program, const QStringList &args, const QByteArray &input = {},
                      int timeoutMs = 120000, const Options &options = captured());
    static Options captured() {
        Options o;
        o.output = Output::Capture;
        return o;
    }

private:
    void drain(int ms);
    void closeFd(int &fd);

    pid_t m_pid = -1;
    int m_input = -1;
    int m_output = -1;
    int m_exitCode = -1;
    int m_endingSignal = 0;
    bool m_reaped = true;
    QByteArray m_captured;
};
