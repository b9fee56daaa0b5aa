#include "model/StorageFill.h"

#include <cmath>

namespace keldwick {

namespace {

double clampedFraction(double value) {
    if (std::isnan(value) || value <= 0) return 0;
    return value > 1 ? 1 : value;
}

}  // namespace

FillLevel storageFill(std::optional<int64_t> free, std::optional<int64_t> total) {
    if (!free || !total || *total < 1) return {};
    // In doubles: total - free could overflow Int64 for nonsense figures.
    const double t = static_cast<double>(*total);
    return FillLevel{clampedFraction((t - static_cast<double>(*free)) / t), std::nullopt};
}

}  // namespace keldwick
