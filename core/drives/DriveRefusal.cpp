#include "drives/DriveRefusal.h"

namespace keldwick {

std::string DriveRefusal::explanation() const {
    switch (kind) {
        case Kind::notADisk:
            return "It isn't a disk drive (" + detail + "). Keldwick uses only a drive plugged into this computer.";
        case Kind::anotherOwner:
            return "Its " + detail + " belongs to another account on this computer. If the drive is yours, make your "
                   "account its owner, for example with " +
                   (detail == "top folder" ? "\u201csudo chown $USER\u201d on the drive's top folder."
                                           : "\u201csudo chown -R $USER\u201d on its Keldwick folder.");
        case Kind::othersCanChange:
            return "Other users of this computer can change its " + detail +
                   ". Make it writable only by you, for example with \u201cchmod go-w\u201d on it.";
        case Kind::modesFromMount:
            return "Every user of this computer can change it: mount it with \u201cumask=022\u201d, or format it as ext4.";
        case Kind::noPermissionChecks:
            return "Every user of this computer can change it, because it is mounted without permission checks: "
                   "mount it with \u201cdefault_permissions\u201d, or format it as ext4.";
        case Kind::othersCanReplace:
            return "Other users of this computer can rename its " + detail +
                   " and put another in its place. Make the drive's top folder writable only by you, for example "
                   "with \u201csudo chmod 755\u201d on it.";
        case Kind::innerFolderForeign:
            return "A folder inside Keldwick on this drive belongs to another account: \u201c" + detail +
                   "\u201d. If the drive is yours, make your account its owner (for example with \u201csudo chown -R "
                   "$USER\u201d on it), or move it out of the Keldwick folder.";
        case Kind::innerFolderOpen:
            return "Other users of this computer can change a folder inside Keldwick on this drive: \u201c" + detail +
                   "\u201d. Make it writable only by you, for example with \u201cchmod go-w\u201d on it.";
        case Kind::duplicate:
            return "Another volume, at " + detail + ", holds the same marker. Unplug the one that isn't your drive.";
    }
    return {};
}

}  // namespace keldwick
