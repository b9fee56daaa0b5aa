#pragma once
// How full a storage bar is drawn, and where its keep-free line lies.

#include <cstdint>
#include <optional>

namespace keldwick {

struct FillLevel {
    double fill = 0;                // used fraction, 0...1
    std::optional<double> mark;     // fraction at which the keep-free level lies, 0...1
    bool operator==(const FillLevel&) const = default;
};

// fill = (total - free) / total and mark = 1 - keepFree / total, each clamped to 0...1
// (an undefined result counts as 0); no mark without a keep-free count. (0, no mark) when
// free or total is missing or total is below 1.
FillLevel storageFill(std::optional<int64_t> free, std::optional<int64_t> total, std::optional<int64_t> keepFree);

}  // namespace keldwick
