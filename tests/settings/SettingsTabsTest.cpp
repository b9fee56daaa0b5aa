#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <gtest/gtest.h>

#include "settings/AdvancedTab.h"
#include "settings/FakeSettingsHost.h"
#include "settings/FoldersTab.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

constexpr int64_t GB = 1'000'000'000;

QToolButton* buttonNamed(QWidget& tab, const QString& name) {
    for (auto* button : tab.findChildren<QToolButton*>()) {
        if (button->accessibleName() == name && button->isVisibleTo(&tab)) return button;
    }
    return nullptr;
}

TEST(AdvancedTabTest, OpeningWritesNothingEvenForValuesOutsideTheRanges) {
    struct Case {
        const char* name;
        std::function<void(AppSettings&)> set;
    };
    const Case cases[] = {
        {"defaults", [](AppSettings&) {}},
        {"age below the stepper", [](AppSettings& s) { s.minimumAgeDays = 3; }},
        {"threshold below the stepper", [](AppSettings& s) { s.thresholdBytes = GB; }},
        {"threshold above both steppers", [](AppSettings& s) { s.thresholdBytes = 650 * GB; s.targetBytes = 651 * GB; }},
        {"interval not offered", [](AppSettings& s) { s.checkIntervalMinutes = 1440; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::FakeSettingsHost host;
        c.set(host.model.settings);
        const AppSettings stored = host.model.settings;
        AdvancedTab tab(host);
        // Another window's change redraws without a write either.
        host.changeElsewhere([](ModelState& m) { m.settings.isPaused = !m.settings.isPaused; });
        EXPECT_EQ(host.writes, 0);
        EXPECT_EQ(host.model.settings.minimumAgeDays, stored.minimumAgeDays);
        EXPECT_EQ(host.model.settings.thresholdBytes, stored.thresholdBytes);
        EXPECT_EQ(host.model.settings.targetBytes, stored.targetBytes);
        EXPECT_EQ(host.model.settings.checkIntervalMinutes, stored.checkIntervalMinutes);
    }
}

TEST(AdvancedTabTest, TheUsersEditsAreSaved) {
    test::FakeSettingsHost host;
    host.model.settings.thresholdBytes = 12'500'000'000;
    host.model.settings.minimumAgeDays = 3;
    AdvancedTab tab(host);
    EXPECT_EQ(tab.thresholdBox()->value(), 12);
    EXPECT_EQ(tab.thresholdLabel()->text(), QStringLiteral("Start making room below **13 GB** free"));

    tab.thresholdBox()->stepUp();
    EXPECT_EQ(host.model.settings.thresholdBytes, 17 * GB);
    EXPECT_EQ(host.writes, 1);
    EXPECT_EQ(tab.targetBox()->minimum(), 18);

    // The age stored out of range steps from its own value, and can't go below it.
    tab.ageBox()->stepDown();
    EXPECT_EQ(host.writes, 1);
    tab.ageBox()->stepUp();
    EXPECT_EQ(host.model.settings.minimumAgeDays, 10);
    EXPECT_EQ(tab.ageBox()->minimum(), 7);  // back in range, the range is the offered one

    tab.targetBox()->setValue(40);
    EXPECT_EQ(host.model.settings.targetBytes, 40 * GB);
    tab.intervalBox()->setCurrentIndex(4);
    EXPECT_EQ(host.model.settings.checkIntervalMinutes, 60);
    tab.testModeBox()->click();
    EXPECT_TRUE(host.model.settings.dryRunMode);
    tab.projectsBox()->click();
    EXPECT_FALSE(host.model.settings.moveProjectsAndEmulators);
    EXPECT_EQ(host.writes, 6);

    // Raising the threshold past the target raises the target (the model normalises).
    tab.thresholdBox()->setValue(45);
    EXPECT_EQ(host.model.settings.targetBytes, 46 * GB);
    EXPECT_EQ(tab.targetBox()->value(), 46);
    EXPECT_EQ(tab.targetBox()->minimum(), 46);
}

TEST(FoldersTabTest, FoldersAreAddedOnceByTheirRealPathsAndRemovedEverywhere) {
    test::TempDir dir;
    test::makeDirs(dir / "home/Music");
    test::makeDirs(dir / "home/Videos");
    ASSERT_EQ(::symlink((dir / "home/Music").c_str(), (dir / "home/Tunes").c_str()), 0);
    test::FakeSettingsHost host;
    host.model.home = dir / "home";
    FoldersTab tab(host);
    EXPECT_EQ(host.writes, 0);

    // A cancelled panel changes nothing.
    tab.addFolderButton()->click();
    ASSERT_EQ(host.picks.size(), 1u);
    EXPECT_EQ(host.picks[0].button, "Add");
    EXPECT_EQ(host.picks[0].startIn, dir / "home");
    EXPECT_FALSE(host.picks[0].files);
    EXPECT_EQ(host.writes, 0);

    host.answer = {dir / "home/Tunes", dir / "home/Videos", dir / "home/Music"};
    tab.addFolders();
    EXPECT_EQ(host.model.settings.managedFolders,
              (std::vector<std::string>{dir / "home/Music", dir / "home/Videos"}));
    ASSERT_TRUE(buttonNamed(tab, "Stop looking in Videos"));

    host.model.settings.managedFolders.push_back(dir / "home/Videos");
    buttonNamed(tab, "Stop looking in Videos")->click();
    EXPECT_EQ(host.model.settings.managedFolders, std::vector<std::string>{dir / "home/Music"});
}

TEST(FoldersTabTest, PinsAreAddedAndRemovedAndAFailedRemovalIsShown) {
    test::FakeSettingsHost host;
    FoldersTab tab(host);
    host.answer = {"/home/u/Taxes", "/home/u/passport.pdf"};
    tab.addPinButton()->click();
    ASSERT_EQ(host.picks.size(), 1u);
    EXPECT_TRUE(host.picks[0].files);
    EXPECT_TRUE(host.picks[0].folders);
    EXPECT_EQ(host.picks[0].button, "Keep on This Computer");
    EXPECT_EQ(host.pinned, (std::vector<std::vector<std::string>>{{"/home/u/Taxes", "/home/u/passport.pdf"}}));
    ASSERT_TRUE(buttonNamed(tab, "Remove passport.pdf from this list"));

    host.unpinError = "database is locked";
    buttonNamed(tab, "Remove passport.pdf from this list")->click();
    EXPECT_EQ(host.model.pins.size(), 2u);
    EXPECT_TRUE(tab.pinProblemLabel()->isVisibleTo(&tab));
    EXPECT_EQ(tab.pinProblemLabel()->text(), QStringLiteral("database is locked"));

    host.unpinError.reset();
    buttonNamed(tab, "Remove passport.pdf from this list")->click();
    EXPECT_EQ(host.model.pins, std::vector<std::string>{"/home/u/Taxes"});
    EXPECT_FALSE(tab.pinProblemLabel()->isVisibleTo(&tab));
    EXPECT_FALSE(buttonNamed(tab, "Remove passport.pdf from this list"));
    EXPECT_EQ(host.unpinned.size(), 2u);
}

}  // namespace
}  // namespace keldwick
