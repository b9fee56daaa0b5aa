#pragma once
// Which file-system formats the drive may have, by the names VolumeInfo::fileSystem uses.
//
// "Native" formats keep a file's metadata as the file system itself stores it (symbolic
// links, permissions, extended attributes, exact names), so no sidecar files appear and
// projects and emulator devices may move there: APFS and HFS+, and on Linux ext2/3/4, btrfs,
// xfs and f2fs. exFAT is usable but not native. Everything else is refused.

#include <string_view>

namespace keldwick::FileSystemFormats {

bool storesMetadataNatively(std::string_view fileSystem);
bool isUsable(std::string_view fileSystem);

}  // namespace keldwick::FileSystemFormats
