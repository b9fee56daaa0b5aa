#pragma once
// The drive root an operation located, and which folder of which mount it was then.
// A drive mounted at a fixed folder (/mnt/backup) leaves that folder behind on the
// startup disk when it goes away, and paths beneath it resolve there from then on: a copy
// would land, unseen, on the startup disk and the original be deleted on the strength of
// it. So before each step that writes to or judges the drive, the operation confirms the
// root is still the one it located.

#include <cstdint>
#include <string>

#include "drives/DriveLocating.h"

namespace keldwick {

class LocatedDrive {
public:
    // The device, inode and mount id of the folder at `path` (links not followed).
    struct Identity {
        uint64_t device = 0;
        uint64_t inode = 0;
        uint64_t mountID = 0;
        bool operator==(const Identity&) const = default;
    };

    // Asks the locator (none: no drive) and remembers what the root is now. Throws
    // EngineError::driveUnavailable when the drive isn't there.
    static LocatedDrive locate(const DriveLocating* locator, const std::string& driveID);

    const std::string& root() const { return root_; }

    // Whether the locator still finds the drive at the same root and that root is still
    // the same folder of the same mount.
    bool isStillThere() const;
    // Throws EngineError::driveUnavailable unless isStillThere().
    void confirm() const;

private:
    LocatedDrive(const DriveLocating* locator, std::string driveID, std::string root, Identity identity)
        : locator_(locator), driveID_(std::move(driveID)), root_(std::move(root)), identity_(identity) {}

    const DriveLocating* locator_;
    std::string driveID_;
    std::string root_;
    Identity identity_;
};

}  // namespace keldwick
