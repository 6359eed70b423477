#include "ChildProcess.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {

struct ProbeRun {
    int exitCode = -1; // -1: ended by a signal, or still running after the limit
    int signal = 0;
    QByteArray out;
    QByteArray err;
    QByteArray log;
};

ProbeRun probe(const QString &what) {
    QTemporaryDir state;
    ChildProcess::Options options = ChildProcess::captured();
    options.environment = {QStringLiteral("XDG_STATE_HOME=") + state.path(),
                           QStringLiteral("SONARBOX_VERBOSE")};
    options.errorFile = state.filePath(QStringLiteral("stderr.txt"));
    const ChildProcess::Result done =
        ChildProcess::run(QStringLiteral(STREAMS_PROBE_EXE), {what}, {}, 30000, options);
    ProbeRun run;
    run.exitCode = done.exitCode;
    run.signal = done.signal;
    run.out = done.output;
    QFile err(options.errorFile);
    if (err.open(QIODevice::ReadOnly))
        run.err = err.readAll();
    QFile log(state.filePath(QStringLiteral("Sonarbox/sonarbox.log")));
    if (log.open(QIODevice::ReadOnly))
        run.log = log.readAll();
    return run;
}

std::string said(const ProbeRun &run) {
    return ("stdout:\n" + run.out + "stderr:\n" + run.err + "log:\n" + run.log).toStdString();
}

TEST(StandardStreams, LibraryLinesGoToTheLogAndTheProgramsOwnToTheTerminal) {
    const ProbeRun run = probe(QStringLiteral("child"));
    ASSERT_EQ(run.exitCode, 0) << said(run);
    // The terminal: the program's output on standard output, its warning on
    // standard error, nothing of the library's or its children's.
    EXPECT_EQ(run.out, "own output line\n") << said(run);
    EXPECT_TRUE(run.err.contains("own warning line")) << said(run);
    EXPECT_FALSE(run.err.contains("own info line")) << said(run);
    EXPECT_FALSE(run.err.contains("library")) << said(run);
    EXPECT_FALSE(run.err.contains("child")) << said(run);
    // The log: every line, the library's and the children's as information.
    for (const char *line : {"library result line", "library error line", "library raw error",
                             "child output", "child error"})
        EXPECT_TRUE(run.log.contains(QByteArray(" I sonarbox.tonemill: ") + line)) << line;
    EXPECT_TRUE(run.log.contains(" W default: own warning line")) << said(run);
}

TEST(StandardStreams, AnAbortingProcessStillShowsWhyOnTheTerminal) {
    const ProbeRun run = probe(QStringLiteral("abort"));
    EXPECT_EQ(run.signal, SIGABRT) << said(run);
    // Written on standard error just before the abort, as the C library's
    // checks and an uncaught exception do.
    EXPECT_TRUE(run.err.contains("the reason for the abort")) << said(run);
    EXPECT_FALSE(run.err.contains("own info line")) << said(run);
}

} // namespace
