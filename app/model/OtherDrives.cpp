#include "model/OtherDrives.h"

#include <set>

#include "drives/DriveMarker.h"
#include "drives/VolumeInfo.h"
#include "model/StatusTexts.h"

namespace keldwick {

namespace {

constexpr const char* kOtherDriveName = "your other drive";

}  // namespace

std::optional<std::string> driveNameAt(const std::string& mountPath) {
    if (auto drive = DriveMarker::read(mountPath)) return drive->name;
    if (auto volume = VolumeInfo::read(mountPath)) return volume->name;
    return std::nullopt;
}

std::map<std::string, DriveStatus> otherDrives(const ModelState& state, const DriveLocating& locator,
                                               const DriveNameReader& nameAt) {
    const std::string chosen = state.settings.drive ? state.settings.drive->id : std::string();
    std::set<std::string> ids;
    for (const auto& record : state.records) ids.insert(record.driveID);
    ids.erase(chosen);

    std::map<std::string, DriveStatus> drives;
    for (const auto& id : ids) {
        if (auto mountPath = locator.mountPoint(id)) {
            drives[id] = DriveStatus{nameAt(*mountPath).value_or(kOtherDriveName), true};
            continue;
        }
        auto known = state.otherDrives.find(id);
        drives[id] = DriveStatus{known != state.otherDrives.end() ? known->second.name : kOtherDriveName, false};
    }
    return drives;
}

DriveStatus driveStatus(const ModelState& state, const OffloadRecord& record) {
    if (state.settings.drive && record.driveID == state.settings.drive->id) {
        return DriveStatus{driveDisplayName(state), state.driveRoot.has_value()};
    }
    if (auto known = state.otherDrives.find(record.driveID); known != state.otherDrives.end()) return known->second;
    return DriveStatus{kOtherDriveName, false};
}

}  // namespace keldwick
