#pragma once
// The status of one item as the file system reports it, never following a final
// symbolic link, and two extra facts that the plain status doesn't give.

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Date.h"

namespace keldwick {

struct FileStat {
    enum class Kind { file, directory, symlink, other };

    Kind kind = Kind::other;
    int64_t size = 0;           // bytes; for a symbolic link, the length of its target
    int64_t allocatedSize = 0;  // 512-byte blocks times 512
    uint64_t inode = 0;
    uint64_t device = 0;  // makedev(major, minor): Linux device numbers are 64-bit
    uint32_t linkCount = 0;
    uint32_t flags = 0;  // portable flag word (see platform/Statx.h): lock bits only on Linux
    uint32_t ownerID = 0;
    uint16_t mode = 0;  // the whole mode word, type bits included
    Timespec accessTime;
    Timespec modificationTime;
    Timespec changeTime;
    Timespec creationTime;  // birth time; the change time where the file system keeps none

    Date accessDate() const { return Date::fromTimespec(accessTime); }
    Date modificationDate() const { return Date::fromTimespec(modificationTime); }
    Date changeDate() const { return Date::fromTimespec(changeTime); }
    Date creationDate() const { return Date::fromTimespec(creationTime); }

    // The immutable or the append-only bit (0x60000).
    bool isLocked() const;

    bool isFile() const { return kind == Kind::file; }
    bool isDirectory() const { return kind == Kind::directory; }
    bool isSymlink() const { return kind == Kind::symlink; }

    // The item's status; nothing when no item is there (ENOENT, or ENOTDIR when a
    // component of the path is not a folder). Throws POSIXFailure "lstat" for any other
    // failure (EACCES on the way, ELOOP, ENAMETOOLONG...).
    static std::optional<FileStat> read(const std::string& path);
    // The same, relative to an open folder (AT_FDCWD for the working folder).
    static std::optional<FileStat> readAt(int dirfd, const std::string& name, const std::string& pathForErrors);
    // The same with every failure turned into nothing: for callers content with a guess.
    static std::optional<FileStat> peek(const std::string& path);
    // The status of an open descriptor; throws POSIXFailure "fstat".
    static FileStat ofDescriptor(int fd, const std::string& pathForErrors);

    // Builds the record from a statx result (for components that call statx themselves).
    static FileStat fromStatx(const struct statx& record);

    bool operator==(const FileStat&) const = default;
};

const char* toString(FileStat::Kind kind);

struct ExtraStat {
    // When the item was put into its folder. Linux keeps no such date: the change time
    // stands in, which is never earlier than the true date.
    std::optional<Date> added;
    // Bytes that belong to this item alone, not shared with reflinked copies. Known only
    // for regular files on file systems that share extents; elsewhere nothing, and the
    // allocated size is the private size.
    std::optional<int64_t> privateSize;

    // Never fails: a fact the item or its volume can't give stays empty.
    static ExtraStat read(const std::string& path);
    // The same from a status already read, for walks: `volumeSharesExtents` is
    // platform::volumeSharesExtents of the item's volume, asked once per volume.
    static ExtraStat fromStatus(const std::string& path, const FileStat& status, bool volumeSharesExtents);

    bool operator==(const ExtraStat&) const = default;
};

}  // namespace keldwick
