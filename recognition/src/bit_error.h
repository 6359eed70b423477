#pragma once

#include <cstddef>
#include <cstdint>

namespace recog {

// Where a query fingerprint lies against a reference: reference item
// (query item + offset), over `overlap` items, with this bit-error rate.
struct Alignment {
    int offset = 0;
    int overlap = 0;
    double ber = 1.0;
};

struct Items {
    const uint32_t *data;
    size_t size;
};

// Lowest bit-error rate over every offset in [-maxOffset, maxOffset] whose
// overlap has at least `minOverlap` items; ber 1.0 when none has.
Alignment bestAlignment(Items query, Items reference, int maxOffset, int minOverlap);

// Bit-error rate of the query cut into windows of `window` items, each window
// placed at its own best offset within `slack` items of the previous one's
// (the first within twice that of `start`). Follows a recording that runs
// slightly faster or slower than the reference. `covered` receives the query
// items that were compared.
double segmentedBer(Items query, Items reference, int start, int window, int slack, int &covered);

} // namespace recog
