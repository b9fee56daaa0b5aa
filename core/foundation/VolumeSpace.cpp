#include "foundation/VolumeSpace.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <limits>

#include "foundation/PathUtil.h"

namespace keldwick::VolumeSpace {

namespace {

std::optional<struct statvfs> volumeOf(const std::string& path) {
    // The walk up ends at "/" only for absolute paths.
    if (path.empty() || path.front() != '/') return std::nullopt;
    std::string current = path;
    struct stat st {};
    while (current != "/" && ::stat(current.c_str(), &st) != 0) {
        std::string up = PathUtil::parent(current);
        current = up.size() < current.size() ? std::move(up) : "/";
    }
    struct statvfs volume {};
    if (::statvfs(current.c_str(), &volume) != 0) return std::nullopt;
    return volume;
}

int64_t bytes(uint64_t blocks, uint64_t blockSize) {
    constexpr auto max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (blockSize != 0 && blocks > max / blockSize) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(blocks * blockSize);
}

}  // namespace

std::optional<int64_t> availableBytes(const std::string& path) {
    auto volume = volumeOf(path);
    if (!volume) return std::nullopt;
    return bytes(volume->f_bavail, volume->f_frsize);
}

std::optional<int64_t> totalBytes(const std::string& path) {
    auto volume = volumeOf(path);
    if (!volume) return std::nullopt;
    return bytes(volume->f_blocks, volume->f_frsize);
}

}  // namespace keldwick::VolumeSpace
