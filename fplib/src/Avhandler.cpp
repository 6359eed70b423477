#include "Avhandler.h"

#include "FileMetadata.h"
#include "HeldMessages.h"
#include "MBCollection.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/md5.h>
#include <libavutil/samplefmt.h>
}

namespace {
// Formats and codecs register themselves in this FFmpeg generation; the flag
// keeps the once-per-process contract of Init.
std::atomic<bool> g_initialized{false};

// Truncates toward zero and saturates to the 16-bit range; NaN gives 0.
int16_t saturate(double value) {
    if (value >= 32767.0) {
        return 32767;
    }
    if (value > -32768.0) {
        return static_cast<int16_t>(static_cast<int32_t>(value));
    }
    return std::isnan(value) ? 0 : -32768;
}

template <typename T> T load(const uint8_t *p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// One converter per source format, so that a frame is converted with a
// single format decision instead of one per sample.
int16_t fromU8(const uint8_t *p) {
    return saturate((p[0] / 128.0 - 1.0) * 32768.0);
}
int16_t fromS16(const uint8_t *p) {
    return load<int16_t>(p);
}
int16_t fromS32(const uint8_t *p) {
    return saturate(load<int32_t>(p) / 2147483648.0 * 32768.0);
}
int16_t fromFloat(const uint8_t *p) {
    return saturate(static_cast<double>(load<float>(p)) * 32768.0);
}
int16_t fromDouble(const uint8_t *p) {
    return saturate(load<double>(p) * 32768.0);
}
int16_t fromUnknown(const uint8_t *) {
    return 0;
}
} // namespace

Avhandler::Avhandler()
    : sampleBlock(static_cast<uint8_t *>(std::malloc(SampleBlockBytes))) {}

Avhandler::~Avhandler() {
    CloseInput();
    std::free(sampleBlock);
}

int Avhandler::Init() {
    bool expected = false;
    g_initialized.compare_exchange_strong(expected, true);
    return 0;
}

void Avhandler::CloseInput() {
    avcodec_free_context(&codecContext);
    avformat_close_input(&formatContext);
}

int Avhandler::OpenInputFile(const char *path) {
    formatContext = nullptr;
    codecContext = nullptr;
    const char *name = MBCollection::getIncance()->getMBString(path);

    int ret = avformat_open_input(&formatContext, name, nullptr, nullptr);
    if (ret < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Cannot open input file\n");
        return ret;
    }
    ret = avformat_find_stream_info(formatContext, nullptr);
    if (ret < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Cannot find stream information\n");
        return ret;
    }
    const AVCodec *decoder = nullptr;
    ret = av_find_best_stream(formatContext, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (ret < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Cannot find a audio stream in the input file\n");
        return ret;
    }
    streamIndex = ret;
    const AVStream *stream = formatContext->streams[streamIndex];
    codecContext = avcodec_alloc_context3(decoder);
    ret = codecContext == nullptr ? AVERROR(ENOMEM)
                                  : avcodec_parameters_to_context(codecContext, stream->codecpar);
    if (ret >= 0) {
        codecContext->pkt_timebase = stream->time_base;
        ret = avcodec_open2(codecContext, decoder, nullptr);
    }
    if (ret < 0) {
        av_log(nullptr, AV_LOG_ERROR, "Cannot open audio decoder\n");
        return ret;
    }
    return 0;
}

int Avhandler::GetBitsPerSample(int format) {
    switch (format) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_U8P:
        return 8;
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P:
        return 16;
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
        return 32;
    case AV_SAMPLE_FMT_DBL:
    case AV_SAMPLE_FMT_DBLP:
        return 64;
    default:
        return 0;
    }
}

int16_t Avhandler::ConvertSample(const uint8_t *sample, int format) {
    if (sample == nullptr) {
        return 0;
    }
    switch (format) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_U8P:
        return fromU8(sample);
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P:
        return fromS16(sample);
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
        return fromS32(sample);
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
        return fromFloat(sample);
    case AV_SAMPLE_FMT_DBL:
    case AV_SAMPLE_FMT_DBLP:
        return fromDouble(sample);
    default:
        return 0;
    }
}

