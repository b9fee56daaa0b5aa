#pragma once
// The immutable and append-only inode attributes through FS_IOC_GETFLAGS/SETFLAGS.
// Only those two bits are ever changed: the rest of the word (extents, compression,
// no-CoW and so on) belongs to the file system and is written back unchanged.

#include <cstdint>

namespace keldwick::platform {

// Sets the portable lock bits in `set` and clears those in `clear` on the item at
// `path` (relative to `dirfd`). The immutable bit (0x20000) maps to FS_IMMUTABLE_FL and
// the append bit (0x40000) to FS_APPEND_FL; other bits are ignored. Only regular
// files and folders are opened (no-follow, non-blocking); links, devices and FIFOs give
// EINVAL. Needs CAP_LINUX_IMMUTABLE. Returns 0 or errno.
int changeLockBits(int dirfd, const char* path, uint32_t set, uint32_t clear);

}  // namespace keldwick::platform
