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

// fill = (total - free) / total, clamped to 0...1 (an undefined result counts as 0), with
// no mark: the keep-free mark is the settings' (AppSettings::keepFreeMark). 0 when free or
// total is missing or total is below 1.
FillLevel storageFill(std::optional<int64_t> free, std::optional<int64_t> total);

}  // namespace keldwick
