#include "drives/VolumeDriveLocator.h"

#include <cstring>

#include "drives/DriveMarker.h"
#include "drives/VolumeInfo.h"
#include "platform/BlockDevices.h"
#include "platform/FileStatus.h"
#include "platform/FileSystemKinds.h"
#include "platform/MountFacts.h"
#include "platform/MountTable.h"
#include "platform/Statx.h"

namespace keldwick {

std::vector<VolumeCandidate> SystemVolumeSource::candidates() const {
    // A mount, unmount or remount changes the text (mount ids, device numbers, sources).
    std::string table = platform::MountTable::readText(roots_.mountinfo).value_or("");
    std::lock_guard guard(cacheLock_);
    if (cachedTable_ == table) return cachedCandidates_;
    std::vector<VolumeCandidate> candidates;
    cachedMounts_.clear();
    for (const auto& entry : VolumeInfo::localExternalMountsIn(platform::MountTable::parse(table))) {
        const bool onBlockDevice = platform::BlockDevices::nameForMount(entry, roots_).has_value();
        auto refusal = DriveTrust::volumeRefusal(entry.mountPoint, entry.fsType, onBlockDevice);
        // A drive chosen before its format was refused takes nothing new; it still gives back what it holds.
        if (!refusal) refusal = DriveTrust::formatRefusal(entry.mountPoint, platform::FileSystemKinds::mounted(entry.fsType));
        candidates.push_back({entry.mountPoint, std::move(refusal)});
        cachedMounts_[entry.mountPoint] = {entry, onBlockDevice};
    }
    cachedTable_ = std::move(table);
    cachedCandidates_ = candidates;
    return candidates;
}

std::optional<MountIdentity> SystemVolumeSource::identity(const std::string& path) const {
    platform::MountStatus status;
    if (path.empty() || platform::statxWithMount(path.c_str(), AT_SYMLINK_NOFOLLOW, true, status) != 0) {
        return std::nullopt;
    }
    bool isMountRoot = false;
    if (status.mountRoot) {
        isMountRoot = *status.mountRoot;
    } else {
        // Older kernels: the path must be a mount point in the table.
        for (const auto& entry : platform::MountFacts::visibleEntries(platform::MountTable::read(roots_.mountinfo))) {
            if (entry.mountPoint == path) isMountRoot = true;
        }
    }
    if (!isMountRoot) return std::nullopt;

    MountIdentity identity;
    identity.device = platform::deviceNumber(status.record.stx_dev_major, status.record.stx_dev_minor);
    identity.mountID = status.mountID.value_or(0);
    if (status.mountIDIsUnique) {
        identity.isUnique = true;
        return identity;
    }
    struct statfs fileSystem {};
    if (platform::fileSystemStatus(path, fileSystem) != 0) return std::nullopt;
    uint32_t words[2];
    std::memcpy(words, &fileSystem.f_fsid, sizeof words);
    identity.fileSystemID = (static_cast<uint64_t>(words[0]) << 32) | words[1];
    return identity;
}

DriveTrust::Examined SystemVolumeSource::marker(const std::string& root, const std::string& wantedID) const {
    std::optional<std::pair<platform::MountEntry, bool>> mount;
    {
        std::lock_guard guard(cacheLock_);
        if (auto found = cachedMounts_.find(root); found != cachedMounts_.end()) mount = found->second;
    }
    // The chooser's judgement, with the same mount facts.
    if (mount) return DriveTrust::judgeMount(mount->first, mount->second, user_, wantedID);
    return DriveTrust::examine(root, user_, wantedID);
}

VolumeDriveLocator::VolumeDriveLocator(std::shared_ptr<const VolumeSource> source) : source_(std::move(source)) {}

std::optional<std::string> VolumeDriveLocator::mountPoint(const std::string& driveID) const {
    if (driveID.empty()) return std::nullopt;
    std::lock_guard<std::mutex> guard(lock_);

    auto& refused = refused_[driveID];
    if (auto found = known_.find(driveID); found != known_.end() && refused.empty()) {
        auto now = source_->identity(found->second.path);
        if (now && *now == found->second.identity) {
            if (!now->isWeak()) return found->second.path;
            auto examined = source_->marker(found->second.path, driveID);
            if (examined.drive && examined.drive->id == driveID && !examined.refusal) return found->second.path;
        }
    }
    known_.erase(driveID);
    refused.clear();

    std::vector<Known> taken;
    for (const auto& candidate : source_->candidates()) {
        // Nothing is narrowed on a volume that can't be the drive anyway.
        auto examined = source_->marker(candidate.mountPath, candidate.refusal ? std::string() : driveID);
        if (!examined.drive || examined.drive->id != driveID) continue;
        if (candidate.refusal || examined.refusal) {
            refused.push_back(candidate.refusal ? *candidate.refusal : *examined.refusal);
            continue;
        }
        auto identity = source_->identity(candidate.mountPath);
        if (!identity) continue;
        // The same file system mounted twice is one drive.
        bool seen = false;
        for (const auto& other : taken) seen = seen || other.identity.device == identity->device;
        if (!seen) taken.push_back(Known{candidate.mountPath, *identity});
    }
    if (taken.size() == 1) {
        known_[driveID] = taken.front();
        return taken.front().path;
    }
    for (size_t i = 0; i < taken.size(); ++i) {
        const std::string& other = taken[i == 0 ? 1 : 0].path;
        refused.push_back(DriveRefusal{taken[i].path, DriveRefusal::Kind::duplicate, other});
    }
    return std::nullopt;
}

std::vector<DriveRefusal> VolumeDriveLocator::refusals(const std::string& driveID) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = refused_.find(driveID);
    return found == refused_.end() ? std::vector<DriveRefusal>{} : found->second;
}

void VolumeDriveLocator::forgetLocations() {
    std::lock_guard<std::mutex> guard(lock_);
    known_.clear();
    refused_.clear();
}

}  // namespace keldwick
