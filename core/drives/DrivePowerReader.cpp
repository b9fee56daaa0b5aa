#include "drives/DrivePowerReader.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "drives/DriveHardware.h"
#include "platform/SysfsDeviceRegistry.h"

namespace keldwick {

namespace {

int64_t steadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr int kHighest = 4;

DrivePowerState stateOf(platform::DiskPowerMode mode, const std::optional<int64_t>& sinceActivity) {
    std::optional<int> milliseconds;
    if (sinceActivity) milliseconds = static_cast<int>(std::min<int64_t>(*sinceActivity, INT32_MAX));
    return {mode == platform::DiskPowerMode::standby ? 1 : kHighest, kHighest, milliseconds};
}

}  // namespace

bool DrivePowerReader::hasServedSince(const Answer& answer, const platform::DiskActivity& activity) {
    return answer.completedRequests && activity.completedRequests &&
           *activity.completedRequests > *answer.completedRequests;
}

DrivePowerReader::DrivePowerReader(const platform::DeviceRegistry& registry,
                                   std::shared_ptr<const platform::DiskPowerModes> modes,
                                   std::function<int64_t()> clockMilliseconds)
    : registry_(registry),
      modes_(std::move(modes)),
      clock_(clockMilliseconds ? std::move(clockMilliseconds) : steadyMilliseconds) {}

DrivePowerReader& DrivePowerReader::system() {
    static DrivePowerReader reader(platform::SysfsDeviceRegistry::system(), std::make_shared<platform::UDisksPower>());
    return reader;
}

std::optional<DrivePowerState> DrivePowerReader::read(const std::string& kernelName) {
    auto bySysfs = DriveHardware::powerState(kernelName, registry_);
    if (bySysfs && bySysfs->isAsleep()) return bySysfs;
    if (!modes_) return bySysfs;
    // Whatever rule picked the reading, a device on the way up that is suspended or resuming
    // would be resumed by a query.
    if (auto entries = registry_.powerEntries(kernelName)) {
        for (const auto& entry : *entries) {
            if (entry && entry->devicePowerState && *entry->devicePowerState < kHighest) return bySysfs;
        }
    }
    auto activity = registry_.diskActivity(kernelName);
    if (!activity || activity->diskName.empty()) return bySysfs;
    const std::string& disk = activity->diskName;

    {
        std::lock_guard<std::mutex> guard(lock_);
        if (activity->requestsInFlight) {
            if (auto standing = lastStanding(disk, *activity)) return standing;
        }
        auto refused = refusedAt_.find(disk);
        if (refused != refusedAt_.end()) {
            if (clock_() - refused->second < refusalPauseMilliseconds) return bySysfs;
            refusedAt_.erase(refused);
        }
    }

    // Asked without the lock: the query may take its whole timeout.
    const platform::PowerModeAnswer answer = modes_->powerMode(disk);
    std::lock_guard<std::mutex> guard(lock_);
    if (const auto* refused = std::get_if<platform::PowerModeRefused>(&answer)) {
        // A disk too busy to answer in time keeps its last answer, as one with work in flight.
        if (refused->timedOut) {
            auto standing = lastStanding(disk, *activity);
            return standing ? standing : bySysfs;
        }
        lastAnswer_.erase(disk);
        refusedAt_[disk] = clock_();
        return bySysfs;
    }
    const auto mode = std::get<platform::DiskPowerMode>(answer);
    lastAnswer_[disk] = Answer{mode, activity->completedRequests};
    return stateOf(mode, activity->millisecondsSinceActivity);
}

std::optional<DrivePowerState> DrivePowerReader::lastStanding(const std::string& disk,
                                                              const platform::DiskActivity& activity) {
    auto last = lastAnswer_.find(disk);
    if (last == lastAnswer_.end()) return std::nullopt;
    if (hasServedSince(last->second, activity)) last->second.mode = platform::DiskPowerMode::spinning;
    return stateOf(last->second.mode, activity.millisecondsSinceActivity);
}

}  // namespace keldwick
