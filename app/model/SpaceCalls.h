#pragma once
// The cache cleaner and the search for movable system data as the model calls them: the
// core's work with the program's own choices, run on a background thread by the model.

#include <cstdint>
#include <string>
#include <vector>

#include "space/CacheLocation.h"
#include "space/MovableData.h"

namespace keldwick {

class OpenFileChecking;

// The program's own application caches, never cleared.
inline constexpr const char* kOwnAppCaches = "com.orvandel.Keldwick";
// The smallest system-data item worth offering.
inline constexpr int64_t kSmallestSystemData = 100'000'000;

// The cache locations with something to clear, measured, largest first, keeping the
// program's own caches; the XDG folders as the session sets them.
std::vector<CacheLocation> measuredCacheLocations(const std::string& home);

struct CacheClearing {
    int64_t freed = 0;  // bytes, saturating at the Int64 maximum
    int64_t kept = 0;   // entries left in place
    bool operator==(const CacheClearing&) const = default;
};

// Empties each location in turn, adding up what was freed and what was kept.
CacheClearing clearCacheLocations(const std::vector<CacheLocation>& locations, const OpenFileChecking& openFiles);

// The journal's line after clearing: "Cleared 1.50 GB of caches."
std::string cachesClearedMessage(int64_t freed);

// Large system data under the home folder that could move, with the open files of running
// processes left alone. Reads the file system and the desktop entries: a worker's call.
std::vector<MovableData> findMovableSystemData(const std::string& home);

}  // namespace keldwick
