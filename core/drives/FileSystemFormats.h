#pragma once
// Which file-system formats the drive may have, by the names VolumeInfo::fileSystem uses.
//
// "Native" formats keep a file's metadata as the file system itself stores it (symbolic
// links, permissions, extended attributes, exact names), so no sidecar files appear and
// projects and emulator devices may move there: ext2/3/4, btrfs, xfs and f2fs. exFAT is
// usable but not native. Everything else is refused, HFS+ and APFS included: Linux
// can't write APFS and writes HFS+ only with its journal turned off.

#include <string_view>

namespace keldwick::FileSystemFormats {

bool storesMetadataNatively(std::string_view fileSystem);
bool isUsable(std::string_view fileSystem);

}  // namespace keldwick::FileSystemFormats
