#pragma once
// The one way settings change: the named changes the menu and windows make, how a change
// is applied (a new drive forgets the old volume UUID; values are brought into range), and
// which follow-ups the model then starts.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "drives/Drive.h"
#include "drives/DriveProfile.h"
#include "scanning/AppSettings.h"

namespace keldwick {

using SettingsChange = std::function<void(AppSettings&)>;

namespace SettingsChanges {

// Approves automatic runs; a choice the user made to be asked first becomes their choice not
// to be (only the preview approves, and its switch starts from that choice).
SettingsChange approveAutomaticRuns();
// Flips isPaused; with the "Move files automatically" switch's new value, stores its negation.
SettingsChange togglePaused();
SettingsChange togglePaused(bool moveAutomatically);
// Flips automaticRunsApproved; with the ask-first switch's new value, stores its negation.
// Either way the new ask-first value is kept as the user's own choice (askFirstChoice).
SettingsChange toggleAutomaticRunsApproved();
SettingsChange toggleAutomaticRunsApproved(bool askFirst);
// The keep-free level, and the target above it (AppSettings::target).
SettingsChange setThresholdBytes(int64_t bytes);
// thresholdBytes or targetBytes = whole gigabytes (truncated toward zero) x 1,000,000,000,
// saturating at the ends of the Int64 range; a value that is not a number changes nothing.
SettingsChange setGigabytes(double gigabytes, int64_t AppSettings::*field);
// Appends each path not yet listed (counting those appended before it), in order.
SettingsChange appendManagedFolders(std::vector<std::string> paths);
// Removes every entry equal to the path; the others keep their order.
SettingsChange removeManagedFolder(std::string path);
SettingsChange setDriveVolumeUUID(std::optional<std::string> uuid);
// Onboarding's finish: drive, profile, folders, levels, then onboardingComplete.
SettingsChange completeOnboarding(Drive drive, DriveProfile profile, std::vector<std::string> folders,
                                  int64_t thresholdBytes, int64_t targetBytes);

}  // namespace SettingsChanges

// The settings after `change`: when the chosen drive's id changed (or a drive was chosen or
// removed), the remembered volume UUID is dropped; then everything is normalised.
AppSettings applySettingsChange(const AppSettings& old, const SettingsChange& change);

enum class CheckReschedule {
    none,             // nothing is rescheduled
    soon,             // a check in rescheduleSoonSeconds
    regularInterval,  // the regular interval from now
};

inline constexpr double rescheduleSoonSeconds = 2;

struct SettingsFollowUps {
    // The drive changed (id or name): forget drive locations, re-read the drive's mount
    // and watch its wake state.
    bool driveChanged = false;
    // Something that decides what may move changed: the stall from before no longer holds.
    bool clearStall = false;
    CheckReschedule reschedule = CheckReschedule::none;
    // The drive or a setting the engine honours changed: a new engine is built.
    bool rebuildEngine = false;
    // The user chose anew whether to be asked before files move: an open preview's switch
    // shows that choice.
    bool askFirstChosen = false;
    bool operator==(const SettingsFollowUps&) const = default;
};

// What a write from `old` to `now` starts, by the follow-up kinds of the settings that
// changed (SettingFollowUp): a changed interval alone restarts the regular wait; a change
// that decides what may move clears the stall and brings the next check forward. Nothing is
// rescheduled before setup is complete or before the model has started.
SettingsFollowUps settingsFollowUps(const AppSettings& old, const AppSettings& now, bool started);

}  // namespace keldwick
