#include "fingerprinter.h"

#include "mono_reducer.h"

#include <algorithm>
#include <chromaprint.h>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace recog {

namespace {
constexpr int kMaxRate = 768000;
// Small chunks keep the resampler's working set in cache; one huge call is
// about twice as slow.
constexpr size_t kChunkFrames = 16384;
// Chromaprint only looks at 28 Hz to 3.5 kHz, so a short anti-alias filter
// loses nothing it uses and halves the resampling cost.
constexpr int kFilterSize = 16;

// Chromaprint's analysis geometry at 11,025 Hz: frames of 4096 samples every
// 1365 samples, and item i depends on frames i to i + 19 (a five-frame chroma
// smoothing, then classifiers sixteen rows wide). A context that starts at
// sample 1365 k therefore yields exactly items k, k + 1, ... of the whole
// stream.
constexpr uint64_t kChromaFrame = 4096;
constexpr uint64_t kChromaHop = 1365;
constexpr uint64_t kItemFrames = 20;

// Writes that give fewer samples than this at 11,025 Hz are not worth a
// second thread.
constexpr uint64_t kSplitSamples = 10 * kFingerprintRate;

// How a long first write is cut between two Chromaprint contexts: a helper
// thread runs one over the stream's first `headEnd` samples and keeps its
// first `headItems` items; the caller's thread runs the main one from
// `tailStart` on. The overlap past the cut lets the head's last kept item see
// all its frames, so head items followed by the main items are the items of
// one context over the whole stream.
struct Split {
    uint64_t headItems = 0;
    uint64_t headEnd = 0;
    uint64_t tailStart = 0;
};

// `samples` is what the write will give at 11,025 Hz. The cut balances the
// threads: the caller also reduces and resamples the whole write, so the head
// gets more than half when the source needs much of that.
std::optional<Split> planSplit(uint64_t samples, int rate, int channels) {
    if (samples < kSplitSamples)
        return std::nullopt;
    // Relative costs per second of audio, fitted to the fastest cuts found
    // for 44.1 kHz stereo and 22.05 kHz mono with the libraries of Debian 12
    // while both threads run: channel reduction 0.25 per source sample,
    // resampling 1.6 per sample it is given (nothing at 11,025 Hz), Chromaprint
    // 8 per sample it is given.
    const bool halve = rate >= MonoReducer::kHalvingRate;
    const int resampled = halve ? rate / 2 : rate;
    const double prepare =
        0.25 * rate * channels + (resampled == kFingerprintRate ? 0.0 : 1.6 * resampled);
    const double ratio = prepare / (8.0 * kFingerprintRate);
    const uint64_t overlap = kItemFrames * kChromaHop + kChromaFrame;
    // The head's share (cut + overlap) equals the caller's preparation of
    // everything plus its share (samples - cut).
    const double cut = (double(samples) * (1.0 + ratio) - double(overlap)) / 2.0;
    // The head must get all its samples from this write, whatever the
    // resampler still holds back at its end.
    const uint64_t latest = samples - 1024 - overlap;
    uint64_t items = uint64_t(std::max(cut, 0.0)) / kChromaHop;
    items = std::min(items, latest / kChromaHop);
    if (items == 0)
        return std::nullopt;
    return Split{items, items * kChromaHop + overlap, items * kChromaHop};
}

// Reads the items of a context that has been fed everything.
bool finishItems(ChromaprintContext *ctx, std::vector<uint32_t> &items) {
    if (!chromaprint_finish(ctx))
        return false;
    uint32_t *raw = nullptr;
    int size = 0;
    if (!chromaprint_get_raw_fingerprint(ctx, &raw, &size))
        return false;
    items.assign(raw, raw + std::max(size, 0));
    chromaprint_dealloc(raw);
    return true;
}

// A Chromaprint context fed on its own thread, for the head of a split write.
class HeadContext {
public:
    HeadContext()
        : ctx_(chromaprint_new(CHROMAPRINT_ALGORITHM_DEFAULT), &chromaprint_free) {
        failed_ = !ctx_ || !chromaprint_start(ctx_.get(), kFingerprintRate, 1);
        thread_ = std::thread([this] { run(); });
    }
    ~HeadContext() { close(); }

    void push(const int16_t *samples, size_t count) {
        {
            std::lock_guard lock(mutex_);
            queue_.emplace_back(samples, samples + count);
        }
        ready_.notify_one();
    }

    // Waits until everything pushed has been fed, then reads the first
    // `count` items; false when Chromaprint refused or gave fewer.
    bool takeItems(size_t count, std::vector<uint32_t> &items) {
        close();
        if (failed_ || !finishItems(ctx_.get(), items) || items.size() < count)
            return false;
        items.resize(count);
        return true;
    }

private:
    void close() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        ready_.notify_one();
        if (thread_.joinable())
            thread_.join();
    }

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
            if (!failed_ && !chromaprint_feed(ctx_.get(), chunk.data(), int(chunk.size())))
                failed_ = true;
        }
    }

    std::unique_ptr<ChromaprintContext, decltype(&chromaprint_free)> ctx_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::vector<int16_t>> queue_;
    bool closed_ = false;
    bool failed_ = false; // written by the helper only while it runs
    std::thread thread_;
};
} // namespace

