#include "tray/PopoverRows.h"

#include <gtest/gtest.h>

#include "tray/PanelRows.h"
#include "model/ModelStateFixtures.h"

namespace keldwick {
namespace {

using Kind = PanelRow::Kind;

const Date now{1'700'000'000};

std::vector<const PanelRow*> rowsOf(const PanelContents& p, Kind kind) {
    std::vector<const PanelRow*> found;
    for (const PanelRow& row : p.rows) {
        if (row.kind == kind) found.push_back(&row);
    }
    return found;
}

// "title[!]" for each command row, "!" marking a disabled one.
std::vector<std::string> commands(const PanelContents& p) {
    std::vector<std::string> titles;
    for (const PanelRow* row : rowsOf(p, Kind::action)) titles.push_back(row->title + (row->enabled ? "" : "!"));
    return titles;
}

TEST(PopoverRowsTest, HeaderSubtitleAndSwitch) {
    ModelState notSetUp;
    ModelState paused = test::readyState();
    paused.settings.isPaused = true;
    ModelState twenty = test::readyState();
    twenty.settings.thresholdBytes = 20'000'000'000;
    ModelState truncated = test::readyState();
    truncated.settings.thresholdBytes = 25'500'000'000;
    ModelState testMode = test::readyState();
    testMode.settings.dryRunMode = true;
    struct Case {
        const char* name;
        const ModelState& state;
        const char* subtitle;
        std::optional<bool> switchOn;
        bool testMode;
    };
    const Case cases[] = {
        {"not set up", notSetUp, "Not set up yet", std::nullopt, false},
        {"paused", paused, "Paused: nothing moves on its own", false, false},
        {"20 GB", twenty, "Keeps 20 GB free on this computer", true, false},
        {"25.5 GB drops the remainder", truncated, "Keeps 25 GB free on this computer", true, false},
        {"test mode", testMode, "Keeps 20 GB free on this computer", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PanelHeader h = panel(c.state, std::nullopt, now).header;
        EXPECT_EQ(h.subtitle, c.subtitle);
        EXPECT_EQ(h.moveAutomatically, c.switchOn);
        EXPECT_EQ(h.testMode, c.testMode);
    }
    EXPECT_EQ(panel(paused, std::nullopt, now).header.switchHelp,
              "Paused. Turn on to let Keldwick free up space when your computer runs low.");
}

// The bar stands where "12 of 23" says: item 12's stretch of the bar fills by its bytes.
TEST(PopoverRowsTest, TheProgressBarTellsTheFractionItsTextTells) {
    struct Case {
        EngineProgress progress;
        std::optional<double> fill;
    };
    const Case cases[] = {
        {{"a", 11, 23, 0, 1000}, 11.0 / 23},
        {{"a", 11, 23, 500, 1000}, 11.5 / 23},
        {{"a", 11, 23, 1000, 1000}, 12.0 / 23},
        {{"a", 11, 23, 0, 0}, 11.0 / 23},       // no byte count yet
        {{"a", 40, 23, 2000, 1000}, 1.0},        // past its end: held to the last item, full
        {{"a", -3, 23, 0, 1000}, 0.0},
        {{"a", 0, 1, 250, 1000}, 0.25},          // one item: its bytes
        {{"a", 0, 1, 0, 0}, std::nullopt},       // one item without a byte count
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.progress.itemIndex) + " of " + std::to_string(c.progress.itemCount));
        const auto fill = progressFill(c.progress);
        ASSERT_EQ(fill.has_value(), c.fill.has_value());
        if (fill) {
            EXPECT_DOUBLE_EQ(*fill, *c.fill);
        }
    }
    EXPECT_EQ(progressFill(std::nullopt), std::nullopt);
}

TEST(PopoverRowsTest, StatusAndProgress) {
    ModelState idle = test::readyState();
    ModelState moving = idle;
    moving.activity = Activity::moving;
    ModelState emptyItem = moving;
    emptyItem.progress = EngineProgress{"a.iso", 1, 2, 0, 0};
    ModelState halfway = moving;
    halfway.progress = EngineProgress{"a.iso", 1, 2, 10, 100};
    struct Case {
        const char* name;
        const ModelState& state;
        bool status;
        bool progress;
        std::optional<double> fill;
    };
    const Case cases[] = {
        {"nothing to report", idle, false, false, std::nullopt},
        {"moving without progress yet", moving, true, true, std::nullopt},
        {"the second of two items, of 0 bytes", emptyItem, true, true, 0.5},
        {"10 of 100 bytes of the second of two", halfway, true, true, 0.55},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PanelContents p = panel(c.state, std::nullopt, now);
        ASSERT_EQ(rowsOf(p, Kind::status).size(), c.status ? 1u : 0u);
        const auto progress = rowsOf(p, Kind::progress);
        ASSERT_EQ(progress.size(), c.progress ? 1u : 0u);
        if (c.status) {
            EXPECT_EQ(rowsOf(p, Kind::status)[0]->symbol, "arrow-right");
            EXPECT_EQ(rowsOf(p, Kind::status)[0]->tint, Tint::accent);
        }
        if (!c.progress) continue;
        EXPECT_EQ(progress[0]->fill, c.fill);
        EXPECT_EQ(progress[0]->command, PanelCommand::stop);
        EXPECT_EQ(progress[0]->help, "Stops after the current file. Nothing is lost.");
    }
    // The status section comes with its own separator before the storage's.
    EXPECT_EQ(panel(moving, std::nullopt, now).rows[0].kind, Kind::separator);
    EXPECT_EQ(panel(moving, std::nullopt, now).rows[1].kind, Kind::status);
    EXPECT_EQ(panel(idle, std::nullopt, now).rows[1].kind, Kind::sectionHeader);

    ModelState noPermission = idle;
    noPermission.canReadHome = false;
    const PanelContents needsPermission = panel(noPermission, std::nullopt, now);
    const auto status = rowsOf(needsPermission, Kind::status);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0]->symbol, "warning-mark");
    EXPECT_EQ(status[0]->tint, Tint::orange);
}

