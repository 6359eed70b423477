#include "CloudServer.h"

#include "ServerContext.h"

#include <cstdio>
#include <exception>

namespace cloud {

namespace {

constexpr const char *kUploadPath = "/Vexmusic/controllers/DesktopUploadMedia";
// Multipart framing around the file: boundaries and part headers.
constexpr std::uint64_t kMultipartAllowance = 64 * 1024;

bool isUpload(const httplib::Request &req) {
    return req.path == kUploadPath;
}

// Refuses oversized or unbounded bodies before a byte of them is read.
httplib::Server::HandlerResponse checkBodySize(ServerContext &ctx, const httplib::Request &req,
                                               httplib::Response &res) {
    const std::uint64_t limit =
        isUpload(req) ? ctx.config.maxUploadBytes + kMultipartAllowance : ctx.config.maxJsonBytes;
    if (req.has_header("Content-Length")) {
        const std::string text = req.get_header_value("Content-Length");
        std::uint64_t length = 0;
        bool valid = !text.empty() && text.size() <= 19;
        for (const char c : text) {
            valid = valid && c >= '0' && c <= '9';
            length = length * 10 + static_cast<std::uint64_t>(c - '0');
        }
        if (!valid) {
            sendEnvelope(res, 400, "FAILED", "invalid Content-Length");
        } else if (length > limit) {
            sendEnvelope(res, 413, "FAILED",
                         "request body too large: the limit is " + std::to_string(limit) +
                             " bytes");
        } else {
            return httplib::Server::HandlerResponse::Unhandled;
        }
    } else if (req.has_header("Transfer-Encoding") && !isUpload(req)) {
        sendEnvelope(res, 411, "FAILED", "a Content-Length is required");
    } else {
        return httplib::Server::HandlerResponse::Unhandled;
    }
    // The unread body must not be taken for the next request.
    res.set_header("Connection", "close");
    return httplib::Server::HandlerResponse::Handled;
}

} // namespace

struct CloudServer::Impl {
    explicit Impl(Config config)
        : ctx(std::move(config)) {}
    ServerContext ctx;
    httplib::Server server;
};

CloudServer::CloudServer(Config config)
    : impl_(std::make_unique<Impl>(std::move(config))) {
    auto &ctx = impl_->ctx;
    auto &server = impl_->server;

    const int removed = ctx.blobs.cleanUp(ctx.store.referencedFiles());
    if (removed > 0)
        std::fprintf(stderr, "removed %d unfinished or unrecorded files\n", removed);

    const int threads = ctx.config.threads;
    server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // Bounded, so that a body refused unread and sent anyway cannot keep a
    // connection busy with garbage for long.
    server.set_keep_alive_max_count(100);
    server.set_read_timeout(30, 0);
    server.set_write_timeout(30, 0);
    server.set_tcp_nodelay(true);
    server.set_payload_max_length(ctx.config.maxUploadBytes + kMultipartAllowance);

    server.set_pre_routing_handler([&ctx](const httplib::Request &req, httplib::Response &res) {
        return checkBodySize(ctx, req, res);
    });
    // Clients that wait for "100 Continue" learn of a refusal before sending the body.
    server.set_expect_100_continue_handler(
        [&ctx](const httplib::Request &req, httplib::Response &res) {
            if (checkBodySize(ctx, req, res) == httplib::Server::HandlerResponse::Handled)
                return res.status;
            if (isUpload(req) && !currentSession(ctx, req)) {
                sendEnvelope(res, 401, "FAILED", "No Session");
                return 401;
            }
            return 100;
        });
    server.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (res.body.empty())
            sendEnvelope(res, res.status, "FAILED",
                         res.status == 404 ? "no such service path" : "request refused");
    });
    server.set_exception_handler(
        [](const httplib::Request &req, httplib::Response &res, std::exception_ptr ep) {
            std::string what = "unknown error";
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception &e) {
                what = e.what();
            } catch (...) {
            }
            std::fprintf(stderr, "error in %s %s: %s\n", req.method.c_str(), req.path.c_str(),
                         what.c_str());
            sendEnvelope(res, 500, "FAILED", "internal error");
        });
    // One line per request; the query is left out because it can carry a session.
    server.set_logger([](const httplib::Request &req, const httplib::Response &res) {
        std::fprintf(stderr, "%s %s %d\n", req.method.c_str(), req.path.c_str(), res.status);
    });

    addAccountRoutes(server, ctx);
    addMediaRoutes(server, ctx);
    addUploadRoutes(server, ctx);
    addDownloadRoutes(server, ctx);
    addFacebookRoutes(server, ctx);
    addAnalyticsRoutes(server, ctx);
    addWebSiteRoutes(server);
}

CloudServer::~CloudServer() = default;

int CloudServer::bind(const std::string &host, int port) {
    if (port == 0)
        return impl_->server.bind_to_any_port(host);
    return impl_->server.bind_to_port(host, port) ? port : -1;
}

bool CloudServer::run() {
    return impl_->server.listen_after_bind();
}

void CloudServer::stop() {
    impl_->server.stop();
}

} // namespace cloud
