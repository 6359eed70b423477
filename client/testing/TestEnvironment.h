#pragma once

#include <QString>

#include <functional>

// Every client test process runs with HOME and the XDG folders inside one
// temporary folder, so nothing touches the developer's real settings or data.
namespace TestEnvironment {

// The temporary root of this test process (created before main's tests run).
QString root();

// Sets HOME, XDG_* and the offscreen platform under `rootPath`; called by the
// shared test main before the application object exists.
void isolate(const QString &rootPath);

// A TCP port on 127.0.0.1 that was free when asked (and refuses connections
// until someone listens on it).
quint16 freeLocalPort();

// Waits, while processing events, until `done` is true or `ms` passed.
bool waitUntil(const std::function<bool()> &done, int ms = 5000);

} // namespace TestEnvironment
