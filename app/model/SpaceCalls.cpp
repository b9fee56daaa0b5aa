#include "model/SpaceCalls.h"

#include "foundation/Formatting.h"
#include "foundation/OpenFileChecking.h"
#include "foundation/Saturating.h"
#include "space/CacheCleaner.h"
#include "space/SystemDataDiscovery.h"

namespace keldwick {

std::vector<CacheLocation> measuredCacheLocations(const std::string& home) {
    return CacheCleaner::locations(home, {kOwnAppCaches}, CacheCleaner::XdgFolders::fromEnvironment());
}

CacheClearing clearCacheLocations(const std::vector<CacheLocation>& locations, const OpenFileChecking& openFiles) {
    CacheClearing total;
    for (const auto& location : locations) {
        CacheCleaner::ClearResult result = CacheCleaner::clear(location, openFiles);
        total.freed = Saturating::add(total.freed, result.freed);
        total.kept = Saturating::add(total.kept, static_cast<int64_t>(result.kept.size()));
    }
    return total;
}

std::string cachesClearedMessage(int64_t freed) { return "Cleared " + byteCountText(freed) + " of caches."; }

std::vector<MovableData> findMovableSystemData(const std::string& home) {
    return SystemData::movable(SystemData::Places::of(home), ProcessOpenFileChecker(), kSmallestSystemData);
}

}  // namespace keldwick
