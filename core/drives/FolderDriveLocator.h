#pragma once
// A drive that is a plain folder at a fixed path (tests, and drives given by path).

#include "drives/DriveLocating.h"

namespace keldwick {

class FolderDriveLocator final : public DriveLocating {
public:
    FolderDriveLocator(std::string driveID, std::string root) : driveID_(std::move(driveID)), root_(std::move(root)) {}

    // The root, when `driveID` is exactly this locator's id and the root is a folder right
    // now (a link to a folder doesn't count); otherwise nothing.
    std::optional<std::string> mountPoint(const std::string& driveID) const override;

    const std::string& driveID() const { return driveID_; }
    const std::string& root() const { return root_; }

private:
    std::string driveID_;
    std::string root_;
};

}  // namespace keldwick
