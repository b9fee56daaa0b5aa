#pragma once
// A mounted volume that carries the chosen drive's marker but is not taken for the drive,
// and why. The panel names each one, so the user learns that something claims to be
// their drive, and what would make it usable.

#include <string>

namespace keldwick {

struct DriveRefusal {
    enum class Kind {
        notADisk,            // not a disk file system on a block device (tmpfs, overlay, FUSE, ...)
        anotherOwner,        // its Keldwick folder, marker or top folder belongs to another account
        othersCanChange,     // other users may change its Keldwick folder or marker
        duplicate,           // another acceptable volume carries the same marker
        modesFromMount,      // the mount gives every user write access (FAT, exFAT, NTFS)
        noPermissionChecks,  // a FUSE mount open to all users whose permissions the kernel doesn't check
        othersCanReplace,    // other users may write to the folder above its Keldwick folder
        innerFolderForeign,  // a folder Keldwick uses inside its Keldwick folder belongs to another account
        innerFolderOpen,     // other users may write to a folder Keldwick uses inside its Keldwick folder
        formatNotUsable,     // a disk format Keldwick won't move files to (HFS+, APFS, ...): its items still come back
    };

    std::string mountPath;
    Kind kind = Kind::notADisk;
    // notADisk, noPermissionChecks: the mount's type; anotherOwner: "Keldwick folder",
    // "drive marker" or "top folder"; othersCanChange, modesFromMount: "Keldwick folder"
    // or "drive marker"; othersCanReplace: "Keldwick folder"; duplicate: the other
    // volume's mount path; innerFolderForeign, innerFolderOpen: the folder's path below
    // the Keldwick folder ("Keldwick/Studio (1A2B3C4D)/home"); formatNotUsable: the format
    // as the drive checks name it ("hfs", "apfs").
    std::string detail;

    // Two sentences: what is wrong with the volume, then what the user can do about it,
    // e.g. "Its Keldwick folder belongs to another account on this computer. If the drive
    // is yours, ..."
    std::string explanation() const;

    bool operator==(const DriveRefusal&) const = default;
};

}  // namespace keldwick
