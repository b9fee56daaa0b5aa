#include "drives/FileSystemFormats.h"

#include <array>
#include <algorithm>

namespace keldwick::FileSystemFormats {

bool storesMetadataNatively(std::string_view fileSystem) {
    static constexpr std::array<std::string_view, 6> native = {"ext2", "ext3", "ext4", "btrfs", "xfs", "f2fs"};
    return std::find(native.begin(), native.end(), fileSystem) != native.end();
}

bool isUsable(std::string_view fileSystem) { return fileSystem == "exfat" || storesMetadataNatively(fileSystem); }

}  // namespace keldwick::FileSystemFormats
