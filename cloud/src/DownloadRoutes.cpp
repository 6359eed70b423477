// Downloads: the gateway checks the session and the credentials, then
// redirects to a short-lived address signed with the data folder's key, which
// serves the bytes.
#include "Crypto.h"
#include "ObjectResponse.h"
#include "ServerContext.h"
#include "WebSession.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <memory>
#include <strings.h>

namespace cloud {

namespace {

using http::Request;
using http::Response;

std::optional<std::int64_t> parseId(const std::string &text) {
    std::int64_t v = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || ptr != text.data() + text.size() || v < 0)
        return std::nullopt;
    return v;
}

std::string linkSignature(const ServerContext &ctx, std::int64_t fileId, std::int64_t mediaId,
                          std::int64_t expiresMs) {
    return crypto::toHex(crypto::hmacSha256(ctx.linkSecret, std::to_string(fileId) + "/" +
                                                                std::to_string(mediaId) + "/" +
                                                                std::to_string(expiresMs)));
}

bool credentialsMatch(ServerContext &ctx, const Request &req, const User &user) {
    const std::string username = req.header("USERNAME");
    const std::string password = req.header("PASSWORD");
    if (!username.empty() && !password.empty()) {
        if (username.size() != user.email.size() ||
            strncasecmp(username.c_str(), user.email.c_str(), username.size()) != 0)
            return false;
        if (ctx.credentials.contains(user.id, password))
            return true;
        if (!user.hasPassword || !user.password.verify(password))
            return false;
        ctx.credentials.add(user.id, password);
        return true;
    }
    const std::string token = req.header("FACEBOOK_TOKEN");
    if (token.empty() || token.size() > 128)
        return false;
    const auto fb = ctx.store.findFacebookUserByToken(token);
    return fb && ctx.store.userForFacebook(*fb).id == user.id;
}

void redirectToFile(ServerContext &ctx, const Request &req, Response &res) {
    const auto mediaId = parseId(req.matches[1]);
    if (!mediaId)
        return sendEnvelope(res, 400, "FAILED", "the media identifier must be a number");
    std::string sessionId = req.param("jsessionId");
    if (sessionId.empty())
        sessionId = sessionIdFromCookie(req);
    const auto session = sessionId.empty() || sessionId.size() > 128
                             ? std::nullopt
                             : ctx.store.findSession(sessionId);
    if (!session || isWebSessionDevice(session->deviceId))
        return sendEnvelope(res, 401, "FAILED", "No Session");
    const auto user = ctx.store.findUser(session->userId);
    if (!user || !credentialsMatch(ctx, req, *user))
        return sendEnvelope(res, 403, "FAILED", "the credentials do not match the session");
    const auto media = ctx.store.findUserMedia(*mediaId);
    // Someone else's media is answered like a missing one.
    if (!media || media->userId != session->userId || media->deleted || media->retired ||
        !media->downloadable)
        return sendEnvelope(res, 404, "FAILED", "no such media in this library");

    const std::int64_t expires =
        nowMs() + std::int64_t(ctx.config.downloadLinkLifetimeSeconds) * 1000;
    const std::string path = "/cdn/" + std::to_string(media->fileId) + "/" +
                             std::to_string(media->id) + "/" + std::to_string(expires) + "/" +
                             linkSignature(ctx, media->fileId, media->id, expires) + "/" +
                             http::percentEncode(media->name);
    res.redirect(ctx.config.publicUrl + path, 302);
}

void serveFile(ServerContext &ctx, const Request &req, Response &res) {
    const auto fileId = parseId(req.matches[1]);
    const auto mediaId = parseId(req.matches[2]);
    const auto expires = parseId(req.matches[3]);
    const std::string signature = req.matches[4];
    if (!fileId || !mediaId || !expires ||
        !crypto::equalConstantTime(signature, linkSignature(ctx, *fileId, *mediaId, *expires)))
        return sendEnvelope(res, 403, "FAILED", "invalid download address");
    if (*expires < nowMs())
        return sendEnvelope(res, 410, "FAILED", "the download address has expired");
    const auto file = ctx.store.findFile(*fileId);
    if (!file)
        return sendEnvelope(res, 404, "FAILED", "the file is gone");
    withObject(
        res, *ctx.objects, ctx.work, file->relPath,
        [&ctx, &res, range = req.header("Range")](std::unique_ptr<objects::ObjectReader> reader) {
            if (!reader)
                return sendEnvelope(res, 404, "FAILED", "the file is gone");
            sendObject(res, std::move(reader), range, "application/octet-stream", ctx.work);
        },
        [&res] { sendEnvelope(res, 503, "FAILED", "the file store is unavailable"); });
}

} // namespace

void addDownloadRoutes(http::HttpServer &server, ServerContext &ctx) {
    server.get(R"(/Vexmusic/rest/downloadController/redirectToCdnDownload/([^/]+)/?)",
               [&ctx](const Request &req, Response &res) { redirectToFile(ctx, req, res); });
    server.get(R"(/cdn/([0-9]+)/([0-9]+)/([0-9]+)/([0-9a-f]{64})(?:/[^/]*)?)",
               [&ctx](const Request &req, Response &res) { serveFile(ctx, req, res); });
}

} // namespace cloud
