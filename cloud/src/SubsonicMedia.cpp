// Media retrieval: a song's stored bytes (whole or a byte range, so players
// can seek), as a download, and the picture it embeds.
#include "CoverArt.h"
#include "GeneratedCover.h"
#include "HttpRange.h"
#include "ObjectResponse.h"
#include "Subsonic.h"
#include "Transcode.h"
#include "TranscodeStream.h"

#include <cctype>
#include <cstdio>

namespace cloud::subsonic {

namespace {

constexpr int kLargestCover = 2048;

// RFC 6266 / 5987: an ASCII fallback and the exact name, percent-encoded.
std::string contentDisposition(const std::string &name) {
    std::string ascii;
    std::string encoded;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        ascii += b >= 0x20 && b < 0x7F && c != '"' && c != '\\' ? c : '_';
        if (std::isalnum(b) || std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos) {
            encoded += c;
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", b);
            encoded += buf;
        }
    }
    return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + encoded;
}

// Answers with the song's stored bytes from an open reader.
void sendSong(Call &call, const Song &song, std::unique_ptr<objects::ObjectReader> reader,
              bool asDownload) {
    if (!reader)
        return fail(call, kNotFound, "the song's file is gone");
    sendObject(call.res, std::move(reader), call.req.header("Range"), song.tags.contentType,
               call.ctx.work);
    if (asDownload && call.res.status < 300) {
        const auto slash = song.path.rfind('/');
        call.res.setHeader("Content-Disposition",
                           contentDisposition(slash == std::string::npos
                                                  ? song.path
                                                  : song.path.substr(slash + 1)));
    }
}

void sendSong(Call &call, const Song &song, bool asDownload) {
    const auto file = call.ctx.store.findFile(song.fileId);
    if (!file)
        return fail(call, kNotFound, "the song's file is gone");
    withObject(
        call.res, *call.ctx.objects, call.ctx.work, file->relPath,
        [call, song, asDownload](std::unique_ptr<objects::ObjectReader> reader) mutable {
            sendSong(call, song, std::move(reader), asDownload);
        },
        [call]() mutable { fail(call, kGeneric, "the song's file cannot be read now"); });
}

// A transcoded stream of a stated length (estimateContentLength): what it
// takes at the target rate from `offset` on, and the part of it a Range asks
// for, made from the time that part stands for. Nothing when the range lies
// past the end (answered 416).
struct StatedLength {
    double startSeconds = 0;
    std::uint64_t length = 0;
};

std::optional<StatedLength> statedLength(Call &call, const Song &song,
                                         const TranscodeTarget &target, double offset) {
    const double seconds = static_cast<double>(song.tags.durationMs) / 1000 - offset;
    const std::uint64_t total = estimatedLength(seconds, target);
    const auto range = http::answerRange(call.res, call.req.header("Range"), total);
    if (!range)
        return std::nullopt;
    const std::uint64_t length = total > 0 ? range->last - range->first + 1 : 0;
    return StatedLength{offset + secondsAt(range->first, target), length};
}

// The original, unless the player asks for a lower bit rate or another
// format: then the song is encoded again as it is sent, from timeOffset
// seconds on.
void stream(Call &call) {
    const auto maxBitRate = number(call, "maxBitRate", 0, 0, 100000);
    const auto timeOffset = maxBitRate ? number(call, "timeOffset", 0, 0, 24 * 3600) : std::nullopt;
    if (!timeOffset)
        return;
    const auto song = requiredSong(call);
    if (!song)
        return;
    const auto target = chooseTranscode(call.param("format").value_or(""), *maxBitRate,
                                        song->tags.bitRateKbps, song->tags.suffix);
    const auto file = target ? call.ctx.store.findFile(song->fileId) : std::nullopt;
    if (!file)
        return sendSong(call, *song, false);
    auto slot = call.ctx.streams.take(call.userId());
    if (!slot)
        return fail(call, kGeneric, "too many streams");
    // A song of unknown length can be given none: it goes out chunked.
    const bool stateLength = call.flag("estimateContentLength", false) && song->tags.durationMs > 0;
    // Even opening the file probes and decodes: that too happens on a worker.
    offload(call, WorkKind::Transcode,
            [song = *song, key = file->relPath, target = *target, offset = *timeOffset, slot,
             stateLength](Call &c) {
                std::optional<StatedLength> stated;
                if (stateLength) {
                    stated = statedLength(c, song, target, offset);
                    if (!stated)
                        return;
                }
                auto encoder = Transcoder::open(c.ctx.objects->open(key), target,
                                                stated ? stated->startSeconds : offset);
                // A file the decoder cannot read still goes out as it is.
                if (!encoder) {
                    std::erase_if(c.res.headers,
                                  [](const auto &h) { return h.first == "Content-Range"; });
                    return sendSong(c, song, c.ctx.objects->open(key), false);
                }
                if (!stated)
                    c.res.status = 200;
                c.res.stream = std::make_unique<TranscodeStream>(
                    std::move(encoder), c.ctx.work, slot,
                    stated ? std::optional(stated->length) : std::nullopt);
                if (stated)
                    c.res.streamLength = stated->length;
                c.res.setHeader("Content-Type", contentTypeOf(target.format));
                c.res.setHeader("Cache-Control", "no-store");
            });
}

void download(Call &call) {
    if (const auto song = requiredSong(call))
        sendSong(call, *song, true);
}

// What stands for an ID's picture: the song whose embedded picture it is, or,
// for an album without one, the name its cover is drawn from.
struct CoverSource {
    std::string songId;
    std::optional<std::string> drawnFrom;
};

CoverSource coverSourceOf(Call &call, const std::string &id) {
    if (!isWellFormedId(id))
        return {};
    if (id.rfind("tr", 0) == 0) {
        const auto song = findSong(call, id);
        return {song && song->tags.hasCover ? song->id : std::string(), std::nullopt};
    }
    if (const auto album = findAlbum(call, id)) {
        if (album->coverSongId.empty())
            return {{}, album->name};
        return {album->coverSongId, std::nullopt};
    }
    if (const auto artist = findArtist(call, id))
        return {artist->coverSongId, std::nullopt};
    return {};
}

void sendCover(Call &call, const std::shared_ptr<const Picture> &picture) {
    if (!picture)
        return fail(call, kNotFound, "cover art not found");
    call.res.status = 200;
    call.res.setContent(picture->bytes, picture->contentType);
    call.res.setHeader("Cache-Control", "private, max-age=86400");
}

// The cached picture of `key`, or the one `make` makes on a worker, kept.
void sendCover(Call &call, const std::string &key,
               std::function<std::optional<Picture>(Call &)> make) {
    if (const auto known = call.ctx.covers.find(key))
        return sendCover(call, *known);
    offload(call, WorkKind::Cover, [key, make = std::move(make)](Call &c) {
        auto made = make(c);
        std::shared_ptr<const Picture> picture;
        if (made)
            picture = std::make_shared<const Picture>(std::move(*made));
        c.ctx.covers.put(key, picture);
        sendCover(c, picture);
    });
}

void getCoverArt(Call &call) {
    const auto id = required(call, "id");
    if (!id)
        return;
    const auto size = number(call, "size", 0, 0, kLargestCover);
    if (!size)
        return;
    const CoverSource source = coverSourceOf(call, *id);
    if (source.drawnFrom) {
        // Drawn the same for the same name, whoever asks.
        return sendCover(call, "drawn:" + std::to_string(*size) + ":" + *source.drawnFrom,
                         [name = *source.drawnFrom, size = *size](Call &) {
                             return generatedCover(name, size);
                         });
    }
    const auto song = source.songId.empty() ? std::nullopt : findSong(call, source.songId);
    const auto file = song ? call.ctx.store.findFile(song->fileId) : std::nullopt;
    if (!file)
        return fail(call, kNotFound, "cover art not found");
    // A stored file never changes under its name, so neither does its cover.
    sendCover(call, file->relPath + "@" + std::to_string(*size),
              [relPath = file->relPath, size = *size](Call &c) {
                  return readCover(c.ctx.objects->open(relPath), size);
              });
}

} // namespace

void addMediaMethods(Methods &m) {
    m["stream"] = stream;
    m["download"] = download;
    m["getCoverArt"] = getCoverArt;
}

} // namespace cloud::subsonic
