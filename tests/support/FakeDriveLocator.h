#pragma once
// A drive locator for tests: drives "attached" at the mount paths a test sets, which it
// can unplug all at once and plug back in, or move to another mount path.

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "drives/DriveLocating.h"

namespace keldwick::test {

class FakeDriveLocator final : public DriveLocating {
public:
    FakeDriveLocator() = default;
    FakeDriveLocator(const std::string& driveID, const std::string& mountPoint) { mounts[driveID] = mountPoint; }

    std::optional<std::string> mountPoint(const std::string& driveID) const override {
        ++asked;
        if (whenAsked) whenAsked();
        if (!present) return std::nullopt;
        std::lock_guard guard(lock_);
        if (refused.count(driveID)) return std::nullopt;
        auto found = mounts.find(driveID);
        if (found == mounts.end()) return std::nullopt;
        return found->second;
    }

    std::vector<DriveRefusal> refusals(const std::string& driveID) const override {
        std::lock_guard guard(lock_);
        if (!present) return {};
        auto found = refused.find(driveID);
        return found == refused.end() ? std::vector<DriveRefusal>{} : found->second;
    }

    // Attaches the drive at `root`, or detaches it; safe while other threads ask.
    void set(const std::string& driveID, const std::optional<std::string>& root) {
        std::lock_guard guard(lock_);
        if (root)
            mounts[driveID] = *root;
        else
            mounts.erase(driveID);
    }

    // Drive id -> mount path. Edited directly only while no other thread asks.
    std::map<std::string, std::string> mounts;
    // Drive id -> the volumes refused for it; a refused drive is not found.
    std::map<std::string, std::vector<DriveRefusal>> refused;
    std::atomic<bool> present = true;  // false: no drive is attached at all
    mutable std::atomic<int> asked = 0;  // questions so far
    // Runs at each question of mountPoint, before it is answered (set while no other thread asks).
    std::function<void()> whenAsked;

private:
    mutable std::mutex lock_;
};

}  // namespace keldwick::test
