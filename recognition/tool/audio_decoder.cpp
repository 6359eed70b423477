#include "audio_decoder.h"

#include <algorithm>
#include <cctype>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace recog {

namespace {

struct FormatCloser {
    void operator()(AVFormatContext *f) const { avformat_close_input(&f); }
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
struct SwrFreer {
    void operator()(SwrContext *s) const { swr_free(&s); }
};

std::string avError(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

// Samples within this range count as silence before the sound starts.
constexpr int kSilenceLevel = 5;

class Decoder {
public:
    Decoder(DecodedAudio &out, double maxSeconds)
        : out_(out)
        , maxSeconds_(maxSeconds) {}

    bool run(const std::string &path, std::string &error) {
        AVFormatContext *raw = nullptr;
        int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
        if (rc < 0) {
            error = "cannot open " + path + ": " + avError(rc);
            return false;
        }
        fmt_.reset(raw);
        if ((rc = avformat_find_stream_info(raw, nullptr)) < 0) {
            error = "cannot read stream information of " + path + ": " + avError(rc);
            return false;
        }
        const AVCodec *codec = nullptr;
        stream_ = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        if (stream_ < 0 || !codec) {
            error = path + " has no audio stream";
            return false;
        }
        readTags(raw->metadata);
        readTags(raw->streams[stream_]->metadata);
        AVStream *st = raw->streams[stream_];
        if (st->duration > 0)
            out_.durationSeconds = double(st->duration) * av_q2d(st->time_base);
        else if (raw->duration > 0)
            out_.durationSeconds = double(raw->duration) / AV_TIME_BASE;

        codec_.reset(avcodec_alloc_context3(codec));
        if (!codec_ || avcodec_parameters_to_context(codec_.get(), st->codecpar) < 0) {
            error = "cannot set up the decoder for " + path;
            return false;
        }
        codec_->pkt_timebase = st->time_base;
        if ((rc = avcodec_open2(codec_.get(), codec, nullptr)) < 0) {
            error = "cannot open the audio decoder for " + path + ": " + avError(rc);
            return false;
        }
        if (codec_->sample_rate <= 0 || codec_->ch_layout.nb_channels <= 0) {
            error = path + " has no usable sample rate or channel count";
            return false;
        }
        out_.sampleRate = codec_->sample_rate;
        out_.channels = std::min(codec_->ch_layout.nb_channels, 2);
        limit_ = maxSeconds_ > 0 ? size_t(maxSeconds_ * out_.sampleRate) : SIZE_MAX;

        std::unique_ptr<AVPacket, PacketFreer> pkt(av_packet_alloc());
        frame_.reset(av_frame_alloc());
        if (!pkt || !frame_) {
            error = "out of memory";
            return false;
        }
        while (out_.frames() < limit_ && av_read_frame(raw, pkt.get()) >= 0) {
            if (pkt->stream_index == stream_ && avcodec_send_packet(codec_.get(), pkt.get()) >= 0)
                receive(error);
            av_packet_unref(pkt.get());
        }
        avcodec_send_packet(codec_.get(), nullptr);
        receive(error);
        if (out_.pcm.size() > limit_ * size_t(out_.channels))
            out_.pcm.resize(limit_ * size_t(out_.channels));
        if (out_.pcm.empty()) {
            error = path + " holds no sound";
            return false;
        }
        return true;
    }

private:
    void readTags(AVDictionary *dict) {
        const AVDictionaryEntry *e = nullptr;
        while ((e = av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX))) {
            std::string key = e->key;
            for (char &c : key)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            if (e->value && *e->value && !out_.tags.count(key))
                out_.tags[key] = e->value;
        }
    }

    bool setUpResampler(const AVFrame *f) {
        AVChannelLayout outLayout;
        av_channel_layout_default(&outLayout, out_.channels);
        SwrContext *s = nullptr;
        const int rc = swr_alloc_set_opts2(&s, &outLayout, AV_SAMPLE_FMT_S16, f->sample_rate,
                                           const_cast<AVChannelLayout *>(&f->ch_layout),
                                           AVSampleFormat(f->format), f->sample_rate, 0, nullptr);
        swr_.reset(s);
        return rc >= 0 && swr_init(s) >= 0;
    }

    void receive(std::string &) {
        while (avcodec_receive_frame(codec_.get(), frame_.get()) >= 0) {
            if (!swr_ && !setUpResampler(frame_.get()))
                return;
            const size_t start = out_.pcm.size();
            const int cap = swr_get_out_samples(swr_.get(), frame_->nb_samples);
            out_.pcm.resize(start + size_t(std::max(cap, 0)) * size_t(out_.channels));
            uint8_t *dst[1] = {reinterpret_cast<uint8_t *>(out_.pcm.data() + start)};
            const int got = swr_convert(swr_.get(), dst, cap,
                                        const_cast<const uint8_t **>(frame_->extended_data),
                                        frame_->nb_samples);
            out_.pcm.resize(start + size_t(std::max(got, 0)) * size_t(out_.channels));
            if (!soundStarted_)
                dropLeadingSilence(start);
        }
    }

    void dropLeadingSilence(size_t start) {
        const size_t ch = size_t(out_.channels);
        size_t i = start;
        for (; i < out_.pcm.size(); i += ch) {
            bool silent = true;
            for (size_t c = 0; c < ch; ++c)
                silent = silent && std::abs(int(out_.pcm[i + c])) <= kSilenceLevel;
            if (!silent) {
                soundStarted_ = true;
                break;
            }
        }
        out_.pcm.erase(out_.pcm.begin() + long(start), out_.pcm.begin() + long(i));
    }

    DecodedAudio &out_;
    double maxSeconds_;
    size_t limit_ = 0;
    int stream_ = -1;
    bool soundStarted_ = false;
    std::unique_ptr<AVFormatContext, FormatCloser> fmt_;
    std::unique_ptr<AVCodecContext, CodecFreer> codec_;
    std::unique_ptr<AVFrame, FrameFreer> frame_;
    std::unique_ptr<SwrContext, SwrFreer> swr_;
};

} // namespace

bool decodeAudioFile(const std::string &path, double maxSeconds, DecodedAudio &out,
                     std::string &error) {
    out = DecodedAudio{};
    av_log_set_level(AV_LOG_ERROR);
    Decoder d(out, maxSeconds);
    return d.run(path, error);
}

} // namespace recog
