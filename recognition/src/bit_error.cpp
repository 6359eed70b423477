#include "bit_error.h"

#include <algorithm>
#include <bit>

namespace recog {

namespace {

// Differing bits between query[from, to) and reference[from + offset, ...).
uint32_t differingBits(Items q, Items r, long from, long to, long offset) {
    uint32_t bits = 0;
    const uint32_t *a = q.data + from;
    const uint32_t *b = r.data + from + offset;
    for (long i = 0, n = to - from; i < n; ++i)
        bits += uint32_t(std::popcount(a[i] ^ b[i]));
    return bits;
}

// The part of query[from, to) that has a partner in the reference at `offset`.
bool clip(Items q, Items r, long offset, long &from, long &to) {
    from = std::max({from, -offset, 0L});
    to = std::min({to, long(r.size) - offset, long(q.size)});
    return to > from;
}

} // namespace

Alignment bestAlignment(Items query, Items reference, int maxOffset, int minOverlap) {
    Alignment best;
    for (int offset = -maxOffset; offset <= maxOffset; ++offset) {
        long from = 0, to = long(query.size);
        if (!clip(query, reference, offset, from, to) || to - from < minOverlap)
            continue;
        const double ber =
            differingBits(query, reference, from, to, offset) / (32.0 * double(to - from));
        if (ber < best.ber)
            best = {offset, int(to - from), ber};
    }
    return best;
}

double segmentedBer(Items query, Items reference, int start, int window, int slack, int &covered) {
    covered = 0;
    uint64_t bits = 0, compared = 0;
    int centre = start;
    for (long w = 0; w < long(query.size); w += window) {
        const int reach = w == 0 ? 2 * slack : slack;
        uint32_t bestBits = 0;
        long bestItems = 0;
        double bestRate = 2.0;
        int bestOffset = centre;
        for (int offset = centre - reach; offset <= centre + reach; ++offset) {
            long from = w, to = w + window;
            // Windows cut by either end count only when half of them remains.
            if (!clip(query, reference, offset, from, to) || to - from < window / 2)
                continue;
            const uint32_t b = differingBits(query, reference, from, to, offset);
            const double rate = b / (32.0 * double(to - from));
            if (rate < bestRate) {
                bestRate = rate;
                bestBits = b;
                bestItems = to - from;
                bestOffset = offset;
            }
        }
        if (bestItems == 0)
            continue;
        bits += bestBits;
        compared += uint64_t(bestItems);
        centre = bestOffset;
    }
    covered = int(compared);
    return compared ? double(bits) / (32.0 * double(compared)) : 1.0;
}

} // namespace recog
