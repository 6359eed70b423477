#pragma once

#include <QString>
#include <QTcpSocket>

#include <functional>

// Every client test process runs with HOME and the XDG folders inside one
// temporary folder, so nothing touches the developer's real settings or data.
namespace TestEnvironment {

// The temporary root of this test process (created before main's tests run).
QString root();

// Sets HOME, XDG_* and the offscreen platform under `rootPath`, and gives the
// process mounts of its own where it may; called by the shared test main
// before the application object (or any thread) exists.
void isolate(const QString &rootPath);

// A TCP port on 127.0.0.1 that was free when asked (and refuses connections
// until someone listens on it).
quint16 freeLocalPort();

// A TCP port on 127.0.0.1 that refuses every connection for as long as this
// object lives. A port that was merely free when asked can be taken meanwhile
// by another test's server; this one stays bound (without listening), so no
// other process can listen on it or use it as its own end of a connection.
class RefusingPort {
public:
    RefusingPort();
    quint16 port() const { return m_socket.localPort(); }
    QString url() const;

private:
    QTcpSocket m_socket;
};

// Waits, while processing events, until `done` is true or `ms` passed.
bool waitUntil(const std::function<bool()> &done, int ms = 5000);

// Under AddressSanitizer: looks for leaks now, at the end of the test main,
// instead of while the process exits. Threads Qt keeps for itself (the
// session bus connection's) end during the exit, and a check then can meet
// one halfway through freeing its own data and report that as a leak. Here
// every such thread is still running and what it holds is reachable. Does
// nothing in other builds.
void checkForLeaksBeforeExit();

} // namespace TestEnvironment
