#include "platform/Statx.h"

#include <cerrno>

namespace keldwick::platform {

namespace {
constexpr unsigned kWanted = STATX_BASIC_STATS | STATX_BTIME;
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
