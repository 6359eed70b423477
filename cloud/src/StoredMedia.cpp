#include "StoredMedia.h"

#include "objects/FolderStore.h"

extern "C" {
#include <libavutil/log.h>
}

#include <vector>

namespace cloud {

namespace {

// A file whose first audio packets all fail to decode is not taken for audio.
constexpr int kPacketsToTry = 64;

} // namespace

namespace {

// Matches the file protocol's buffer, so that probing reads the same way.
constexpr int kIoBufferBytes = 32 * 1024;

struct ObjectInput : av::InputSource {
    explicit ObjectInput(std::unique_ptr<objects::ObjectReader> r)
        : reader(std::move(r)) {}
    std::unique_ptr<objects::ObjectReader> reader;
    std::uint64_t position = 0;

    static int read(void *opaque, uint8_t *buffer, int size) {
        auto &self = *static_cast<ObjectInput *>(opaque);
        const long n = self.reader->read(self.position, reinterpret_cast<char *>(buffer),
                                         static_cast<std::size_t>(size));
        if (n < 0)
            return AVERROR(EIO);
        if (n == 0)
            return AVERROR_EOF;
        self.position += static_cast<std::uint64_t>(n);
        return static_cast<int>(n);
    }

    static int64_t seek(void *opaque, int64_t offset, int whence) {
        auto &self = *static_cast<ObjectInput *>(opaque);
        const auto size = static_cast<int64_t>(self.reader->size());
        int64_t to = 0;
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return size;
        case SEEK_SET:
            to = offset;
            break;
        case SEEK_CUR:
            to = static_cast<int64_t>(self.position) + offset;
            break;
        case SEEK_END:
            to = size + offset;
            break;
        default:
            return AVERROR(EINVAL);
        }
        if (to < 0)
            return AVERROR(EINVAL);
        self.position = static_cast<std::uint64_t>(to);
        return to;
    }
};

// A stored file never names another file that could be opened with it.
int refuseNestedInput(AVFormatContext *, AVIOContext **, const char *, int, AVDictionary **) {
    return AVERROR(EPERM);
}

} // namespace

av::Format openStoredFile(std::unique_ptr<objects::ObjectReader> reader, Probe probe) {
    if (!reader)
        return nullptr;
    // The library's own messages would name details of hostile files on the
    // server's standard error.
    av_log_set_level(AV_LOG_QUIET);
    auto input = std::make_unique<ObjectInput>(std::move(reader));
    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferBytes));
    AVIOContext *io = buffer ? avio_alloc_context(buffer, kIoBufferBytes, 0, input.get(),
                                                  &ObjectInput::read, nullptr, &ObjectInput::seek)
                             : nullptr;
    AVFormatContext *raw = io ? avformat_alloc_context() : nullptr;
    if (!raw) {
        if (io)
            av_freep(&io->buffer);
        else
            av_free(buffer);
        avio_context_free(&io);
        return nullptr;
    }
    raw->pb = io;
    raw->io_open = &refuseNestedInput;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "format_whitelist", kAcceptedContainers, 0);
    if (probe == Probe::Quick) {
        // Probing a whole megabyte of something else costs more than the
        // upload itself; the duration is then estimated from the bit rate.
        av_dict_set(&options, "formatprobesize", "65536", 0);
        av_dict_set(&options, "probesize", "65536", 0);
    }
    // On failure the library frees the context, but not an AVIOContext of ours.
    const int opened = avformat_open_input(&raw, nullptr, nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        av_freep(&io->buffer);
        avio_context_free(&io);
        return nullptr;
    }
    input.release(); // the format context owns it now (av::FormatCloser)
    return av::Format(raw);
}

av::Format openStoredFile(const std::string &path, Probe probe) {
    return openStoredFile(objects::FileReader::open(path), probe);
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

bool decodesAsAudio(std::unique_ptr<objects::ObjectReader> reader) {
    const av::Format format = openStoredFile(std::move(reader), Probe::Quick);
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
