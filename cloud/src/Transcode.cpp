#include "Transcode.h"

#include "AvHandles.h"
#include "StoredMedia.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>

namespace cloud {

namespace {

constexpr int kDefaultMp3Kbps = 128;
constexpr int kDefaultOpusKbps = 96;
// A read() stops working once this much is ready: each call holds its event
// thread for a few milliseconds only.
constexpr std::size_t kPieceBytes = 8 * 1024;
constexpr int kIoBufferBytes = 16 * 1024;
constexpr int kLowestSourceRate = 1000;
constexpr int kHighestSourceRate = 384000;
constexpr int kMostSourceChannels = 32;

std::string lower(std::string s) {
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The encoder's rate nearest to the source's (Opus takes 48 kHz only).
int sampleRateFor(const AVCodec *encoder, int sourceRate) {
    if (!encoder->supported_samplerates)
        return sourceRate > 0 ? sourceRate : 44100;
    int best = encoder->supported_samplerates[0];
    for (const int *r = encoder->supported_samplerates; *r; ++r) {
        if (std::abs(*r - sourceRate) < std::abs(best - sourceRate))
            best = *r;
    }
    return best;
}

} // namespace

std::optional<TranscodeTarget> chooseTranscode(const std::string &format, int maxBitRateKbps,
                                               int songKbps, const std::string &songSuffix) {
    const std::string f = lower(format);
    if (f == "raw")
        return std::nullopt;
    const bool named = f == "mp3" || f == "opus";
    // A format we do not make is answered as if none was asked for.
    if (!named && maxBitRateKbps <= 0)
        return std::nullopt;
    TranscodeTarget t;
    t.format = f == "opus" ? TranscodeFormat::Opus : TranscodeFormat::Mp3;
    const bool sameFormat = lower(songSuffix) == suffixOf(t.format);
    if (maxBitRateKbps > 0) {
        // Already at or under the limit in an acceptable form: nothing to gain.
        if (songKbps > 0 && songKbps <= maxBitRateKbps && (!named || sameFormat))
            return std::nullopt;
        t.bitRateKbps = maxBitRateKbps;
    } else {
        if (sameFormat)
            return std::nullopt;
        t.bitRateKbps = t.format == TranscodeFormat::Opus ? kDefaultOpusKbps : kDefaultMp3Kbps;
    }
    t.bitRateKbps = std::clamp(t.bitRateKbps, kLowestTranscodeKbps, kHighestTranscodeKbps);
    return t;
}

namespace {

// Ogg's pages cost about 100 bytes a second at any rate (a page header a
// second and a lacing byte a packet), and its two header pages under 512.
constexpr double kOggBytesPerSecond = 100;
constexpr double kOggHeaderBytes = 512;

double bytesPerSecond(const TranscodeTarget &t) {
    return t.bitRateKbps * 1000.0 / 8 +
           (t.format == TranscodeFormat::Opus ? kOggBytesPerSecond : 0);
}

} // namespace

std::uint64_t estimatedLength(double seconds, const TranscodeTarget &target) {
    if (seconds <= 0 || target.bitRateKbps <= 0)
        return 0;
    const double header = target.format == TranscodeFormat::Opus ? kOggHeaderBytes : 0;
    return static_cast<std::uint64_t>(std::ceil(seconds * bytesPerSecond(target) + header));
}

double secondsAt(std::uint64_t offset, const TranscodeTarget &target) {
    return target.bitRateKbps > 0 ? static_cast<double>(offset) / bytesPerSecond(target) : 0;
}

const char *contentTypeOf(TranscodeFormat format) {
    return format == TranscodeFormat::Opus ? "audio/ogg" : "audio/mpeg";
}

const char *suffixOf(TranscodeFormat format) {
    return format == TranscodeFormat::Opus ? "opus" : "mp3";
}

struct Transcoder::State {
    av::Format in;
    int stream = -1;
    av::Codec decoder;
    av::Codec encoder;
    AVFormatContext *out = nullptr;
    AVIOContext *io = nullptr;
    SwrContext *resampler = nullptr;
    AVAudioFifo *fifo = nullptr;
    av::Packet packet{av_packet_alloc()};
    av::Packet encoded{av_packet_alloc()};
    av::Frame decoded{av_frame_alloc()};
    std::int64_t nextPts = 0;
    bool inputDone = false;
    bool finished = false;
    bool failed = false;
    bool padLastFrame = false;
    std::string pending; // encoded bytes not yet read
    std::size_t pendingAt = 0;

    ~State() {
        if (out) {
            if (io) {
                av_freep(&io->buffer);
                avio_context_free(&io);
            }
            avformat_free_context(out);
        }
        swr_free(&resampler);
        if (fifo)
            av_audio_fifo_free(fifo);
    }

    static int collect(void *opaque, uint8_t *bytes, int size) {
        static_cast<State *>(opaque)->pending.append(reinterpret_cast<const char *>(bytes),
                                                     static_cast<std::size_t>(size));
        return size;
    }

