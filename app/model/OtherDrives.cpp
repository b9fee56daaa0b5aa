#include "model/OtherDrives.h"

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

MountedDrives mountedOtherDrives(const RecordList& records, const std::string& chosenID,
                                 const DriveLocating& locator, const DriveNameReader& nameAt) {
    MountedDrives drives;
    for (const auto& id : records.driveIDs()) {
        if (id == chosenID) continue;
        auto& name = drives[id];
        if (auto mountPath = locator.mountPoint(id)) name = nameAt(*mountPath).value_or(kOtherDriveName);
    }
    return drives;
}

std::map<std::string, DriveStatus> otherDrives(const MountedDrives& mounted,
                                               const std::map<std::string, DriveStatus>& known) {
    std::map<std::string, DriveStatus> drives;
    for (const auto& [id, name] : mounted) {
        if (name) {
            drives[id] = DriveStatus{*name, true};
            continue;
        }
        auto before = known.find(id);
        drives[id] = DriveStatus{before != known.end() ? before->second.name : kOtherDriveName, false};
    }
    return drives;
}

bool chosenDriveReachable(const ModelState& state) {
    return state.driveRoot.has_value() || !state.driveRefusals.empty();
}

DriveStatus driveStatus(const ModelState& state, const OffloadRecord& record) {
    if (state.settings.drive && record.driveID == state.settings.drive->id) {
        DriveStatus status{driveDisplayName(state), chosenDriveReachable(state)};
        if (!state.driveRoot) status.refusal = refusedDriveText(state);
        return status;
    }
    if (auto known = state.otherDrives.find(record.driveID); known != state.otherDrives.end()) return known->second;
    return DriveStatus{kOtherDriveName, false};
}

}  // namespace keldwick
