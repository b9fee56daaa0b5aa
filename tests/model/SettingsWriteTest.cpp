#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/SettingsWrite.h"

using namespace keldwick;

namespace {

AppSettings completeSettings() {
    AppSettings s;
    s.onboardingComplete = true;
    s.drive = Drive{"ID-1", "Archive"};
    s.driveVolumeUUID = "ABCD-1234";
    s.managedFolders = {"/home/u/Downloads", "/home/u/Desktop"};
    return s;
}

}  // namespace

TEST(SettingsWriteTest, FollowUpsOfEachChange) {
    using R = CheckReschedule;
    struct Case {
        const char* name;
        SettingsChange change;
        bool started;
        SettingsFollowUps expected;
        std::function<void(AppSettings&)> before = [](AppSettings&) {};
    };
    const std::vector<Case> cases = {
        {"approve", SettingsChanges::approveAutomaticRuns(), true, {false, false, R::none}},
        {"toggle approval", SettingsChanges::toggleAutomaticRunsApproved(), true, {false, false, R::none, false, true}},
        {"ask first, chosen again", SettingsChanges::toggleAutomaticRunsApproved(true), true, {false, false, R::none},
         [](AppSettings& s) { s.askFirstChoice = true; }},
        {"pause", SettingsChanges::togglePaused(), true, {false, true, R::soon}},
        {"resume", SettingsChanges::togglePaused(true), true, {false, true, R::soon},
         [](AppSettings& s) { s.isPaused = true; }},
        {"keep-free level", SettingsChanges::setThresholdBytes(50'000'000'000), true, {false, true, R::soon}},
        {"target", SettingsChanges::setGigabytes(45.7, &AppSettings::targetBytes), true, {false, true, R::soon}},
        {"add a folder", SettingsChanges::appendManagedFolders({"/home/u/Music"}), true, {false, true, R::soon}},
        {"remove a folder not listed", SettingsChanges::removeManagedFolder("/home/u/Music"), true,
         {false, false, R::none}},
        {"volume uuid", SettingsChanges::setDriveVolumeUUID("EF01-2345"), true, {false, false, R::none}},
        {"another drive", [](AppSettings& s) { s.drive = Drive{"ID-2", "Backup"}; }, true, {true, true, R::soon, true}},
        {"drive renamed", [](AppSettings& s) { s.drive->name = "Old Archive"; }, true, {true, true, R::soon, true}},
        {"interval only", [](AppSettings& s) { s.checkIntervalMinutes = 30; }, true,
         {false, false, R::regularInterval}},
        {"notifications only", [](AppSettings& s) { s.notificationsEnabled = false; }, true,
         {false, false, R::none}},
        {"not started yet", SettingsChanges::togglePaused(), false, {false, true, R::none}},
        {"during setup, another drive", [](AppSettings& s) { s.drive = Drive{"ID-2", "Backup"}; }, true,
         {true, true, R::none, true}, [](AppSettings& s) { s.onboardingComplete = false; }},
    };
    for (const auto& c : cases) {
        AppSettings old = completeSettings();
        c.before(old);
        AppSettings now = applySettingsChange(old, c.change);
        EXPECT_EQ(settingsFollowUps(old, now, c.started), c.expected) << c.name;
    }
}

// A change of any one setting alone starts what its kind calls for.
TEST(SettingsWriteTest, FollowUpsOfEachSettingAlone) {
    using R = CheckReschedule;
    struct Case {
        const char* name;
        SettingsChange change;
        SettingsFollowUps expected;
    };
    const SettingsFollowUps decide{false, true, R::soon, false};
    const std::vector<Case> cases = {
        {"onboardingComplete", [](AppSettings& s) { s.onboardingComplete = false; }, {false, true, R::none, false}},
        {"drive", [](AppSettings& s) { s.drive.reset(); }, {true, true, R::soon, true}},
        {"driveVolumeUUID", [](AppSettings& s) { s.driveVolumeUUID.reset(); }, {}},
        {"driveProfile", [](AppSettings& s) { s.driveProfile = DriveProfile{}; }, decide},
        {"managedFolders", [](AppSettings& s) { s.managedFolders.pop_back(); }, decide},
        {"thresholdBytes", [](AppSettings& s) { s.thresholdBytes = 10'000'000'000; }, decide},
        {"targetBytes", [](AppSettings& s) { s.targetBytes = 90'000'000'000; }, decide},
        {"minimumAgeDays", [](AppSettings& s) { s.minimumAgeDays = 3; }, decide},
        {"minimumItemMegabytes", [](AppSettings& s) { s.minimumItemMegabytes = 3; }, decide},
        {"moveRecentLightFiles", [](AppSettings& s) { s.moveRecentLightFiles = false; }, decide},
        {"moveProjectsAndSimulators", [](AppSettings& s) { s.moveProjectsAndEmulators = false; }, decide},
        {"clearCachesWhenLow", [](AppSettings& s) { s.clearCachesWhenLow = false; }, decide},
        {"isPaused", [](AppSettings& s) { s.isPaused = true; }, decide},
        {"dryRunMode", [](AppSettings& s) { s.dryRunMode = true; }, decide},
        {"automaticRunsApproved", [](AppSettings& s) { s.automaticRunsApproved = true; }, {}},
        {"checkIntervalMinutes", [](AppSettings& s) { s.checkIntervalMinutes = 11; }, {false, false, R::regularInterval}},
        {"notificationsEnabled", [](AppSettings& s) { s.notificationsEnabled = false; }, {}},
    };
    EXPECT_EQ(cases.size(), AppSettings().toJson().size() + 3);  // every setting
    for (const auto& c : cases) {
        const AppSettings old = completeSettings();
        AppSettings now = old;
        c.change(now);
        EXPECT_EQ(settingsFollowUps(old, now, true), c.expected) << c.name;
        EXPECT_EQ(settingsFollowUps(old, old, true), SettingsFollowUps{}) << c.name;
    }
}

TEST(SettingsWriteTest, ApplyingChanges) {
    AppSettings old = completeSettings();
    EXPECT_EQ(applySettingsChange(old, [](AppSettings& s) { s.drive = Drive{"ID-2", "Backup"}; }).driveVolumeUUID,
              std::nullopt);
    EXPECT_EQ(applySettingsChange(old, [](AppSettings& s) { s.drive.reset(); }).driveVolumeUUID, std::nullopt);
    EXPECT_EQ(applySettingsChange(old, [](AppSettings& s) { s.drive->name = "Renamed"; }).driveVolumeUUID,
              "ABCD-1234");

    AppSettings lowest = applySettingsChange(old, SettingsChanges::setThresholdBytes(0));
    EXPECT_EQ(lowest.thresholdBytes, 1'000'000'000);
    EXPECT_EQ(lowest.targetBytes, 5'000'000'000);
    AppSettings twenty = applySettingsChange(old, SettingsChanges::setThresholdBytes(20'000'000'000));
    EXPECT_EQ(twenty.targetBytes, 30'000'000'000);

    AppSettings folders = old;
    folders.managedFolders = {"/a", "/b", "/a"};
    SettingsChanges::removeManagedFolder("/a")(folders);
    EXPECT_EQ(folders.managedFolders, (std::vector<std::string>{"/b"}));
    SettingsChanges::appendManagedFolders({"/c", "/b", "/c", "/d"})(folders);
    EXPECT_EQ(folders.managedFolders, (std::vector<std::string>{"/b", "/c", "/d"}));

    AppSettings toggles = old;
    SettingsChanges::togglePaused(false)(toggles);
    EXPECT_TRUE(toggles.isPaused);
    SettingsChanges::togglePaused()(toggles);
    EXPECT_FALSE(toggles.isPaused);
    SettingsChanges::toggleAutomaticRunsApproved(false)(toggles);
    EXPECT_TRUE(toggles.automaticRunsApproved);
    EXPECT_EQ(toggles.askFirstChoice, false);
    SettingsChanges::toggleAutomaticRunsApproved()(toggles);
    EXPECT_FALSE(toggles.automaticRunsApproved);
    EXPECT_EQ(toggles.askFirstChoice, true);

    // Approving from the preview records no choice the user never made, and replaces one
    // they made (the preview's switch started from it and they unticked it).
    AppSettings unchosen = old;
    SettingsChanges::approveAutomaticRuns()(unchosen);
    EXPECT_TRUE(unchosen.automaticRunsApproved);
    EXPECT_EQ(unchosen.askFirstChoice, std::nullopt);
    SettingsChanges::approveAutomaticRuns()(toggles);
    EXPECT_TRUE(toggles.automaticRunsApproved);
    EXPECT_EQ(toggles.askFirstChoice, false);

    AppSettings finished;
    SettingsChanges::completeOnboarding(Drive{"ID-9", "New"}, DriveProfile{}, {"/home/u/Desktop"}, 10'000'000'000,
                                        15'000'000'000)(finished);
    EXPECT_TRUE(finished.onboardingComplete);
    EXPECT_EQ(finished.drive, (Drive{"ID-9", "New"}));
    EXPECT_EQ(finished.driveProfile, DriveProfile{});
    EXPECT_EQ(finished.managedFolders, (std::vector<std::string>{"/home/u/Desktop"}));
    EXPECT_EQ(finished.thresholdBytes, 10'000'000'000);
    EXPECT_EQ(finished.targetBytes, 15'000'000'000);
}

TEST(SettingsWriteTest, GigabytesAtTheirEdges) {
    constexpr int64_t max = std::numeric_limits<int64_t>::max();
    constexpr int64_t min = std::numeric_limits<int64_t>::min();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<double, int64_t>> cases = {
        {25.9, 25'000'000'000}, {-1.5, -1'000'000'000}, {0.4, 0},   {9'223'372'035.0, 9'223'372'035'000'000'000},
        {9'223'372'036.5, max}, {1e300, max},                {inf, max}, {-inf, min},
        {std::nan(""), 77},  // not a number: no change
    };
    for (const auto& [gigabytes, bytes] : cases) {
        AppSettings s;
        s.targetBytes = 77;
        SettingsChanges::setGigabytes(gigabytes, &AppSettings::targetBytes)(s);
        EXPECT_EQ(s.targetBytes, bytes) << gigabytes;
        EXPECT_EQ(s.thresholdBytes, AppSettings{}.thresholdBytes);
    }
}