    int frameSize() const { return encoder->frame_size > 0 ? encoder->frame_size : 1024; }

    bool writeEncoded() {
        for (;;) {
            const int r = avcodec_receive_packet(encoder.get(), encoded.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return true;
            if (r < 0)
                return false;
            av_packet_rescale_ts(encoded.get(), encoder->time_base, out->streams[0]->time_base);
            encoded->stream_index = 0;
            if (av_write_frame(out, encoded.get()) < 0)
                return false;
        }
    }

    bool encodeFromFifo(bool last) {
        const int available = av_audio_fifo_size(fifo);
        const int samples = std::min(available, frameSize());
        av::Frame frame(av_frame_alloc());
        frame->nb_samples = last && padLastFrame ? frameSize() : samples;
        frame->format = encoder->sample_fmt;
        frame->sample_rate = encoder->sample_rate;
        if (av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout) < 0 ||
            av_frame_get_buffer(frame.get(), 0) < 0)
            return false;
        if (frame->nb_samples > samples)
            av_samples_set_silence(frame->extended_data, samples, frame->nb_samples - samples,
                                   encoder->ch_layout.nb_channels, encoder->sample_fmt);
        if (av_audio_fifo_read(fifo, reinterpret_cast<void **>(frame->extended_data), samples) <
            samples)
            return false;
        frame->pts = nextPts;
        nextPts += frame->nb_samples;
        return avcodec_send_frame(encoder.get(), frame.get()) >= 0 && writeEncoded();
    }

    // Converts into the fifo; a null frame drains what the resampler holds.
    bool resample(const AVFrame *frame) {
        const int inSamples = frame ? frame->nb_samples : 0;
        const int room = swr_get_out_samples(resampler, inSamples);
        if (room <= 0)
            return true;
        uint8_t **buffer = nullptr;
        if (av_samples_alloc_array_and_samples(&buffer, nullptr, encoder->ch_layout.nb_channels,
                                               room, encoder->sample_fmt, 0) < 0)
            return false;
        const int got = swr_convert(
            resampler, buffer, room,
            frame ? const_cast<const uint8_t **>(frame->extended_data) : nullptr, inSamples);
        const bool ok =
            got >= 0 && av_audio_fifo_write(fifo, reinterpret_cast<void **>(buffer), got) >= got;
        av_freep(&buffer[0]);
        av_freep(&buffer);
        return ok;
    }

    bool drainDecoder() {
        for (;;) {
            const int r = avcodec_receive_frame(decoder.get(), decoded.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return true;
            if (r < 0)
                return false;
            const bool ok = resample(decoded.get());
            av_frame_unref(decoded.get());
            if (!ok)
                return false;
        }
    }

    // One piece of work: encode a frame, or read and decode one packet, or finish.
    bool step() {
        if (av_audio_fifo_size(fifo) >= frameSize())
            return encodeFromFifo(false);
        if (!inputDone) {
            const int r = av_read_frame(in.get(), packet.get());
            if (r == AVERROR(EAGAIN))
                return true;
            // A file cut short or damaged at some point ends there: what was
            // decoded so far still goes out as a complete stream.
            if (r < 0) {
                inputDone = true;
                return avcodec_send_packet(decoder.get(), nullptr) >= 0 && drainDecoder() &&
                       resample(nullptr);
            }
            bool ok = true;
            // A damaged packet is skipped, as a player would.
            if (packet->stream_index == stream &&
                avcodec_send_packet(decoder.get(), packet.get()) >= 0)
                ok = drainDecoder();
            av_packet_unref(packet.get());
            return ok;
        }
        if (av_audio_fifo_size(fifo) > 0)
            return encodeFromFifo(true);
        finished = true;
        return avcodec_send_frame(encoder.get(), nullptr) >= 0 && writeEncoded() &&
               av_write_trailer(out) >= 0 && (avio_flush(io), true);
    }

    bool setUp(std::unique_ptr<objects::ObjectReader> reader, const TranscodeTarget &target,
               double startSeconds) {
        in = openStoredFile(std::move(reader));
        if (!in || !findStreamInfo(in.get()))
            return false;
        const AVCodec *decoderCodec = nullptr;
        stream = av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoderCodec, 0);
        if (stream < 0 || !decoderCodec)
            return false;
        decoder.reset(avcodec_alloc_context3(decoderCodec));
        if (!decoder ||
            avcodec_parameters_to_context(decoder.get(), in->streams[stream]->codecpar) < 0 ||
            avcodec_open2(decoder.get(), decoderCodec, nullptr) < 0)
            return false;
        // A header may claim any rate or layout: the resampler's tables grow
        // with the rate, to gigabytes for an absurd one. No recording needs more.
        if (decoder->sample_rate < kLowestSourceRate || decoder->sample_rate > kHighestSourceRate ||
            decoder->ch_layout.nb_channels < 1 ||
            decoder->ch_layout.nb_channels > kMostSourceChannels)
            return false;
        if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&decoder->ch_layout, decoder->ch_layout.nb_channels);

