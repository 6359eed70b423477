// Multipart uploads, streamed into the file store. The file counts only once
// all of it has arrived and it was found to be audio: until then it is an
// incoming object, and a cut-off or refused upload is removed.
#include "Crypto.h"
#include "ServerContext.h"
#include "StoredMedia.h"
#include "TagReader.h"

#include <algorithm>
#include <cstdio>

namespace cloud {

namespace {

using http::Request;
using http::Response;

class UploadState : public http::UploadSink {
public:
    UploadState(ServerContext &c, Session s, std::uint64_t expectedBytes,
                std::optional<std::uint64_t> fileBytes)
        : ctx(c)
        , session(std::move(s))
        , reservation(ctx.uploadAllowance.reserve(session.userId, expectedBytes))
        , announcedFileBytes(fileBytes) {}
    ~UploadState() override { settle(); }

    bool part(std::string_view name, std::string_view partFile) override {
        if (file)
            inFilePart = false; // only the first file part is kept
        else if (name == "file" || !partFile.empty()) {
            file = ctx.objects->create();
            if (announcedFileBytes)
                file->expectSize(*announcedFileBytes);
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
        try {
            refusal = ctx.uploadAllowance.grow(*reservation, size);
        } catch (const std::exception &e) {
            // The quota is kept in a database that failed to answer.
            std::fprintf(stderr, "cannot reserve room for an upload: %s\n", e.what());
            writeFailed = true;
            return false;
        }
        if (refusal != UploadRefusal::None)
            return false;
        md5.update(bytes, size);
        sha256.update(bytes, size);
        if (!file->write(bytes, size)) {
            writeFailed = true;
            return false;
        }
        return true;
    }

    // The reservation is settled as soon as the answer is known: the client
    // may start its next upload before this upload's connection is done.
    void finish(const Request &req, Response &res, bool complete) override {
        try {
            store(req, res, complete);
        } catch (...) {
            settle();
            throw;
        }
        settle();
    }

private:
    void store(const Request &req, Response &res, bool complete);
    // What cannot be removed now the clean-up removes later.
    void removeQuietly(const std::string &key) {
        try {
            ctx.objects->remove(key);
        } catch (const objects::ObjectError &e) {
            std::fprintf(stderr, "cannot remove a stored file: %s\n", e.what());
        }
    }
    void settle() {
        file.reset(); // a refused upload's bytes leave the disk before it is answered
        if (reservation && kept)
            reservation->keep();
        reservation.reset();
    }

    ServerContext &ctx;
    Session session;
    std::unique_ptr<QuotaReservation> reservation;
    std::optional<std::uint64_t> announcedFileBytes; // X-File-Size, a hint only
    bool kept = false;                               // the account's library took the file
    UploadRefusal refusal = UploadRefusal::None;
    std::unique_ptr<objects::IncomingObject> file;
    crypto::Md5 md5;
    crypto::Sha256 sha256;
    std::string filename;
    bool inFilePart = false;
    bool tooLarge = false;
    bool writeFailed = false;
};

// The limit goes in a header as well as in words, for a client to tell its
// person; one whose connection closed before the answer arrived asks again
// (checkUpload) and gets the same answer.
void refuseTooLarge(ServerContext &ctx, Response &res) {
    const std::uint64_t limit = ctx.config.maxUploadBytes;
    res.setHeader("X-Upload-Limit", std::to_string(limit));
    sendEnvelope(res, 413, "FAILED",
                 "the file is larger than the limit of " + std::to_string(limit / (1024 * 1024)) +
                     " MiB");
}

// A length in a header, when the request gave one that reads as a number.
std::optional<std::uint64_t> lengthHeader(const Request &req, const std::string &name) {
    const std::string text = req.header(name);
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    try {
        return std::stoull(text);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

void refuseForRoom(ServerContext &ctx, Response &res, UploadRefusal refusal) {
    const auto mib = [](std::uint64_t bytes) { return std::to_string(bytes / (1024 * 1024)); };
    sendEnvelope(res, 507, "FAILED",
                 refusal == UploadRefusal::Quota
                     ? "the account's storage quota of " + mib(ctx.uploadAllowance.quotaBytes()) +
                           " MiB is full"
                     : "the server is low on disk space");
}

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

void UploadState::store(const Request &req, Response &res, bool complete) {
    const auto refuse = [&res](int status, const std::string &text) {
        sendEnvelope(res, status, "FAILED", text);
    };
    if (tooLarge)
        return refuseTooLarge(ctx, res);
    if (refusal != UploadRefusal::None)
        return refuseForRoom(ctx, res, refusal);
    if (writeFailed)
        return refuse(507, "the server could not store the file");
    if (!complete)
        return refuse(400, "the upload is incomplete");
    if (!file)
        return refuse(400, "the upload holds no file part");
    if (file->size() == 0)
        return refuse(400, "the uploaded file is empty");
    // Only audio that the server reads and plays is kept: anything else would
    // be listed as a song, and sent to players as one.
    const auto tags = readTags(file->readBack(), TagDepth::Quick);
    if (!tags || !decodesAsAudio(file->readBack()))
        return refuse(415, "the file is not audio of an accepted format");

    StoredFile stored;
    stored.size = static_cast<std::int64_t>(file->size());
    stored.md5 = md5.finalHex();
    stored.sha256 = sha256.finalHex();
    try {
        stored.relPath = file->commit(stored.md5);
    } catch (const objects::ObjectError &e) {
        std::fprintf(stderr, "cannot store an upload: %s\n", e.what());
        return refuse(507, "the server could not store the file");
    }

    std::string name = filename;
    if (name.empty())
        name = req.param("fileName");
    name = name.empty() ? "Unknown-" + stored.md5 : sanitizeName(name);

    UserMedia media;
    bool reused = false;
    try {
        media = ctx.store.addUpload(stored, describe(session.userId, name, stored.md5, tags),
                                    reused, &kept, &*tags);
    } catch (...) {
        removeQuietly(stored.relPath);
        throw;
    }
    if (reused)
        removeQuietly(stored.relPath);

    json::Value reply = envelope("SUCCESS");
    json::Value item;
    item.set("id", media.id);
    item.set("downloadable", true);
    item.set("checksum", media.checksum);
    reply.set("purchasedContent", json::Array{std::move(item)});
    sendJson(res, 200, reply);
}

// The refusals of an upload that need none of its body: false, with the
// answer in `res`, when the account may not upload a file this large.
bool mayUpload(ServerContext &ctx, const Session &session, bool tooLarge, Response &res) {
    if (tooLarge) {
        refuseTooLarge(ctx, res);
        return false;
    }
    const auto refusal = ctx.uploadAllowance.check(session.userId);
    if (refusal != UploadRefusal::None) {
        refuseForRoom(ctx, res, refusal);
        return false;
    }
    return true;
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
    const auto length = lengthHeader(req, "Content-Length");
    if (!mayUpload(ctx, *session, length && *length > ctx.config.maxUploadBody(), res))
        return nullptr;
    // The file's own size, which a client may announce so that the file can
    // be stored while it arrives; what arrives decides.
    return std::make_unique<UploadState>(ctx, *session, length.value_or(0),
                                         lengthHeader(req, "X-File-Size"));
}

// What an upload of a file of `fileSize` bytes would be answered before its
// body is read, asked without the body. A client still sending when such a
// refusal came may lose the answer with the connection closed on the rest;
// it asks here why.
void checkUpload(ServerContext &ctx, const Request &req, Response &res) {
    const auto session = currentSession(ctx, req);
    if (!session)
        return sendEnvelope(res, 401, "FAILED", "No Session");
    std::uint64_t fileSize = 0;
    try {
        const std::string text = req.param("fileSize");
        std::size_t used = 0;
        fileSize = std::stoull(text, &used);
        if (used != text.size() || text.front() == '-')
            throw std::invalid_argument("fileSize");
    } catch (const std::exception &) {
        return sendEnvelope(res, 400, "FAILED", "fileSize must be a number of bytes");
    }
    if (!mayUpload(ctx, *session, fileSize > ctx.config.maxUploadBytes, res))
        return;
    res.setHeader("X-Upload-Limit", std::to_string(ctx.config.maxUploadBytes));
    sendEnvelope(res, 200, "SUCCESS", "");
}

} // namespace

void addUploadRoutes(http::HttpServer &server, ServerContext &ctx) {
    server.upload("/Vexmusic/controllers/DesktopUploadMedia",
                  [&ctx](const Request &req, Response &res) { return beginUpload(ctx, req, res); });
    server.get("/Vexmusic/controllers/DesktopUploadMedia",
               [&ctx](const Request &req, Response &res) { checkUpload(ctx, req, res); });
}

} // namespace cloud
