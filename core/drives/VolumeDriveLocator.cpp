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

// glibc 2.36 headers predate these; the kernel has had them since 6.8 and 5.8.
#ifndef STATX_MNT_ID_UNIQUE
#define STATX_MNT_ID_UNIQUE 0x00004000U
#endif
#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000
#endif

namespace keldwick {

std::vector<std::string> SystemVolumeSource::candidateMountPaths() const {
    return VolumeInfo::localExternalMountPaths(roots_);
}

std::optional<MountIdentity> SystemVolumeSource::identity(const std::string& path) const {
    struct statx status {};
    if (path.empty() || ::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW,
                                STATX_BASIC_STATS | STATX_MNT_ID | STATX_MNT_ID_UNIQUE, &status) != 0) {
        return std::nullopt;
    }
    bool isMountRoot = false;
    if (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) {
        isMountRoot = (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    } else {
        // Older kernels: the path must be a mount point in the table.
        for (const auto& entry : MountFacts::visibleEntries(MountTable::read(roots_.mountinfo))) {
            if (entry.mountPoint == path) isMountRoot = true;
        }
    }
    if (!isMountRoot) return std::nullopt;

    MountIdentity identity;
    identity.device = makedev(status.stx_dev_major, status.stx_dev_minor);
    if (status.stx_mask & STATX_MNT_ID_UNIQUE) {
        identity.mountID = status.stx_mnt_id;
        identity.isUnique = true;
        return identity;
    }
    if (status.stx_mask & STATX_MNT_ID) identity.mountID = status.stx_mnt_id;
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
