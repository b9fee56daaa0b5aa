#pragma once
// Facts of a mounted volume, the lists of volumes worth offering as the drive, and whether
// a volume keeps file metadata natively.
//
// On Linux the facts come from the mount table (/proc/self/mountinfo: mount point, type,
// source, options, device number), sysfs (device name and location), the udev database or
// libblkid (label, UUID, and the real format under FUSE) and statvfs (capacities).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/MountTable.h"
#include "platform/SystemRoots.h"

namespace keldwick {

struct VolumeInfo {
    std::string mountPath;                  // the mount point of the volume holding the path
    std::string name;                       // the volume's label, else the mount point's last component
    std::optional<std::string> volumeUUID;  // the file system's UUID, when it has one
    std::string fileSystem;                 // "ext4", "exfat", "msdos", "ntfs", "hfs", "tmpfs", ...
    std::optional<std::string> kernelName;     // kernel block device name ("sdb1"), when on a block device
    bool isInternal = false;
    bool isLocal = false;
    bool isReadOnly = false;
    bool isRootFileSystem = false;
    int64_t totalBytes = 0;
    int64_t availableBytes = 0;  // available to unprivileged users

    // Facts of the volume that holds `path` (any path inside it); nothing when the path
    // can't be examined (statvfs fails) or no mount holds it.
    static std::optional<VolumeInfo> read(const std::string& path,
                                          const platform::SystemRoots& roots = platform::SystemRoots::system());

    // The volumes to offer the user, in mount-table order: every shown volume except the
    // startup volume and those that can't be a drive at all (not a disk file system on a
    // block device: tmpfs, overlay and other virtual file systems), which the locator
    // would refuse. Internal, read-only and disk-image volumes stay: the picker shows them
    // with their problems. So do network volumes, read from the mount table alone (no
    // statvfs, no device: sizes 0), since a server that stopped answering would hang
    // any call on them.
    static std::vector<VolumeInfo> externalCandidates(const platform::SystemRoots& roots = platform::SystemRoots::system());

    // The volumes the drive locator searches: local, shown, not the startup volume.
    static std::vector<VolumeInfo> localExternalCandidates(const platform::SystemRoots& roots = platform::SystemRoots::system());
    // Just their mount points, read from the mount table alone (no device or volume access).
    static std::vector<std::string> localExternalMountPaths(const platform::SystemRoots& roots = platform::SystemRoots::system());
    // Their mount-table entries.
    static std::vector<platform::MountEntry> localExternalMounts(const platform::SystemRoots& roots = platform::SystemRoots::system());
    // The same from a table already read.
    static std::vector<platform::MountEntry> localExternalMountsIn(const std::vector<platform::MountEntry>& table);

    // Whether the volume holding `path` keeps file metadata natively (see FileSystemFormats);
    // true when it can't tell. Answered from what was found for the same mount while the
    // mount table reads the same.
    static bool storesMetadataNatively(const std::string& path, const platform::SystemRoots& roots = platform::SystemRoots::system());

    bool operator==(const VolumeInfo&) const = default;
};

// JSON with the field names as keys; volumeUUID and kernelName only when present.
void to_json(nlohmann::json& json, const VolumeInfo& volume);
void from_json(const nlohmann::json& json, VolumeInfo& volume);

}  // namespace keldwick
