#include "platform/NameMatching.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdint>

#include "platform/FileIO.h"
#include "platform/FileSystemKinds.h"

namespace keldwick::platform {

namespace {

// The first version of XFS's geometry record (xfs/xfs_fs.h), enough to read its flags.
struct XfsGeometryV1 {
    uint32_t blocksize, rtextsize, agblocks, agcount, logblocks, sectsize, inodesize, imaxpct;
    uint64_t datablocks, rtblocks, rtextents, logstart;
    unsigned char uuid[16];
    uint32_t sunit, swidth;
    int32_t version;
    uint32_t flags, logsectsize, rtsectsize, dirblocksize;
};
static_assert(sizeof(XfsGeometryV1) == 112);
constexpr unsigned long kXfsGeometryV1 = _IOR('X', 100, XfsGeometryV1);
constexpr uint32_t kXfsAsciiCaseInsensitive = 0x1000;

// XFS can be made case-insensitive (for ASCII names) as a whole when it is formatted.
NameMatching xfsNameMatching(const char* path) {
    const Fd fd = openDirectory(AT_FDCWD, path);
    if (!fd) return NameMatching::unknown;
    XfsGeometryV1 geometry{};
    const bool read = ioctl(fd.get(), kXfsGeometryV1, &geometry) == 0;
    if (!read || (geometry.flags & kXfsAsciiCaseInsensitive) != 0) return NameMatching::unknown;
    return NameMatching::exact;
}

}  // namespace

NameMatching volumeNameMatching(const char* path) {
    struct statfs fs;
    if (statfs(path, &fs) != 0) return NameMatching::unknown;
    const FileSystemKind* kind = FileSystemKinds::withMagic(static_cast<uint32_t>(fs.f_type));
    switch (kind ? kind->names : NamesMatch::unknown) {
        case NamesMatch::exact: return NameMatching::exact;
        case NamesMatch::perFolder: return NameMatching::perFolder;
        case NamesMatch::byFormat: return xfsNameMatching(path);
        case NamesMatch::unknown: return NameMatching::unknown;
    }
    return NameMatching::unknown;
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
