// The one settings write path and its named changes.

#include "drives/VolumeDriveLocator.h"
#include "model/AppModel.h"

namespace keldwick {

void AppModel::updateSettings(const SettingsChange& change) {
    assertMainThread();
    const AppSettings old = state_.settings;
    AppSettings now = applySettingsChange(old, change);
    // A failed save keeps the change in memory (the next write saves it again) and stays
    // visible until a save succeeds, so settings are never lost unnoticed.
    std::optional<std::string> problem;
    try {
        store_.save(now);
    } catch (const std::exception& e) {
        problem = e.what();
    }
    modelStore_.set<ModelField::settingsProblem>(std::move(problem));
    modelStore_.set<ModelField::settings>(now);
    services_.notifier->isEnabled = state_.settings.notificationsEnabled;

    const SettingsFollowUps followUps = settingsFollowUps(old, state_.settings, state_.started);
    if (followUps.driveChanged) {
        if (auto* volumes = dynamic_cast<VolumeDriveLocator*>(locator_.get())) volumes->forgetLocations();
    }
    if (followUps.rebuildEngine) setEngine(makeEngine());
    if (followUps.driveChanged) {
        refreshDrive();
        watchDriveWake();
    }
    if (followUps.clearStall) modelStore_.set<ModelField::stall>(std::nullopt);
    switch (followUps.reschedule) {
        case CheckReschedule::soon:
            scheduleCheck(rescheduleSoonSeconds);
            break;
        case CheckReschedule::regularInterval:
            scheduleCheck();
            break;
        case CheckReschedule::none:
            break;
    }
}

void AppModel::approveAutomaticRuns() { updateSettings(SettingsChanges::approveAutomaticRuns()); }
void AppModel::togglePaused(bool moveAutomatically) {
    updateSettings(SettingsChanges::togglePaused(moveAutomatically));
}
void AppModel::setDriveVolumeUUID(const std::optional<std::string>& uuid) {
    updateSettings(SettingsChanges::setDriveVolumeUUID(uuid));
}

void AppModel::requestNotificationPermission(Done done) {
    assertMainThread();
    if (done) done();
}

}  // namespace keldwick
