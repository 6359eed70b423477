#include "TagReader.h"

#include "Json.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

#include <cstdlib>

namespace cloud {

namespace {

constexpr const char *kAudioContainers = "mp3,flac,ogg,mov,wav,aiff,asf,matroska,aac";

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

bool hasAudio(const AVFormatContext *ctx) {
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            return true;
    }
    return false;
}

} // namespace

std::optional<Tags> readTags(const std::string &path, TagDepth depth) {
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext *ctx = nullptr;
    AVDictionary *options = nullptr;
    // Only the audio containers the server accepts, read from this one file:
    // a playlist or concat list would make the demuxer open paths it names.
    av_dict_set(&options, "format_whitelist", kAudioContainers, 0);
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    if (depth == TagDepth::Quick) {
        // Audio containers announce themselves in their first bytes; probing a
        // whole megabyte of something else costs more than the upload itself.
        av_dict_set(&options, "formatprobesize", "65536", 0);
        av_dict_set(&options, "probesize", "65536", 0);
    }
    const int opened = avformat_open_input(&ctx, path.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0)
        return std::nullopt;
    std::optional<Tags> result;
    if ((depth == TagDepth::Quick || avformat_find_stream_info(ctx, nullptr) >= 0) &&
        hasAudio(ctx)) {
        Tags t;
        t.title = firstTag(ctx, "title");
        t.artist = firstTag(ctx, "artist");
        t.album = firstTag(ctx, "album");
        t.track = std::atoi(firstTag(ctx, "track").c_str()); // "3/12" reads as 3
        if (ctx->duration > 0)
            t.durationMs = ctx->duration / (AV_TIME_BASE / 1000);
        result = t;
    }
    avformat_close_input(&ctx);
    return result;
}

} // namespace cloud
