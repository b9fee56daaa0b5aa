#pragma once
// A mounted volume that carries the chosen drive's marker but is not taken for the drive,
// and why. The panel names each one, so the user learns that something claims to be
// their drive.

#include <string>

namespace keldwick {

struct DriveRefusal {
    enum class Kind {
        notADisk,         // not a disk file system on a block device (tmpfs, overlay, FUSE, ...)
        anotherOwner,     // its Keldwick folder or marker belongs to another user
        othersCanChange,  // other users may change its Keldwick folder or marker
        duplicate,        // another acceptable volume carries the same marker
    };

    std::string mountPath;
    Kind kind = Kind::notADisk;
    // notADisk: the mount's type; anotherOwner, othersCanChange: "Keldwick folder" or
    // "drive marker"; duplicate: the other volume's mount path.
    std::string detail;

    // A clause that follows "but": "it isn't a disk drive (tmpfs)", "its Keldwick folder
    // belongs to another user", "other users can change its drive marker", "another
    // volume, at /media/ann/Copy, holds the same marker".
    std::string explanation() const;

    bool operator==(const DriveRefusal&) const = default;
};

}  // namespace keldwick
