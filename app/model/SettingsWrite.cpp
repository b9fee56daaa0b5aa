#include "model/SettingsWrite.h"

#include <algorithm>
#include <cmath>

#include "foundation/Saturating.h"

namespace keldwick {

namespace SettingsChanges {

SettingsChange approveAutomaticRuns() {
    return [](AppSettings& s) {
        s.automaticRunsApproved = true;
        // The preview's switch started from the user's choice, so approving means they
        // changed it there.
        if (s.askFirstChoice) s.askFirstChoice = false;
    };
}

SettingsChange togglePaused() {
    return [](AppSettings& s) { s.isPaused = !s.isPaused; };
}

SettingsChange togglePaused(bool moveAutomatically) {
    return [moveAutomatically](AppSettings& s) { s.isPaused = !moveAutomatically; };
}

SettingsChange toggleAutomaticRunsApproved() {
    return [](AppSettings& s) {
        s.automaticRunsApproved = !s.automaticRunsApproved;
        s.askFirstChoice = !s.automaticRunsApproved;
    };
}

SettingsChange toggleAutomaticRunsApproved(bool askFirst) {
    return [askFirst](AppSettings& s) {
        s.automaticRunsApproved = !askFirst;
        s.askFirstChoice = askFirst;
    };
}

SettingsChange setThresholdBytes(int64_t bytes) {
    return [bytes](AppSettings& s) {
        s.thresholdBytes = bytes;
        s.targetBytes = AppSettings::target(bytes);
    };
}

SettingsChange setGigabytes(double gigabytes, int64_t AppSettings::*field) {
    return [gigabytes, field](AppSettings& s) {
        if (std::isnan(gigabytes)) return;
        const double whole = std::trunc(gigabytes);
        // Beyond this many gigabytes the byte count no longer fits (infinities included).
        constexpr double limit = 9'223'372'036.0;
        if (whole >= limit) {
            s.*field = Saturating::max;
        } else if (whole <= -limit) {
            s.*field = Saturating::min;
        } else {
            s.*field = Saturating::multiply(static_cast<int64_t>(whole), AppSettings::gigabyte);
        }
    };
}

SettingsChange appendManagedFolders(std::vector<std::string> paths) {
    return [paths = std::move(paths)](AppSettings& s) {
        for (const auto& path : paths) {
            if (std::find(s.managedFolders.begin(), s.managedFolders.end(), path) == s.managedFolders.end()) {
                s.managedFolders.push_back(path);
            }
        }
    };
}

SettingsChange removeManagedFolder(std::string path) {
    return [path = std::move(path)](AppSettings& s) { std::erase(s.managedFolders, path); };
}

SettingsChange setDriveVolumeUUID(std::optional<std::string> uuid) {
    return [uuid = std::move(uuid)](AppSettings& s) { s.driveVolumeUUID = uuid; };
}

SettingsChange completeOnboarding(Drive drive, DriveProfile profile, std::vector<std::string> folders,
                                  int64_t thresholdBytes, int64_t targetBytes) {
    return [=](AppSettings& s) {
        s.drive = drive;
        s.driveProfile = profile;
        s.managedFolders = folders;
        s.thresholdBytes = thresholdBytes;
        s.targetBytes = targetBytes;
        s.onboardingComplete = true;
    };
}

}  // namespace SettingsChanges

namespace {

std::optional<std::string> driveID(const AppSettings& settings) {
    if (!settings.drive) return std::nullopt;
    return settings.drive->id;
}


}  // namespace

AppSettings applySettingsChange(const AppSettings& old, const SettingsChange& change) {
    AppSettings settings = old;
    change(settings);
    if (driveID(settings) != driveID(old)) settings.driveVolumeUUID.reset();
    settings.normalize();
    return settings;
}

SettingsFollowUps settingsFollowUps(const AppSettings& old, const AppSettings& now, bool started) {
    const std::vector<SettingFollowUp> changed = AppSettings::followUpsOfChanges(old, now);
    auto any = [&changed](std::initializer_list<SettingFollowUp> kinds) {
        return std::ranges::any_of(kinds, [&changed](SettingFollowUp kind) {
            return std::ranges::find(changed, kind) != changed.end();
        });
    };
    using Kind = SettingFollowUp;
    SettingsFollowUps followUps;
    followUps.driveChanged = any({Kind::drive});
    followUps.rebuildEngine = any({Kind::drive, Kind::engine});
    const bool decisive = any({Kind::decide, Kind::engine, Kind::drive});
    followUps.clearStall = decisive;
    followUps.askFirstChosen = now.askFirstChoice && now.askFirstChoice != old.askFirstChoice;
    if (now.onboardingComplete && started) {
        if (decisive) {
            followUps.reschedule = CheckReschedule::soon;
        } else if (any({Kind::interval})) {
            followUps.reschedule = CheckReschedule::regularInterval;
        }
    }
    return followUps;
}

}  // namespace keldwick
