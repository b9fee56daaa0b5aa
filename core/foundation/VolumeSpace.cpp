#include "foundation/VolumeSpace.h"

#include "foundation/PathUtil.h"
#include "platform/FileStatus.h"

namespace keldwick::VolumeSpace {

namespace {

std::optional<platform::VolumeBytes> volumeOf(const std::string& path) {
    // The walk up ends at "/" only for absolute paths.
    if (path.empty() || path.front() != '/') return std::nullopt;
    std::string current = path;
    struct stat st {};
    while (current != "/" && platform::statusFollowing(current, st) != 0) {
        std::string up = PathUtil::parent(current);
        current = up.size() < current.size() ? std::move(up) : "/";
    }
    return platform::volumeBytes(current);
}

}  // namespace

std::optional<int64_t> availableBytes(const std::string& path) {
    auto volume = volumeOf(path);
    if (!volume) return std::nullopt;
    return volume->available;
}

std::optional<int64_t> totalBytes(const std::string& path) {
    auto volume = volumeOf(path);
    if (!volume) return std::nullopt;
    return volume->total;
}

}  // namespace keldwick::VolumeSpace
