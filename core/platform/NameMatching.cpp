#include "platform/NameMatching.h"

#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>

namespace keldwick::platform {

namespace {

constexpr long kBcachefsMagic = 0xca451a4e;

}  // namespace

NameMatching volumeNameMatching(const char* path) {
    struct statfs fs;
    if (statfs(path, &fs) != 0) return NameMatching::unknown;
    switch (static_cast<long>(fs.f_type)) {
        case BTRFS_SUPER_MAGIC:
        case XFS_SUPER_MAGIC:
            return NameMatching::exact;
        case EXT4_SUPER_MAGIC:  // also ext2 and ext3
        case F2FS_SUPER_MAGIC:
        case TMPFS_MAGIC:
        case OVERLAYFS_SUPER_MAGIC:
        case kBcachefsMagic:
            return NameMatching::perFolder;
        default:
            return NameMatching::unknown;
    }
}

bool folderMatchesNamesExactly(int fd, NameMatching volume) {
    switch (volume) {
        case NameMatching::exact:
            return true;
        case NameMatching::perFolder: {
            int flags = 0;
            return fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) == 0;
        }
        case NameMatching::unknown:
            return false;
    }
    return false;
}

}  // namespace keldwick::platform
