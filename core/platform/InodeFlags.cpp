#include "platform/InodeFlags.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Statx.h"

namespace keldwick::platform {

namespace {

// The kernel reads and writes these flags as a 32-bit int, whatever the ioctl's declared
// argument type says; a long would put them in the wrong half on big-endian machines.
int inodeBits(uint32_t portable) {
    int bits = 0;
    if (portable & (kUserImmutable | kSystemImmutable)) bits |= FS_IMMUTABLE_FL;
    if (portable & (kUserAppend | kSystemAppend)) bits |= FS_APPEND_FL;
    return bits;
}

bool isFileOrFolder(mode_t mode) { return S_ISREG(mode) || S_ISDIR(mode); }

}  // namespace

int changeLockBits(int dirfd, const char* path, uint32_t set, uint32_t clear) {
    // Check the type before opening: opening a device can have effects of its own.
    struct statx before;
    if (int error = statxNoFollow(dirfd, path, before)) return error;
    if (!isFileOrFolder(before.stx_mode)) return EINVAL;

    int fd = openat(dirfd, path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno;
    int result = 0;
    struct stat now;
    int flags = 0;
    if (fstat(fd, &now) != 0) {
        result = errno;
    } else if (!isFileOrFolder(now.st_mode) || now.st_ino != before.stx_ino) {
        result = EINVAL;  // replaced between the two looks
    } else if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
        result = errno;
    } else {
        int updated = (flags | inodeBits(set)) & ~inodeBits(clear);
        if (updated != flags && ioctl(fd, FS_IOC_SETFLAGS, &updated) != 0) result = errno;
    }
    close(fd);
    return result;
}

}  // namespace keldwick::platform
