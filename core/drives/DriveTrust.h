#pragma once
// Whether a volume that carries a drive marker may be taken for the user's drive.
//
// A marker's id is no secret, so another user of this computer could copy it onto a
// volume they control (a tmpfs, a FUSE mount, a stick of their own) and have this user's
// files moved there, or rename the user's Keldwick folder aside and put their own in its
// place. Only a disk file system on a block device counts, and only when its Keldwick
// folder and marker belong to the user or to root, nobody else may change them, and
// nobody else may rename or replace the folder (the folder above it is writable by
// nobody else, or has the sticky bit).
//
// "Somebody else" is any user but this one; the user's private group (the primary group
// named like the user) counts as the user. Where the file system keeps modes per file,
// the user's own Keldwick folder and marker that others could change are narrowed through
// the platform's call table when the drive is found, and then judged; a folder of another
// account is never changed. Where the owner and modes come from the mount, chmod changes
// nothing, so the volume is judged as it is mounted:
//
//   mount (as listed in /proc/self/mountinfo)          modes users meet              taken?
//   ext4, btrfs, XFS, f2fs                             kept per file                 yes; a loose folder of the user's is narrowed
//   kernel exFAT as udisks2 mounts it                  uid=user, fmask/dmask=0022    yes: only the user may write
//     (uid=,gid=,fmask=0022,dmask=0022)
//   kernel vfat as udisks2 mounts it (same masks)      uid=user, 0755 folders        yes (FAT32 is then refused as a format)
//   kernel ntfs3 (uid=, gid=, umask= as given)         from the masks                yes with umask=022; no with umask=000
//   any kernel mount from fstab with umask=000         0777 for everyone             no: every user can change it
//   exfat-fuse as udisks2 mounts it                    what the daemon reports;      yes when the daemon's umask keeps
//     (fuseblk, user_id=0,allow_other,                 the kernel checks them        others from writing (umask=022);
//      default_permissions)                                                          no with umask 0, which some
//                                                                                    versions use by default
//   ntfs-3g as udisks2 mounts it                       0777, and without umask= or   no: the kernel checks nothing;
//     (fuseblk, user_id=0,allow_other)                 permissions ntfs-3g leaves    yes with umask=022, which makes
//                                                      out default_permissions       it add default_permissions
//   any FUSE mount with allow_other but without        the kernel checks nothing     no: anyone may change anything
//     default_permissions
//   any FUSE mount without allow_other                 nobody else may enter it      yes, when its owner is the user
//
// The daemon's own uid=/umask= options never appear in the mount table, so for FUSE the
// modes it reports (what stat shows) decide. For kernel mounts the masks in the table
// are counted as well as what stat shows, whichever is looser.

#include <optional>
#include <string>

#include "drives/Drive.h"
#include "drives/DriveRefusal.h"
#include "platform/FileSystemKinds.h"
#include "platform/MountFacts.h"
#include "platform/MountTable.h"
#include "platform/SystemRoots.h"
#include "platform/Types.h"

namespace keldwick::DriveTrust {

// The user the drive must belong to.
struct User {
    uid_t uid = 0;
    // The user's private group (the primary group named like the user): its write bit
    // gives nobody else a way in, so drives prepared under umask 002 stay usable.
    std::optional<gid_t> privateGroup;
    // This computer's folder inside the Keldwick folder, judged with it: its name is no
    // secret, so anyone who held the drive could have left it open to others. None when empty.
    std::string computerFolder;

