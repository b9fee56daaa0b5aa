#pragma once
// Whether a volume may hold moved items, and if not, every reason why.

#include <cstdint>
#include <optional>
#include <vector>

#include "drives/DriveHardware.h"
#include "drives/DriveProblem.h"
#include "drives/VolumeInfo.h"

namespace keldwick::DriveEligibility {

// The space always left free on the drive (1 GiB), as the engine and the planner keep it.
inline constexpr int64_t kReserveBytes = 1'073'741'824;
// A volume of at most the reserve plus 1 GB holds too little to be worth choosing.
inline constexpr int64_t kTooSmallBytes = kReserveBytes + 1'000'000'000;
// The size the advice names: the first hundredth of a gigabyte above that.
inline constexpr int64_t kSmallestUsableBytes = (kTooSmallBytes / 10'000'000 + 1) * 10'000'000;

// Every problem, in check order: startup disk; disk image (with hardware facts; a disk
// image is not also reported internal); internal disk (not for the startup disk); network
// volume; read-only; Timeshift backups ("timeshift/snapshots" at the top, links followed;
// never asked of a network volume);
// format (usable formats add nothing, "msdos" is fat32, any other is unsupportedFormat
// for a local volume only); too small (a local volume of at most kTooSmallBytes in all;
// a network volume's size is never read). Empty means the volume may serve.
std::vector<DriveProblem> problems(const VolumeInfo& volume, const std::optional<DriveHardware>& hardware);

}  // namespace keldwick::DriveEligibility
