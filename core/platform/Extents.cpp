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
#include "platform/FileSystemKinds.h"
#include "platform/Statx.h"

namespace keldwick::platform {

namespace {

constexpr unsigned kBatch = 256;
constexpr unsigned kMaxExtents = 16384;

// The file systems whose files can share extents (reflinks).
bool isSharingFileSystem(const struct statfs& fs) {
    const FileSystemKind* kind = FileSystemKinds::withMagic(static_cast<uint32_t>(fs.f_type));
    return kind && kind->sharesExtents;
}

bool sharesExtents(int fd) {
    struct statfs fs;
    return fstatfs(fd, &fs) == 0 && isSharingFileSystem(fs);
}

std::optional<std::vector<Extent>> mapOf(int fd) {
    std::vector<char> buffer(sizeof(struct fiemap) + kBatch * sizeof(struct fiemap_extent));
    auto* map = reinterpret_cast<struct fiemap*>(buffer.data());
    uint64_t start = 0;
    std::vector<Extent> extents;
    for (;;) {
        std::fill(buffer.begin(), buffer.end(), 0);
        map->fm_start = start;
        map->fm_length = FIEMAP_MAX_OFFSET - start;
        map->fm_flags = FIEMAP_FLAG_SYNC;
        map->fm_extent_count = kBatch;
        if (ioctl(fd, FS_IOC_FIEMAP, map) != 0) return std::nullopt;
        if (map->fm_mapped_extents == 0) return extents;
        for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
            const struct fiemap_extent& extent = map->fm_extents[i];
            extents.push_back({extent.fe_physical, extent.fe_length, (extent.fe_flags & FIEMAP_EXTENT_SHARED) != 0});
            start = extent.fe_logical + extent.fe_length;
            if (extent.fe_flags & FIEMAP_EXTENT_LAST) return extents;
        }
        if (extents.size() >= kMaxExtents) return std::nullopt;
    }
}

}  // namespace

bool volumeSharesExtents(const char* path) {
    struct statfs fs;
    return statfs(path, &fs) == 0 && isSharingFileSystem(fs);
}

std::optional<std::vector<Extent>> extentMap(const char* path) {
    // Look before opening: opening a device or a FIFO can have effects of its own.
    struct statx record;
    if (statxNoFollow(AT_FDCWD, path, record) != 0 || !S_ISREG(record.stx_mode)) return std::nullopt;
    Fd fd = openRead(path, O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (!fd) return std::nullopt;
    struct stat st;
    if (fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && sharesExtents(fd.get())) return mapOf(fd.get());
    return std::nullopt;
}

std::optional<int64_t> privateSize(const char* path) {
    auto extents = extentMap(path);
    if (!extents) return std::nullopt;
    FreedSpace space;
    space.add(*extents);
    return space.freed();
}

void FreedSpace::add(const std::vector<Extent>& extents) {
    for (const Extent& extent : extents) {
        if (extent.shared)
            shared_.emplace_back(extent.physical, extent.physical + extent.length);
        else
            private_ += static_cast<int64_t>(extent.length);
    }
}

void FreedSpace::addPrivate(int64_t bytes) { private_ += bytes; }

void FreedSpace::merge(const FreedSpace& other) {
    private_ += other.private_;
    shared_.insert(shared_.end(), other.shared_.begin(), other.shared_.end());
}

template <typename Visit>
void FreedSpace::sweep(Visit&& stretch) const {
    // Over the ranges' ends in order: how many of the item's ranges cover each byte.
    std::vector<std::pair<uint64_t, int>> ends;
    ends.reserve(shared_.size() * 2);
    for (const auto& [start, end] : shared_) {
        ends.emplace_back(start, 1);
        ends.emplace_back(end, -1);
    }
    std::sort(ends.begin(), ends.end());
    int depth = 0;
    uint64_t last = 0;
    for (const auto& [at, step] : ends) {
        if (depth > 0 && at > last) stretch(last, at, depth);
        depth += step;
        last = at;
    }
}

std::pair<int64_t, int64_t> FreedSpace::sharedCoverage() const {
    int64_t once = 0, more = 0;
    sweep([&](uint64_t start, uint64_t end, int holders) {
        (holders == 1 ? once : more) += static_cast<int64_t>(end - start);
    });
    return {once, more};
}

void FreedSpace::compact() {
    std::vector<std::pair<uint64_t, uint64_t>> kept;
    sweep([&](uint64_t start, uint64_t end, int holders) {
        // Held more than once stays held more than once: twice is enough to say so.
        kept.emplace_back(start, end);
        if (holders > 1) kept.emplace_back(start, end);
    });
    shared_ = std::move(kept);
}

int64_t FreedSpace::freed() const { return private_ + sharedCoverage().second; }

int64_t FreedSpace::keptElsewhere() const { return sharedCoverage().first; }

}  // namespace keldwick::platform
