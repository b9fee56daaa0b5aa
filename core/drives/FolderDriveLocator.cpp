#include "drives/FolderDriveLocator.h"

#include "foundation/FileStat.h"

namespace keldwick {

std::optional<std::string> FolderDriveLocator::mountPoint(const std::string& driveID) const {
    if (driveID != driveID_) return std::nullopt;
    auto status = FileStat::peek(root_);
    if (!status || !status->isDirectory()) return std::nullopt;
    return root_;
}

}  // namespace keldwick
