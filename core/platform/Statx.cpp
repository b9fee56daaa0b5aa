#include "platform/Statx.h"

#include <cerrno>

// glibc 2.36 headers predate this; the kernel has had it since 6.8.
#ifndef STATX_MNT_ID_UNIQUE
#define STATX_MNT_ID_UNIQUE 0x00004000U
#endif

namespace keldwick::platform {

namespace {
constexpr unsigned kWanted = STATX_BASIC_STATS | STATX_BTIME;
}

int statxWithMount(const char* path, int flags, bool preferUnique, MountStatus& out) {
    out = {};
    const unsigned wanted = STATX_BASIC_STATS | STATX_MNT_ID | (preferUnique ? STATX_MNT_ID_UNIQUE : 0U);
    if (statx(AT_FDCWD, path, flags, wanted, &out.record) != 0) return errno;
    const struct statx& record = out.record;
    if (preferUnique && (record.stx_mask & STATX_MNT_ID_UNIQUE)) {
        out.mountID = record.stx_mnt_id;
        out.mountIDIsUnique = true;
    } else if (record.stx_mask & STATX_MNT_ID) {
        out.mountID = record.stx_mnt_id;
    }
    if (record.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) out.mountRoot = isMountRoot(record);
    return 0;
}

int statxNoFollow(int dirfd, const char* path, struct statx& out) {
    out = {};
    if (statx(dirfd, path, AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, kWanted, &out) == 0) return 0;
    return errno;
}

int statxOfDescriptor(int fd, struct statx& out) {
    out = {};
    if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, kWanted, &out) == 0) return 0;
    return errno;
}

uint32_t portableFlags(const struct statx& record) {
    uint32_t flags = 0;
    if (record.stx_attributes & STATX_ATTR_IMMUTABLE) flags |= kSystemImmutable;
    if (record.stx_attributes & STATX_ATTR_APPEND) flags |= kSystemAppend;
    return flags;
}

bool isMountRoot(const struct statx& record) {
    return (record.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (record.stx_attributes & STATX_ATTR_MOUNT_ROOT);
}

}  // namespace keldwick::platform
