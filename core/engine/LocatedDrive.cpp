#include "engine/LocatedDrive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <optional>

#include "foundation/EngineError.h"
#include "platform/Statx.h"

namespace keldwick {

namespace {

std::optional<LocatedDrive::Identity> identify(const std::string& path) {
    platform::MountStatus status;
    if (path.empty() || platform::statxWithMount(path.c_str(), AT_SYMLINK_NOFOLLOW, false, status) != 0)
        return std::nullopt;
    if (!S_ISDIR(status.record.stx_mode)) return std::nullopt;
    LocatedDrive::Identity identity;
    identity.device = makedev(status.record.stx_dev_major, status.record.stx_dev_minor);
    identity.inode = status.record.stx_ino;
    identity.mountID = status.mountID.value_or(0);
    return identity;
}

}  // namespace

LocatedDrive LocatedDrive::locate(const DriveLocating* locator, const std::string& driveID) {
    auto root = locator ? locator->mountPoint(driveID) : std::nullopt;
    if (!root) throw EngineError::driveUnavailable();
    auto identity = identify(*root);
    if (!identity) throw EngineError::driveUnavailable();
    return LocatedDrive(locator, driveID, *root, *identity);
}

bool LocatedDrive::isStillThere() const {
    try {
        auto root = locator_ ? locator_->mountPoint(driveID_) : std::nullopt;
        if (!root || *root != root_) return false;
    } catch (const std::exception&) {
        return false;
    }
    auto now = identify(root_);
    return now && *now == identity_;
}

void LocatedDrive::confirm() const {
    if (!isStillThere()) throw EngineError::driveUnavailable();
}

}  // namespace keldwick
