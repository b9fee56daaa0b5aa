#pragma once
// Queries about items by path or descriptor: their status, a link's target, where a path
// leads and the space of the volume that holds it. Nothing here changes anything. Each
// call named after a system call behaves as it does: 0 on success, else -1 with errno set.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Types.h"

namespace keldwick::platform {

// stat(2) (a final link followed), lstat(2) (not followed), fstat(2) and fstatat(2).
int stat(const std::string& path, struct stat& out);
int lstat(const std::string& path, struct stat& out);
int fstat(int fd, struct stat& out);
int fstatAt(int dirFd, const char* name, struct stat& out, int flags);

// The device number of a major and minor pair, as stat(2) gives it.
dev_t deviceNumber(uint32_t major, uint32_t minor);

// readlink(2) into `buffer`: the length read (the target is cut at `capacity`), or -1.
ssize_t readLink(const std::string& path, char* buffer, std::size_t capacity);

// The path with every link, "." and ".." resolved (realpath(3)); nothing when some part
// is missing or can't be reached.
std::optional<std::string> resolvedPath(const std::string& path);

// The size of the volume holding `path` and the part of it this user may fill, in bytes,
// saturated at the largest int64_t. Nothing when statvfs(2) fails.
struct VolumeBytes {
    int64_t available = 0;
    int64_t total = 0;
};
std::optional<VolumeBytes> volumeBytes(const std::string& path);

}  // namespace keldwick::platform
