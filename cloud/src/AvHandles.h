// Owning handles of FFmpeg's objects, so every early return frees them.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <memory>

namespace cloud::av {

// What a format context reads through its own AVIOContext; freed with it.
class InputSource {
public:
    virtual ~InputSource() = default;
};

struct FormatCloser {
    void operator()(AVFormatContext *c) const {
        AVIOContext *io = c && (c->flags & AVFMT_FLAG_CUSTOM_IO) ? c->pb : nullptr;
        avformat_close_input(&c);
        if (io) {
            delete static_cast<InputSource *>(io->opaque);
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }
};
struct CodecFreer {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
using Format = std::unique_ptr<AVFormatContext, FormatCloser>;
using Codec = std::unique_ptr<AVCodecContext, CodecFreer>;
using Frame = std::unique_ptr<AVFrame, FrameFreer>;
using Packet = std::unique_ptr<AVPacket, PacketFreer>;

} // namespace cloud::av
