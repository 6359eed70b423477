#include "fingerprinter.h"

#include <algorithm>
#include <chromaprint.h>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace recog {

namespace {
constexpr int kMaxRate = 768000;
constexpr int kMaxChannels = 8;
// Small chunks keep the resampler's working set in cache; one huge call is
// about twice as slow.
constexpr size_t kChunkFrames = 16384;
// Chromaprint only looks at 28 Hz to 3.5 kHz, so a short anti-alias filter
// loses nothing it uses and halves the resampling cost.
constexpr int kFilterSize = 16;

// Averages the channels and, for sources of 32 kHz and more, halves the rate
// with a [1 2 1]/4 filter before the resampler sees the audio. What that
// filter lets fold back into Chromaprint's band (below 3.5 kHz) comes from
// above 18.5 kHz and is at least 24 dB down; the resampler then has half the
// work.
class MonoReducer {
public:
    MonoReducer(int channels, bool halve)
        : channels_(channels)
        , halve_(halve) {}

    // Appends the reduced samples of `frames` frames to `out`.
    void reduce(const int16_t *in, size_t frames, std::vector<int16_t> &out) {
        // One loop per channel layout keeps the per-sample work branch-free.
        if (channels_ == 1)
            reduceWith(in, frames, out, [](const int16_t *f) { return int32_t(f[0]); });
        else if (channels_ == 2)
            reduceWith(in, frames, out,
                       [](const int16_t *f) { return (int32_t(f[0]) + f[1]) >> 1; });
        else
            reduceWith(in, frames, out, [c = channels_](const int16_t *f) {
                int32_t sum = 0;
                for (int i = 0; i < c; ++i)
                    sum += f[i];
                return sum / c;
            });
    }

private:
    template <typename Mono>
    void reduceWith(const int16_t *in, size_t frames, std::vector<int16_t> &out, Mono mono) {
        const size_t stride = size_t(channels_);
        out.resize(frames);
        int16_t *o = out.data();
        size_t n = 0;
        size_t i = 0;
        if (!halve_) {
            for (; i < frames; ++i)
                o[n++] = int16_t(mono(in + i * stride));
            out.resize(n);
            return;
        }
        // Bring the filter to the state where `even_` holds the sample that
        // starts the next output, then take the samples two at a time.
        if (i < frames && phase_ == 0) {
            even_ = mono(in);
            phase_ = 1;
            ++i;
        }
        if (i < frames && phase_ == 2) {
            const int32_t x = mono(in + i * stride);
            o[n++] = int16_t((even_ + 2 * odd_ + x) >> 2);
            even_ = x;
            phase_ = 1;
            ++i;
        }
        int32_t even = even_;
        for (; i + 1 < frames; i += 2) {
            const int32_t odd = mono(in + i * stride);
            const int32_t x = mono(in + (i + 1) * stride);
            o[n++] = int16_t((even + 2 * odd + x) >> 2);
            even = x;
        }
        even_ = even;
        if (i < frames) {
            odd_ = mono(in + i * stride);
            phase_ = 2;
        }
        out.resize(n);
    }

    int channels_;
    bool halve_;
    int phase_ = 0;
    int32_t even_ = 0, odd_ = 0;
};

// Rates from which the reducer halves the rate.
constexpr int kHalvingRate = 32000;

// Writes of at least this many frames are pipelined: the caller's thread
// reduces and resamples chunk n + 1 while a helper feeds chunk n to
// Chromaprint. The two stages cost about the same, so a long write takes
// about half the time on two cores, with the same result.
constexpr size_t kPipelineFrames = 4 * 16384;

class ChromaPipe {
public:
    explicit ChromaPipe(ChromaprintContext *ctx)
        : ctx_(ctx)
        , thread_([this] { run(); }) {}
    ~ChromaPipe() { close(); }

    void push(std::vector<int16_t> chunk) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(chunk));
        }
        ready_.notify_one();
    }
    // Waits until every chunk has been fed; false when Chromaprint refused one.
    bool close() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        ready_.notify_one();
        if (thread_.joinable())
            thread_.join();
        return !failed_;
    }

private:
    void run() {
        while (true) {
            std::vector<int16_t> chunk;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return closed_ || !queue_.empty(); });
                if (queue_.empty())
                    return;
                chunk = std::move(queue_.front());
                queue_.pop_front();
            }
            if (!failed_ && !chromaprint_feed(ctx_, chunk.data(), int(chunk.size())))
                failed_ = true;
        }
    }

    ChromaprintContext *ctx_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::vector<int16_t>> queue_;
    bool closed_ = false;
    bool failed_ = false;
    std::thread thread_;
};
} // namespace

struct Fingerprinter::State {
    ChromaprintContext *chroma = nullptr;
    SwrContext *swr = nullptr;
    int rate = 0;
    int channels = 0;
    uint64_t framesLeft = 0;
    uint64_t framesUsed = 0;
    std::unique_ptr<MonoReducer> reducer;
    std::vector<int16_t> mono;

    ~State() {
        if (chroma)
            chromaprint_free(chroma);
        swr_free(&swr);
    }
};

Fingerprinter::Fingerprinter() = default;
Fingerprinter::~Fingerprinter() = default;