bool Avhandler::Saturated() const {
    return blockFull || frameCount > frameLimit;
}

void Avhandler::StoreFrame(const AVFrame *frame) {
    switch (frame->format) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_U8P:
        StoreFrameAs<fromU8>(frame);
        break;
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P:
        StoreFrameAs<fromS16>(frame);
        break;
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
        StoreFrameAs<fromS32>(frame);
        break;
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
        StoreFrameAs<fromFloat>(frame);
        break;
    case AV_SAMPLE_FMT_DBL:
    case AV_SAMPLE_FMT_DBLP:
        StoreFrameAs<fromDouble>(frame);
        break;
    default:
        StoreFrameAs<fromUnknown>(frame);
        break;
    }
}

template <int16_t (*Convert)(const uint8_t *)> void Avhandler::StoreFrameAs(const AVFrame *frame) {
    const int format = frame->format;
    const std::ptrdiff_t bytes = GetBitsPerSample(format) / 8;
    const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(format)) != 0;
    const int sourceChannels = std::max(frame->ch_layout.nb_channels, 1);

    // Where channel j of sample i lies: source[j] + i * step. Planar: one
    // plane per channel (a missing plane gives silence); packed: the first
    // two channels of each interleaved source frame.
    const uint8_t *source[2] = {nullptr, nullptr};
    std::ptrdiff_t step = bytes;
    for (int j = 0; j < channels; ++j) {
        if (planar) {
            source[j] = j < sourceChannels ? frame->extended_data[j] : nullptr;
        } else if (frame->extended_data[0] != nullptr) {
            source[j] = frame->extended_data[0] + j * bytes;
            step = bytes * sourceChannels;
        }
    }
    const int32_t capacityFrames = SampleBlockCapacity / channels;
    int16_t *pcm = reinterpret_cast<int16_t *>(sampleBlock + SampleBlockHeaderBytes);

    int32_t position = frameCount;
    int i = 0;
    // While no sound has been seen, a near-silent frame is overwritten by the
    // next one.
    for (; !leadingSilenceDone && i < frame->nb_samples && position < capacityFrames; ++i) {
        bool nearSilent = true;
        int16_t *out = pcm + static_cast<std::ptrdiff_t>(position) * channels;
        for (int j = 0; j < channels; ++j) {
            const int16_t value = source[j] != nullptr ? Convert(source[j] + i * step) : 0;
            out[j] = value;
            nearSilent = nearSilent && value >= -5 && value <= 5;
        }
        if (!nearSilent) {
            leadingSilenceDone = 1;
            ++position;
        }
    }
    const int end = static_cast<int>(
        std::min<int64_t>(frame->nb_samples, i + static_cast<int64_t>(capacityFrames - position)));
    for (int j = 0; j < channels; ++j) {
        int16_t *out = pcm + static_cast<std::ptrdiff_t>(position) * channels + j;
        const uint8_t *in = source[j];
        for (int k = i; k < end; ++k, out += channels) {
            *out = in != nullptr ? Convert(in + k * step) : 0;
        }
    }
    position += end - i;
    if (end < frame->nb_samples) {
        blockFull = true;
    }
    frameCount = position;
}

int Avhandler::DecodePacket(AVFrame *frame, AVPacket *packet, int *gotFrame) {
    *gotFrame = 0;
    if (packet != nullptr && packet->stream_index != streamIndex) {
        return packet->size;
    }
    if (packet != nullptr && packet->size <= 0) {
        return 0; // an empty packet would be taken as the end of the stream
    }
    int ret = avcodec_send_packet(codecContext, packet);
    if (ret < 0 && ret != AVERROR_EOF) {
        PrintMessage(stderr, "Error decoding audio frame\n");
        return ret;
    }
    while (!Saturated()) {
        ret = avcodec_receive_frame(codecContext, frame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) {
            break;
        }
        if (ret < 0) {
            PrintMessage(stderr, "Error decoding audio frame\n");
            return ret;
        }
        *gotFrame = 1;
        StoreFrame(frame);
        av_frame_unref(frame);
    }
    return packet != nullptr ? packet->size : 0;
}

