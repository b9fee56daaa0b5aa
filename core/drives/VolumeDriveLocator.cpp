#include "drives/VolumeDriveLocator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <cstring>

#include "drives/DriveMarker.h"
#include "drives/VolumeInfo.h"
#include "platform/MountFacts.h"
#include "platform/MountTable.h"
#include "platform/Statx.h"

namespace keldwick {

std::vector<std::string> SystemVolumeSource::candidateMountPaths() const {
    return VolumeInfo::localExternalMountPaths(roots_);
}

std::optional<MountIdentity> SystemVolumeSource::identity(const std::string& path) const {
    platform::MountStatus status;
    if (path.empty() || platform::statxWithMount(path.c_str(), AT_SYMLINK_NOFOLLOW, true, status) != 0) {
        return std::nullopt;
    }
    bool isMountRoot = false;
    if (status.mountRoot) {
        isMountRoot = *status.mountRoot;
    } else {
        // Older kernels: the path must be a mount point in the table.
        for (const auto& entry : platform::MountFacts::visibleEntries(platform::MountTable::read(roots_.mountinfo))) {
            if (entry.mountPoint == path) isMountRoot = true;
        }
    }
    if (!isMountRoot) return std::nullopt;

    MountIdentity identity;
    identity.device = makedev(status.record.stx_dev_major, status.record.stx_dev_minor);
    identity.mountID = status.mountID.value_or(0);
    if (status.mountIDIsUnique) {
        identity.isUnique = true;
        return identity;
    }
    struct statfs fileSystem {};
    if (::statfs(path.c_str(), &fileSystem) != 0) return std::nullopt;
    uint32_t words[2];
    std::memcpy(words, &fileSystem.f_fsid, sizeof words);
    identity.fileSystemID = (static_cast<uint64_t>(words[0]) << 32) | words[1];
    return identity;
}

std::optional<Drive> SystemVolumeSource::marker(const std::string& root) const { return DriveMarker::read(root); }

VolumeDriveLocator::VolumeDriveLocator(std::shared_ptr<const VolumeSource> source) : source_(std::move(source)) {}

std::optional<std::string> VolumeDriveLocator::mountPoint(const std::string& driveID) const {
    if (driveID.empty()) return std::nullopt;
    std::lock_guard<std::mutex> guard(lock_);

    if (auto found = known_.find(driveID); found != known_.end()) {
        auto now = source_->identity(found->second.path);
        if (now && *now == found->second.identity) {
            if (!now->isWeak()) return found->second.path;
            auto drive = source_->marker(found->second.path);
            if (drive && drive->id == driveID) return found->second.path;
        }
    }
    known_.erase(driveID);

    for (const auto& path : source_->candidateMountPaths()) {
        auto drive = source_->marker(path);
        if (!drive || drive->id != driveID) continue;
        auto identity = source_->identity(path);
        if (!identity) continue;
        known_[driveID] = Known{path, *identity};
        return path;
    }
    return std::nullopt;
}

void VolumeDriveLocator::forgetLocations() {
    std::lock_guard<std::mutex> guard(lock_);
    known_.clear();
}

}  // namespace keldwick
