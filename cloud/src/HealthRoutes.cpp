// GET /healthz and GET /readyz, for a load balancer to ask without signing
// in: is the process alive at all, and can it serve requests right now (its
// database answers and its object store takes and gives files). Neither
// touches anything an account owns, so both stay cheap enough to be asked
// every few seconds.
#include "ServerContext.h"

#include <cstdio>

namespace cloud {

namespace {

using http::Request;
using http::Response;

void answer(Response &res, const std::vector<std::string> &failed) {
    json::Value body;
    body.set("status", failed.empty() ? "ok" : "unavailable");
    if (!failed.empty()) {
        json::Array names;
        for (const auto &name : failed)
            names.emplace_back(name);
        body.set("failed", std::move(names));
    }
    // A probe must never be answered from a cache in between.
    res.setHeader("Cache-Control", "no-store");
    sendJson(res, failed.empty() ? 200 : 503, body);
}

// The parts that cannot serve now. Why is logged for the operator; the answer
// names the parts only, for whoever asks.
std::vector<std::string> unready(ServerContext &ctx) {
    std::vector<std::string> failed;
    try {
        ctx.store.ping();
        if (ctx.shared)
            ctx.shared->ping();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "not ready: the database: %s\n", e.what());
        failed.emplace_back("database");
    }
    try {
        ctx.objects->checkReady();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "not ready: %s: %s\n", ctx.objects->describe().c_str(), e.what());
        failed.emplace_back("objects");
    }
    return failed;
}

void readiness(ServerContext &ctx, Response &res) {
    if (ctx.objects->isLocal())
        return answer(res, unready(ctx));
    // A remote store is asked on a worker, as every other request to it is.
    res.deferred = [&ctx, &res](std::function<void()> done) {
        const bool queued = ctx.work.submit(WorkKind::Transfer, [&ctx, &res, done](bool cancelled) {
            answer(res, cancelled ? std::vector<std::string>{"workers"} : unready(ctx));
            done();
        });
        if (!queued) {
            answer(res, {"workers"});
            done();
        }
    };
}

} // namespace

void addHealthRoutes(http::HttpServer &server, ServerContext &ctx) {
    server.get("/healthz", [](const Request &, Response &res) { answer(res, {}); });
    server.get("/readyz", [&ctx](const Request &, Response &res) { readiness(ctx, res); });
}

} // namespace cloud
