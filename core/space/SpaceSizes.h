#pragma once
// Byte counts of the space code: sums that saturate instead of overflowing, and the
// space a file occupies on disk from its status record.

#include <cstdint>
#include <limits>

#include "platform/Types.h"

namespace keldwick::SpaceSizes {

// a + b for counts that are never negative, held at the int64 maximum.
inline int64_t add(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    return sum;
}

// 512-byte blocks × 512, held at the int64 maximum.
inline int64_t allocated(const struct statx& record) {
    constexpr uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) / 512;
    if (record.stx_blocks > limit) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(record.stx_blocks * 512);
}

// What deleting this file frees: its blocks when no other hard link keeps them.
inline int64_t allocatedIfSoleLink(const struct statx& record) {
    return record.stx_nlink == 1 ? allocated(record) : 0;
}

}  // namespace keldwick::SpaceSizes
