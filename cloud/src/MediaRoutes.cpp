// The cloud library: the change listing, catalogue matches, older versions
// retired in favour of newer ones, and the recognition user handle.
#include "ServerContext.h"

namespace cloud {

namespace {

using http::Request;
using http::Response;

json::Value mediaItem(const UserMedia &m) {
    json::Value v;
    v.set("id", m.id);
    v.set("mediaType", "AUDIO");
    v.set("deleted", m.deleted ? 1 : 0);
    v.set("name", m.name);
    v.set("songName", m.songName);
    v.set("albumName", m.albumName);
    v.set("artistName", m.artistName);
    v.set("checksum", m.checksum);
    v.set("sequenceInAlbum", m.sequence);
    if (m.fingerprintId)
        v.set("fingerprintId", *m.fingerprintId);
    v.set("downloadable", m.downloadable ? 1 : 0);
    return v;
}

// A signed-in call with a JSON object for its body; nothing once the
// refusal is sent (no session: 401, a body that is not an object: 400).
struct SignedInCall {
    Session session;
    json::Value body;
};
std::optional<SignedInCall> signedInCall(ServerContext &ctx, const Request &req, Response &res) {
    auto session = currentSession(ctx, req);
    if (!session) {
        sendEnvelope(res, 401, "FAILED", "No Session");
        return std::nullopt;
    }
    auto body = readJsonObject(req, res);
    if (!body)
        return std::nullopt;
    return SignedInCall{std::move(*session), std::move(*body)};
}

void listChanges(ServerContext &ctx, const Request &req, Response &res) {
    const auto call = signedInCall(ctx, req, res);
    if (!call)
        return;
    const Session &session = call->session;
    Members m(call->body);
    const auto since = m.integer("milliseconds");
    m.string("version");
    if (!m.ok())
        return sendEnvelope(res, 400, "FAILED", m.error());
    if (since.value_or(0) < 0)
        return sendEnvelope(res, 400, "FAILED", "member \"milliseconds\" must not be negative");
    const Listing listing = ctx.store.listChanges(session.userId, since.value_or(0));
    json::Value reply = envelope("OK");
    reply.set("milliseconds", listing.position);
    json::Array items;
    for (const auto &item : listing.items)
        items.push_back(mediaItem(item));
    reply.set("updatedUserMedias", std::move(items));
    sendJson(res, 200, reply);
}

void updateGracenoteUser(ServerContext &ctx, const Request &req, Response &res) {
    const auto call = signedInCall(ctx, req, res);
    if (!call)
        return;
    const Session &session = call->session;
    Members m(call->body);
    const auto value = m.string("value");
    if (!m.ok())
        return sendEnvelope(res, 400, "FAILED", m.error());
    if (!value || value->size() > 16384)
        return sendEnvelope(res, 400, "FAILED", "member \"value\" is required (at most 16 KiB)");
    ctx.store.setGracenoteUser(session.userId, *value);
    sendEnvelope(res, 200, "SUCCESS");
}

json::Value matchReply(const std::string &status, const std::string &message,
                       const UserMedia *media) {
    json::Value v;
    v.set("purchaseResponseStatus", status);
    v.set("purchaseResponseMessage", message);
    json::Array content;
    if (media) {
        json::Value item;
        item.set("id", media->id);
        item.set("downloadable", media->downloadable);
        item.set("checksum", media->checksum);
        content.push_back(std::move(item));
    }
    v.set("purchasedContent", std::move(content));
    return v;
}

std::string orUnknown(const std::string &s) {
    return s.empty() ? "Unknown" : s;
}

// The user's library entry for a catalogue item.
UserMedia fromCatalog(std::int64_t userId, const CatalogItem &item) {
    UserMedia m;
    m.userId = userId;
    m.fileId = item.fileId;
    m.name = item.name;
    const auto dot = item.name.rfind('.');
    m.songName = !item.tags.title.empty() ? item.tags.title : item.name.substr(0, dot);
    m.albumName = orUnknown(item.tags.album);
    m.artistName = orUnknown(item.tags.artist);
    m.checksum = item.checksum;
    m.fingerprintId = item.fingerprintId;
    m.sequence = item.tags.track;
    return m;
}

// Matching order: what the user already holds, then the catalogue by the
// file's checksum, then by the recognition engine's track identifier.
void matchFromCatalog(ServerContext &ctx, const Request &req, Response &res) {
    const auto session = currentSession(ctx, req);
    if (!session)
        return sendJson(res, 401, matchReply("FAIL", "No Session", nullptr));
    const auto body = readJsonObject(req, res);
    if (!body)
        return;
    Members m(*body);
    const auto checksum = m.string("checksum");
    const auto fingerprintId = m.string("fingerprintId");
    m.string("provider");
    m.integer("score");
    if (!m.ok())
        return sendEnvelope(res, 400, "FAILED", m.error());
    if (const auto *info = body->find("graceNoteTrackInfo");
        info && !info->isObject() && !info->isNull())
        return sendEnvelope(res, 400, "FAILED", "member \"graceNoteTrackInfo\" must be an object");
    const bool hasChecksum = checksum && !checksum->empty();
    const bool hasFingerprint = fingerprintId && !fingerprintId->empty() && *fingerprintId != "-1";
    if (!hasChecksum && !hasFingerprint)
        return sendEnvelope(res, 400, "FAILED", "a checksum or a fingerprintId is required");

    if (hasChecksum) {
        if (const auto owned = ctx.store.findUserMediaByChecksum(session->userId, *checksum))
            return sendJson(res, 200, matchReply("SUCCESS", "", &*owned));
    }
    std::optional<CatalogItem> item;
    if (hasChecksum)
        item = ctx.store.findCatalogByChecksum(*checksum);
    if (!item && hasFingerprint)
        item = ctx.store.findCatalogByFingerprint(*fingerprintId);
    if (!item)
        return sendJson(res, 200, matchReply("FAIL", "no catalogue item matches", nullptr));
    const UserMedia media = ctx.store.addUserMedia(fromCatalog(session->userId, *item));
    sendJson(res, 200, matchReply("SUCCESS", "", &media));
}

// A new version of a song replaces the old one: the client has matched or
// uploaded the new file as any other, and names both items here.
void retireUserMedia(ServerContext &ctx, const Request &req, Response &res) {
    const auto call = signedInCall(ctx, req, res);
    if (!call)
        return;
    const Session &session = call->session;
    Members m(call->body);
    const auto item = m.integer("userMediaId");
    const auto replacement = m.integer("replacedBy");
    if (!m.ok())
        return sendEnvelope(res, 400, "FAILED", m.error());
    if (!item || !replacement)
        return sendEnvelope(res, 400, "FAILED",
                            "members \"userMediaId\" and \"replacedBy\" are required");
    if (*item == *replacement)
        return sendEnvelope(res, 400, "FAILED", "an item cannot replace itself");
    const RetireResult result = ctx.store.retireUserMedia(session.userId, *item, *replacement);
    switch (result.status) {
    case RetireStatus::Retired:
        ctx.uploadAllowance.release(session.userId, static_cast<std::uint64_t>(result.freedBytes));
        return sendEnvelope(res, 200, "SUCCESS");
    case RetireStatus::AlreadyRetired:
        return sendEnvelope(res, 200, "SUCCESS");
    case RetireStatus::UnknownItem:
        return sendEnvelope(res, 404, "FAILED",
                            "item " + std::to_string(*item) + " is not in this library");
    case RetireStatus::UnknownReplacement:
        return sendEnvelope(res, 404, "FAILED",
                            "item " + std::to_string(*replacement) + " is not in this library");
    }
}

} // namespace

void addMediaRoutes(http::HttpServer &server, ServerContext &ctx) {
    server.post("/Vexmusic/rest/medias/sync",
                [&ctx](const Request &req, Response &res) { listChanges(ctx, req, res); });
    server.post("/Vexmusic/rest/user/updateGracenoteUser",
                [&ctx](const Request &req, Response &res) { updateGracenoteUser(ctx, req, res); });
    server.post("/Vexmusic/rest/userContent/createUserMediaFromCatalog",
                [&ctx](const Request &req, Response &res) { matchFromCatalog(ctx, req, res); });
    server.post("/Vexmusic/rest/userContent/retireUserMedia",
                [&ctx](const Request &req, Response &res) { retireUserMedia(ctx, req, res); });
}

} // namespace cloud
