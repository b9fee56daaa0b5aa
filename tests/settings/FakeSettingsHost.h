#pragma once
// A settings host that keeps the model's state in memory, applies each settings change
// as the model does and records every call, so the window's tests see what it wrote.

#include <stdexcept>

#include "settings/SettingsHost.h"
#include "support/FakeWindowHost.h"

namespace keldwick::test {

class FakeSettingsHost final : public FakeWindowHost<SettingsHost> {
public:
    FakeSettingsHost() { model.home = "/home/u"; }

    std::optional<std::string> settingsProblem() const override { return problem; }
    void setSettingsTab(SettingsTab tab) override {
        tabs.push_back(tab);
        model.settingsTab = tab;
        emit stateChanged();
    }
    void updateSettings(const SettingsChange& change) override {
        ++writes;
        model.settings = applySettingsChange(model.settings, change);
        emit stateChanged();
    }
    RuleList scanRules() const override { return rules; }
    std::optional<std::vector<std::string>> pick(const PickRequest& request) override {
        picks.push_back(request);
        return answer;
    }
    void pin(const std::vector<std::string>& paths) override {
        pinned.push_back(paths);
        for (const auto& path : paths) model.pins.push_back(path);
        emit stateChanged();
    }
    std::optional<std::string> unpin(const std::string& path) override {
        unpinned.push_back(path);
        if (unpinError) return unpinError;
        std::erase(model.pins, path);
        emit stateChanged();
        return std::nullopt;
    }
    bool loginItemEnabled() override { return login; }
    void setLoginItem(bool on) override {
        loginSets.push_back(on);
        if (loginError) throw std::runtime_error(*loginError);
        login = on;
    }
    UpdateFacts updates() const override { return facts; }
    void setChecksForUpdatesAutomatically(bool on) override {
        automaticChecks.push_back(on);
        facts.checksAutomatically = on;
    }
    void setDownloadsUpdatesAutomatically(bool on) override {
        automaticDownloads.push_back(on);
        facts.downloadsAutomatically = on;
    }
    void checkForUpdates() override { ++updateChecks; }
    DriveWork driveWork() const override { return work; }
    bool useDrive(const DriveOption& option) override {
        used.push_back(option);
        return true;
    }
    bool checkSpeed() override {
        ++speedChecks;
        return true;
    }
    void listDrives(std::function<void(std::vector<DriveOption>)> done) override { done(drives); }
    void showDriveFolder() override { ++foldersShown; }

    // A change made elsewhere (the menu, another window): the window redraws, nothing is
    // written here.
    void changeElsewhere(const std::function<void(ModelState&)>& change) {
        change(model);
        emit stateChanged();
    }

    std::optional<std::string> problem;
    int writes = 0;
    std::vector<SettingsTab> tabs;
    RuleList rules;
    std::optional<std::vector<std::string>> answer;
    std::vector<PickRequest> picks;
    std::vector<std::vector<std::string>> pinned;
    std::vector<std::string> unpinned;
    std::optional<std::string> unpinError;
    bool login = false;
    std::optional<std::string> loginError;
    std::vector<bool> loginSets;
    UpdateFacts facts{false, false, false, "1.4 (212)", false, false, ""};
    std::vector<bool> automaticChecks, automaticDownloads;
    int updateChecks = 0;
    DriveWork work;
    std::vector<DriveOption> used;
    int speedChecks = 0;
    std::vector<DriveOption> drives;
    int foldersShown = 0;
};

}  // namespace keldwick::test
