// The server's own view of an HTTP exchange. Route handlers see these types
// only; the HTTP library behind them stays inside HttpServer.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cloud::http {

// Field names compare without regard to case.
struct CaseLess {
    bool operator()(const std::string &a, const std::string &b) const;
};

struct Request {
    std::string method;
    std::string path;          // decoded path, without the query
    std::string target;        // path and query as the client sent them
    std::string remoteAddress; // for the log
    std::string limitKey;      // what per-client limits count (ClientAddress.h)
    std::multimap<std::string, std::string, CaseLess> headers;
    // Query fields, then form fields of an url-encoded body, in order.
    std::multimap<std::string, std::string> params;
    std::string body;                 // buffered bodies only (never uploads)
    std::vector<std::string> matches; // captures of the route pattern; [0] is the path

    bool hasHeader(const std::string &name) const { return headers.count(name) > 0; }
    std::string header(const std::string &name) const;
    std::string param(const std::string &name) const;
    bool isMultipart() const;
};

// A body made while it is sent (chunked), for answers whose length is not
// known up front.
class BodyStream {
public:
    // What read() returns when the next bytes are being made elsewhere.
    static constexpr long kNotReady = -2;

    virtual ~BodyStream() = default;
    // Copies up to `max` bytes into `out`; 0 at the end, -1 when it failed,
    // kNotReady when nothing is ready yet: the stream then calls the wake
    // function once, from any thread, when read() has something to give, and
    // the connection waits without holding a thread meanwhile.
    virtual long read(char *out, std::size_t max) = 0;
    void setWake(std::function<void()> wake) { wake_ = std::move(wake); }

protected:
    void wake() const {
        if (wake_)
            wake_();
    }

private:
    std::function<void()> wake_;
};

struct Response {
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // A file to send instead of the body: its descriptor (owned from here on) and size.
    int fileFd = -1;
    std::uint64_t fileSize = 0;   // bytes to send
    std::uint64_t fileOffset = 0; // where in the file they start
    // A body to send instead, made piece by piece as the client takes it:
    // `streamLength` bytes when that is known up front, else sent chunked.
    std::unique_ptr<BodyStream> stream;
    static constexpr std::uint64_t kUnknownLength = ~std::uint64_t{0};
    std::uint64_t streamLength = kUnknownLength;
    // Close the connection after this answer (a request body may be left unread).
    bool close = false;
    // An answer made away from the event threads: the server parks the
    // connection and calls this once with `done`; whoever does the work fills
    // this same response and then calls `done` from any thread, exactly once.
    std::function<void(std::function<void()> done)> deferred;

    Response() = default;
    Response(const Response &) = delete;
    Response &operator=(const Response &) = delete;
    ~Response();

    void setContent(std::string content, const std::string &contentType);
    void setHeader(const std::string &name, const std::string &value);
    void redirect(const std::string &location, int code = 302);
    void sendFile(int fd, std::uint64_t size, const std::string &contentType);
};

// An upload body decoded part by part as it arrives, never held whole.
class UploadSink {
public:
    virtual ~UploadSink() = default;
    // A new part begins; returning false refuses the request.
    virtual bool part(std::string_view name, std::string_view filename) = 0;
    virtual bool data(const char *bytes, std::size_t size) = 0;
    // The body ended; `complete` tells whether it was well-formed and whole.
    virtual void finish(const Request &req, Response &res, bool complete) = 0;
};

using Handler = std::function<void(const Request &, Response &)>;
// Called once the headers are in; answers a refusal in `res` and returns null,
// or returns the sink that takes the body.
using UploadHandler = std::function<std::unique_ptr<UploadSink>(const Request &, Response &)>;

// Decodes `a=b&c=d` (plus signs and percent escapes) into `out`.
void parseForm(std::string_view text, std::multimap<std::string, std::string> &out);
std::string percentDecode(std::string_view text, bool plusIsSpace);
// RFC 3986's unreserved characters as they are (and '/' with `keepSlash`),
// every other byte as %XX in upper case.
std::string percentEncode(std::string_view text, bool keepSlash = false);

} // namespace cloud::http
