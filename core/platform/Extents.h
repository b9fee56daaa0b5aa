#pragma once
// Private size: the bytes of a file that no other file shares (reflinked copies share
// extents on btrfs and xfs, and Debian's cp makes such copies by default there).

#include <cstdint>
#include <optional>

namespace keldwick::platform {

// Sum of the file's extents not marked shared, read with FS_IOC_FIEMAP. Nothing when the
// item is not a regular file, when its file system can't share extents (there the
// allocated size is already private), when the map can't be read, or when the file has
// so many extents that mapping it would cost more than the answer is worth.
std::optional<int64_t> privateSize(const char* path);

// Whether the volume holding `path` can share extents between files. Where it can't,
// privateSize always gives nothing, so a walk asks this once per volume and spares
// every file the open that privateSize costs. False when the volume can't be read.
bool volumeSharesExtents(const char* path);

}  // namespace keldwick::platform
