#pragma once
// Item status through statx(2): one call gives the basic fields, the birth time, the
// immutable/append attributes and whether the item is the root of a mount.

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <optional>

namespace keldwick::platform {

// The lock bits that FileStat::flags carries: the inode's immutable and append-only
// attributes, which only a privileged process may change. The values are the ones the
// journal records, so they never change.
constexpr uint32_t kSystemImmutable = 0x20000;
constexpr uint32_t kSystemAppend = 0x40000;
constexpr uint32_t kLockMask = kSystemImmutable | kSystemAppend;

// Status of `path` relative to `dirfd` (AT_FDCWD for the working folder), never
// following a final symbolic link. Returns 0, or the errno of the failure.
int statxNoFollow(int dirfd, const char* path, struct statx& out);

// Status of an open descriptor. Returns 0 or errno.
int statxOfDescriptor(int fd, struct statx& out);

// An item's status with the mount that holds it, as the kernel names it.
struct MountStatus {
    struct statx record {};
    // The mount id; nothing when the kernel gives none.
    std::optional<uint64_t> mountID;
    // The id is the kernel's unique one, never reused for a later mount.
    bool mountIDIsUnique = false;
    // Whether the item is the root of a mount; nothing when the kernel can't say.
    std::optional<bool> mountRoot;
};

// Status of `path` (`flags` 0 or AT_SYMLINK_NOFOLLOW) with the id of its mount, the
// unique id when `preferUnique` and the kernel has it. Returns 0, or the errno.
int statxWithMount(const char* path, int flags, bool preferUnique, MountStatus& out);

// The portable flag word for a status record (immutable -> 0x20000, append -> 0x40000).
uint32_t portableFlags(const struct statx& record);

// True when the item is the root of a mount (another file system starts here).
bool isMountRoot(const struct statx& record);

}  // namespace keldwick::platform