struct Fingerprinter::State {
    State(int sampleRate, int channelCount, bool halve)
        : rate(sampleRate)
        , channels(channelCount)
        , reducer(channelCount, halve) {}
    ~State() {
        if (chroma)
            chromaprint_free(chroma);
        swr_free(&swr);
    }

    // Reduces and resamples `frames` frames into `out`.
    bool prepare(const int16_t *pcm, size_t frames) {
        reducer.reduce(pcm, frames, mono);
        return resample(mono.data(), int(mono.size()));
    }

    // Resamples `count` samples into `out`; none (and no input) drains what
    // the resampler still holds.
    bool resample(const int16_t *in, int count) {
        const int outCap = swr_get_out_samples(swr, count);
        out.resize(size_t(std::max(outCap, 1)));
        uint8_t *outPlanes[1] = {reinterpret_cast<uint8_t *>(out.data())};
        const uint8_t *inPlanes[1] = {reinterpret_cast<const uint8_t *>(in)};
        const int got = swr_convert(swr, outPlanes, outCap, in ? inPlanes : nullptr, count);
        out.resize(size_t(std::max(got, 0)));
        return got >= 0;
    }

    // Hands the samples in `out` to the head context (up to `headEnd`) and to
    // the main one (from `tailStart`).
    bool deliver(HeadContext *head, uint64_t headEnd) {
        const uint64_t from = samplesOut;
        const uint64_t count = out.size();
        samplesOut += count;
        if (keepSignal)
            signal.insert(signal.end(), out.begin(), out.end());
        if (head && from < headEnd)
            head->push(out.data(), size_t(std::min(count, headEnd - from)));
        if (count == 0 || from + count <= tailStart)
            return true;
        const uint64_t skip = from < tailStart ? tailStart - from : 0;
        return chromaprint_feed(chroma, out.data() + skip, int(count - skip)) != 0;
    }

    ChromaprintContext *chroma = nullptr;
    SwrContext *swr = nullptr;
    int rate;
    int channels;
    uint64_t framesLeft = 0;
    uint64_t framesUsed = 0;
    uint64_t samplesOut = 0; // produced by the resampler so far
    uint64_t tailStart = 0;  // the first of them the main context sees
    bool failed = false;     // a write failed: the stream has a hole
    bool keepSignal = false;
    std::vector<int16_t> signal; // what the resampler gave, when kept
    std::vector<uint32_t> headItems;
    MonoReducer reducer;
    std::vector<int16_t> mono;
    std::vector<int16_t> out;
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
    if (channels < 1 || channels > MonoReducer::kMaxChannels) {
        error = "unsupported channel count " + std::to_string(channels);
        return false;
    }
    // The channels are averaged by the reducer rather than by the
    // resampler's matrix, which costs several times more for the same result.
    const bool halve = sampleRate >= MonoReducer::kHalvingRate;
    auto st = std::make_unique<State>(sampleRate, channels, halve);
    st->framesLeft = maxSeconds > 0 ? uint64_t(maxSeconds * sampleRate) : UINT64_MAX;

    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
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
    if (st.failed) {
        error = "an earlier write failed";
        return false;
    }
    frames = size_t(std::min<uint64_t>(frames, st.framesLeft));
    // Only a stream's first write can be split: the head context has to
    // start where the stream does.
    std::optional<Split> split;
    if (st.framesUsed == 0)
        split = planSplit(uint64_t(frames) * kFingerprintRate / uint64_t(st.rate), st.rate,
                          st.channels);
    std::unique_ptr<HeadContext> head;
    if (split) {
        head = std::make_unique<HeadContext>();
        st.tailStart = split->tailStart;
    }
    bool ok = true;
    while (frames > 0 && ok) {
        const size_t n = std::min(frames, kChunkFrames);
        if (!st.prepare(pcm, n)) {
            error = "resampling failed";
            st.failed = true;
            return false;
        }
        ok = st.deliver(head.get(), split ? split->headEnd : 0);
        pcm += n * size_t(st.channels);
        frames -= n;
        st.framesLeft -= n;
        st.framesUsed += n;
    }
    if (ok && head)
        ok = head->takeItems(size_t(split->headItems), st.headItems);
    if (!ok) {
        error = "fingerprint calculation failed";
        st.failed = true;
    }
    return ok;
}

bool Fingerprinter::finish(std::string &error) {
    if (!state_) {
        error = "fingerprint not started";
        return false;
    }
    State &st = *state_;
    std::vector<uint32_t> tail;
    if (st.failed || !st.resample(nullptr, 0) || !st.deliver(nullptr, 0) ||
        !finishItems(st.chroma, tail)) {
        error = "fingerprint calculation failed";
        return false;
    }
    items_ = st.headItems;
    items_.insert(items_.end(), tail.begin(), tail.end());
    return true;
}

void Fingerprinter::keepSignal() {
    if (state_)
        state_->keepSignal = true;
}

std::vector<int16_t> Fingerprinter::takeSignal() {
    return state_ ? std::move(state_->signal) : std::vector<int16_t>();
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
