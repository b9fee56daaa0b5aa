#include "platform/FileStatus.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <limits>

namespace keldwick::platform {

int stat(const std::string& path, struct stat& out) { return ::stat(path.c_str(), &out); }
int lstat(const std::string& path, struct stat& out) { return ::lstat(path.c_str(), &out); }
int fstat(int fd, struct stat& out) { return ::fstat(fd, &out); }
int fstatAt(int dirFd, const char* name, struct stat& out, int flags) { return ::fstatat(dirFd, name, &out, flags); }

dev_t deviceNumber(uint32_t major, uint32_t minor) { return makedev(major, minor); }

ssize_t readLink(const std::string& path, char* buffer, std::size_t capacity) {
    return ::readlink(path.c_str(), buffer, capacity);
}

std::optional<std::string> resolvedPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return std::nullopt;
    std::string result(resolved);
    ::free(resolved);
    return result;
}

namespace {

int64_t bytes(uint64_t blocks, uint64_t blockSize) {
    constexpr auto max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (blockSize != 0 && blocks > max / blockSize) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(blocks * blockSize);
}

}  // namespace

std::optional<VolumeBytes> volumeBytes(const std::string& path) {
    struct statvfs volume {};
    if (::statvfs(path.c_str(), &volume) != 0) return std::nullopt;
    return VolumeBytes{bytes(volume.f_bavail, volume.f_frsize), bytes(volume.f_blocks, volume.f_frsize)};
}

}  // namespace keldwick::platform
