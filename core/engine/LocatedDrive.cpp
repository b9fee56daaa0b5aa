#include "engine/LocatedDrive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <optional>

#include "engine/EngineError.h"

namespace keldwick {

namespace {

std::optional<LocatedDrive::Identity> identify(const std::string& path) {
    struct statx status {};
    if (path.empty() ||
        ::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_INO | STATX_MNT_ID, &status) != 0)
        return std::nullopt;
    if (!S_ISDIR(status.stx_mode)) return std::nullopt;
    LocatedDrive::Identity identity;
    identity.device = makedev(status.stx_dev_major, status.stx_dev_minor);
    identity.inode = status.stx_ino;
    if (status.stx_mask & STATX_MNT_ID) identity.mountID = status.stx_mnt_id;
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
