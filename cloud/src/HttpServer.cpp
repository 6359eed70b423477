#include "HttpServer.h"

#include "ClientAddress.h"

#include <microhttpd.h>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <regex>
#include <strings.h>
#include <unordered_map>

namespace cloud::http {

namespace {

constexpr const char *kJsonType = "application/json";

// Acknowledges the body bytes read so far at once instead of after the
// kernel's delayed-acknowledgement timer. A client that leaves Nagle's
// algorithm on holds the last, short piece of a body back until everything
// before it is acknowledged; when the piece before it was short as well, the
// delayed acknowledgement costs that client about 40 ms per request body.
// Linux drops quick-acknowledgement mode again by itself, so it is asked for
// at each piece near the end of a body (see nearTheEnd): asked for all along,
// the extra acknowledgements slow a fast sender's large bodies by a fifth.
void acknowledgeAtOnce(MHD_Connection *connection) {
    const MHD_ConnectionInfo *info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (!info)
        return;
    const int one = 1;
    (void)setsockopt(info->connect_fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
}

struct Route {
    std::string method;
    std::string exact;
    std::optional<std::regex> pattern;
    Handler handler;
    UploadHandler uploadHandler;

    bool matches(const std::string &path, std::vector<std::string> &captures) const {
        if (!pattern)
            return path == exact;
        std::smatch m;
        if (!std::regex_match(path, m, *pattern))
            return false;
        captures.assign(m.begin(), m.end());
        return true;
    }
};

// One request on its way through the server, from the raw address to the answer.
struct Exchange {
    Request request;
    const Route *route = nullptr;
    bool begun = false;
    bool answered = false;
    std::unique_ptr<UploadSink> sink;
    MHD_PostProcessor *decoder = nullptr;
    std::string partName;
    std::string partFile;
    std::uint64_t partOffset = 0;
    bool inPart = false;
    bool sinkRefused = false;
    std::uint64_t received = 0;
    std::optional<std::uint64_t> declared; // the Content-Length, when the request gave one
    // The answer of a buffered request; it stays here while the connection
    // is parked and the work it deferred runs on another thread.
    Response response;
    bool parked = false;

    ~Exchange() {
        if (decoder)
            MHD_destroy_post_processor(decoder);
    }
};

// The last stretch of a body, where a sender's short final piece may be
// waiting for an acknowledgement (a body of unknown length: all of it).
constexpr std::uint64_t kBodyTailBytes = 256 * 1024;

bool nearTheEnd(const Exchange &ex, std::size_t piece) {
    if (!ex.declared)
        return true;
    const std::uint64_t after = ex.received + piece;
    return after + kBodyTailBytes >= *ex.declared;
}

std::string escapeControl(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || c == '\\') {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02X", b);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

// A streamed body whose next bytes may be made on another thread: while
// none are ready the connection is suspended, and the stream's wake resumes it.
struct StreamCall {
    std::unique_ptr<BodyStream> stream;
    MHD_Connection *connection = nullptr;
    std::mutex mutex;
    bool suspended = false;
    bool woken = false; // a wake that came before the connection was suspended

    // The stream goes first: a worker may be waking this call until it has.
    ~StreamCall() { stream.reset(); }

    void wake() {
        std::lock_guard lock(mutex);
        if (suspended) {
            suspended = false;
            MHD_resume_connection(connection);
        } else {
            woken = true;
        }
    }

    ssize_t read(char *buf, std::size_t max) {
        for (;;) {
            long n = -1;
            try {
                n = stream->read(buf, max);
            } catch (...) {
            }
            if (n == 0)
                return MHD_CONTENT_READER_END_OF_STREAM;
            if (n != BodyStream::kNotReady)
                return n < 0 ? MHD_CONTENT_READER_END_WITH_ERROR : static_cast<ssize_t>(n);
            std::lock_guard lock(mutex);
            if (woken) {
                woken = false;
                continue;
            }
            suspended = true;
            MHD_suspend_connection(connection);
            return 0;
        }
    }
};

// Every X-Forwarded-For field of the request, in the order they came, as one list.
std::string forwardedFor(const Request &req) {
    std::string joined;
    const auto [first, last] = req.headers.equal_range("X-Forwarded-For");
    for (auto it = first; it != last; ++it) {
        if (it != first)
            joined += ',';
        joined += it->second;
    }
    return joined;
}

void jsonError(Response &res, int status, const std::string &text) {
    // The envelope of every refusal; the texts are plain, so no escaping is needed
    // beyond quotes and backslashes.
    std::string escaped;
    for (const char c : text) {
        if (c == '"' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    res.status = status;
    res.setContent("{\"responseStatus\":\"FAILED\",\"responseText\":\"" + escaped + "\"}",
                   kJsonType);
}

} // namespace

bool CaseLess::operator()(const std::string &a, const std::string &b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
}

std::string Request::header(const std::string &name) const {
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

std::string Request::param(const std::string &name) const {
    const auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
}

bool Request::isMultipart() const {
    const std::string type = header("Content-Type");
    return strncasecmp(type.c_str(), "multipart/form-data", 19) == 0;
}

Response::~Response() {
    if (fileFd >= 0)
        ::close(fileFd);
}

void Response::setContent(std::string content, const std::string &contentType) {
    body = std::move(content);
    setHeader("Content-Type", contentType);
}

void Response::setHeader(const std::string &name, const std::string &value) {
    for (auto &[n, v] : headers) {
        if (strcasecmp(n.c_str(), name.c_str()) == 0) {
            v = value;
            return;
        }
    }
    headers.emplace_back(name, value);
}

void Response::redirect(const std::string &location, int code) {
    status = code;
    setHeader("Location", location);
}

void Response::sendFile(int fd, std::uint64_t size, const std::string &contentType) {
    if (fileFd >= 0)
        ::close(fileFd);
    fileFd = fd;
    fileSize = size;
    setHeader("Content-Type", contentType);
}

std::string percentEncode(std::string_view text, bool keepSlash) {
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (std::isalnum(b) || c == '-' || c == '_' || c == '.' || c == '~' ||
            (keepSlash && c == '/')) {
            out += c;
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", b);
            out += buf;
        }
    }
    return out;
}

std::string percentDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+' && plusIsSpace) {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
                   hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

void parseForm(std::string_view text, std::multimap<std::string, std::string> &out) {
    while (!text.empty()) {
        const auto amp = text.find('&');
        const std::string_view pair = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
        if (pair.empty())
            continue;
        const auto eq = pair.find('=');
        out.emplace(percentDecode(pair.substr(0, eq), true),
                    eq == std::string_view::npos ? std::string()
                                                 : percentDecode(pair.substr(eq + 1), true));
    }
}

std::string loggablePath(std::string_view path) {
    // A signed download address is a credential until it expires: keep its
    // signature (64 hex digits) out of the log.
    std::string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const std::string_view part = path.substr(
            start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        const bool signature =
            part.size() == 64 &&
            part.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
        out += signature ? std::string_view("[signature]") : part;
        if (slash == std::string_view::npos)
            break;
        out += '/';
        start = slash + 1;
    }
    return escapeControl(out);
}

struct HttpServer::Impl {
    explicit Impl(ServerLimits l)
        : limits(std::move(l)) {}
    ~Impl() { stop(); }

    ServerLimits limits;
    std::vector<Route> routes;
    MHD_Daemon *daemon = nullptr;
    // Open connections per client address, counted here rather than by the
    // library, which cannot leave a trusted proxy's connections out.
    std::mutex connectionsMutex;
    std::unordered_map<std::string, unsigned> openConnections;

    bool counted(const sockaddr *peer) const {
        return limits.connectionsPerAddress > 0 && !limits.trustedProxies.contains(peer);
    }

    // A connection takes its place as it is accepted, so that several event
    // threads accepting at once cannot all slip in under the limit. (One the
    // library then fails to set up, out of memory, keeps its place.)
    static MHD_Result onAccept(void *cls, const sockaddr *peer, socklen_t) {
        auto &self = *static_cast<Impl *>(cls);
        if (!self.counted(peer))
            return MHD_YES;
        const std::string key = describeClient(peer).text;
        std::lock_guard lock(self.connectionsMutex);
        unsigned &open = self.openConnections[key];
        if (open >= self.limits.connectionsPerAddress)
            return MHD_NO;
        ++open;
        return MHD_YES;
    }

    // A counted connection carries its address until it closes and gives its place back.
    static void onConnection(void *cls, MHD_Connection *connection, void **socketContext,
                             MHD_ConnectionNotificationCode code) {
        auto &self = *static_cast<Impl *>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const auto *info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            if (info && self.counted(info->client_addr))
                *socketContext = new std::string(describeClient(info->client_addr).text);
            return;
        }
        const std::unique_ptr<std::string> key(static_cast<std::string *>(*socketContext));
        *socketContext = nullptr;
        if (!key)
            return;
        std::lock_guard lock(self.connectionsMutex);
        const auto it = self.openConnections.find(*key);
        if (it != self.openConnections.end() && --it->second == 0)
            self.openConnections.erase(it);
    }

    void stop() {
        if (daemon)
            MHD_stop_daemon(daemon);
        daemon = nullptr;
    }

    const Route *findRoute(Request &req, bool &pathKnown) const {
        pathKnown = false;
        for (const auto &route : routes) {
            std::vector<std::string> captures;
            if (!route.matches(req.path, captures))
                continue;
            pathKnown = true;
            // HEAD is a GET without the body (the library leaves it out).
            if (route.method == req.method || (req.method == "HEAD" && route.method == "GET")) {
                req.matches = captures.empty() ? std::vector<std::string>{req.path} : captures;
                return &route;
            }
        }
        return nullptr;
    }

    static void log(const Request &req, int status) {
        std::fprintf(stderr, "%s %s %d\n", escapeControl(req.method).c_str(),
                     loggablePath(req.path).c_str(), status);
    }

    MHD_Result answer(MHD_Connection *connection, Exchange &ex, Response &res) {
        ex.answered = true;
        MHD_Response *reply = nullptr;
        if (res.stream) {
            auto call = std::make_unique<StreamCall>();
            call->connection = connection;
            call->stream = std::move(res.stream);
            StreamCall *raw = call.get();
            call->stream->setWake([raw] { raw->wake(); });
            reply = MHD_create_response_from_callback(
                res.streamLength == Response::kUnknownLength ? MHD_SIZE_UNKNOWN : res.streamLength,
                32 * 1024, &Impl::readStream, raw,
                [](void *c) { delete static_cast<StreamCall *>(c); });
            if (reply)
                call.release(); // the library frees it with the response
        } else if (res.fileFd >= 0) {
            reply =
                MHD_create_response_from_fd_at_offset64(res.fileSize, res.fileFd, res.fileOffset);
            if (reply)
                res.fileFd = -1; // the library closes it with the response
        } else {
            reply = MHD_create_response_from_buffer(res.body.size(), res.body.data(),
                                                    MHD_RESPMEM_MUST_COPY);
        }
        if (!reply)
            return MHD_NO;
        for (const auto &[name, value] : res.headers)
            MHD_add_response_header(reply, name.c_str(), value.c_str());
        // A stored song is sent with the type its content was found to have;
        // no browser may take it, or an error text, for something else.
        MHD_add_response_header(reply, "X-Content-Type-Options", "nosniff");
        if (res.close)
            MHD_add_response_header(reply, MHD_HTTP_HEADER_CONNECTION, "close");
        log(ex.request, res.status);
        const MHD_Result queued =
            MHD_queue_response(connection, static_cast<unsigned>(res.status), reply);
        MHD_destroy_response(reply);
        return queued;
    }

    static ssize_t readStream(void *cls, uint64_t, char *buf, size_t max) {
        return static_cast<StreamCall *>(cls)->read(buf, max);
    }

    // The handler left its answer to other threads: the connection waits,
    // holding no thread, until the work calls done.
    MHD_Result park(MHD_Connection *connection, Exchange &ex) {
        auto work = std::move(ex.response.deferred);
        ex.response.deferred = nullptr;
        ex.parked = true;
        MHD_suspend_connection(connection);
        try {
            work([connection] { MHD_resume_connection(connection); });
        } catch (const std::exception &e) {
            internalError(ex, ex.response, e.what());
            MHD_resume_connection(connection);
        }
        return MHD_YES;
    }

    // A refusal before or while the body arrives: the rest of it is never read.
    static std::string tooLargeText(std::uint64_t limit) {
        return "request body too large: the limit is " + std::to_string(limit) + " bytes";
    }

    MHD_Result refuse(MHD_Connection *connection, Exchange &ex, int status,
                      const std::string &text) {
        Response res;
        jsonError(res, status, text);
        res.close = true;
        return answer(connection, ex, res);
    }

    MHD_Result refuse(MHD_Connection *connection, Exchange &ex, Response &res) {
        res.close = true;
        return answer(connection, ex, res);
    }

    void run(const Route &route, Exchange &ex, Response &res) {
        try {
            route.handler(ex.request, res);
        } catch (const std::exception &e) {
            internalError(ex, res, e.what());
        } catch (...) {
            internalError(ex, res, "unknown error");
        }
    }

    static void internalError(Exchange &ex, Response &res, const char *what) {
        std::fprintf(stderr, "error in %s %s: %s\n", escapeControl(ex.request.method).c_str(),
                     loggablePath(ex.request.path).c_str(), escapeControl(what).c_str());
        res.headers.clear();
        res.stream.reset();
        res.deferred = nullptr;
        if (res.fileFd >= 0)
            ::close(res.fileFd);
        res.fileFd = -1;
        jsonError(res, 500, "internal error");
    }

    MHD_Result begin(MHD_Connection *connection, Exchange &ex, const char *url,
                     const char *method) {
        Request &req = ex.request;
        req.method = method;
        req.path = url;
        std::size_t headerCount = 0;
        std::size_t headerBytes = 0;
        struct Collect {
            Request *req;
            std::size_t *count;
            std::size_t *bytes;
        } collect{&req, &headerCount, &headerBytes};
        MHD_get_connection_values(
            connection, MHD_HEADER_KIND,
            [](void *cls, MHD_ValueKind, const char *key, const char *value) -> MHD_Result {
                auto *c = static_cast<Collect *>(cls);
                ++*c->count;
                *c->bytes += std::strlen(key) + (value ? std::strlen(value) : 0);
                c->req->headers.emplace(key, value ? value : "");
                return MHD_YES;
            },
            &collect);
        if (const auto *info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS)) {
            ClientAddress client =
                limits.trustedProxies.client(info->client_addr, forwardedFor(req));
            req.remoteAddress = std::move(client.text);
            req.limitKey = std::move(client.limitKey);
        }
        const auto query = req.target.find('?');
        if (query != std::string::npos)
            parseForm(std::string_view(req.target).substr(query + 1), req.params);

        if (headerCount > limits.maxHeaders)
            return refuse(connection, ex, 431, "too many header fields");

        bool pathKnown = false;
        ex.route = findRoute(req, pathKnown);
        const bool hasBody = req.method == "POST" || req.method == "PUT";
        if (!ex.route)
            return refuse(connection, ex, 404,
                          pathKnown ? "method not allowed here" : "no such service path");
        if (!hasBody)
            return MHD_YES;

        const bool isUpload = static_cast<bool>(ex.route->uploadHandler);
        const bool chunked = req.hasHeader("Transfer-Encoding");
        const bool hasLength = req.hasHeader("Content-Length");
        // A body the server cannot size up front is not read at all; on the JSON
        // paths a length beside Transfer-Encoding is no excuse either.
        if (!hasLength && !(chunked && isUpload))
            return refuse(connection, ex, 411, "a Content-Length is required");
        if (chunked && !isUpload)
            return refuse(connection, ex, 400, "Transfer-Encoding is not accepted here");
        if (hasLength) {
            const std::string text = req.header("Content-Length");
            std::uint64_t length = 0;
            bool valid = !text.empty() && text.size() <= 19;
            for (const char c : text) {
                valid = valid && c >= '0' && c <= '9';
                length = length * 10 + static_cast<std::uint64_t>(c - '0');
            }
            if (!valid)
                return refuse(connection, ex, 400, "invalid Content-Length");
            // An upload route sees the declared length first, so that it can
            // refuse in its own words (its limit is on the file, not on the
            // body); past the server's limit no body is read in any case.
            if (length > limits.maxBufferedBody && !isUpload)
                return refuse(connection, ex, 413, tooLargeText(limits.maxBufferedBody));
            ex.declared = length;
        }
        if (!isUpload)
            return MHD_YES;

        Response res;
        try {
            ex.sink = ex.route->uploadHandler(req, res);
        } catch (const std::exception &e) {
            internalError(ex, res, e.what());
        }
        if (!ex.sink)
            return refuse(connection, ex, res);
        if (ex.declared && *ex.declared > limits.maxUploadBody) {
            ex.sink.reset();
            return refuse(connection, ex, 413, tooLargeText(limits.maxUploadBody));
        }
        ex.decoder = MHD_create_post_processor(connection, 64 * 1024, &Impl::onPart, &ex);
        if (!ex.decoder)
            return refuse(connection, ex, 400, "the upload must be multipart/form-data");
        return MHD_YES;
    }

    static MHD_Result onPart(void *cls, MHD_ValueKind, const char *key, const char *filename,
                             const char *, const char *, const char *data, uint64_t off,
                             size_t size) {
        auto &ex = *static_cast<Exchange *>(cls);
        const std::string name = key ? key : "";
        const std::string file = filename ? filename : "";
        const bool fresh =
            !ex.inPart ||
            (off == 0 && (ex.partOffset > 0 || name != ex.partName || file != ex.partFile));
        if (fresh) {
            ex.inPart = true;
            ex.partName = name;
            ex.partFile = file;
            if (!ex.sink->part(name, file)) {
                ex.sinkRefused = true;
                return MHD_NO;
            }
        }
        ex.partOffset = off + size;
        if (size > 0 && !ex.sink->data(data, size)) {
            ex.sinkRefused = true;
            return MHD_NO;
        }
        return MHD_YES;
    }

    // The library answers only once the body is in, so a refusal found while
    // streaming skips the rest of the declared length (bounded by the limit
    // checked up front) and is answered at its end; a body past every limit
    // drops the connection.
    MHD_Result body(Exchange &ex, const char *data, std::size_t size) {
        ex.received += size;
        if (ex.decoder) {
            if (ex.received > limits.maxUploadBody)
                return MHD_NO;
            if (!ex.sinkRefused && MHD_post_process(ex.decoder, data, size) != MHD_YES)
                ex.sinkRefused = true;
            return MHD_YES;
        }
        if (ex.received > limits.maxBufferedBody)
            return MHD_NO;
        ex.request.body.append(data, size);
        return MHD_YES;
    }

    MHD_Result end(MHD_Connection *connection, Exchange &ex) {
        if (ex.sink) {
            Response res;
            const bool complete = MHD_destroy_post_processor(ex.decoder) == MHD_YES;
            ex.decoder = nullptr;
            try {
                ex.sink->finish(ex.request, res, complete && !ex.sinkRefused);
            } catch (const std::exception &e) {
                internalError(ex, res, e.what());
            }
            return answer(connection, ex, res);
        }
        const std::string type = ex.request.header("Content-Type");
        if (strncasecmp(type.c_str(), "application/x-www-form-urlencoded", 33) == 0)
            parseForm(ex.request.body, ex.request.params);
        run(*ex.route, ex, ex.response);
        if (ex.response.deferred)
            return park(connection, ex);
        return answer(connection, ex, ex.response);
    }

    static MHD_Result onRequest(void *cls, MHD_Connection *connection, const char *url,
                                const char *method, const char *, const char *uploadData,
                                size_t *uploadSize, void **state) {
        auto &self = *static_cast<Impl *>(cls);
        auto *ex = static_cast<Exchange *>(*state);
        if (!ex) {
            ex = new Exchange;
            *state = ex;
            ex->request.target = url;
        }
        if (ex->parked) { // resumed: the deferred work has filled the answer
            ex->parked = false;
            return self.answer(connection, *ex, ex->response);
        }
        if (ex->answered) {
            *uploadSize = 0; // left unread: the connection closes after the answer
            return MHD_YES;
        }
        if (!ex->begun) {
            ex->begun = true;
            return self.begin(connection, *ex, url, method);
        }
        if (*uploadSize > 0) {
            const std::size_t size = *uploadSize;
            *uploadSize = 0;
            if (nearTheEnd(*ex, size))
                acknowledgeAtOnce(connection);
            return self.body(*ex, uploadData, size);
        }
        return self.end(connection, *ex);
    }

    static void *onUri(void *, const char *uri, MHD_Connection *) {
        auto *ex = new Exchange;
        ex->request.target = uri;
        return ex;
    }

    static void onCompleted(void *, MHD_Connection *, void **state, MHD_RequestTerminationCode) {
        delete static_cast<Exchange *>(*state);
        *state = nullptr;
    }
};

HttpServer::HttpServer(ServerLimits limits)
    : impl_(std::make_unique<Impl>(std::move(limits))) {}

HttpServer::~HttpServer() = default;

void HttpServer::get(const std::string &pattern, Handler handler) {
    Route r;
    r.method = "GET";
    r.handler = std::move(handler);
    if (pattern.find('(') != std::string::npos)
        r.pattern.emplace(pattern);
    else
        r.exact = pattern;
    impl_->routes.push_back(std::move(r));
}

void HttpServer::post(const std::string &pattern, Handler handler) {
    get(pattern, std::move(handler));
    impl_->routes.back().method = "POST";
}

void HttpServer::options(const std::string &pattern, Handler handler) {
    get(pattern, std::move(handler));
    impl_->routes.back().method = "OPTIONS";
}

void HttpServer::upload(const std::string &path, UploadHandler handler) {
    Route r;
    r.method = "POST";
    r.exact = path;
    r.uploadHandler = std::move(handler);
    impl_->routes.push_back(std::move(r));
}

namespace {

// A listening socket of our own, so that its port is known before the
// daemon's threads take the first request. Returns -1 with `error` set.
int listenOn(const sockaddr_storage &address, bool v6, int &port, std::string &error) {
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = "cannot listen";
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const socklen_t length = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), length) != 0 ||
        ::listen(fd, 1024) != 0) {
        error = std::string("cannot listen: ") + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &boundLength);
    port = ntohs(v6 ? reinterpret_cast<const sockaddr_in6 &>(bound).sin6_port
                    : reinterpret_cast<const sockaddr_in &>(bound).sin_port);
    return fd;
}

} // namespace

