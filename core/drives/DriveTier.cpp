#include "drives/DriveTier.h"

namespace keldwick {

std::string toString(DriveTier tier) {
    switch (tier) {
        case DriveTier::fastSSD: return "fastSSD";
        case DriveTier::slow: return "slow";
        case DriveTier::hardDrive: return "hardDrive";
    }
    return "hardDrive";
}

std::optional<DriveTier> parseDriveTier(std::string_view raw) {
    if (raw == "fastSSD") return DriveTier::fastSSD;
    if (raw == "slow") return DriveTier::slow;
    if (raw == "hardDrive") return DriveTier::hardDrive;
    return std::nullopt;
}

}  // namespace keldwick
