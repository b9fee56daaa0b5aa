#include "foundation/ItemName.h"

#include <mutex>
#include <unordered_map>

#include "foundation/PathUtil.h"
#include "foundation/Simulators.h"

namespace keldwick::ItemName {

namespace {

std::mutex& cacheLock() {
    static std::mutex lock;
    return lock;
}

// Never shrinks: a renamed device keeps its first name until the program restarts.
std::unordered_map<std::string, std::string>& cache() {
    static std::unordered_map<std::string, std::string> names;
    return names;
}

}  // namespace

std::string display(const std::string& path) {
    if (!Simulators::isDeviceFolder(path)) return PathUtil::name(path);
    {
        std::lock_guard<std::mutex> guard(cacheLock());
        auto hit = cache().find(path);
        if (hit != cache().end()) return hit->second;
    }
    // The file is read without the lock so one slow disk can't stall every caller.
    auto device = SimulatorDevice::read(path);
    if (!device) return "Simulator";
    std::string name = device->name + " simulator";
    std::lock_guard<std::mutex> guard(cacheLock());
    return cache().emplace(path, name).first->second;
}

}  // namespace keldwick::ItemName
