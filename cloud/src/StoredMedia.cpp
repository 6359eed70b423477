#include "StoredMedia.h"

extern "C" {
#include <libavutil/log.h>
}

#include <vector>

namespace cloud {

namespace {

// A file whose first audio packets all fail to decode is not taken for audio.
constexpr int kPacketsToTry = 64;

} // namespace

av::Format openStoredFile(const std::string &path, Probe probe) {
    // The library's own messages would name paths and details of hostile
    // files on the server's standard error.
    av_log_set_level(AV_LOG_QUIET);
    AVDictionary *options = nullptr;
    av_dict_set(&options, "format_whitelist", kAcceptedContainers, 0);
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    if (probe == Probe::Quick) {
        // Probing a whole megabyte of something else costs more than the
        // upload itself; the duration is then estimated from the bit rate.
        av_dict_set(&options, "formatprobesize", "65536", 0);
        av_dict_set(&options, "probesize", "65536", 0);
    }
    AVFormatContext *raw = nullptr;
    const int opened = avformat_open_input(&raw, path.c_str(), nullptr, &options);
    av_dict_free(&options);
    return opened < 0 ? nullptr : av::Format(raw);
}

bool findStreamInfo(AVFormatContext *format) {
    std::vector<AVDictionary *> options(format->nb_streams, nullptr);
    for (auto &o : options)
        av_dict_set(&o, "max_pixels", "1", 0);
    const int found = avformat_find_stream_info(format, options.data());
    for (auto &o : options)
        av_dict_free(&o);
    return found >= 0;
}

bool decodesAsAudio(const std::string &path) {
    const av::Format format = openStoredFile(path, Probe::Quick);
    if (!format || !findStreamInfo(format.get()))
        return false;
    const AVCodec *codec = nullptr;
    const int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (stream < 0 || !codec)
        return false;
    av::Codec decoder(avcodec_alloc_context3(codec));
    if (!decoder ||
        avcodec_parameters_to_context(decoder.get(), format->streams[stream]->codecpar) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return false;
    av::Packet packet(av_packet_alloc());
    av::Frame frame(av_frame_alloc());
    if (!packet || !frame)
        return false;
    for (int tried = 0; tried < kPacketsToTry;) {
        if (av_read_frame(format.get(), packet.get()) < 0)
            break;
        const bool ours = packet->stream_index == stream;
        const bool sent = ours && avcodec_send_packet(decoder.get(), packet.get()) >= 0;
        av_packet_unref(packet.get());
        if (!ours)
            continue;
        ++tried;
        if (sent && avcodec_receive_frame(decoder.get(), frame.get()) >= 0 && frame->nb_samples > 0)
            return true;
    }
    // Decoders that hold frames back give them up at the end.
    if (avcodec_send_packet(decoder.get(), nullptr) >= 0 &&
        avcodec_receive_frame(decoder.get(), frame.get()) >= 0 && frame->nb_samples > 0)
        return true;
    return false;
}

} // namespace cloud