int HttpServer::start(const std::string &host, int port, std::string &error,
                      const std::function<void(int port)> &onBound) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
        error = "cannot resolve " + host;
        return -1;
    }
    sockaddr_storage address{};
    std::memcpy(&address, found->ai_addr, found->ai_addrlen);
    const bool v6 = found->ai_family == AF_INET6;
    freeaddrinfo(found);

    int boundPort = port;
    const int listenFd = listenOn(address, v6, boundPort, error);
    if (listenFd < 0)
        return -1;
    if (onBound)
        onBound(boundPort);

    const ServerLimits &l = impl_->limits;
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | MHD_USE_ERROR_LOG |
                     MHD_ALLOW_SUSPEND_RESUME;
    if (v6)
        flags |= MHD_USE_IPv6;
    const bool tls = !l.tlsCertificate.empty() && !l.tlsKey.empty();
    if (tls)
        flags |= MHD_USE_TLS;
    // Strict parsing: malformed request lines and header fields are refused.
    const int strict = 1;
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_LISTEN_SOCKET, listenFd, nullptr},
        {MHD_OPTION_THREAD_POOL_SIZE, static_cast<intptr_t>(std::max(1, l.threads)), nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(l.connections), nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Impl::onConnection),
         impl_.get()},
        {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(l.idleTimeoutSeconds), nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(l.memoryPerConnection), nullptr},
        {MHD_OPTION_STRICT_FOR_CLIENT, strict, nullptr},
        {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&Impl::onUri), impl_.get()},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Impl::onCompleted), impl_.get()},
    };
    if (tls) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0,
                           const_cast<char *>(impl_->limits.tlsCertificate.c_str())});
        options.push_back(
            {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char *>(impl_->limits.tlsKey.c_str())});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    impl_->daemon = MHD_start_daemon(flags, static_cast<uint16_t>(boundPort), &Impl::onAccept,
                                     impl_.get(), &Impl::onRequest, impl_.get(), MHD_OPTION_ARRAY,
                                     options.data(), MHD_OPTION_END);
    if (!impl_->daemon) {
        ::close(listenFd);
        error = tls ? "cannot listen (or the TLS certificate and key do not fit)" : "cannot listen";
        return -1;
    }
    return boundPort;
}

void HttpServer::stop() {
    impl_->stop();
}

} // namespace cloud::http
