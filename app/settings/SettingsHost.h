#pragma once
// What the settings window asks of the program besides the model's state and clock: every
// change the window makes (settings, pins, the login item, updates, the drive). The
// program hands an adapter over the model (AppModelSettingsHost); tests hand a recording
// stand-in. Main thread only.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/DriveOption.h"
#include "model/ModelPorts.h"
#include "model/SettingsWrite.h"
#include "scanning/ScanRule.h"
#include "settings/SettingsScreens.h"
#include "ui/WindowHost.h"

namespace keldwick {

// stateChanged also tells of a change of the updater or of the drive check.
class SettingsHost : public WindowHost {
    Q_OBJECT

public:
    using WindowHost::WindowHost;
    ~SettingsHost() override = default;

    // Why the last save of the settings failed; none once one succeeded.
    virtual std::optional<std::string> settingsProblem() const = 0;
    // The tab shown, remembered while the program runs.
    virtual void setSettingsTab(SettingsTab tab) = 0;

    // The one way a setting changes: applied, normalised, saved and acted on.
    virtual void updateSettings(const SettingsChange& change) = 0;
    // The scan rules of the moment: why a scan would skip a folder.
    virtual RuleList scanRules() const = 0;
    // The open panel; none when cancelled.
    virtual std::optional<std::vector<std::string>> pick(const PickRequest& request) = 0;
    virtual void pin(const std::vector<std::string>& paths) = 0;
    // Removes the pin, then reloads the pins in every case; the journal's error, if any.
    virtual std::optional<std::string> unpin(const std::string& path) = 0;

    // Whether the program starts at login now, and the switch to change that (throws
    // the system's error).
    virtual bool loginItemEnabled() = 0;
    virtual void setLoginItem(bool on) = 0;
    // A line under the switch about the program a login starts; none for nothing to say.
    virtual std::optional<std::string> loginItemNote() { return std::nullopt; }

    virtual UpdateFacts updates() const = 0;
    virtual void setChecksForUpdatesAutomatically(bool on) = 0;
    virtual void setDownloadsUpdatesAutomatically(bool on) = 0;
    virtual void checkForUpdates() = 0;

    // The drive check under way or last failed, and starting one (false when refused).
    virtual DriveWork driveWork() const = 0;
    virtual bool useDrive(const DriveOption& option) = 0;
    virtual bool checkSpeed() = 0;
    // The drives that could be chosen, listed off the main thread.
    virtual void listDrives(std::function<void(std::vector<DriveOption>)> done) = 0;
    // Opens the program's folder on the mounted drive in the file manager.
    virtual void showDriveFolder() = 0;
};

}  // namespace keldwick
