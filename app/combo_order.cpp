#include "app/combo_order.h"

int OrderedInsertPosition(std::span<const uint32_t> data, uint32_t value) {
    if (data.empty() || value <= data.front()) return 0;
    int hi = static_cast<int>(data.size()) - 1;
    if (value >= data[hi]) return -1;
    // The bisection narrows [lo, hi] so that data[lo - 1] < value <= data[hi].
    int lo = 0;
    int mid = hi / 2;
    while (lo < hi) {
        const uint32_t v = data[mid];
        if (v == value) return mid;
        if (value > v) {
            lo = mid + 1;
            mid = (hi + lo) / 2;
        } else {
            hi = mid;
            mid = (mid + lo) / 2;
        }
    }
    return mid;
}
