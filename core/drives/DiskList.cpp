#include "drives/DiskList.h"

namespace keldwick {

void DiskList::update(const std::string& kernelName, const std::optional<DiskVolume>& volume) {
    if (volume) {
        volumes[kernelName] = *volume;
    } else {
        volumes.erase(kernelName);
    }
}

std::optional<DiskVolume> DiskList::volume(const std::optional<std::string>& uuid,
                                           const std::optional<std::string>& name) const {
    if (uuid) {
        for (const auto& [disk, volume] : volumes) {
            if (volume.uuid && *volume.uuid == *uuid) return volume;
        }
        return std::nullopt;
    }
    if (name) {
        for (const auto& [disk, volume] : volumes) {
            if (volume.name && *volume.name == *name) return volume;
        }
    }
    return std::nullopt;
}

bool DiskList::isMounting(const std::optional<std::string>& uuid, const std::optional<std::string>& name) const {
    auto found = volume(uuid, name);
    return found && !found->mountPath;
}

std::optional<std::string> DiskList::uuid(const std::string& mountedAt) const {
    for (const auto& [disk, volume] : volumes) {
        if (volume.mountPath && *volume.mountPath == mountedAt) return volume.uuid;
    }
    return std::nullopt;
}

}  // namespace keldwick
