#pragma once
// Int64 arithmetic on byte counts and settings that holds at the ends of the range
// instead of overflowing: a stored value or a file-system figure can be anything.

#include <cstdint>
#include <limits>

namespace keldwick::Saturating {

inline constexpr int64_t max = std::numeric_limits<int64_t>::max();
inline constexpr int64_t min = std::numeric_limits<int64_t>::min();

inline int64_t add(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_add_overflow(a, b, &r)) return b > 0 ? max : min;
    return r;
}

inline int64_t subtract(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? max : min;
    return r;
}

inline int64_t multiply(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_mul_overflow(a, b, &r)) return (a < 0) != (b < 0) ? min : max;
    return r;
}

}  // namespace keldwick::Saturating
