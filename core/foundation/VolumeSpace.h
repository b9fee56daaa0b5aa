#pragma once
// Free and total space of the volume that holds a path, or would hold it: for a path that
// doesn't exist yet the nearest existing ancestor is asked.

#include <cstdint>
#include <optional>
#include <string>

namespace keldwick::VolumeSpace {

// Bytes available to this user (statvfs f_bavail × f_frsize). Nothing when the path is
// empty or relative, or when the volume can't be asked.
std::optional<int64_t> availableBytes(const std::string& path);

// The volume's size in bytes (f_blocks × f_frsize); nothing as above.
std::optional<int64_t> totalBytes(const std::string& path);

}  // namespace keldwick::VolumeSpace
