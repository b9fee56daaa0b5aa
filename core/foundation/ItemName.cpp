#include "foundation/ItemName.h"

#include <mutex>
#include <unordered_map>

#include "foundation/AndroidDevices.h"
#include "foundation/PathUtil.h"

namespace keldwick::ItemName {

namespace {

std::mutex& cacheLock() {
    static std::mutex lock;
    return lock;
}

std::unordered_map<std::string, std::string>& cache() {
    static std::unordered_map<std::string, std::string> names;
    return names;
}

}  // namespace

std::string display(const std::string& path) {
    if (!AndroidDevices::isDeviceFolder(path)) return PathUtil::name(path);
    {
        std::lock_guard<std::mutex> guard(cacheLock());
        auto hit = cache().find(path);
        if (hit != cache().end()) return hit->second + " emulator";
    }
    return AndroidDevices::nameFromFolder(PathUtil::name(path)) + " emulator";
}

void remember(const std::string& deviceFolder, const std::string& deviceName) {
    std::lock_guard<std::mutex> guard(cacheLock());
    cache()[deviceFolder] = deviceName;
}

}  // namespace keldwick::ItemName
