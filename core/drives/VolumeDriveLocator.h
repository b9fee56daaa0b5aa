#pragma once
// Finds the drive by its marker among the mounted volumes, and remembers where it was.
// Only a disk volume whose Keldwick folder and marker the user can trust is taken: a
// marker copied onto a tmpfs or a volume of another user is refused and reported.
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
#include <optional>
#include <string>
#include <vector>

#include "drives/Drive.h"
#include "drives/DriveLocating.h"
#include "drives/DriveTrust.h"
#include "platform/MountTable.h"
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

// A volume the locator may search, and why it can't be the drive when it can't.
struct VolumeCandidate {
    std::string mountPath;
    // Not a disk volume (DriveTrust::volumeRefusal), or one of a format Keldwick won't
    // move files to (DriveTrust::formatRefusal).
    std::optional<DriveRefusal> refusal;
};

// What the locator asks of the system; tests hand in their own.
class VolumeSource {
public:
    virtual ~VolumeSource() = default;
    // The local, shown, non-startup volumes, in mount-table order.
    virtual std::vector<VolumeCandidate> candidates() const = 0;
    // The identity of the mount whose root is exactly `path`; nothing when `path` is not
    // itself a mount point or can't be examined.
    virtual std::optional<MountIdentity> identity(const std::string& path) const = 0;
    // The marker on the volume at `root` and whether its owner and modes can be trusted
    // (DriveTrust::judgeMount, as the drive chooser asks it, narrowing the user's own
    // folder when it holds `wantedID`; the locator passes "" for a volume it refuses anyway).
    virtual DriveTrust::Examined marker(const std::string& root, const std::string& wantedID) const = 0;
};

// The real system: the mount table, statx/statfs and the marker files, judged for `user`.
class SystemVolumeSource final : public VolumeSource {
public:
    explicit SystemVolumeSource(platform::SystemRoots roots = platform::SystemRoots::system(),
                                DriveTrust::User user = DriveTrust::User::current())
        : roots_(std::move(roots)), user_(user) {}
    // Worked out again only when the mount table's text changed since the last call: which
    // mounts are on a block device takes a walk through sysfs per mount, and a search for a
    // drive that is away runs once per item of a recovery pass.
    std::vector<VolumeCandidate> candidates() const override;
    std::optional<MountIdentity> identity(const std::string& path) const override;
    DriveTrust::Examined marker(const std::string& root, const std::string& wantedID) const override;

private:
    platform::SystemRoots roots_;
    DriveTrust::User user_;
    mutable std::mutex cacheLock_;
    mutable std::optional<std::string> cachedTable_;
    mutable std::vector<VolumeCandidate> cachedCandidates_;
    // By mount point: the entry and whether it is on a block device.
    mutable std::map<std::string, std::pair<platform::MountEntry, bool>> cachedMounts_;
};

class VolumeDriveLocator final : public DriveLocating {
public:
    explicit VolumeDriveLocator(std::shared_ptr<const VolumeSource> source = std::make_shared<SystemVolumeSource>());

    // An empty id gives nothing at once. Otherwise, under the lock: a remembered location
    // whose mount is unchanged is returned without reading any marker (unless the last
    // search refused volumes carrying this id: then every call searches, so the refusals
    // stay current); else every candidate volume is searched. A volume whose marker holds
    // exactly this id is taken when it is a disk volume, its path a mount point, and its
    // Keldwick folder and marker trusted (DriveTrust); the others are refused. Two taken
    // volumes of different file systems are both refused: neither is the drive.
    std::optional<std::string> mountPoint(const std::string& driveID) const override;

    // The volumes carrying this id that the last search refused, in mount-table order.
    std::vector<DriveRefusal> refusals(const std::string& driveID) const override;

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
    mutable std::map<std::string, std::vector<DriveRefusal>> refused_;
};

}  // namespace keldwick