    // The user running this process, with this computer's folder name.
    static User current();
};

// Judges a folder Keldwick uses beneath the Keldwick folder (this computer's folder, or a
// folder of an item's original path mirrored below it), as `st` shows it, named by
// `relative` below the drive's root: it must be the user's (not root's nor another
// account's) and nobody else may write to it (the user's private group aside). With
// `narrowable`, a loose folder of the user's counts as trusted, since it is narrowed
// before use. Where the mount gives owners and modes, the mount's judgement stands for
// every folder: nothing. Never throws.
std::optional<DriveRefusal> judgeInnerFolder(const struct stat& st, const std::string& root, const std::string& relative,
                                             const User& user, const platform::MountModes& modes, bool narrowable);
// Takes from the user's own folder, open as `folderFd` (not O_PATH), the write bits that
// let others in, through the platform's call table. Nothing for a folder of another
// account or where the mount gives the modes; a failure leaves the judgement after to decide.
void narrowInnerFolder(int folderFd, const User& user, const platform::MountModes& modes);

// Why the volume mounted at `mountPath` can't be a drive at all: its mount type is not a
// disk file system ("tmpfs", "overlay", "fuse.sshfs", ...), or it is not mounted from a
// block device. Nothing when it may be one.
std::optional<DriveRefusal> volumeRefusal(const std::string& mountPath, const std::string& mountType,
                                          bool onBlockDevice);

// Why a disk volume of this kind takes no new moves: its format is one Keldwick can't
// use (HFS+, APFS, NTFS, ...), the chooser's refusal. Nothing for a usable format, for
// FAT32 (usable but for files over 4 GB, which each copy refuses), for an unknown kind,
// and for a FUSE mount whose real format only the volume tells.
std::optional<DriveRefusal> formatRefusal(const std::string& mountPath, const platform::FileSystemKind* kind);

struct Examined {
    std::optional<Drive> drive;           // the marker's identity, trusted or not
    std::optional<DriveRefusal> refusal;  // why it can't be trusted
};

// The one judgement of a listed volume, asked by the drive chooser (without an id) and
// by the locator (with the id it looks for) alike: volumeRefusal, then examine with the
// modes the entry's mount gives. Reads the volume only when it may be a disk.
Examined judgeMount(const platform::MountEntry& entry, bool onBlockDevice, const User& user,
                    const std::optional<std::string>& tightenFor);

// judgeMount for the volume whose mount point is `mountPath` in the mount table under
// `roots` (the last mount there); examine alone when the table doesn't list it.
Examined judgeMountedAt(const std::string& mountPath, const User& user, const std::optional<std::string>& tightenFor,
                        const platform::SystemRoots& roots = platform::SystemRoots::system());

// Reads the marker on the volume at `root` (as DriveMarker::read does) and judges its
// Keldwick folder, marker and the folder above as judgeOpenFolder does; `modes` are the
// mount's (read from this process's mount table when not given). Without a Keldwick
// folder the volume is judged as a new folder on it would be.
//
// When the marker holds `tightenFor`, the file system keeps modes and the folder is the
// user's and otherwise trusted, the folder is narrowed to 0711 (others can't list it but
// can still reach their own computer's folder) and the marker loses what others could
// use to change it; then both are judged as they are. Without it, a loose folder or
// marker of the user's is no refusal where narrowing will work (modes kept per file, the
// volume writable), since it is narrowed when the drive is found. Never throws.
Examined examine(const std::string& root, const User& user, const std::optional<std::string>& tightenFor);
Examined examine(const std::string& root, const User& user, const std::optional<std::string>& tightenFor,
                 const platform::MountModes& modes);

// Judges the drive's app folder, open as `folderFd` (O_DIRECTORY|O_NOFOLLOW), on the
// volume mounted at `root`, as it is now: its owner (the user or root), the modes others
// meet on it and on the marker inside it, and who may rename or replace it (the folder
// above, reached as "..", writable by others without the sticky bit, or owned by another
// account). Changes nothing; nothing when trusted. Never throws.
std::optional<DriveRefusal> judgeOpenFolder(const std::string& root, int folderFd, const User& user);
std::optional<DriveRefusal> judgeOpenFolder(const std::string& root, int folderFd, const User& user,
                                            const platform::MountModes& modes);

// The mount modes of the mount that holds `path`, from the mount table under `roots`
// (this process's); the per-file kind when it can't be told.
platform::MountModes modesAt(const std::string& path,
                             const platform::SystemRoots& roots = platform::SystemRoots::system());

}  // namespace keldwick::DriveTrust
