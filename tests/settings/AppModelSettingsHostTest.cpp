#include <QCheckBox>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include "desktop/Updater.h"
#include "foundation/AtomicFile.h"
#include "model/ModelFakes.h"
#include "settings/AdvancedTab.h"
#include "settings/AppModelSettingsHost.h"
#include "settings/FoldersTab.h"

namespace keldwick {
namespace {

class AppModelSettingsHostTest : public ::testing::Test {
protected:
    // A model whose drive is found at world.driveRoot and whose speed test is scripted.
    std::unique_ptr<AppModel> make() {
        world.locator->set(world.drive.id, world.driveRoot);
        AppServices services = world.services();
        services.driveSystem.benchmark = [this](const std::string& root) {
            benchmarked.push_back(root);
            return BenchmarkResult{300, 350, 0.3, 0.5, 64 << 20, Date{1'800'000'000}};
        };
        services.driveSystem.hardware = [](const std::string&) { return std::optional<DriveHardware>(); };
        auto model =
            std::make_unique<AppModel>(AppEnvironment{world.home, world.support, world.locator, {}}, services);
        model->refresh();
        return model;
    }

    test::ModelWorld world;
    Updater updater{UpdaterConfiguration{}};
    std::vector<std::string> benchmarked;
};

TEST_F(AppModelSettingsHostTest, OpeningTheTabsSavesNothingAndEditsSaveThroughTheModel) {
    AppSettings stored;
    stored.onboardingComplete = true;
    stored.drive = world.drive;
    stored.minimumAgeDays = 3;             // below the stepper
    stored.thresholdBytes = 1'000'000'000;  // below the stepper
    stored.checkIntervalMinutes = 1440;     // not offered
    SettingsStore{world.support + "/settings.json"}.save(stored);
    const std::string file = AtomicFile::read(world.support + "/settings.json");
    auto model = make();
    AppModelSettingsHost host(*model, updater);
    test::FieldChanges saved(model->store(), ModelField::settings);
    {
        AdvancedTab advanced(host);
        FoldersTab folders(host);
        model->settings().togglePaused(false);  // the menu's switch: both tabs redraw
        EXPECT_EQ(saved.count(), 1);
        EXPECT_EQ(model->state().settings.minimumAgeDays, 3);
        EXPECT_EQ(model->state().settings.thresholdBytes, 1'000'000'000);
        EXPECT_EQ(model->state().settings.checkIntervalMinutes, 1440);

        advanced.testModeBox()->click();
        EXPECT_TRUE(model->state().settings.dryRunMode);
        EXPECT_NE(AtomicFile::read(world.support + "/settings.json"), file);
    }

    // The tab is remembered without asking for the window.
    host.setSettingsTab(SettingsTab::drive);
    EXPECT_EQ(model->state().settingsTab, SettingsTab::drive);
    EXPECT_TRUE(model->state().windowRequests.empty());

    // Pins go through the journal, and the list follows it.
    test::makeDirs(world.home + "/Keep");
    host.pin({world.home + "/Keep"});
    EXPECT_EQ(model->state().pins, std::vector<std::string>{world.home + "/Keep"});
    EXPECT_EQ(host.unpin(world.home + "/Keep"), std::nullopt);
    EXPECT_TRUE(model->state().pins.empty());

    host.setLoginItem(true);
    EXPECT_EQ(world.loginItem->calls, std::vector<bool>{true});
    EXPECT_FALSE(host.updates().isConfigured);
}

TEST_F(AppModelSettingsHostTest, TheSpeedCheckRunsOffTheMainThreadAndOutlivesTheWindow) {
    world.writeReadySettings();
    auto model = make();
    // A refresh reads the drive off the main thread.
    ASSERT_TRUE(test::pumpUntil([&] { return model->state().driveRoot == world.driveRoot; }));
    AppModelSettingsHost host(*model, updater);
    QSignalSpy changed(&host, &SettingsHost::stateChanged);
    ASSERT_TRUE(host.checkSpeed());
    EXPECT_EQ(host.driveWork().working, kCheckingSpeed);
    EXPECT_FALSE(host.checkSpeed());
    ASSERT_TRUE(test::pumpUntil([&] { return !host.driveWork().working; }));
    EXPECT_EQ(benchmarked, std::vector<std::string>{world.driveRoot});
    ASSERT_TRUE(model->state().settings.driveProfile);
    EXPECT_EQ(model->state().settings.driveProfile->benchmark->sequentialWriteMBps, 300);
    EXPECT_EQ(host.driveWork(), DriveWork{});
    EXPECT_GE(changed.count(), 2);
}

}  // namespace
}  // namespace keldwick
