#pragma once
// Which file-system formats the drive may have, by the names VolumeInfo::fileSystem uses,
// as the file-system table (platform/FileSystemKinds.h) says.
//
// "Native" formats keep a file's metadata as Linux stores it (symbolic links, permissions,
// extended attributes, exact names), so no sidecar files appear and projects and emulator
// devices may move there: ext2/3/4, btrfs, xfs, f2fs and bcachefs. exFAT is usable but
// not native. Everything else is refused, HFS+ and APFS included: Linux can't write APFS
// and writes HFS+ only with its journal turned off.

#include <string>
#include <string_view>

#include "platform/FileSystemKinds.h"

namespace keldwick::FileSystemFormats {

bool storesMetadataNatively(std::string_view fileSystem);
bool isUsable(std::string_view fileSystem);

// What a refused drive of the format is told (RefusalAdvice::format for an unknown one).
platform::RefusalAdvice refusalAdvice(std::string_view fileSystem);
// FAT: refused because its files can't pass 4 GB.
bool cantHoldBigFiles(std::string_view fileSystem);

// The formats suggested when a drive's is refused, as a user reads them: "ext4, btrfs, XFS or exFAT".
std::string suggestedFormats();

}  // namespace keldwick::FileSystemFormats
