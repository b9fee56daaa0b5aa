#pragma once
// Whether a volume that carries a drive marker may be taken for the user's drive.
//
// A marker's id is no secret, so another user of this computer could copy it onto a
// volume they control (a tmpfs, a FUSE mount, a stick of their own) and have this user's
// files moved there. Only a disk file system on a block device counts, and only when its
// Keldwick folder and marker belong to the user or to root and nobody else may change
// them. On FAT, exFAT and NTFS the owner and modes shown are those the volume was mounted
// with, so there the same test asks whom the volume is mounted for.

#include <sys/types.h>

#include <optional>
#include <string>

#include "drives/Drive.h"
#include "drives/DriveRefusal.h"

namespace keldwick::DriveTrust {

// The user the drive must belong to.
struct User {
    uid_t uid = 0;
    // The user's private group (the primary group named like the user): its write bit
    // gives nobody else a way in, so drives prepared under umask 002 stay usable.
    std::optional<gid_t> privateGroup;

    static User current();
};

// Why the volume mounted at `mountPath` can't be a drive at all: its mount type is not a
// disk file system ("tmpfs", "overlay", "fuse.sshfs", ...), or it is not mounted from a
// block device. Nothing when it may be one.
std::optional<DriveRefusal> volumeRefusal(const std::string& mountPath, const std::string& mountType,
                                          bool onBlockDevice);

struct Examined {
    std::optional<Drive> drive;           // the marker's identity, trusted or not
    std::optional<DriveRefusal> refusal;  // why it can't be trusted
};

// Reads the marker on the volume at `root` (as DriveMarker::read does) and judges its
// Keldwick folder and marker file by owner and mode. When the marker holds `tightenFor`,
// the user's own folder and marker that others could change are narrowed (no group write
// unless the group is the user's private group, no write for others) and judged after;
// without it, such looseness is no refusal, since it would be narrowed on use. Never throws.
Examined examine(const std::string& root, const User& user, const std::optional<std::string>& tightenFor);

// Judges the drive's Keldwick folder already open as `folderFd` (opened without following
// links) on the volume mounted at `root`, as the locator judges it: its owner, the modes
// through which others could change it, and who could rename or replace it (the folder
// above it writable by others without the sticky bit). Changes nothing.
std::optional<DriveRefusal> judgeOpenFolder(const std::string& root, int folderFd, const User& user);

}  // namespace keldwick::DriveTrust
