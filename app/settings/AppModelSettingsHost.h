#pragma once
// The settings window's host in the running program: the model, the updater and the
// autostart entry. It owns the drive check, so a check outlives the window that started
// it. Every change the model or the updater announces may redraw the window.

#include "settings/DriveCheck.h"
#include "settings/SettingsHost.h"
#include "ui/AppModelWindowHost.h"
#include "ui/FileManager.h"

namespace keldwick {

class Updater;

class AppModelSettingsHost final : public AppModelWindowHost<SettingsHost> {
    Q_OBJECT

public:
    // `model` and `updater` outlive the host.
    AppModelSettingsHost(AppModel& model, Updater& updater, QObject* parent = nullptr);

    std::optional<std::string> settingsProblem() const override;
    void setSettingsTab(SettingsTab tab) override;
    void updateSettings(const SettingsChange& change) override;
    RuleList scanRules() const override;
    std::optional<std::vector<std::string>> pick(const PickRequest& request) override;
    void pin(const std::vector<std::string>& paths) override;
    std::optional<std::string> unpin(const std::string& path) override;
    bool loginItemEnabled() override;
    void setLoginItem(bool on) override;
    std::optional<std::string> loginItemNote() override;
    UpdateFacts updates() const override;
    void setChecksForUpdatesAutomatically(bool on) override;
    void setDownloadsUpdatesAutomatically(bool on) override;
    void checkForUpdates() override;
    DriveWork driveWork() const override;
    bool useDrive(const DriveOption& option) override;
    bool checkSpeed() override;
    void listDrives(std::function<void(std::vector<DriveOption>)> done) override;
    void showDriveFolder() override;

    DriveCheck& driveCheck() { return check_; }

private:
    Updater& updater_;
    DriveCheck check_;
    FileManager files_;
};

}  // namespace keldwick
