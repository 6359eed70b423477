// A PostgreSQL server of the test's own on 127.0.0.1: initdb into a
// temporary folder, started as the unprivileged "postgres" user when the
// test runs as root (PostgreSQL refuses root), stopped with the test. One
// server per test program; each caller gets an empty database of its own.
#pragma once

#include <string>
#include <sys/types.h>

namespace cloudtest {

class PostgresTestServer {
public:
    // Started on first use, from the test's main thread.
    static PostgresTestServer &shared();
    ~PostgresTestServer();
    PostgresTestServer(const PostgresTestServer &) = delete;
    PostgresTestServer &operator=(const PostgresTestServer &) = delete;

    // A new, empty database: its "postgresql://" address.
    std::string createDatabase();
    int port() const { return port_; }
    pid_t pid() const { return pid_; }

private:
    PostgresTestServer();
    std::string url(const std::string &database) const;

    std::string dir_;
    int port_ = 0;
    pid_t pid_ = -1;
    int databases_ = 0;
};

} // namespace cloudtest
