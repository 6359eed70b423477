#include "TagReader.h"

#include "Json.h"
#include "StoredMedia.h"
#include "objects/FolderStore.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <algorithm>
#include <cstdlib>

namespace cloud {

namespace {

std::string tag(AVDictionary *dict, const char *key) {
    const AVDictionaryEntry *e = av_dict_get(dict, key, nullptr, 0);
    if (!e || !e->value)
        return {};
    std::string value = e->value;
    // Tags come from untrusted files; keep only well-formed text.
    return json::isValidUtf8(value) ? value : std::string();
}

std::string firstTag(AVFormatContext *ctx, const char *key) {
    std::string v = tag(ctx->metadata, key);
    for (unsigned i = 0; v.empty() && i < ctx->nb_streams; ++i)
        v = tag(ctx->streams[i]->metadata, key);
    return v;
}

const AVStream *audioStream(const AVFormatContext *ctx) {
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
            !(ctx->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return ctx->streams[i];
    }
    return nullptr;
}

bool hasCover(const AVFormatContext *ctx) {
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        if ((ctx->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
            ctx->streams[i]->attached_pic.size > 0)
            return true;
    }
    return false;
}

// The suffix and media type players expect, judged by the container and codec
// the demuxer found (a file's name may say anything).
void describeFormat(const AVFormatContext *ctx, const AVStream *audio, Tags &t) {
    const std::string format = ctx->iformat->name;
    const AVCodecID codec = audio->codecpar->codec_id;
    struct Kind {
        const char *suffix;
        const char *type;
    };
    Kind kind{"bin", "application/octet-stream"};
    if (format == "mp3")
        kind = {"mp3", "audio/mpeg"};
    else if (format == "flac")
        kind = {"flac", "audio/flac"};
    else if (format == "ogg")
        kind = codec == AV_CODEC_ID_OPUS ? Kind{"opus", "audio/ogg"} : Kind{"ogg", "audio/ogg"};
    else if (format.find("mp4") != std::string::npos || format.find("m4a") != std::string::npos)
        kind = {"m4a", "audio/mp4"};
    else if (format == "wav")
        kind = {"wav", "audio/wav"};
    else if (format == "aiff")
        kind = {"aiff", "audio/aiff"};
    else if (format == "asf")
        kind = {"wma", "audio/x-ms-wma"};
    else if (format.find("matroska") != std::string::npos)
        kind = {"mka", "audio/x-matroska"};
    else if (format == "aac")
        kind = {"aac", "audio/aac"};
    else if (format == "rm")
        kind = {"ra", "audio/x-pn-realaudio"};
    else if (format == "iff")
        kind = {"iff", "audio/x-8svx"};
    t.suffix = kind.suffix;
    t.contentType = kind.type;
}

int leadingNumber(const std::string &text) {
    return std::atoi(text.c_str()); // "3/12" reads as 3, "2019-05-01" as 2019
}

} // namespace

std::optional<Tags> readTags(const std::string &path, TagDepth depth) {
    return readTags(objects::FileReader::open(path), depth);
}

std::optional<Tags> readTags(std::unique_ptr<objects::ObjectReader> reader, TagDepth depth) {
    const av::Format format = openStoredFile(
        std::move(reader), depth == TagDepth::Quick ? Probe::Quick : Probe::Thorough);
    if (!format)
        return std::nullopt;
    AVFormatContext *ctx = format.get();
    std::optional<Tags> result;
    const AVStream *audio = nullptr;
    // Even the quick read looks at the streams (within the small probe size):
    // players need the duration and bit rate.
    if (findStreamInfo(ctx) && (audio = audioStream(ctx))) {
        Tags t;
        t.title = firstTag(ctx, "title");
        t.artist = firstTag(ctx, "artist");
        t.album = firstTag(ctx, "album");
        t.albumArtist = firstTag(ctx, "album_artist");
        t.genre = firstTag(ctx, "genre");
        t.track = leadingNumber(firstTag(ctx, "track"));
        t.disc = leadingNumber(firstTag(ctx, "disc"));
        t.year = leadingNumber(firstTag(ctx, "date"));
        if (t.year == 0)
            t.year = leadingNumber(firstTag(ctx, "year"));
        if (t.year < 0 || t.year > 9999)
            t.year = 0;
        if (ctx->duration > 0)
            t.durationMs = ctx->duration / (AV_TIME_BASE / 1000);
        std::int64_t bitRate =
            audio->codecpar->bit_rate > 0 ? audio->codecpar->bit_rate : ctx->bit_rate;
        if (bitRate <= 0 && t.durationMs > 0 && ctx->pb)
            bitRate = avio_size(ctx->pb) * 8000 / t.durationMs;
        t.bitRateKbps = static_cast<int>(std::max<std::int64_t>(0, bitRate / 1000));
        t.hasCover = hasCover(ctx);
        describeFormat(ctx, audio, t);
        result = t;
    }
    return result;
}

} // namespace cloud
