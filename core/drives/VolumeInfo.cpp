#include "drives/VolumeInfo.h"

#include <limits>
#include <map>
#include <mutex>
#include <utility>
#include <nlohmann/json.hpp>

#include "drives/DriveTrust.h"
#include "drives/FileSystemFormats.h"
#include "foundation/Utf8.h"
#include "platform/BlockDevices.h"
#include "platform/FileStatus.h"
#include "platform/MountFacts.h"
#include "platform/MountTable.h"
#include "platform/Statx.h"
#include "platform/Sysfs.h"
#include "platform/SysfsDeviceRegistry.h"

namespace keldwick {

namespace {

bool isInside(const std::string& path, const std::string& folder) {
    if (folder == "/") return !path.empty() && path[0] == '/';
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/');
}

int64_t bytes(uint64_t blocks, uint64_t blockSize) {
    if (blockSize != 0 && blocks > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) / blockSize) {
        return std::numeric_limits<int64_t>::max();
    }
    return static_cast<int64_t>(blocks * blockSize);
}

// The mount-table entry of the mount that holds `path`. The kernel names the mount
// (statx mount id); its device number must agree. Without that, the deepest mount point
// above the real path wins, preferring mounts of the same device.
std::optional<platform::MountEntry> entryHolding(const std::string& path, const std::vector<platform::MountEntry>& table) {
    platform::MountStatus mounted;
    bool haveStatus = platform::statxWithMount(path.c_str(), 0, false, mounted) == 0;
    const struct statx& status = mounted.record;
    if (haveStatus && mounted.mountID) {
        for (const auto& entry : table) {
            if (static_cast<uint64_t>(entry.mountId) == *mounted.mountID && entry.major == status.stx_dev_major &&
                entry.minor == status.stx_dev_minor) {
                return entry;
            }
        }
    }
    auto real = platform::Sysfs::resolved(path);
    if (!real) return std::nullopt;
    const platform::MountEntry* best = nullptr;
    bool bestSameDevice = false;
    for (const auto& entry : table) {
        if (!isInside(*real, entry.mountPoint)) continue;
        bool sameDevice = haveStatus && entry.major == status.stx_dev_major && entry.minor == status.stx_dev_minor;
        bool better = !best || (sameDevice && !bestSameDevice) ||
                      (sameDevice == bestSameDevice && entry.mountPoint.size() >= best->mountPoint.size());
        if (better) {
            best = &entry;
            bestSameDevice = sameDevice;
        }
    }
    if (!best) return std::nullopt;
    return *best;
}

VolumeInfo build(const platform::MountEntry& entry, const struct statvfs& space, const std::vector<platform::MountEntry>& table,
                 const platform::SystemRoots& roots) {
    VolumeInfo volume;
    volume.mountPath = entry.mountPoint;
    volume.kernelName = platform::BlockDevices::nameForMount(entry, roots);
    platform::BlockDevices::Identity identity;
    if (volume.kernelName) identity = platform::BlockDevices::identify(*volume.kernelName, roots);
    // Labels are the device's raw bytes (a FAT label is in a DOS code page): shown and
    // recorded as text, so never ill-formed.
    volume.name = Utf8::replacingInvalid(identity.label ? *identity.label : platform::Sysfs::lastComponent(entry.mountPoint));
    if (volume.name.empty()) volume.name = entry.mountPoint;  // "/"
    volume.volumeUUID = identity.uuid;
    // Under FUSE without a readable device or a udev record, the daemon serving it tells.
    if (!identity.type) identity.type = platform::MountFacts::fuseDaemonType(entry, roots);
    volume.fileSystem = platform::MountFacts::fileSystemName(entry.fsType, identity.type);
    if (volume.kernelName) {
        auto facts = platform::SysfsDeviceRegistry(roots).characteristics(*volume.kernelName);
        volume.isInternal = facts && facts->physicalInterconnectLocation == "Internal";
    }
    volume.isLocal = !platform::MountFacts::isNetwork(entry.fsType);
    volume.isReadOnly = entry.isReadOnly() || (space.f_flag & ST_RDONLY);
    volume.isRootFileSystem = platform::MountFacts::isRootFileSystem(entry, table);
    volume.totalBytes = bytes(space.f_blocks, space.f_frsize);
    volume.availableBytes = bytes(space.f_bavail, space.f_frsize);
    return volume;
}

std::optional<VolumeInfo> buildAtMountPoint(const platform::MountEntry& entry, const std::vector<platform::MountEntry>& table,
                                            const platform::SystemRoots& roots) {
    struct statvfs space {};
    if (platform::volumeStatus(entry.mountPoint, space) != 0) return std::nullopt;
    return build(entry, space, table, roots);
}

// A network volume as the mount table alone tells it: a server that stopped answering
// must not hold up the list, so nothing on the volume is asked (no statvfs, no device).
VolumeInfo networkVolume(const platform::MountEntry& entry) {
    VolumeInfo volume;
    volume.mountPath = entry.mountPoint;
    volume.name = Utf8::replacingInvalid(platform::Sysfs::lastComponent(entry.mountPoint));
    if (volume.name.empty()) volume.name = entry.mountPoint;
    volume.fileSystem = platform::MountFacts::fileSystemName(entry.fsType, std::nullopt);
    volume.isLocal = false;
    volume.isReadOnly = entry.isReadOnly();
    return volume;
}

std::vector<platform::MountEntry> shownEntries(const std::vector<platform::MountEntry>& table) {
    std::vector<platform::MountEntry> shown;
    for (auto& entry : platform::MountFacts::visibleEntries(table)) {
        if (!platform::MountFacts::isHidden(entry)) shown.push_back(std::move(entry));
    }
    return shown;
}

}  // namespace

