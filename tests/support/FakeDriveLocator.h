#pragma once
// A drive locator for tests: drives "attached" at the mount paths a test sets, which it
// can unplug all at once and plug back in, or move to another mount path.

#include <map>
#include <optional>
#include <string>

#include "drives/DriveLocating.h"

namespace keldwick::test {

class FakeDriveLocator final : public DriveLocating {
public:
    FakeDriveLocator() = default;
    FakeDriveLocator(const std::string& driveID, const std::string& mountPoint) { mounts[driveID] = mountPoint; }

    std::optional<std::string> mountPoint(const std::string& driveID) const override {
        if (!present) return std::nullopt;
        auto found = mounts.find(driveID);
        if (found == mounts.end()) return std::nullopt;
        return found->second;
    }

    std::map<std::string, std::string> mounts;  // drive id -> mount path
    bool present = true;                        // false: no drive is attached at all
};

}  // namespace keldwick::test
