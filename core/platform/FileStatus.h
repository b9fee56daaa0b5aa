#pragma once
// Queries of items and volumes by name or by descriptor: what stat(2) and statvfs(2) tell,
// and the paths the process resolves. Each returns what the system call does (0, or -1
// with errno set) unless it says otherwise, so callers keep their own error handling.

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/vfs.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace keldwick::platform {

// fstat(2) of an open descriptor.
int statusOf(int fd, struct stat& into);
// stat(2): follows a final symbolic link.
int statusFollowing(const std::string& path, struct stat& into);
// lstat(2): the link itself where the final name is one.
int statusNoFollow(const std::string& path, struct stat& into);
// fstatat(2) of `name` beneath the folder open as `dirFd` (AT_FDCWD: the working folder);
// `flags` AT_SYMLINK_NOFOLLOW or 0.
int statusAt(int dirFd, const char* name, struct stat& into, int flags);

// statvfs(2) and fstatvfs(2): the volume's space and mount flags (ST_RDONLY...).
int volumeStatus(const std::string& path, struct statvfs& into);
int volumeStatusOf(int fd, struct statvfs& into);
// statfs(2): the volume's file-system type among its facts.
int fileSystemStatus(const std::string& path, struct statfs& into);

// Whether this process may reach `path` as `mode` asks (access(2)), judged with its real
// ids: the bits below, or 0 for being there at all.
constexpr int kMayRead = 4;
constexpr int kMayWrite = 2;
constexpr int kMayRun = 1;  // run a file, enter a folder
bool mayAccess(const std::string& path, int mode);
// The same for `name` beneath the folder open as `dirFd`, judged with the effective ids.
bool mayAccessAt(int dirFd, const char* name, int mode);

// The device number of a major and minor pair (as statx gives them).
dev_t deviceNumber(uint32_t major, uint32_t minor);

// The process's working folder; nothing when it can't be read (removed, too deep).
std::optional<std::string> workingFolder();
// `path` with every link and "."/".." resolved (realpath(3)); nothing where that fails.
std::optional<std::string> resolvedPath(const std::string& path);

// readlink(2) into `buffer`: the length read (the target is cut at `capacity`), or -1.
ssize_t readLink(const std::string& path, char* buffer, std::size_t capacity);

// The size of the volume holding `path` and the part of it this user may fill, in bytes,
// saturated at the largest int64_t. Nothing when statvfs(2) fails.
struct VolumeBytes {
    int64_t available = 0;
    int64_t total = 0;
};
std::optional<VolumeBytes> volumeBytes(const std::string& path);

}  // namespace keldwick::platform
