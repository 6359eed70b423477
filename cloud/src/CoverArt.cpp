#include "CoverArt.h"

#include "AvHandles.h"
#include "ImageEncoder.h"
#include "StoredMedia.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdint>
#include <memory>

namespace cloud {

namespace {

using av::Codec;
using av::Format;
using av::Frame;

// A picture larger than this is refused as its header is read, before any of
// it is decoded: 12000 × 12000 pixels take half a gigabyte once decoded, and
// seconds of a worker, for a thumbnail.
constexpr std::int64_t kMaxCoverPixels = 64ll * 1000 * 1000;

bool tooLarge(int width, int height) {
    return std::int64_t{width} * height > kMaxCoverPixels;
}

const char *typeOf(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_MJPEG:
        return "image/jpeg";
    case AV_CODEC_ID_PNG:
        return "image/png";
    case AV_CODEC_ID_GIF:
        return "image/gif";
    case AV_CODEC_ID_BMP:
        return "image/bmp";
    case AV_CODEC_ID_WEBP:
        return "image/webp";
    default:
        return nullptr;
    }
}

Frame decode(const AVCodecParameters *par, const AVPacket &packet) {
    const AVCodec *decoder = avcodec_find_decoder(par->codec_id);
    if (!decoder)
        return nullptr;
    Codec ctx(avcodec_alloc_context3(decoder));
    if (!ctx || avcodec_parameters_to_context(ctx.get(), par) < 0)
        return nullptr;
    // Every decoder checks its picture's size against this before it
    // allocates the picture.
    ctx->max_pixels = kMaxCoverPixels;
    if (avcodec_open2(ctx.get(), decoder, nullptr) < 0)
        return nullptr;
    Frame frame(av_frame_alloc());
    if (!frame || avcodec_send_packet(ctx.get(), &packet) < 0)
        return nullptr;
    avcodec_send_packet(ctx.get(), nullptr);
    if (avcodec_receive_frame(ctx.get(), frame.get()) < 0 || frame->width <= 0 ||
        frame->height <= 0 || tooLarge(frame->width, frame->height))
        return nullptr;
    return frame;
}

std::optional<std::string> scaleToJpeg(const AVFrame &source, int maxSize) {
    const double factor = static_cast<double>(maxSize) / std::max(source.width, source.height);
    const int width = std::max(1, static_cast<int>(source.width * factor + 0.5));
    const int height = std::max(1, static_cast<int>(source.height * factor + 0.5));
    const Frame scaled = av::makeFrame(width, height, AV_PIX_FMT_YUVJ420P);
    if (!scaled)
        return std::nullopt;
    SwsContext *sws =
        sws_getContext(source.width, source.height, static_cast<AVPixelFormat>(source.format),
                       width, height, AV_PIX_FMT_YUVJ420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!sws)
        return std::nullopt;
    sws_scale(sws, source.data, source.linesize, 0, source.height, scaled->data, scaled->linesize);
    sws_freeContext(sws);
    return av::encodePicture(*scaled, AV_CODEC_ID_MJPEG);
}

} // namespace

std::optional<Picture> readCover(std::unique_ptr<objects::ObjectReader> reader, int maxSize) {
    const Format format = openStoredFile(std::move(reader));
    if (!format)
        return std::nullopt;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream *st = format->streams[i];
        if (!(st->disposition & AV_DISPOSITION_ATTACHED_PIC) || st->attached_pic.size <= 0)
            continue;
        const AVPacket &pic = st->attached_pic;
        const char *type = typeOf(st->codecpar->codec_id);
        if (tooLarge(st->codecpar->width, st->codecpar->height))
            return std::nullopt;
        const bool fits =
            maxSize <= 0 || (st->codecpar->width > 0 &&
                             std::max(st->codecpar->width, st->codecpar->height) <= maxSize);
        if (fits && type)
            return Picture{std::string(reinterpret_cast<const char *>(pic.data),
                                       static_cast<std::size_t>(pic.size)),
                           type};
        const Frame frame = decode(st->codecpar, pic);
        if (!frame)
            return std::nullopt;
        if (maxSize <= 0 || std::max(frame->width, frame->height) <= maxSize)
            maxSize = std::max(frame->width, frame->height);
        auto jpeg = scaleToJpeg(*frame, maxSize);
        if (!jpeg)
            return std::nullopt;
        return Picture{std::move(*jpeg), "image/jpeg"};
    }
    return std::nullopt;
}

} // namespace cloud
