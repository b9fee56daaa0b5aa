#pragma once
// Block devices by their kernel name ("sdb1", "nvme0n1p2", "loop3", "dm-0"): the name of the
// device behind a mount, and what is on it (file-system type, UUID, label).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/MountTable.h"
#include "platform/SystemRoots.h"

namespace keldwick::platform::BlockDevices {

// A kernel block name is one path component: not empty, no "/", not "." or "..".
bool isValidName(std::string_view name);

// The device's folder in sysfs with links resolved (<sys>/devices/.../sdb/sdb1); nothing for
// an unknown or invalid name.
std::optional<std::string> deviceFolder(const std::string& name, const SystemRoots& roots);

// The kernel name of device number major:minor; nothing when no block device has it
// (anonymous devices of tmpfs, FUSE without a block device, network file systems).
std::optional<std::string> nameForNumber(uint32_t major, uint32_t minor, const SystemRoots& roots);

// The kernel name behind a mount source such as "/dev/sdb1" or "/dev/mapper/vault"
// (followed through links); nothing when the source is not a known block device.
std::optional<std::string> nameForSource(const std::string& source, const SystemRoots& roots);

// The kernel name of the device a mount-table entry mounts: by its device number, else (btrfs
// and others show an anonymous number) by its source; nothing when it is on no block device.
std::optional<std::string> nameForMount(const MountEntry& entry, const SystemRoots& roots);

struct Identity {
    std::optional<std::string> type;  // as libblkid names it: "vfat", "exfat", "ntfs", "ext4"
    std::optional<std::string> uuid;
    std::optional<std::string> label;
    bool operator==(const Identity&) const = default;
};

// What the file system on the device says about itself. The udev database answers first
// (no device access); without it, libblkid probes the device node under roots.dev, which
// needs read access to it. Empty when neither can tell.
Identity identify(const std::string& name, const SystemRoots& roots);

// Decodes udev's "\x20"-style escapes.
std::string decodeUdevEscapes(std::string_view text);

}  // namespace keldwick::platform::BlockDevices