double Fingerprinter::seconds() const {
    return state_ && state_->rate > 0 ? double(state_->framesUsed) / state_->rate : 0.0;
}

bool Fingerprinter::start(int sampleRate, int channels, double maxSeconds, std::string &error) {
    state_.reset();
    items_.clear();
    if (sampleRate < 1000 || sampleRate > kMaxRate) {
        error = "unsupported sample rate " + std::to_string(sampleRate) + " Hz";
        return false;
    }
    if (channels < 1 || channels > kMaxChannels) {
        error = "unsupported channel count " + std::to_string(channels);
        return false;
    }
    auto st = std::make_unique<State>();
    st->rate = sampleRate;
    st->channels = channels;
    st->framesLeft = maxSeconds > 0 ? uint64_t(maxSeconds * sampleRate) : UINT64_MAX;

    // The channels are averaged here rather than by the resampler's matrix,
    // which costs several times more for the same result.
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    const bool halve = sampleRate >= kHalvingRate;
    st->reducer = std::make_unique<MonoReducer>(channels, halve);
    int rc =
        swr_alloc_set_opts2(&st->swr, &mono, AV_SAMPLE_FMT_S16, kFingerprintRate, &mono,
                            AV_SAMPLE_FMT_S16, halve ? sampleRate / 2 : sampleRate, 0, nullptr);
    if (rc >= 0)
        rc = av_opt_set_int(st->swr, "filter_size", kFilterSize, 0);
    if (rc < 0 || swr_init(st->swr) < 0) {
        error = "cannot set up the resampler";
        return false;
    }
    st->chroma = chromaprint_new(CHROMAPRINT_ALGORITHM_DEFAULT);
    if (!st->chroma || !chromaprint_start(st->chroma, kFingerprintRate, 1)) {
        error = "cannot start the fingerprint calculator";
        return false;
    }
    state_ = std::move(st);
    channels_ = channels;
    return true;
}

bool Fingerprinter::feed(const int16_t *pcm, size_t frames, std::string &error) {
    if (!state_) {
        error = "fingerprint not started";
        return false;
    }
    State &st = *state_;
    frames = size_t(std::min<uint64_t>(frames, st.framesLeft));
    std::unique_ptr<ChromaPipe> pipe;
    if (frames >= kPipelineFrames)
        pipe = std::make_unique<ChromaPipe>(st.chroma);
    bool ok = true;
    while (frames > 0 && ok) {
        const size_t n = std::min(frames, kChunkFrames);
        st.reducer->reduce(pcm, n, st.mono);
        const int reduced = int(st.mono.size());
        const int outCap = swr_get_out_samples(st.swr, reduced);
        std::vector<int16_t> out(size_t(std::max(outCap, 1)));
        uint8_t *outPlanes[1] = {reinterpret_cast<uint8_t *>(out.data())};
        const uint8_t *inPlanes[1] = {reinterpret_cast<const uint8_t *>(st.mono.data())};
        const int got = swr_convert(st.swr, outPlanes, outCap, inPlanes, reduced);
        if (got < 0) {
            error = "resampling failed";
            ok = false;
            break;
        }
        out.resize(size_t(got));
        if (pipe)
            pipe->push(std::move(out));
        else if (got > 0 && !chromaprint_feed(st.chroma, out.data(), got))
            ok = false;
        pcm += n * size_t(st.channels);
        frames -= n;
        st.framesLeft -= n;
        st.framesUsed += n;
    }
    if (pipe && !pipe->close())
        ok = false;
    if (!ok && error.empty())
        error = "fingerprint calculation failed";
    return ok;
}

bool Fingerprinter::finish(std::string &error) {
    if (!state_) {
        error = "fingerprint not started";
        return false;
    }
    State &st = *state_;
    // Drain what the resampler still holds.
    const int outCap = swr_get_out_samples(st.swr, 0);
    if (outCap > 0) {
        std::vector<int16_t> out(static_cast<size_t>(outCap));
        uint8_t *outPlanes[1] = {reinterpret_cast<uint8_t *>(out.data())};
        const int got = swr_convert(st.swr, outPlanes, outCap, nullptr, 0);
        if (got > 0)
            chromaprint_feed(st.chroma, out.data(), got);
    }
    if (!chromaprint_finish(st.chroma)) {
        error = "fingerprint calculation failed";
        return false;
    }
    uint32_t *raw = nullptr;
    int size = 0;
    if (!chromaprint_get_raw_fingerprint(st.chroma, &raw, &size)) {
        error = "no fingerprint could be read";
        return false;
    }
    items_.assign(raw, raw + std::max(size, 0));
    chromaprint_dealloc(raw);
    return true;
}

bool Fingerprinter::compute(const int16_t *pcm, size_t frames, int sampleRate, int channels,
                            double maxSeconds, std::vector<uint32_t> &items, double &seconds,
                            std::string &error) {
    Fingerprinter fp;
    if (!fp.start(sampleRate, channels, maxSeconds, error) || !fp.feed(pcm, frames, error) ||
        !fp.finish(error))
        return false;
    items = fp.items();
    seconds = fp.seconds();
    return true;
}

} // namespace recog
