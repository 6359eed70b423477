// Children of a test die with it.
//
// A test that crashes, or that someone kills (SIGKILL, Ctrl-C on a test
// program run by hand), must not leave its servers, X servers and shells
// behind. Every child a test starts therefore
//  - leads a process group of its own, so that ending the group ends what
//    the child started as well (the test's stop and clean-up do that), and
//  - gets a death signal from the kernel when the thread that started it
//    ends: start long-lived children from the test's main thread (every
//    GoogleTest body and fixture runs there), never from a worker thread that
//    ends before the child should.
// Plain C++ (no Qt), for every test program; the client's ChildProcess calls
// tieToTest too.
#pragma once

#include <csignal>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testchild {

// Called in the child between fork and exec, with `test` the test's getpid()
// read before the fork; async-signal-safe. False when the test had already
// ended before the death signal was in place (the signal then never comes):
// the child must end at once.
bool tieToTest(pid_t test, int deathSignal = SIGKILL) noexcept;

// Starts `argv` (argv[0] a path, or a name looked up on PATH) tied to the
// test, from /dev/null, its standard output and error on `output` and
// `errors` when they are not -1 (else on the test's own). Open them with
// O_CLOEXEC so that no other child inherits them. -1 when fork failed; a
// program that cannot be run exits with 127.
pid_t spawn(const std::vector<std::string> &argv, int output = -1, int errors = -1);

// Sends `signal` to the child's process group: the child and everything it
// started. Call it before the child is reaped (afterwards its number may
// belong to somebody else).
void signalGroup(pid_t child, int signal) noexcept;

// Waits for the child to end and reaps it: its exit code, or -1 when a
// signal ended it.
int wait(pid_t child) noexcept;

// Starts `command` with /bin/sh as shell() does, without waiting for it: for
// a child that runs as another user, whose death signal the change of user
// clears. The test's death ends the command through the shell's trap;
// stop it with signalGroup(SIGTERM) and wait().
pid_t spawnShell(const std::string &command, int output = -1, int errors = -1);

// What std::system and popen do, tied to the test: runs `command` with
// /bin/sh and answers its exit code (-1: killed, or no shell). With
// `output`, the command's standard output is captured there. When the test
// dies, the shell ends the command with everything the command started.
int shell(const std::string &command, std::string *output = nullptr);

} // namespace testchild
