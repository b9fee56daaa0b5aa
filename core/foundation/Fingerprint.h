#pragma once
// The four facts that reveal a change to an item (inode, size, modification and change
// times), and snapshots of whole trees, so the engine can tell whether anything changed
// while it worked. Times are compared exactly, to the nanosecond.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "foundation/Date.h"
#include "foundation/FileStat.h"

namespace keldwick {

struct FingerprintSnapshot;

struct Fingerprint {
    uint64_t inode = 0;
    int64_t size = 0;
    Timespec modificationTime;
    Timespec changeTime;

    static Fingerprint of(const FileStat& status);

    Date modificationDate() const { return Date::fromTimespec(modificationTime); }
    Date changeDate() const { return Date::fromTimespec(changeTime); }

    bool operator==(const Fingerprint&) const = default;

    // The two comparisons the engine chooses between: all four facts, or all but the
    // change time (which moves with every chmod, chown or extended-attribute change).
    using Comparison = bool (*)(const Fingerprint&, const Fingerprint&);
    static bool same(const Fingerprint& a, const Fingerprint& b) { return a == b; }
    static bool sameIgnoringChangeDate(const Fingerprint& a, const Fingerprint& b);

    // Fingerprints of the item (under the relative path "") and, when deep, of every entry
    // beneath it by relative path, links as links. Throws EngineError sourceMissing when
    // nothing is at `path`, and POSIXFailure "lstat" when a status can't be read for any
    // reason other than the entry vanishing meanwhile (vanished entries are left out).
    // A folder that can't be listed contributes no entries. Not atomic: each entry is
    // recorded as its own status read found it.
    static FingerprintSnapshot snapshot(const std::string& path, bool deep);
};

struct FingerprintSnapshot {
    std::unordered_map<std::string, Fingerprint> fingerprints;
    std::unordered_set<std::string> folders;  // relative paths that are folders

    bool operator==(const FingerprintSnapshot&) const = default;
};

// Whether the entry at `path` (relative, "" for the item) still looks as the snapshot
// recorded it. False for an empty snapshot or a path it doesn't hold. A folder counts as
// unchanged while its inode is the same (its size and times move with its contents);
// anything else is compared with `comparison`.
bool fingerprintUnchanged(const std::string& path, const Fingerprint& current, const FingerprintSnapshot& snapshot,
                          Fingerprint::Comparison comparison);

}  // namespace keldwick

template <>
struct std::hash<keldwick::Fingerprint> {
    size_t operator()(const keldwick::Fingerprint& f) const noexcept;
};
