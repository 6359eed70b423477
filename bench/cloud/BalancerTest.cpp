#include "Balancer.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace {

std::vector<std::string> linesOf(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto start = line.find_first_not_of(' ');
        if (start != std::string::npos)
            out.push_back(line.substr(start));
    }
    return out;
}

bool has(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(HaproxyConfig, EveryServerTakesItsTurnAndIsChecked) {
    const auto lines = linesOf(bench::haproxyConfig(8400, {41001, 41002}));
    EXPECT_TRUE(has(lines, "bind 127.0.0.1:8400"));
    EXPECT_TRUE(has(lines, "balance roundrobin"));
    EXPECT_TRUE(has(lines, "server s1 127.0.0.1:41001 check"));
    EXPECT_TRUE(has(lines, "server s2 127.0.0.1:41002 check"));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string &l) { return l.rfind("server ", 0) == 0; }),
              2);
    // The servers see the client's address, a request goes to the other
    // server when one is down, and no more than twice.
    EXPECT_TRUE(has(lines, "option forwardfor"));
    EXPECT_TRUE(has(lines, "option redispatch"));
    EXPECT_TRUE(has(lines, "retries 2"));
    EXPECT_TRUE(has(lines, "mode http"));
    // Without a health route the check is a connection.
    for (const auto &l : lines)
        EXPECT_EQ(l.find("httpchk"), std::string::npos) << l;
}

TEST(HaproxyConfig, AHealthRouteIsAskedWhenThereIsOne) {
    const auto lines = linesOf(bench::haproxyConfig(8400, {41001}, "/healthz"));
    EXPECT_TRUE(has(lines, "option httpchk GET /healthz"));
}

// An upload of 100 MiB at a few MB/s on a busy machine must not be cut off.
TEST(HaproxyConfig, ClientAndServerWaitLongEnoughForLargeUploads) {
    const std::string config = bench::haproxyConfig(8400, {41001});
    for (const char *side : {"client", "server"}) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(
            config, m, std::regex(std::string("timeout ") + side + " ([0-9]+)(m|s)")))
            << side;
        const int seconds = std::stoi(m[1]) * (m[2] == "m" ? 60 : 1);
        EXPECT_GE(seconds, 120) << side;
    }
}

} // namespace
