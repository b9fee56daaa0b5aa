#pragma once
// What a mount-table entry says about the volume: its file-system name in the vocabulary
// the drive checks use, whether it is local, whether it is the startup volume, and whether
// the file manager would show it at all.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/MountTable.h"
#include "platform/SystemRoots.h"

namespace keldwick::platform {

// Where the owner and permission bits that users meet on a volume come from.
struct MountModes {
    enum class Source {
        files,        // each file keeps its own (ext4, btrfs, XFS, ...): chmod changes them
        kernelMount,  // a kernel driver makes them up from the mount's options (vfat, exfat, ntfs3)
        fuse,         // a FUSE daemon reports them; the kernel checks them only with default_permissions
    };
    Source source = Source::files;
    // kernelMount: the masks cleared from 0777 for files and folders (umask= sets both,
    // fmask=/dmask= each), when the table shows them.
    std::optional<mode_t> fileMask;
    std::optional<mode_t> folderMask;
    // fuse: allow_other lets users other than the one who mounted it in at all;
    // default_permissions makes the kernel check the modes the daemon reports.
    bool allowOther = false;
    bool defaultPermissions = false;

    // Whether users other than the one it is mounted for can reach files on it at all.
    bool othersCanReach() const { return source != Source::fuse || allowOther; }
    // Whether the kernel checks no permission bits at all, so anyone who can reach a file may change it.
    bool checksNothing() const { return source == Source::fuse && allowOther && !defaultPermissions; }

    bool operator==(const MountModes&) const = default;
};

namespace MountFacts {

// The file-system name the drive checks use: "msdos" for FAT (vfat, msdos, fusefat),
// "exfat", "ntfs" (ntfs, ntfs3, ntfs-3g), "hfs" for HFS+ ("hfs-standard" for the old HFS),
// "apfs"; every other type keeps its Linux name ("ext4", "btrfs", "tmpfs", "nfs4", ...).
// FUSE mounts of a block device ("fuseblk", plain "fuse") don't name their format: the
// probed type of the device (libblkid's name) decides, else the mount type stays.
std::string fileSystemName(const std::string& mountType, const std::optional<std::string>& probedType);

// True when the mount type hides the real format behind FUSE.
bool needsProbe(const std::string& mountType);

// The format a FUSE mount of a block device is served as, told by its daemon: a process
// (under roots.proc) started as exfat-fuse or ntfs-3g (by any of their program names) with
// the mount's source device among its arguments gives "exfat" or "ntfs". For a user who
// can't read the device and has no udev record of it, the one way to know. Nothing for
// other mounts, or when no such process can be seen.
std::optional<std::string> fuseDaemonType(const MountEntry& entry, const SystemRoots& roots);

// Network and remote file systems (NFS, SMB, sshfs, ...). FUSE mounts of local devices are local.
bool isNetwork(const std::string& mountType);

// The startup volume: the entry at "/", or another mount of the same file system (a bind
// mount of "/" or a subvolume of it), which would free nothing on the startup disk.
bool isRootFileSystem(const MountEntry& entry, const std::vector<MountEntry>& table);

// Mounts the file manager doesn't show: kernel and pseudo file systems, the system's own
// mount points (/proc, /sys, /dev, /run except /run/media, /boot, /efi, snaps, container
// storage), and mounts of a folder inside a file system rather than the whole of it.
bool isHidden(const MountEntry& entry);

// How the entry's owner and modes are made, from its type and super-block options.
// Malformed masks are left out (the modes the volume shows then decide).
MountModes modesOf(const MountEntry& entry);

// Mounts that cover earlier ones at the same mount point leave only the last visible:
// the table in order, without entries covered by a later mount at the same point.
std::vector<MountEntry> visibleEntries(const std::vector<MountEntry>& table);

}  // namespace MountFacts

}  // namespace keldwick::platform
