// Multipart uploads, streamed to disk. The file counts only once all of it has
// arrived: until then it lives in incoming/, and a cut-off upload is removed.
#include "Crypto.h"
#include "ServerContext.h"
#include "TagReader.h"

namespace cloud {

namespace {

using httplib::Request;
using httplib::Response;

struct UploadState {
    explicit UploadState(ServerContext &c)
        : ctx(c) {}

    bool onPart(const httplib::MultipartFormData &part) {
        if (file)
            inFilePart = false; // only the first file part is kept
        else if (part.name == "file" || !part.filename.empty()) {
            file.emplace(ctx.blobs.create());
            filename = part.filename;
            inFilePart = true;
        }
        return true;
    }

    bool onData(const char *data, std::size_t size) {
        if (!inFilePart)
            return true;
        if (file->size() + size > ctx.config.maxUploadBytes) {
            tooLarge = true;
            return false;
        }
        md5.update(data, size);
        if (!file->write(data, size)) {
            writeFailed = true;
            return false;
        }
        return true;
    }

    ServerContext &ctx;
    std::optional<IncomingFile> file;
    crypto::Md5 md5;
    std::string filename;
    bool inFilePart = false;
    bool tooLarge = false;
    bool writeFailed = false;
};

UserMedia describe(std::int64_t userId, const std::string &name, const std::string &checksum,
                   const std::optional<Tags> &tags) {
    UserMedia m;
    m.userId = userId;
    m.name = name;
    m.checksum = checksum;
    const auto dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    m.songName = tags && !tags->title.empty() ? tags->title : stem;
    m.artistName = tags && !tags->artist.empty() ? tags->artist : "Unknown";
    m.albumName = tags && !tags->album.empty() ? tags->album : "Unknown";
    m.sequence = tags ? tags->track : 0;
    return m;
}

void upload(ServerContext &ctx, const Request &req, Response &res,
            const httplib::ContentReader &reader) {
    const auto refuse = [&res](int status, const std::string &text) {
        sendEnvelope(res, status, "FAILED", text);
        res.set_header("Connection", "close"); // the rest of the body stays unread
    };
    // Refusals that do not depend on the size read the body and drop it, so
    // that the connection stays usable for the client's next request.
    const auto refuseAfterDraining = [&](int status, const std::string &text) {
        if (req.is_multipart_form_data())
            reader([](const httplib::MultipartFormData &) { return true; },
                   [](const char *, std::size_t) { return true; });
        else
            reader([](const char *, std::size_t) { return true; });
        sendEnvelope(res, status, "FAILED", text);
    };
    const auto session = currentSession(ctx, req);
    if (!session)
        return refuseAfterDraining(401, "No Session");
    if (!req.is_multipart_form_data())
        return refuseAfterDraining(400, "the upload must be multipart/form-data");

    UploadState state(ctx);
    const bool complete =
        reader([&state](const httplib::MultipartFormData &part) { return state.onPart(part); },
               [&state](const char *data, std::size_t size) { return state.onData(data, size); });
    if (state.tooLarge)
        return refuse(413, "the file is larger than " + std::to_string(ctx.config.maxUploadBytes) +
                               " bytes");
    if (state.writeFailed)
        return refuse(507, "the server could not store the file");
    if (!complete)
        return refuse(400, "the upload is incomplete");
    if (!state.file)
        return refuse(400, "the upload holds no file part");
    if (state.file->size() == 0)
        return refuse(400, "the uploaded file is empty");

    StoredFile stored;
    stored.size = static_cast<std::int64_t>(state.file->size());
    stored.md5 = state.md5.finalHex();
    stored.relPath = ctx.blobs.commit(*state.file);

    std::string name = state.filename;
    if (name.empty())
        name = req.get_param_value("fileName");
    name = name.empty() ? "Unknown-" + stored.md5 : sanitizeName(name);

    UserMedia media;
    bool reused = false;
    try {
        const auto tags = readTags(ctx.blobs.pathOf(stored.relPath).string(), TagDepth::Quick);
        media =
            ctx.store.addUpload(stored, describe(session->userId, name, stored.md5, tags), reused);
    } catch (...) {
        ctx.blobs.remove(stored.relPath);
        throw;
    }
    if (reused)
        ctx.blobs.remove(stored.relPath);

    json::Value reply = envelope("SUCCESS");
    json::Value item;
    item.set("id", media.id);
    item.set("downloadable", true);
    item.set("checksum", media.checksum);
    reply.set("purchasedContent", json::Array{std::move(item)});
    sendJson(res, 200, reply);
}

} // namespace

void addUploadRoutes(httplib::Server &server, ServerContext &ctx) {
    server.Post("/Vexmusic/controllers/DesktopUploadMedia",
                [&ctx](const Request &req, Response &res, const httplib::ContentReader &reader) {
                    upload(ctx, req, res, reader);
                });
}

} // namespace cloud
