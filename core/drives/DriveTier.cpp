#include "drives/DriveTier.h"

#include "foundation/EnumNames.h"

namespace keldwick {

namespace {

constexpr EnumNames::Name<DriveTier> kTierNames[] = {
    {DriveTier::fastSSD, "fastSSD"},
    {DriveTier::slow, "slow"},
    {DriveTier::hardDrive, "hardDrive"},
};

}  // namespace

std::string toString(DriveTier tier) {
    return std::string(EnumNames::spellingOf(kTierNames, tier, "hardDrive"));
}

std::optional<DriveTier> parseDriveTier(std::string_view raw) {
    return EnumNames::valueOf(kTierNames, raw);
}

}  // namespace keldwick
