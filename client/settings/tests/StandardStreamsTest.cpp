#include "TestEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct ProbeRun {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QByteArray out;
    QByteArray err;
    QByteArray log;
};

ProbeRun probe(const QString &what) {
    QTemporaryDir state;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
    env.remove(QStringLiteral("SONARBOX_VERBOSE"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(STREAMS_PROBE_EXE), {what});
    ProbeRun run;
    if (!p.waitForFinished(30000))
        return run;
    run.exitCode = p.exitCode();
    run.status = p.exitStatus();
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
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
    ASSERT_EQ(run.status, QProcess::NormalExit) << said(run);
    EXPECT_EQ(run.exitCode, 0) << said(run);
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
    EXPECT_EQ(run.status, QProcess::CrashExit) << said(run);
    // Written on standard error just before the abort, as the C library's
    // checks and an uncaught exception do.
    EXPECT_TRUE(run.err.contains("the reason for the abort")) << said(run);
    EXPECT_FALSE(run.err.contains("own info line")) << said(run);
}

} // namespace