const uint8_t *Avhandler::ReadFile(const char *path, FileMetadata *metadata) {
    AVFrame *frame = av_frame_alloc();
    if (frame == nullptr) {
        PrintSystemError("Could not allocate frame");
        return nullptr;
    }
    AVPacket *packet = nullptr;
    auto fail = [&]() -> const uint8_t * {
        CloseInput();
        av_packet_free(&packet);
        av_frame_free(&frame);
        return nullptr;
    };
    if (sampleBlock == nullptr || path == nullptr || OpenInputFile(path) != 0) {
        return fail();
    }
    if (metadata != nullptr) {
        // Some containers (Ogg) keep the tags on the stream, not the container.
        const AVDictionary *tags = formatContext->metadata;
        if (av_dict_count(tags) == 0) {
            tags = formatContext->streams[streamIndex]->metadata;
        }
        metadata->parseMetadata(tags);
    }
    channels = std::min(codecContext->ch_layout.nb_channels, 2);
    sampleRate = codecContext->sample_rate;
    if (channels < 1 || sampleRate <= 0) {
        PrintMessage(stderr, "Unsupported audio stream layout\n");
        return fail();
    }
    // No seek to the start: right after opening, reading begins at the first
    // packet anyway, and a seek to 0 that allows any frame lands about a
    // second into Ogg files.
    bitsPerSample = GetBitsPerSample(codecContext->sample_fmt);
    isPlanar = av_sample_fmt_is_planar(codecContext->sample_fmt);
    frameCount = 0;
    leadingSilenceDone = 0;
    blockFull = false;
    frameLimit = static_cast<int64_t>(SecondsDecoded) * sampleRate;
    packet = av_packet_alloc();
    if (packet == nullptr) {
        return fail();
    }

    int gotFrame = 0;
    while (av_read_frame(formatContext, packet) >= 0) {
        if (Saturated()) {
            av_packet_unref(packet);
            break;
        }
        DecodePacket(frame, packet, &gotFrame);
        av_packet_unref(packet);
    }
    if (!Saturated()) {
        // Flush what the decoder still holds, so a short file is decoded whole.
        DecodePacket(frame, nullptr, &gotFrame);
    }

    const SampleBlockHeader header{sampleRate, channels, frameCount};
    std::memcpy(sampleBlock, &header, sizeof header);
    CloseInput();
    av_packet_free(&packet);
    av_frame_free(&frame);
    return frameCount >= 1 ? sampleBlock : nullptr;
}

SampleBlockHeader Avhandler::ReadHeader(const uint8_t *block) {
    SampleBlockHeader header{};
    std::memcpy(&header, block, sizeof header);
    return header;
}

int Avhandler::ComputeMD5Sum(const char *path, char **out) {
    if (path == nullptr || path[0] == '\0') {
        PrintMessage(stderr, "Unable to compute md5 sum. No filename passed.\n\n");
        return -1;
    }
    if (out == nullptr) {
        return -1;
    }
    *out = nullptr;
    FILE *file = std::fopen(path, "rb");
    if (file == nullptr) {
        PrintMessage(stderr, "Unable to open %s", path);
        return -1;
    }
    AVMD5 *context = av_md5_alloc();
    if (context == nullptr) {
        std::fclose(file);
        PrintMessage(stderr, "Unable to compute md5 sum. Unable to allocate md5 context.\n\n");
        return -1;
    }
    char *text = static_cast<char *>(std::malloc(33));
    if (text == nullptr) {
        std::fclose(file);
        av_free(context);
        PrintMessage(stderr, "Unable to compute md5 sum. Unable to allocate md5 buffer.\n\n");
        return -1;
    }
    av_md5_init(context);
    // Larger reads than a sector: the digest is the same, the calls far fewer.
    std::vector<uint8_t> chunk(64 * 1024);
    for (;;) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
        if (got == 0) {
            break; // end of file or a read error
        }
        av_md5_update(context, chunk.data(), got);
    }
    uint8_t digest[16];
    av_md5_final(context, digest);
    av_free(context);
    std::fclose(file);
    for (int i = 0; i < 16; ++i) {
        std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
    }
    *out = text;
    return 0;
}
