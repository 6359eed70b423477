// Multipart uploads, streamed to disk. The file counts only once all of it has
// arrived: until then it lives in incoming/, and a cut-off upload is removed.
#include "Crypto.h"
#include "ServerContext.h"
#include "TagReader.h"

namespace cloud {

namespace {

using http::Request;
using http::Response;

class UploadState : public http::UploadSink {
public:
    UploadState(ServerContext &c, Session s)
        : ctx(c)
        , session(std::move(s)) {}

    bool part(std::string_view name, std::string_view partFile) override {
        if (file)
            inFilePart = false; // only the first file part is kept
        else if (name == "file" || !partFile.empty()) {
            file.emplace(ctx.blobs.create());
            filename = partFile;
            inFilePart = true;
        }
        return true;
    }

    bool data(const char *bytes, std::size_t size) override {
        if (!inFilePart)
            return true;
        if (file->size() + size > ctx.config.maxUploadBytes) {
            tooLarge = true;
            return false;
        }
        md5.update(bytes, size);
        sha256.update(bytes, size);
        if (!file->write(bytes, size)) {
            writeFailed = true;
            return false;
        }
        return true;
    }

    void finish(const Request &req, Response &res, bool complete) override;

private:
    ServerContext &ctx;
    Session session;
    std::optional<IncomingFile> file;
    crypto::Md5 md5;
    crypto::Sha256 sha256;
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

void UploadState::finish(const Request &req, Response &res, bool complete) {
    const auto refuse = [&res](int status, const std::string &text) {
        sendEnvelope(res, status, "FAILED", text);
    };
    if (tooLarge)
        return refuse(413, "the file is larger than " + std::to_string(ctx.config.maxUploadBytes) +
                               " bytes");
    if (writeFailed)
        return refuse(507, "the server could not store the file");
    if (!complete)
        return refuse(400, "the upload is incomplete");
    if (!file)
        return refuse(400, "the upload holds no file part");
    if (file->size() == 0)
        return refuse(400, "the uploaded file is empty");

    StoredFile stored;
    stored.size = static_cast<std::int64_t>(file->size());
    stored.md5 = md5.finalHex();
    stored.sha256 = sha256.finalHex();
    stored.relPath = ctx.blobs.commit(*file);

    std::string name = filename;
    if (name.empty())
        name = req.param("fileName");
    name = name.empty() ? "Unknown-" + stored.md5 : sanitizeName(name);

    UserMedia media;
    bool reused = false;
    try {
        const auto tags = readTags(ctx.blobs.pathOf(stored.relPath).string(), TagDepth::Quick);
        media =
            ctx.store.addUpload(stored, describe(session.userId, name, stored.md5, tags), reused);
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

// Refusals that need no body are answered before any of it is read.
std::unique_ptr<http::UploadSink> beginUpload(ServerContext &ctx, const Request &req,
                                              Response &res) {
    const auto session = currentSession(ctx, req);
    if (!session) {
        sendEnvelope(res, 401, "FAILED", "No Session");
        return nullptr;
    }
    if (!req.isMultipart()) {
        sendEnvelope(res, 400, "FAILED", "the upload must be multipart/form-data");
        return nullptr;
    }
    return std::make_unique<UploadState>(ctx, *session);
}

} // namespace

void addUploadRoutes(http::HttpServer &server, ServerContext &ctx) {
    server.upload("/Vexmusic/controllers/DesktopUploadMedia",
                  [&ctx](const Request &req, Response &res) { return beginUpload(ctx, req, res); });
}

} // namespace cloud