std::optional<VolumeInfo> VolumeInfo::read(const std::string& path, const platform::SystemRoots& roots) {
    struct statvfs space {};
    if (path.empty() || platform::volumeStatus(path, space) != 0) return std::nullopt;
    auto table = platform::MountTable::read(roots.mountinfo);
    auto entry = entryHolding(path, table);
    if (!entry) return std::nullopt;
    return build(*entry, space, table, roots);
}

std::vector<VolumeInfo> VolumeInfo::externalCandidates(const platform::SystemRoots& roots) {
    auto table = platform::MountTable::read(roots.mountinfo);
    std::vector<VolumeInfo> volumes;
    for (const auto& entry : shownEntries(table)) {
        if (platform::MountFacts::isRootFileSystem(entry, table)) continue;
        if (platform::MountFacts::isNetwork(entry.fsType)) {
            volumes.push_back(networkVolume(entry));
            continue;
        }
        if (DriveTrust::volumeRefusal(entry.mountPoint, entry.fsType,
                                      platform::BlockDevices::nameForMount(entry, roots).has_value())) {
            continue;
        }
        if (auto volume = buildAtMountPoint(entry, table, roots)) volumes.push_back(std::move(*volume));
    }
    return volumes;
}

std::vector<platform::MountEntry> VolumeInfo::localExternalMounts(const platform::SystemRoots& roots) {
    return localExternalMountsIn(platform::MountTable::read(roots.mountinfo));
}

std::vector<platform::MountEntry> VolumeInfo::localExternalMountsIn(const std::vector<platform::MountEntry>& table) {
    std::vector<platform::MountEntry> mounts;
    for (auto& entry : shownEntries(table)) {
        if (platform::MountFacts::isNetwork(entry.fsType) || platform::MountFacts::isRootFileSystem(entry, table)) continue;
        mounts.push_back(std::move(entry));
    }
    return mounts;
}

std::vector<std::string> VolumeInfo::localExternalMountPaths(const platform::SystemRoots& roots) {
    std::vector<std::string> paths;
    for (auto& entry : localExternalMounts(roots)) paths.push_back(std::move(entry.mountPoint));
    return paths;
}

std::vector<VolumeInfo> VolumeInfo::localExternalCandidates(const platform::SystemRoots& roots) {
    auto table = platform::MountTable::read(roots.mountinfo);
    std::vector<VolumeInfo> volumes;
    for (const auto& entry : localExternalMounts(roots)) {
        if (auto volume = buildAtMountPoint(entry, table, roots)) volumes.push_back(std::move(*volume));
    }
    return volumes;
}

