#include "platform/Extents.h"

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/FileIO.h"
#include "platform/Statx.h"

namespace keldwick::platform {

namespace {

constexpr long kBtrfsMagic = 0x9123683E;
constexpr long kXfsMagic = 0x58465342;
constexpr long kBcachefsMagic = 0xca451a4e;
constexpr long kOcfs2Magic = 0x7461636f;

constexpr unsigned kBatch = 256;
constexpr unsigned kMaxExtents = 16384;

// The file systems whose files can share extents (reflinks).
bool isSharingFileSystem(const struct statfs& fs) {
    const long type = static_cast<long>(fs.f_type);
    return type == kBtrfsMagic || type == kXfsMagic || type == kBcachefsMagic || type == kOcfs2Magic;
}

bool sharesExtents(int fd) {
    struct statfs fs;
    return fstatfs(fd, &fs) == 0 && isSharingFileSystem(fs);
}

std::optional<int64_t> unsharedBytes(int fd) {
    std::vector<char> buffer(sizeof(struct fiemap) + kBatch * sizeof(struct fiemap_extent));
    auto* map = reinterpret_cast<struct fiemap*>(buffer.data());
    uint64_t start = 0;
    int64_t total = 0;
    unsigned seen = 0;
    for (;;) {
        std::fill(buffer.begin(), buffer.end(), 0);
        map->fm_start = start;
        map->fm_length = FIEMAP_MAX_OFFSET - start;
        map->fm_flags = FIEMAP_FLAG_SYNC;
        map->fm_extent_count = kBatch;
        if (ioctl(fd, FS_IOC_FIEMAP, map) != 0) return std::nullopt;
        if (map->fm_mapped_extents == 0) return total;
        for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
            const struct fiemap_extent& extent = map->fm_extents[i];
            if (!(extent.fe_flags & FIEMAP_EXTENT_SHARED)) total += static_cast<int64_t>(extent.fe_length);
            start = extent.fe_logical + extent.fe_length;
            if (extent.fe_flags & FIEMAP_EXTENT_LAST) return total;
        }
        seen += map->fm_mapped_extents;
        if (seen >= kMaxExtents) return std::nullopt;
    }
}

}  // namespace

bool volumeSharesExtents(const char* path) {
    struct statfs fs;
    return statfs(path, &fs) == 0 && isSharingFileSystem(fs);
}

std::optional<int64_t> privateSize(const char* path) {
    // Look before opening: opening a device or a FIFO can have effects of its own.
    struct statx record;
    if (statxNoFollow(AT_FDCWD, path, record) != 0 || !S_ISREG(record.stx_mode)) return std::nullopt;
    Fd fd = openRead(path, O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (!fd) return std::nullopt;
    struct stat st;
    if (fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && sharesExtents(fd.get())) return unsharedBytes(fd.get());
    return std::nullopt;
}

}  // namespace keldwick::platform