        const bool opus = target.format == TranscodeFormat::Opus;
        const AVCodec *encoderCodec = avcodec_find_encoder_by_name(opus ? "libopus" : "libmp3lame");
        if (!encoderCodec)
            return false;
        encoder.reset(avcodec_alloc_context3(encoderCodec));
        if (!encoder)
            return false;
        encoder->sample_rate = sampleRateFor(encoderCodec, decoder->sample_rate);
        av_channel_layout_default(&encoder->ch_layout,
                                  std::clamp(decoder->ch_layout.nb_channels, 1, 2));
        encoder->sample_fmt =
            encoderCodec->sample_fmts ? encoderCodec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
        encoder->bit_rate = std::int64_t(target.bitRateKbps) * 1000;
        encoder->time_base = AVRational{1, encoder->sample_rate};

        if (avformat_alloc_output_context2(&out, nullptr, opus ? "ogg" : "mp3", nullptr) < 0 ||
            !out)
            return false;
        if (out->oformat->flags & AVFMT_GLOBALHEADER)
            encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary *encoderOptions = nullptr;
        // A constant rate: a player that asked for a limit never gets more,
        // and quiet passages do not make its estimate of the length wrong.
        if (opus)
            av_dict_set(&encoderOptions, "vbr", "off", 0);
        const int opened = avcodec_open2(encoder.get(), encoderCodec, &encoderOptions);
        av_dict_free(&encoderOptions);
        if (opened < 0)
            return false;
        padLastFrame = !(encoderCodec->capabilities &
                         (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE));

        auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferBytes));
        io = buffer ? avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr, &State::collect,
                                         nullptr)
                    : nullptr;
        if (!io) {
            av_free(buffer);
            return false;
        }
        out->pb = io;
        out->flags |= AVFMT_FLAG_CUSTOM_IO;
        AVStream *st = avformat_new_stream(out, nullptr);
        if (!st || avcodec_parameters_from_context(st->codecpar, encoder.get()) < 0)
            return false;
        st->time_base = encoder->time_base;
        AVDictionary *options = nullptr;
        if (!opus) {
            // Tags and a seek table would need the stream rewound when done.
            av_dict_set(&options, "id3v2_version", "0", 0);
            av_dict_set(&options, "write_xing", "0", 0);
        }
        const int header = avformat_write_header(out, &options);
        av_dict_free(&options);
        if (header < 0)
            return false;

        if (swr_alloc_set_opts2(&resampler, &encoder->ch_layout, encoder->sample_fmt,
                                encoder->sample_rate, &decoder->ch_layout, decoder->sample_fmt,
                                decoder->sample_rate, 0, nullptr) < 0 ||
            swr_init(resampler) < 0)
            return false;
        fifo = av_audio_fifo_alloc(encoder->sample_fmt, encoder->ch_layout.nb_channels,
                                   frameSize() * 2);
        if (!fifo)
            return false;
        if (startSeconds > 0) {
            const auto at = static_cast<std::int64_t>(startSeconds * AV_TIME_BASE);
            avformat_seek_file(in.get(), -1, INT64_MIN, at, at, 0);
        }
        return true;
    }
};

Transcoder::Transcoder(std::unique_ptr<State> state)
    : state_(std::move(state)) {}

Transcoder::~Transcoder() = default;

std::unique_ptr<Transcoder> Transcoder::open(std::unique_ptr<objects::ObjectReader> reader,
                                             const TranscodeTarget &target, double startSeconds) {
    auto state = std::make_unique<State>();
    if (!state->packet || !state->encoded || !state->decoded ||
        !state->setUp(std::move(reader), target, startSeconds))
        return nullptr;
    return std::unique_ptr<Transcoder>(new Transcoder(std::move(state)));
}

double Transcoder::producedSeconds() const {
    const State &s = *state_;
    return s.encoder && s.encoder->sample_rate > 0
               ? static_cast<double>(s.nextPts) / s.encoder->sample_rate
               : 0;
}

long Transcoder::read(char *out, std::size_t max) {
    State &s = *state_;
    const auto ready = [&s] { return s.pending.size() - s.pendingAt; };
    while (!s.finished && !s.failed && ready() < std::min(max, kPieceBytes)) {
        if (!s.step())
            s.failed = true;
    }
    if (ready() == 0)
        return s.failed ? -1 : 0;
    const std::size_t n = std::min(max, ready());
    std::memcpy(out, s.pending.data() + s.pendingAt, n);
    s.pendingAt += n;
    if (s.pendingAt == s.pending.size()) {
        s.pending.clear();
        s.pendingAt = 0;
    } else if (s.pendingAt > kPieceBytes) {
        s.pending.erase(0, s.pendingAt);
        s.pendingAt = 0;
    }
    return static_cast<long>(n);
}

} // namespace cloud
