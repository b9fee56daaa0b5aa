#pragma once
// Finds the drive by its marker among the mounted volumes, and remembers where it was.
//
// A remembered location is trusted only while the same mount is still there: the mount's
// identity is the kernel's unique mount id (statx STATX_MNT_ID_UNIQUE), which changes with
// every unmount and mount, even of the same volume at the same path. (The file-system id of
// statfs can't serve: FUSE mounts, exFAT and NTFS among them, all report 0.) On kernels
// without unique mount ids the identity is the mount id, device number and file-system id,
// and when that file-system id is 0 the marker is read again before a remembered location
// is trusted.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "drives/Drive.h"
#include "drives/DriveLocating.h"
#include "platform/SystemRoots.h"

namespace keldwick {

struct MountIdentity {
    uint64_t mountID = 0;
    bool isUnique = false;  // mountID is never reused (kernel 6.8 and later)
    uint64_t device = 0;
    uint64_t fileSystemID = 0;

    // Another volume mounted at the same path may look the same.
    bool isWeak() const { return !isUnique && fileSystemID == 0; }
    bool operator==(const MountIdentity&) const = default;
};

// What the locator asks of the system; tests hand in their own.
class VolumeSource {
public:
    virtual ~VolumeSource() = default;
    // Mount paths of the local, shown, non-startup volumes, in mount-table order.
    virtual std::vector<std::string> candidateMountPaths() const = 0;
    // The identity of the mount whose root is exactly `path`; nothing when `path` is not
    // itself a mount point or can't be examined.
    virtual std::optional<MountIdentity> identity(const std::string& path) const = 0;
    // The drive identity in the marker on the volume at `root`, if any.
    virtual std::optional<Drive> marker(const std::string& root) const = 0;
};

// The real system: the mount table, statx/statfs and the marker files.
class SystemVolumeSource final : public VolumeSource {
public:
    explicit SystemVolumeSource(platform::SystemRoots roots = platform::SystemRoots::system()) : roots_(std::move(roots)) {}
    std::vector<std::string> candidateMountPaths() const override;
    std::optional<MountIdentity> identity(const std::string& path) const override;
    std::optional<Drive> marker(const std::string& root) const override;

private:
    platform::SystemRoots roots_;
};

class VolumeDriveLocator final : public DriveLocating {
public:
    explicit VolumeDriveLocator(std::shared_ptr<const VolumeSource> source = std::make_shared<SystemVolumeSource>());

    // An empty id gives nothing at once. Otherwise, under the lock: a remembered location
    // whose mount is unchanged is returned without reading any marker; else the candidate
    // volumes are searched in order and the first whose marker holds exactly this id (and
    // whose path is a mount point) is remembered and returned.
    std::optional<std::string> mountPoint(const std::string& driveID) const override;

    // Forgets every remembered location (the chosen drive changed).
    void forgetLocations();

private:
    struct Known {
        std::string path;
        MountIdentity identity;
    };
    std::shared_ptr<const VolumeSource> source_;
    mutable std::mutex lock_;
    mutable std::map<std::string, Known> known_;
};

}  // namespace keldwick
