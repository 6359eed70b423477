#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace recog {

// Takes up to `pairs` pairs of stereo frames, two frames per output, in the
// reducer's steady state (`even` holds the mean of the frame before the
// first pair and is updated). Returns how many pairs it took; the caller
// finishes the rest one pair at a time. The results are those of the
// one-pair loop, computed several at a time.
size_t halveStereoPairs(const int16_t *in, size_t pairs, int16_t *out, int32_t &even);

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

    // Channel counts from 1 to this are handled.
    static constexpr int kMaxChannels = 8;
    // Sources from this rate up are halved.
    static constexpr int kHalvingRate = 32000;

    // Replaces `out` with the reduced samples of `frames` frames. The filter
    // state carries over, so a stream may come in pieces of any size.
    void reduce(const int16_t *in, size_t frames, std::vector<int16_t> &out) {
        // A loop per channel count keeps the per-sample work branch-free and
        // turns the division into a multiplication.
        switch (channels_) {
        case 1:
            return reduceWith(in, frames, out, MeanOf<1>{});
        case 2:
            return reduceWith(in, frames, out, MeanOf<2>{});
        case 3:
            return reduceWith(in, frames, out, MeanOf<3>{});
        case 4:
            return reduceWith(in, frames, out, MeanOf<4>{});
        case 5:
            return reduceWith(in, frames, out, MeanOf<5>{});
        case 6:
            return reduceWith(in, frames, out, MeanOf<6>{});
        case 7:
            return reduceWith(in, frames, out, MeanOf<7>{});
        default:
            return reduceWith(in, frames, out, MeanOf<8>{});
        }
    }

private:
    template <int Channels> struct MeanOf {
        int32_t operator()(const int16_t *f) const {
            int32_t sum = 0;
            for (int i = 0; i < Channels; ++i)
                sum += f[i];
            // Stereo rounds down, as fingerprints in existing catalogues did.
            if constexpr (Channels == 2)
                return sum >> 1;
            else
                return sum / Channels;
        }
    };

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
        if constexpr (std::is_same_v<Mono, MeanOf<2>>) {
            const size_t pairs = halveStereoPairs(in + i * 2, (frames - i) / 2, o + n, even);
            i += 2 * pairs;
            n += pairs;
        }
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

} // namespace recog
