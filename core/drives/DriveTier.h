#pragma once
// How fast the chosen drive is, as far as what may be moved to it goes. Stored in the
// settings by its raw string.

#include <optional>
#include <string>
#include <string_view>

namespace keldwick {

enum class DriveTier { fastSSD, slow, hardDrive };

// "fastSSD", "slow", "hardDrive".
std::string toString(DriveTier tier);
// Exactly one of the three raw strings; nothing for anything else.
std::optional<DriveTier> parseDriveTier(std::string_view raw);

}  // namespace keldwick
