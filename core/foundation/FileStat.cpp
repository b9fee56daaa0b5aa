#include "foundation/FileStat.h"

#include <fcntl.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <limits>

#include "platform/Extents.h"
#include "platform/POSIXFailure.h"
#include "platform/Statx.h"

namespace keldwick {

namespace {

Timespec exact(const struct statx_timestamp& t) { return Timespec{t.tv_sec, static_cast<int64_t>(t.tv_nsec)}; }

FileStat::Kind kindOf(uint32_t mode) {
    if (S_ISREG(mode)) return FileStat::Kind::file;
    if (S_ISDIR(mode)) return FileStat::Kind::directory;
    if (S_ISLNK(mode)) return FileStat::Kind::symlink;
    return FileStat::Kind::other;
}

int64_t clampedBytes(uint64_t value) {
    constexpr auto max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    return static_cast<int64_t>(value > max ? max : value);
}

}  // namespace

bool FileStat::isLocked() const { return (flags & platform::kLockMask) != 0; }

FileStat FileStat::fromStatx(const struct statx& r) {
    FileStat s;
    s.kind = kindOf(r.stx_mode);
    s.size = clampedBytes(r.stx_size);
    // Block counts so large that times 512 overflows don't occur; saturate if they do.
    s.allocatedSize = r.stx_blocks > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) / 512
                          ? std::numeric_limits<int64_t>::max()
                          : static_cast<int64_t>(r.stx_blocks * 512);
    s.inode = r.stx_ino;
    s.device = makedev(r.stx_dev_major, r.stx_dev_minor);
    s.linkCount = r.stx_nlink;
    s.flags = platform::portableFlags(r);
    s.ownerID = r.stx_uid;
    s.mode = r.stx_mode;
    s.accessTime = exact(r.stx_atime);
    s.modificationTime = exact(r.stx_mtime);
    s.changeTime = exact(r.stx_ctime);
    s.creationTime = (r.stx_mask & STATX_BTIME) ? exact(r.stx_btime) : s.changeTime;
    return s;
}

std::optional<FileStat> FileStat::readAt(int dirfd, const std::string& name, const std::string& pathForErrors) {
    struct statx record;
    int error = platform::statxNoFollow(dirfd, name.c_str(), record);
    if (error == 0) return fromStatx(record);
    if (error == ENOENT || error == ENOTDIR) return std::nullopt;
    throw POSIXFailure("lstat", pathForErrors, error);
}

std::optional<FileStat> FileStat::read(const std::string& path) { return readAt(AT_FDCWD, path, path); }

std::optional<FileStat> FileStat::peek(const std::string& path) {
    try {
        return read(path);
    } catch (const POSIXFailure&) {
        return std::nullopt;
    }
}

FileStat FileStat::ofDescriptor(int fd, const std::string& pathForErrors) {
    struct statx record;
    if (int error = platform::statxOfDescriptor(fd, record)) throw POSIXFailure("fstat", pathForErrors, error);
    return fromStatx(record);
}

const char* toString(FileStat::Kind kind) {
    switch (kind) {
        case FileStat::Kind::file: return "file";
        case FileStat::Kind::directory: return "directory";
        case FileStat::Kind::symlink: return "symlink";
        case FileStat::Kind::other: return "other";
    }
    return "other";
}

ExtraStat ExtraStat::read(const std::string& path) {
    ExtraStat extra;
    struct statx record;
    if (platform::statxNoFollow(AT_FDCWD, path.c_str(), record) != 0) return extra;
    extra.added = Date::fromTimespec(exact(record.stx_ctime));
    // Asking the volume first spares files where nothing is shared the open that
    // mapping extents needs.
    if (S_ISREG(record.stx_mode) && platform::volumeSharesExtents(path.c_str())) {
        extra.privateSize = platform::privateSize(path.c_str());
    }
    return extra;
}

ExtraStat ExtraStat::fromStatus(const std::string& path, const FileStat& status, bool volumeSharesExtents) {
    ExtraStat extra;
    extra.added = status.changeDate();
    if (status.isFile() && volumeSharesExtents) extra.privateSize = platform::privateSize(path.c_str());
    return extra;
}

}  // namespace keldwick
