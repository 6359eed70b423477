#include "ImageEncoder.h"

namespace cloud::av {

Frame makeFrame(int width, int height, AVPixelFormat format) {
    Frame frame(av_frame_alloc());
    if (!frame)
        return nullptr;
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return nullptr;
    return frame;
}

std::optional<std::string> encodePicture(const AVFrame &frame, AVCodecID codec) {
    const AVCodec *encoder = avcodec_find_encoder(codec);
    if (!encoder)
        return std::nullopt;
    Codec enc(avcodec_alloc_context3(encoder));
    if (!enc)
        return std::nullopt;
    enc->width = frame.width;
    enc->height = frame.height;
    enc->pix_fmt = static_cast<AVPixelFormat>(frame.format);
    enc->time_base = AVRational{1, 25};
    if (codec == AV_CODEC_ID_MJPEG) {
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = FF_QP2LAMBDA * 3;
    }
    if (avcodec_open2(enc.get(), encoder, nullptr) < 0)
        return std::nullopt;
    Frame copy(av_frame_clone(&frame));
    if (!copy)
        return std::nullopt;
    copy->quality = enc->global_quality;
    copy->pts = 0;
    Packet out(av_packet_alloc());
    if (!out || avcodec_send_frame(enc.get(), copy.get()) < 0 ||
        avcodec_send_frame(enc.get(), nullptr) < 0 ||
        avcodec_receive_packet(enc.get(), out.get()) < 0)
        return std::nullopt;
    return std::string(reinterpret_cast<const char *>(out->data),
                       static_cast<std::size_t>(out->size));
}

} // namespace cloud::av
