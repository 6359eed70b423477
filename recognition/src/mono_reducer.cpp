#include "mono_reducer.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace recog {

size_t halveStereoPairs(const int16_t *in, size_t pairs, int16_t *out, int32_t &even) {
#ifdef __SSE2__
    // Eight pairs (sixteen frames) per round. Lane by lane this is the scalar
    // filter: mean = (left + right) >> 1, out = (even + 2 odd + next) >> 2,
    // in 32-bit integers with arithmetic shifts.
    const __m128i ones = _mm_set1_epi16(1);
    auto means = [&](const int16_t *p) {
        // Four frames: the channel sums, halved.
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        return _mm_srai_epi32(_mm_madd_epi16(v, ones), 1);
    };
    auto outputs = [&](const int16_t *p, int32_t &carry) {
        // Four pairs: the odd (first) and next (second) frame of each, and
        // the next frame of the pair before.
        const __m128 a = _mm_castsi128_ps(means(p));
        const __m128 b = _mm_castsi128_ps(means(p + 8));
        const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        const __m128i next = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        const __m128i before = _mm_or_si128(_mm_slli_si128(next, 4), _mm_cvtsi32_si128(carry));
        carry = _mm_cvtsi128_si32(_mm_srli_si128(next, 12));
        const __m128i sum = _mm_add_epi32(_mm_add_epi32(before, next), _mm_slli_epi32(odd, 1));
        return _mm_srai_epi32(sum, 2);
    };
    size_t done = 0;
    for (; done + 8 <= pairs; done += 8) {
        const __m128i low = outputs(in + done * 4, even);
        const __m128i high = outputs(in + done * 4 + 16, even);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + done), _mm_packs_epi32(low, high));
    }
    return done;
#else
    (void)in;
    (void)pairs;
    (void)out;
    (void)even;
    return 0;
#endif
}

} // namespace recog
