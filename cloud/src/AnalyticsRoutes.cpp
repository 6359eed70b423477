// The analytics collector: keeps every event it is sent, as form fields or as
// JSON, so that they can be read back.
#include "ServerContext.h"

namespace cloud {

namespace {

using http::Request;
using http::Response;

constexpr std::size_t kMaxEventsPerRequest = 20;
constexpr std::uint64_t kMaxStoredBytes = 64ull * 1024 * 1024;

// Only the event's own fields are kept, never the whole request around it.
void store(ServerContext &ctx, const std::string &contentType, json::Value fields) {
    json::Value event;
    event.set("receivedMs", nowMs());
    event.set("contentType", contentType);
    event.set("fields", std::move(fields));
    ctx.store.addAnalyticsEvent(contentType, json::serialize(event), kMaxStoredBytes);
}

json::Value paramsAsObject(const Request &req) {
    json::Value fields = json::Object{};
    for (const auto &[key, value] : req.params)
        fields.set(json::toValidUtf8(key), json::toValidUtf8(value));
    return fields;
}

void collect(ServerContext &ctx, const Request &req, Response &res) {
    if (!ctx.collectLimiter->allow(req.limitKey))
        return sendEnvelope(res, 429, "FAILED", "too many events from this address");
    const std::string contentType = req.header("Content-Type");
    if (contentType.rfind("application/json", 0) == 0) {
        json::ParseError error;
        auto value = json::parse(req.body, &error);
        if (!value || !(value->isObject() || value->isArray()))
            return sendEnvelope(res, 400, "FAILED", "the event must be a JSON object or a list");
        if (value->isArray()) {
            if (value->asArray().size() > kMaxEventsPerRequest)
                return sendEnvelope(res, 400, "FAILED",
                                    "at most " + std::to_string(kMaxEventsPerRequest) +
                                        " events per request");
            for (const auto &item : value->asArray()) {
                if (!item.isObject())
                    return sendEnvelope(res, 400, "FAILED", "every event must be an object");
            }
            for (const auto &item : value->asArray())
                store(ctx, contentType, item);
        } else {
            store(ctx, contentType, std::move(*value));
        }
    } else {
        // Form-encoded bodies and query strings both arrive as parameters.
        if (req.params.empty())
            return sendEnvelope(res, 400, "FAILED", "the event has no fields");
        store(ctx, contentType, paramsAsObject(req));
    }
    sendEnvelope(res, 200, "SUCCESS");
}

} // namespace

void addAnalyticsRoutes(http::HttpServer &server, ServerContext &ctx) {
    server.post("/collect", [&ctx](const Request &req, Response &res) { collect(ctx, req, res); });
    server.get("/collect", [&ctx](const Request &req, Response &res) { collect(ctx, req, res); });
    if (ctx.config.analyticsReadback) {
        server.get("/collect/events", [&ctx](const Request &, Response &res) {
            json::Array events;
            for (const auto &text : ctx.store.analyticsEvents()) {
                if (auto v = json::parse(text))
                    events.push_back(std::move(*v));
            }
            sendJson(res, 200, json::Value(std::move(events)));
        });
    }
}

} // namespace cloud
