// The settings controller on its own, over a store and a settings file: what a write
// publishes and announces, what a failed save keeps, and the preferences beside the file.

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "model/ModelFakes.h"
#include "model/SettingsController.h"

namespace keldwick::test {
namespace {

struct SettingsWorld {
    TempDir dir;
    ModelStore store;
    std::shared_ptr<RecordingNotices> notices = std::make_shared<RecordingNotices>();
    std::shared_ptr<MemoryPreferences> preferences = std::make_shared<MemoryPreferences>();
    std::shared_ptr<RecordingLoginItem> loginItem = std::make_shared<RecordingLoginItem>();
    SettingsController settings{store, dir / "settings.json", notices, preferences, loginItem};
    std::vector<SettingsFollowUps> followed;

    SettingsWorld() {
        QObject::connect(&settings, &SettingsController::followUps,
                         [this](const SettingsFollowUps& followUps) { followed.push_back(followUps); });
        settings.load();
    }
};

TEST(SettingsControllerTest, AWriteIsSavedPublishedThenFollowedUp) {
    SettingsWorld world;
    FieldChanges published(world.store, ModelField::settings);
    std::vector<bool> seenWhenFollowed;
    QObject::connect(&world.settings, &SettingsController::followUps, [&](const SettingsFollowUps&) {
        seenWhenFollowed.push_back(world.store.state().settings.isPaused);
    });

    world.settings.update(SettingsChanges::togglePaused());
    EXPECT_TRUE(world.store.state().settings.isPaused);
    EXPECT_EQ(published.count(), 1);
    ASSERT_EQ(world.followed.size(), 1u);
    EXPECT_EQ(seenWhenFollowed, std::vector<bool>{true});  // follow-ups see the new settings
    bool setAside = false;
    EXPECT_TRUE(SettingsStore(world.dir / "settings.json").load(&setAside).isPaused);

    // A write that changes nothing publishes nothing, yet still asks what follows.
    world.settings.update(SettingsChanges::removeManagedFolder("/nowhere"));
    EXPECT_EQ(published.count(), 1);
    EXPECT_EQ(world.followed.size(), 2u);
    EXPECT_EQ(world.followed.back(), SettingsFollowUps{});

    world.settings.update([](AppSettings& s) { s.notificationsEnabled = false; });
    EXPECT_FALSE(world.notices->isEnabled);
}

TEST(SettingsControllerTest, AFailedSaveKeepsTheChangeAndSaysWhyUntilASaveSucceeds) {
    SettingsWorld world;
    FieldChanges problems(world.store, ModelField::settingsProblem);
    // A folder where the file should be, and no room to set it aside: the save can't
    // replace it.
    std::filesystem::create_directories(world.dir / "settings.json");
    std::filesystem::create_directories(world.dir / "settings.json.corrupt/full");
    world.settings.update(SettingsChanges::setThresholdBytes(40'000'000'000));
    EXPECT_EQ(world.store.state().settings.thresholdBytes, 40'000'000'000);
    ASSERT_TRUE(world.store.state().settingsProblem);
    EXPECT_EQ(problems.count(), 1);

    std::filesystem::remove_all(world.dir / "settings.json.corrupt");
    world.settings.update(SettingsChanges::togglePaused());
    EXPECT_FALSE(world.store.state().settingsProblem);
    EXPECT_EQ(problems.count(), 2);
    bool setAside = false;
    const AppSettings saved = SettingsStore(world.dir / "settings.json").load(&setAside);
    EXPECT_EQ(saved.thresholdBytes, 40'000'000'000);  // the change kept in memory is saved too
    EXPECT_TRUE(saved.isPaused);
}

TEST(SettingsControllerTest, DeclineDateAndLoginItem) {
    SettingsWorld world;
    EXPECT_FALSE(world.settings.firstRunDeclinedAt());
    world.settings.setFirstRunDeclinedAt(Date{1'800'000'000});
    EXPECT_EQ(world.settings.firstRunDeclinedAt(), Date{1'800'000'000});
    world.preferences->setValue("firstRunDeclinedAt", "not a date");
    EXPECT_FALSE(world.settings.firstRunDeclinedAt());
    world.settings.setFirstRunDeclinedAt(std::nullopt);
    EXPECT_FALSE(world.preferences->value("firstRunDeclinedAt"));

    world.settings.setOpenAtLogin(true);
    world.loginItem->fails = true;
    EXPECT_THROW(world.settings.setOpenAtLogin(false), std::runtime_error);
    EXPECT_EQ(world.loginItem->calls, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace keldwick::test