TEST(PopoverRowsTest, StorageRows) {
    ModelState ready = test::readyState();  // 100 of 500 GB free, 20 GB to keep free
    ready.driveVolume = VolumeInfo{};
    ready.driveVolume->totalBytes = 1'000'000'000'000;
    ready.driveVolume->availableBytes = 250'000'000'000;
    ModelState atTheLine = ready;
    atTheLine.computerFreeBytes = 20'000'000'000;  // used fraction equals the line: not over
    ModelState overTheLine = ready;
    overTheLine.computerFreeBytes = 19'999'999'999;
    ModelState away = ready;
    away.driveVolume.reset();
    ModelState notSetUp = ready;
    notSetUp.settings.onboardingComplete = false;
    ModelState unmeasured = ready;
    unmeasured.computerFreeBytes.reset();
    struct Case {
        const char* name;
        const ModelState& state;
        Tint computerTint;
        std::string computerValue;
        std::optional<double> computerMark;
        std::string driveTitle, driveValue;
        std::optional<double> driveFill;
    };
    const Case cases[] = {
        {"connected", ready, Tint::accent, "100 GB free", 0.96, "Archive", "250 GB free", 0.75},
        {"exactly at the line", atTheLine, Tint::accent, "20.0 GB free", 0.96, "Archive", "250 GB free", 0.75},
        {"a byte over the line", overTheLine, Tint::orange, "20.0 GB free", 0.96, "Archive", "250 GB free", 0.75},
        {"drive away", away, Tint::accent, "100 GB free", 0.96, "Archive", "Not connected", std::nullopt},
        {"before setup", notSetUp, Tint::accent, "100 GB free", std::nullopt, "No drive chosen", "", std::nullopt},
        {"free space unknown", unmeasured, Tint::accent, "", 0.96, "Archive", "250 GB free", 0.75},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PanelContents p = panel(c.state, std::nullopt, now);
        const auto storage = rowsOf(p, Kind::storage);
        ASSERT_EQ(storage.size(), 2u);
        const PanelRow& computer = *storage[0];
        EXPECT_EQ(computer.title, "This Computer");
        EXPECT_EQ(computer.symbol, "computer");
        EXPECT_EQ(computer.tint, c.computerTint);
        EXPECT_EQ(computer.valueTint, c.computerTint == Tint::orange ? Tint::orange : Tint::secondary);
        EXPECT_EQ(computer.value, c.computerValue);
        ASSERT_EQ(computer.mark.has_value(), c.computerMark.has_value());
        if (c.computerMark) {
            EXPECT_NEAR(*computer.mark, *c.computerMark, 1e-9);
        }
        const PanelRow& drive = *storage[1];
        EXPECT_EQ(drive.title, c.driveTitle);
        EXPECT_EQ(drive.value, c.driveValue);
        EXPECT_EQ(drive.fill, c.driveFill);
        EXPECT_EQ(drive.tint, c.driveFill ? Tint::accent : Tint::secondary);
        EXPECT_FALSE(drive.mark);
    }
}

