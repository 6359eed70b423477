// A test's server dies with the test, even when a time-out kills the test
// with SIGKILL and no destructor runs.
#include "StandIn.h"
#include "TestServer.h"

#include <gtest/gtest.h>

namespace {

TEST(ServerLifetime, TheServerDiesWithItsTest) {
    std::vector<std::string> expected = {"sonarbox-cloud"};
    if (cloudtest::scaledBackend())
        expected.push_back("postgres");
    expectAllKilledWithTheStandIn("StartsAServer", expected);
}

// ---- the stand-in, run only by the test above

TEST(StandIn, DISABLED_StartsAServer) {
    cloudtest::TestServer server;
    ASSERT_GT(server.port(), 0);
    StandIn::say("ready");
    StandIn::waitToBeKilled();
}

} // namespace
