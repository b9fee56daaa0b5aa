#pragma once
// Private size: the bytes of a file that no other file shares (reflinked copies share
// extents on btrfs and xfs, and Debian's cp makes such copies by default there), and
// what moving a set of files frees when some of them share extents with each other.

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace keldwick::platform {

// One extent of a file as FS_IOC_FIEMAP maps it: where its bytes lie on the volume, and
// whether another file (or a snapshot) holds them too.
struct Extent {
    uint64_t physical = 0;
    uint64_t length = 0;
    bool shared = false;

    bool operator==(const Extent&) const = default;
};

// The file's extents, read with FS_IOC_FIEMAP. Nothing when the item is not a regular
// file, when its file system can't share extents (there the allocated size is already
// private), when the map can't be read, or when the file has so many extents that
// mapping it would cost more than the answer is worth.
std::optional<std::vector<Extent>> extentMap(const char* path);

// What moving a set of files (one item) frees. An unshared extent goes with its file. A
// shared extent goes only if nothing outside the item keeps it, which the map can't say:
// one the item holds more than once (its files are reflinked copies of each other) is
// counted once, and one it holds only once is taken as kept by another copy or a snapshot
// outside it.
class FreedSpace {
public:
    void add(const std::vector<Extent>& extents);
    // A file whose blocks are its own (a volume that shares no extents).
    void addPrivate(int64_t bytes);
    // Another part of the same item (a subfolder's files).
    void merge(const FreedSpace& other);
    // The bytes the move frees.
    int64_t freed() const;
    // The bytes left behind: shared extents the item holds only once.
    int64_t keptElsewhere() const;
    // Keeps the same answers, now and after later merges, in at most two ranges per
    // stretch of the volume the ranges cover: a folder need not keep its parts file by file.
    void compact();

private:
    // Calls `stretch(start, end, holders)` for each stretch of the volume the shared
    // ranges cover, in order, with how many of them cover it.
    template <typename Visit>
    void sweep(Visit&& stretch) const;
    // Bytes of the shared ranges covered once, and those covered more than once.
    std::pair<int64_t, int64_t> sharedCoverage() const;

    int64_t private_ = 0;
    std::vector<std::pair<uint64_t, uint64_t>> shared_;  // physical [start, end)
};

// What the file alone frees: its extents counted as FreedSpace counts them. Nothing as
// for extentMap.
std::optional<int64_t> privateSize(const char* path);

// Whether the volume holding `path` can share extents between files. Where it can't,
// privateSize always gives nothing, so a walk asks this once per volume and spares
// every file the open that privateSize costs. False when the volume can't be read.
bool volumeSharesExtents(const char* path);

}  // namespace keldwick::platform
