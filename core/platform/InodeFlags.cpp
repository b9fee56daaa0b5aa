#include "platform/InodeFlags.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/FileIO.h"
#include "platform/Statx.h"

namespace keldwick::platform {

namespace {

// The kernel reads and writes these flags as a 32-bit int, whatever the ioctl's declared
// argument type says; a long would put them in the wrong half on big-endian machines.
int inodeBits(uint32_t portable) {
    int bits = 0;
    if (portable & kSystemImmutable) bits |= FS_IMMUTABLE_FL;
    if (portable & kSystemAppend) bits |= FS_APPEND_FL;
    return bits;
}

bool isFileOrFolder(mode_t mode) { return S_ISREG(mode) || S_ISDIR(mode); }

}  // namespace

int changeLockBits(int dirfd, const char* path, uint32_t set, uint32_t clear) {
    // Check the type before opening: opening a device can have effects of its own.
    struct statx before;
    if (int error = statxNoFollow(dirfd, path, before)) return error;
    if (!isFileOrFolder(before.stx_mode)) return EINVAL;

    Fd fd = openReadAt(dirfd, path, O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (!fd) return errno;
    struct stat now;
    int flags = 0;
    if (fstat(fd.get(), &now) != 0) return errno;
    if (!isFileOrFolder(now.st_mode) || now.st_ino != before.stx_ino) return EINVAL;  // replaced between the two looks
    if (ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0) return errno;
    int updated = (flags | inodeBits(set)) & ~inodeBits(clear);
    if (updated != flags && ioctl(fd.get(), FS_IOC_SETFLAGS, &updated) != 0) return errno;
    return 0;
}

}  // namespace keldwick::platform
