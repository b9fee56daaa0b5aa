#pragma once
// Where is the drive with this id mounted right now? Everything that touches the drive
// asks first. Implementations are shared between threads (the engine and the program).

#include <optional>
#include <string>
#include <vector>

#include "drives/DriveRefusal.h"

namespace keldwick {

class DriveLocating {
public:
    virtual ~DriveLocating() = default;
    // The mount path of the drive whose marker holds `driveID`, or nothing when it is not attached.
    virtual std::optional<std::string> mountPoint(const std::string& driveID) const = 0;
    // Volumes carrying `driveID` that were not taken for the drive, and why; asked after
    // mountPoint. None by default.
    virtual std::vector<DriveRefusal> refusals(const std::string&) const { return {}; }
};

}  // namespace keldwick
