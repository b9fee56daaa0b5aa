#pragma once
// Item status through statx(2): one call gives the basic fields, the birth time, the
// immutable/append attributes and whether the item is the root of a mount.

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <optional>

namespace keldwick::platform {

// The portable lock bits that FileStat::flags carries. Linux has only one immutable and
// one append-only attribute, and only a privileged process may change them, so they map
// to the system bits; the user bits (0x2, 0x4) are never reported on Linux.
constexpr uint32_t kUserImmutable = 0x2;
constexpr uint32_t kUserAppend = 0x4;
constexpr uint32_t kSystemImmutable = 0x20000;
constexpr uint32_t kSystemAppend = 0x40000;
constexpr uint32_t kLockMask = kUserImmutable | kUserAppend | kSystemImmutable | kSystemAppend;
// Data not on the disk (a cloud placeholder). Linux has no such items: never set.
constexpr uint32_t kDataless = 0x40000000;

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
