// Children of a test die with it: a stand-in test (this program, running one
// of the DISABLED_ cases below) starts children and is killed with SIGKILL,
// as a time-out kills a test; every process it started must end too.
#include "TestChild.h"
#include "StandIn.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

TEST(TestChild, ASpawnedChildDiesWithItsTest) {
    expectAllKilledWithTheStandIn("SpawnsAChild", {"sleep"});
}

TEST(TestChild, AShellCommandDiesWithItsTestAndSoDoesWhatItStarted) {
    expectAllKilledWithTheStandIn("RunsAShellCommand", {"sh", "sleep"});
}

TEST(TestChild, AChildWhoseTestEndedBeforeItWasTiedEndsItself) {
    OrphanReaper reaper;
    StandIn test("ForksAChildThatTiesLate");
    const std::string line = test.lineStartingWith("child ");
    ASSERT_FALSE(line.empty());
    const pid_t child = std::stoi(line.substr(6));
    // The stand-in leaves at once: the child ties itself after that.
    EXPECT_EQ(test.wait(), 0);
    const std::optional<int> status = OrphanReaper::reap(child, 20000);
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFEXITED(*status)) << *status;
    EXPECT_EQ(WEXITSTATUS(*status), 3) << "tieToTest did not see that its test was gone";
}

TEST(TestChild, ShellAnswersTheCommandsExitCodeAndOutput) {
    std::string output;
    EXPECT_EQ(testchild::shell("echo 'one two'; echo three >&2; exit 7", &output), 7);
    EXPECT_EQ(output, "one two\n");
    EXPECT_EQ(testchild::shell("true"), 0);
    EXPECT_EQ(testchild::shell("kill -TERM $$"), 128 + SIGTERM);
}

TEST(TestChild, SignalGroupEndsTheChildAndWhatItStarted) {
    OrphanReaper reaper;
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const pid_t child = testchild::spawn({"sh", "-c", "sleep 1000 & echo $!; wait"}, fds[1]);
    ::close(fds[1]);
    ASSERT_GT(child, 0);
    std::string line;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(fds[0]);
    ASSERT_FALSE(line.empty());
    const pid_t grandchild = std::stoi(line);

    testchild::signalGroup(child, SIGTERM);
    for (const pid_t pid : {child, grandchild}) {
        const std::optional<int> status = OrphanReaper::reap(pid, 20000);
        EXPECT_TRUE(status.has_value()) << pid << " outlived the signal to the group";
        if (status) {
            EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM) << *status;
        }
    }
}

TEST(TestChild, AProgramThatCannotBeRunExitsWith127) {
    EXPECT_EQ(testchild::wait(testchild::spawn({"/nonexistent/program"})), 127);
}

// ---- the stand-ins, run only by the tests above

TEST(StandIn, DISABLED_SpawnsAChild) {
    ASSERT_GT(testchild::spawn({"sleep", "1000"}), 0);
    StandIn::say("ready");
    StandIn::waitToBeKilled();
}

TEST(StandIn, DISABLED_RunsAShellCommand) {
    // The command's own child stays in the background; the shell waits.
    testchild::shell("sleep 1000 & echo ready; wait");
}

TEST(StandIn, DISABLED_ForksAChildThatTiesLate) {
    const pid_t test = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        while (::syscall(SYS_getppid) == test)
            ::usleep(1000);
        ::_exit(testchild::tieToTest(test) ? 0 : 3);
    }
    StandIn::say("child " + std::to_string(child));
    ::_exit(0);
}

} // namespace
