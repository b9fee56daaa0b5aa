#pragma once
// Whether a volume may hold moved items, and if not, every reason why.

#include <optional>
#include <vector>

#include "drives/DriveHardware.h"
#include "drives/DriveProblem.h"
#include "drives/VolumeInfo.h"

namespace keldwick::DriveEligibility {

// Every problem, in check order: startup disk; disk image (with hardware facts; a disk
// image is not also reported internal); internal disk (not for the startup disk); network
// volume; read-only; Timeshift backups ("timeshift/snapshots" at the top, links followed;
// never asked of a network volume);
// format (usable formats add nothing, "msdos" is fat32, any other is unsupportedFormat
// for a local volume only). Empty means the volume may serve.
std::vector<DriveProblem> problems(const VolumeInfo& volume, const std::optional<DriveHardware>& hardware);

}  // namespace keldwick::DriveEligibility
