#include "drives/DriveEligibility.h"

#include "drives/FileSystemFormats.h"
#include "platform/FileStatus.h"

namespace keldwick::DriveEligibility {

std::vector<DriveProblem> problems(const VolumeInfo& volume, const std::optional<DriveHardware>& hardware) {
    std::vector<DriveProblem> found;
    if (volume.isRootFileSystem) found.push_back(DriveProblem::startupDisk());
    if (hardware && hardware->isDiskImage()) {
        found.push_back(DriveProblem::diskImage());
    } else if (!volume.isRootFileSystem && volume.isInternal) {
        found.push_back(DriveProblem::internalDisk());
    }
    if (!volume.isLocal) found.push_back(DriveProblem::networkVolume());
    if (volume.isReadOnly) found.push_back(DriveProblem::readOnly());
    // Timeshift keeps its snapshots in "timeshift/snapshots" at the top of the backup device.
    std::string backups = volume.mountPath == "/" ? "/timeshift/snapshots" : volume.mountPath + "/timeshift/snapshots";
    struct stat status;
    // Nothing is asked of a network volume: a server that stopped answering would hang the call.
    if (volume.isLocal && platform::statusFollowing(backups, status) == 0) found.push_back(DriveProblem::backups());
    if (!FileSystemFormats::isUsable(volume.fileSystem)) {
        if (FileSystemFormats::cantHoldBigFiles(volume.fileSystem)) {
            found.push_back(DriveProblem::fat32());
        } else if (volume.isLocal) {
            found.push_back(DriveProblem::unsupportedFormat(volume.fileSystem));
        }
    }
    if (volume.isLocal && volume.totalBytes <= kTooSmallBytes) found.push_back(DriveProblem::tooSmall());
    return found;
}

}  // namespace keldwick::DriveEligibility
