#pragma once
// Every file-system kind the program knows, in one table: how the mount table and statfs
// name it, and what it can do. Every list of file systems (which are disks, which may
// hold a drive, whose fsync can be trusted, ...) is derived from it.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace keldwick::platform {

// How lookups on the kind compare names.
enum class NamesMatch {
    unknown,    // not known to compare byte for byte (FAT, network and FUSE file systems, ...)
    exact,      // every folder compares byte for byte
    perFolder,  // byte for byte unless a folder is marked case-insensitive (casefold)
    byFormat,   // decided when the volume was formatted (XFS's ASCII case-insensitive option)
};

// What a drive formatted as the kind is told when it is refused.
enum class RefusalAdvice {
    format,   // the format is named, and the usable ones suggested
    fat32,    // its files can't pass 4 GB
    windows,  // this computer can't save files to it
    hfsPlus,  // Linux writes it only with its journal turned off
    apfs,     // this computer can't save files to it
};

struct FileSystemKind {
    // The name the drive checks use (VolumeInfo::fileSystem): "msdos", "ntfs", "hfs", "ext4", ...
    std::string_view name = {};
    // Mount types (/proc/self/mountinfo) the kernel mounts it as, space-separated.
    std::string_view kernelNames = {};
    // Names it has when a FUSE daemon serves it ("fuse.X" mount types, the daemon's own name).
    std::string_view fuseNames = {};
    // statfs f_type (0 = none to recognise it by).
    uint32_t magic = 0;
    uint32_t otherMagic = 0;        // a second driver's magic (ntfs3 beside ntfs)
    bool disk = false;              // kept on a block device
    bool network = false;           // served by another computer
    bool hidden = false;            // the file manager doesn't list its mounts (kernel and pseudo file systems)
    bool native = false;            // keeps Linux modes, links and attributes: may hold projects and emulator devices
    bool usable = false;            // may hold a Keldwick drive
    bool fsyncTrusted = true;       // fsync makes durable all it covers (not where the driver may flush less)
    bool sharesExtents = false;     // files may share extents (reflinks)
    bool storesMetadata = true;     // each file keeps its own owner and modes (not made up by the mount)
    NamesMatch names = NamesMatch::unknown;
    RefusalAdvice advice = RefusalAdvice::format;
    std::string_view title = {};       // as a user reads it, where it is suggested for a drive
    bool suggested = false;         // named when another format is refused

    bool hasMountName(std::string_view mountType) const;
    bool hasKernelName(std::string_view mountType) const;
    bool hasMagic(uint32_t fType) const { return fType != 0 && (fType == magic || fType == otherMagic); }
};

namespace FileSystemKinds {

std::span<const FileSystemKind> all();

// The kind by the drive checks' name, by a mount type (kernel or FUSE name), or by statfs
// f_type; null when unknown. Kinds sharing a magic (ext2/3/4, fuse and fuseblk) agree on
// everything a magic decides.
const FileSystemKind* named(std::string_view name);
const FileSystemKind* mounted(std::string_view mountType);
const FileSystemKind* withMagic(uint32_t fType);

// The derived lists, in table order.
std::vector<std::string> names(bool FileSystemKind::*column);
std::vector<std::string> mountNames(bool FileSystemKind::*column);
std::vector<std::string> kernelMountNames(bool FileSystemKind::*column, bool value);
std::vector<uint32_t> magics(bool FileSystemKind::*column, bool value);

}  // namespace FileSystemKinds

}  // namespace keldwick::platform