namespace {

// The answers by mount for one text of the mount table: what a FUSE mount really holds
// takes a probe of its block device, and a move asks once per item. A mount, unmount or
// remount changes the text (mount ids, options, sources), and with it every answer.
class NativeMetadataAnswers {
public:
    bool answer(const std::string& path, const platform::SystemRoots& roots) {
        std::string text = platform::MountTable::readText(roots.mountinfo).value_or("");
        std::string rootsKey = roots.mountinfo + '\0' + roots.sys + '\0' + roots.dev + '\0' + roots.udevData;
        std::lock_guard guard(lock_);
        if (rootsKey != rootsKey_ || text != text_) {
            rootsKey_ = std::move(rootsKey);
            text_ = std::move(text);
            table_ = platform::MountTable::parse(text_);
            answers_.clear();
        }
        auto entry = entryHolding(path, table_);
        if (!entry) return true;
        const auto key = std::make_pair(entry->mountId, entry->mountPoint);
        if (auto known = answers_.find(key); known != answers_.end()) return known->second;
        const bool needsProbe = platform::MountFacts::needsProbe(entry->fsType);
        std::optional<std::string> probed;
        if (needsProbe) {
            if (auto name = platform::BlockDevices::nameForMount(*entry, roots))
                probed = platform::BlockDevices::identify(*name, roots).type;
            if (!probed) probed = platform::MountFacts::fuseDaemonType(*entry, roots);
        }
        const bool native =
            FileSystemFormats::storesMetadataNatively(platform::MountFacts::fileSystemName(entry->fsType, probed));
        // A probe that found nothing (udev not done with a new device yet) is asked again.
        if (!needsProbe || probed) answers_.emplace(key, native);
        return native;
    }

private:
    std::mutex lock_;
    std::string rootsKey_;
    std::string text_;
    std::vector<platform::MountEntry> table_;
    std::map<std::pair<int64_t, std::string>, bool> answers_;
};

}  // namespace

bool VolumeInfo::storesMetadataNatively(const std::string& path, const platform::SystemRoots& roots) {
    struct statvfs space {};
    if (path.empty() || platform::volumeStatus(path, space) != 0) return true;
    static NativeMetadataAnswers answers;
    return answers.answer(path, roots);
}

void to_json(nlohmann::json& json, const VolumeInfo& volume) {
    json = nlohmann::json::object();
    json["mountPath"] = volume.mountPath;
    json["name"] = volume.name;
    if (volume.volumeUUID) json["volumeUUID"] = *volume.volumeUUID;
    json["fileSystem"] = volume.fileSystem;
    if (volume.kernelName) json["bsdName"] = *volume.kernelName;
    json["isInternal"] = volume.isInternal;
    json["isLocal"] = volume.isLocal;
    json["isReadOnly"] = volume.isReadOnly;
    json["isRootFileSystem"] = volume.isRootFileSystem;
    json["totalBytes"] = volume.totalBytes;
    json["availableBytes"] = volume.availableBytes;
}

void from_json(const nlohmann::json& json, VolumeInfo& volume) {
    VolumeInfo decoded;
    json.at("mountPath").get_to(decoded.mountPath);
    json.at("name").get_to(decoded.name);
    if (auto found = json.find("volumeUUID"); found != json.end() && !found->is_null()) {
        decoded.volumeUUID = found->get<std::string>();
    }
    json.at("fileSystem").get_to(decoded.fileSystem);
    if (auto found = json.find("bsdName"); found != json.end() && !found->is_null()) {
        decoded.kernelName = found->get<std::string>();
    }
    json.at("isInternal").get_to(decoded.isInternal);
    json.at("isLocal").get_to(decoded.isLocal);
    json.at("isReadOnly").get_to(decoded.isReadOnly);
    json.at("isRootFileSystem").get_to(decoded.isRootFileSystem);
    json.at("totalBytes").get_to(decoded.totalBytes);
    json.at("availableBytes").get_to(decoded.availableBytes);
    volume = std::move(decoded);
}

}  // namespace keldwick