TEST(PopoverRowsTest, MovedAndLastRun) {
    ModelState nothing = test::readyState();
    ModelState moved = nothing;
    moved.records = {test::record("/home/u/Downloads/a.iso", Phase::offloaded, false, 2'500'000'000),
                     test::record("/home/u/Downloads/b", Phase::returned)};
    moved.lastRunDate = now.adding(-59);
    moved.lastRun = "Moved 1 item.";
    ModelState testRun = moved;
    testRun.settings.dryRunMode = true;
    testRun.lastRunDate = now.adding(-86400);

    EXPECT_EQ(rowsOf(panel(nothing, std::nullopt, now), Kind::info).size(), 0u);
    // Without anything to show, the section's separator goes too: status-free panels have
    // the storage's separator and the commands' two.
    EXPECT_EQ(rowsOf(panel(nothing, std::nullopt, now), Kind::separator).size(), 3u);

    const PanelContents p = panel(moved, std::nullopt, now);
    const auto info = rowsOf(p, Kind::info);
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(info[0]->title, "Moved to Archive");
    EXPECT_EQ(info[0]->value, "2.50 GB");
    EXPECT_EQ(info[1]->title, "Last run");
    EXPECT_EQ(info[1]->value, "Just now");
    EXPECT_EQ(info[1]->help, "Moved 1 item.");
    EXPECT_TRUE(rowsOf(p, Kind::note).empty());

    const PanelContents t = panel(testRun, std::nullopt, now, "en_US");
    EXPECT_EQ(rowsOf(t, Kind::info)[1]->value, "Yesterday");
    ASSERT_EQ(rowsOf(t, Kind::note).size(), 1u);
    EXPECT_EQ(rowsOf(t, Kind::note)[0]->title, "Moved 1 item.");
}

TEST(PopoverRowsTest, CommandsAndTheirEnabling) {
    ModelState ready = test::readyState();
    ModelState notSetUp;
    notSetUp.settings.drive = ready.settings.drive;  // stored, but setup isn't done
    ModelState noPermission = ready;
    noPermission.canReadHome = false;
    ModelState away = ready;
    away.driveRoot.reset();
    ModelState busy = ready;
    busy.activity = Activity::scanning;
    ModelState journalBroken = ready;
    journalBroken.journalProblem = "disk I/O error";
    ModelState noDrive = ready;
    noDrive.settings.drive.reset();
    noDrive.driveRoot.reset();
    const std::vector<std::string> tail = {"Keldwick Settings\u2026", "Quit Keldwick"};
    auto with = [&](std::vector<std::string> head) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    struct Case {
        const char* name;
        const ModelState& state;
        std::optional<std::string> update;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"ready", ready, std::nullopt,
         with({"Free Up Space\u2026", "Move Files to Archive\u2026", "System Data\u2026",
               "Show Files on Archive\u2026"})},
        {"not set up", notSetUp, std::nullopt, with({"Set Up Keldwick\u2026"})},
        {"not set up, an update known", notSetUp, "1.2",
         with({"Set Up Keldwick\u2026", "Update to Keldwick 1.2\u2026"})},
        {"no permission", noPermission, std::nullopt,
         with({"Give Keldwick Permission\u2026", "Free Up Space\u2026!", "Move Files to Archive\u2026!",
               "System Data\u2026", "Show Files on Archive\u2026"})},
        {"drive away", away, std::nullopt,
         with({"Free Up Space\u2026!", "Move Files to Archive\u2026!", "System Data\u2026",
               "Show Files on Archive\u2026"})},
        {"busy", busy, std::nullopt,
         with({"Free Up Space\u2026!", "Move Files to Archive\u2026!", "System Data\u2026",
               "Show Files on Archive\u2026"})},
        {"journal unusable", journalBroken, std::nullopt,
         with({"Free Up Space\u2026!", "Move Files to Archive\u2026!", "System Data\u2026",
               "Show Files on Archive\u2026"})},
        {"no drive chosen", noDrive, std::nullopt, with({"Free Up Space\u2026!", "System Data\u2026"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(commands(panel(c.state, c.update, now)), c.expected);
    }

    const PanelContents p = panel(ready, std::nullopt, now);
    const auto actions = rowsOf(p, Kind::action);
    EXPECT_EQ(actions[0]->command, PanelCommand::freeUpSpace);
    EXPECT_EQ(actions[1]->command, PanelCommand::moveFiles);
    EXPECT_EQ(actions[2]->command, PanelCommand::systemData);
    EXPECT_EQ(actions[3]->command, PanelCommand::showFiles);
    EXPECT_EQ(actions[3]->value, "");
    EXPECT_EQ(actions[4]->shortcut, ',');
    EXPECT_EQ(actions[5]->shortcut, 'q');
    EXPECT_EQ(actions[5]->command, PanelCommand::quit);

    ModelState attention = ready;
    attention.records = {test::record("/a", Phase::returned), test::record("/b", Phase::linkMissing),
                         test::record("/c", Phase::returned), test::record("/d", Phase::offloaded)};
    const PanelContents withAttention = panel(attention, std::nullopt, now);
    const auto files = rowsOf(withAttention, Kind::action)[3];
    EXPECT_EQ(files->value, "3 need attention");
    EXPECT_EQ(files->valueTint, Tint::orange);
}

TEST(PopoverRowsTest, StorageBarGeometryAndAccessibility) {
    EXPECT_EQ(StorageBarRow::fillWidth(0, 200), 5);
    EXPECT_EQ(StorageBarRow::fillWidth(1, 200), 200);
    EXPECT_EQ(StorageBarRow::tickCentre(0.9, 200), 180);

    struct Case {
        std::string value;
        std::optional<double> fill;
        const char* expected;
    };
    const Case cases[] = {
        {"12 GB free", std::nullopt, "12 GB free"},
        {"", std::nullopt, ""},
        {"", 0.456, "46 percent full"},
        {"1 TB free", 0.125, "1 TB free, 13 percent full"},
        {"x", 0.0, "x, 0 percent full"},
    };
    for (const Case& c : cases) {
        PanelRow row;
        row.kind = Kind::storage;
        row.value = c.value;
        row.fill = c.fill;
        EXPECT_EQ(storageAccessibleValue(row), c.expected);
    }
}

}  // namespace
}  // namespace keldwick
