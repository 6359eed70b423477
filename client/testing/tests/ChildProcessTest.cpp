// The client's test children die with their test: the servers the sync tests
// start (sonarbox-cloud and mpd) and any other program started through
// ChildProcess; and ChildProcess ends what its child started.
#include "ChildProcess.h"
#include "CloudProcess.h"
#include "MpdProcess.h"
#include "StandIn.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

namespace {

TEST(ClientTestChildren, ServersAndToolsDieWithTheirTest) {
    expectAllKilledWithTheStandIn("StartsServers", {"sonarbox-cloud", "mpd", "sleep"});
}

// A shell whose own child sleeps in the background; answers that child.
pid_t startShellWithAChild(ChildProcess &shell) {
    if (!shell.start(QStringLiteral("sh"),
                     {QStringLiteral("-c"), QStringLiteral("sleep 1000 & echo $!; wait")},
                     ChildProcess::captured()))
        return -1;
    QByteArray said;
    TestEnvironment::waitUntil(
        [&] {
            said = shell.output();
            return said.endsWith('\n');
        },
        20000);
    return said.trimmed().toInt();
}

TEST(ClientTestChildren, StopTheDestructorAndTheTimeLimitEndWhatTheChildStarted) {
    OrphanReaper reaper;
    ChildProcess stopped;
    const pid_t afterStop = startShellWithAChild(stopped);
    ASSERT_GT(afterStop, 0);
    pid_t afterDestructor = -1;
    {
        ChildProcess destroyed;
        afterDestructor = startShellWithAChild(destroyed);
        ASSERT_GT(afterDestructor, 0);
    }
    stopped.stop();
    const ChildProcess::Result late = ChildProcess::run(
        QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("sleep 1000 & echo $!; wait")},
        {}, 1000);
    EXPECT_EQ(late.exitCode, -1);
    const pid_t afterLimit = late.output.trimmed().toInt();
    ASSERT_GT(afterLimit, 0);

    for (const auto &[pid, signal] :
         {std::pair{afterStop, SIGTERM}, std::pair{afterDestructor, SIGKILL},
          std::pair{afterLimit, SIGKILL}}) {
        const std::optional<int> status = OrphanReaper::reap(pid, 20000);
        EXPECT_TRUE(status.has_value()) << "the shell's child " << pid << " outlived it";
        if (status) {
            EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == signal)
                << pid << " ended with status " << *status;
        }
    }
}

// ---- the stand-in, run only by the test above

TEST(StandIn, DISABLED_StartsServers) {
    CloudProcess cloud;
    ASSERT_TRUE(cloud.start());
    MpdProcess mpd;
    ASSERT_TRUE(mpd.start());
    ChildProcess sleeper;
    ASSERT_TRUE(sleeper.start(QStringLiteral("sleep"), {QStringLiteral("1000")}));
    StandIn::say("ready");
    StandIn::waitToBeKilled();
}

} // namespace
