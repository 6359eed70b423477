// The HTTP layer: an event loop on a small pool of threads, bounded per
// connection, that decodes requests into http::Request and routes them.
// Slow or idle clients hold a connection slot and a little memory, never a thread.
#pragma once

#include "ClientAddress.h"
#include "Http.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace cloud::http {

struct ServerLimits {
    int threads = 4;                             // event-loop threads
    unsigned connections = 1024;                 // open connections in total
    unsigned connectionsPerAddress = 256;        // open connections of one client address (0: any)
    unsigned idleTimeoutSeconds = 30;            // a connection silent this long is closed
    std::size_t memoryPerConnection = 64 * 1024; // bounds request line and headers too
    std::size_t maxHeaders = 100;                // header fields of one request (431 beyond)
    std::uint64_t maxBufferedBody = 1024 * 1024;
    std::uint64_t maxUploadBody = 100ull * 1024 * 1024;
    // PEM texts; both set means the server speaks HTTPS only.
    std::string tlsCertificate;
    std::string tlsKey;
    // Whose X-Forwarded-For names the client; their own connections, which
    // carry many clients, are not held to one address's share.
    TrustedProxies trustedProxies;
};

class HttpServer {
public:
    explicit HttpServer(ServerLimits limits);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Patterns with a "(" are regular expressions matched against the whole path.
    void get(const std::string &pattern, Handler handler);
    void post(const std::string &pattern, Handler handler);
    // A browser's preflight of a cross-origin request.
    void options(const std::string &pattern, Handler handler);
    // A POST whose body streams into the sink the handler returns.
    void upload(const std::string &path, UploadHandler handler);

    // Starts serving on host:port (port 0 picks a free one); returns the port
    // or -1 with the reason in `error`. `onBound` runs with the port once the
    // socket listens and before any request is handled, so what it sets up
    // (an address built from the port) is in place for every request.
    int start(const std::string &host, int port, std::string &error,
              const std::function<void(int port)> &onBound = {});
    void stop();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The path as a log line may show it: control bytes escaped, signatures left out.
std::string loggablePath(std::string_view path);

} // namespace cloud::http
