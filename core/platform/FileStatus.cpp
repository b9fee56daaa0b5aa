#include "platform/FileStatus.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <limits>

namespace keldwick::platform {

int statusOf(int fd, struct stat& into) { return ::fstat(fd, &into); }
int statusFollowing(const std::string& path, struct stat& into) { return ::stat(path.c_str(), &into); }
int statusNoFollow(const std::string& path, struct stat& into) { return ::lstat(path.c_str(), &into); }
int statusAt(int dirFd, const char* name, struct stat& into, int flags) { return ::fstatat(dirFd, name, &into, flags); }

int volumeStatus(const std::string& path, struct statvfs& into) { return ::statvfs(path.c_str(), &into); }
int volumeStatusOf(int fd, struct statvfs& into) { return ::fstatvfs(fd, &into); }
int fileSystemStatus(const std::string& path, struct statfs& into) { return ::statfs(path.c_str(), &into); }

static_assert(kMayRead == R_OK && kMayWrite == W_OK && kMayRun == X_OK);
bool mayAccess(const std::string& path, int mode) { return ::access(path.c_str(), mode) == 0; }
bool mayAccessAt(int dirFd, const char* name, int mode) { return ::faccessat(dirFd, name, mode, AT_EACCESS) == 0; }

dev_t deviceNumber(uint32_t major, uint32_t minor) { return makedev(major, minor); }

std::optional<std::string> workingFolder() {
    char* cwd = ::getcwd(nullptr, 0);
    if (cwd == nullptr) return std::nullopt;
    std::string folder(cwd);
    std::free(cwd);
    return folder;
}

std::optional<std::string> resolvedPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return std::nullopt;
    std::string resolved(real);
    std::free(real);
    return resolved;
}

ssize_t readLink(const std::string& path, char* buffer, std::size_t capacity) {
    return ::readlink(path.c_str(), buffer, capacity);
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
