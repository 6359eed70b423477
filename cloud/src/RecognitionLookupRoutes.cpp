#include "RecognitionLookupRoutes.h"

#include "SharedState.h"

#include "catalog.h"
#include "digest.h"
#include "lookup_service.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace cloud {

namespace {

struct LookupState {
    LookupState(std::shared_ptr<recog::Catalog> catalog, const Config &config,
                const std::shared_ptr<SharedDatabase> &shared)
        : service(std::move(catalog), recog::EngineConfig{})
        , clients(parseRecognitionClients(config.recognitionClients))
        , perClient(makeRequestLimiter(shared, "lookup-client", config.recognitionRate,
                                       2 * config.recognitionRate))
        , perAddress(makeRequestLimiter(shared, "lookup-address", 4 * config.recognitionRate,
                                        8 * config.recognitionRate)) {}

    recog::LookupService service;
    std::vector<std::pair<std::string, std::string>> clients;
    // A computer with its credentials; and any address, whatever it sends,
    // so that requests with wrong credentials cost little too.
    std::unique_ptr<RequestLimiter> perClient;
    std::unique_ptr<RequestLimiter> perAddress;

    bool known(const std::string &id, const std::string &tag) const {
        bool found = false;
        // Both halves are compared every time: how long it takes tells nothing.
        for (const auto &[knownId, knownTag] : clients)
            found |= static_cast<int>(recog::equalConstantTime(id, knownId)) &
                     static_cast<int>(recog::equalConstantTime(tag, knownTag));
        return found;
    }
};

void refuse(http::Response &res, int status, const std::string &why) {
    std::string escaped;
    for (char c : why)
        escaped += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    res.status = status;
    res.setContent("{\"error\":\"" + escaped + "\"}", "application/json");
}

void lookup(LookupState &state, const http::Request &req, http::Response &res) {
    const auto start = std::chrono::steady_clock::now();
    if (!state.perAddress->allow(req.limitKey)) {
        res.setHeader("Retry-After", "1");
        return refuse(res, 429, "too many lookups from this address");
    }
    const std::string id = req.header("X-Client-Id");
    if (!state.known(id, req.header("X-Client-Tag")))
        return refuse(res, 401, "unknown client ID or tag");
    if (!state.perClient->allow(id + " " + req.limitKey)) {
        res.setHeader("Retry-After", "1");
        return refuse(res, 429, "too many lookups from this client");
    }
    if (req.header("Content-Type").rfind("application/json", 0) != 0)
        return refuse(res, 415, "the body must be application/json");
    if (req.body.size() > recog::kLookupMaxBody)
        return refuse(res, 413, "the body is larger than 256 KiB");
    recog::LookupRequest request;
    std::string error;
    if (!recog::decodeRequest(req.body, request, error))
        return refuse(res, 400, error);
    const std::string body = recog::encodeAnswer(state.service.answer(request));
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    char timing[48];
    std::snprintf(timing, sizeof timing, "lookup;dur=%.3f", ms);
    res.setHeader("Server-Timing", timing);
    res.setContent(body, "application/json");
}

} // namespace

std::vector<std::pair<std::string, std::string>> parseRecognitionClients(const std::string &text) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t at = 0;
    while (at <= text.size() && !text.empty()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string one = text.substr(at, comma - at);
        const size_t colon = one.find(':');
        const std::string id = one.substr(0, colon);
        const std::string tag = colon == std::string::npos ? "" : one.substr(colon + 1);
        if (!recog::validClientId(id) || !recog::validClientTag(tag))
            throw std::runtime_error("--recognition-clients takes ID:TAG pairs (7 digits, 32 "
                                     "upper-case hex digits) separated by commas, not \"" +
                                     one + "\"");
        out.emplace_back(id, tag);
        at = comma + 1;
    }
    return out;
}

void addRecognitionLookupRoutes(http::HttpServer &server, const Config &config,
                                const std::shared_ptr<SharedDatabase> &shared) {
    if (config.recognitionCatalog.empty())
        return;
    if (config.recognitionClients.empty())
        throw std::runtime_error("--recognition-catalog needs --recognition-clients ID:TAG");
    std::string error;
    std::shared_ptr<recog::Catalog> catalog =
        recog::Catalog::open(config.recognitionCatalog, false, error);
    if (!catalog)
        throw std::runtime_error("recognition catalogue: " + error);
    auto state = std::make_shared<LookupState>(std::move(catalog), config, shared);
    server.post("/recognition/v1/lookup", [state](const http::Request &req, http::Response &res) {
        lookup(*state, req, res);
    });
}

} // namespace cloud
