#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <unicode/locid.h>

#include "ModelStateFixtures.h"
#include "model/StatusTexts.h"
#include "support/PlatformWords.h"

using namespace keldwick;
using keldwick::test::readyState;
using keldwick::test::record;

namespace {

struct StatusCase {
    const char* name;
    std::function<void(ModelState&)> change;
    std::string headline;
    std::optional<std::string> detail;
    int level;
};

void lowOnSpace(ModelState& s) {
    s.computerFreeBytes = 12'400'000'000;
}

void stalled(ModelState& s, Stall kind) {
    lowOnSpace(s);
    s.stall = StallState{kind, Date{1000}, 12'400'000'000};
}

void firstAutomaticPreview(ModelState& s) {
    s.preview = PreviewState{PreviewKind::firstAutomatic, false, false, false, std::nullopt};
}

void away(ModelState& s) {
    s.driveRoot.reset();
}

}  // namespace

TEST(StatusTextsTest, StatusTableRowsAndPrecedence) {
    const std::string free = "12.4 GB free.";
    const std::vector<StatusCase> cases = {
        {"setup beats everything",
         [](ModelState& s) {
             s.settings.onboardingComplete = false;
             s.journalProblem = "disk I/O error";
             s.activity = Activity::moving;
         },
         "Finish setting up Keldwick", "It only takes a minute.", 2},
        {"damaged settings set aside: said so until set up again",
         [](ModelState& s) {
             s.settings.onboardingComplete = false;
             s.settingsSetAside = true;
         },
         "Keldwick's settings were damaged",
         "They were set aside as settings.json.corrupt, so set up Keldwick again. The files it moved are still "
         "listed and safe.",
         2},
        {"journal problem beats a running move",
         [](ModelState& s) {
             s.journalProblem = "disk I/O error";
             s.activity = Activity::moving;
         },
         "Keldwick can't open its records", "Quit Keldwick and open it again. Files on your drive are safe.", 2},
        {"test run with progress",
         [](ModelState& s) {
             s.activity = Activity::moving;
             s.settings.dryRunMode = true;
             s.progress = EngineProgress{"Taxes", 1, 3, 0, 0};
         },
         "Test run\u2026", "2 of 3: Taxes", 1},
        {"moving without progress", [](ModelState& s) { s.activity = Activity::moving; },
         "Moving files to Archive\u2026", std::nullopt, 1},
        {"restoring",
         [](ModelState& s) {
             s.activity = Activity::restoring;
             s.progress = EngineProgress{"Taxes", 0, 1, 0, 0};
         },
         "Bringing files back to your computer\u2026", "Taxes", 1},
        {"recovering", [](ModelState& s) { s.activity = Activity::recovering; }, "Checking your files\u2026",
         std::nullopt, 1},
        {"scanning beats the drive being away",
         [](ModelState& s) {
             s.activity = Activity::scanning;
             away(s);
         },
         "Looking for files you haven't used\u2026", std::nullopt, 1},
        {"clearing", [](ModelState& s) { s.activity = Activity::clearing; }, "Clearing caches\u2026", std::nullopt,
         1},
        {"waking beats mounting",
         [](ModelState& s) {
             s.wakeState = DriveWakeState::waking;
             away(s);
             s.driveMounting = DriveMounting{Date{0}, true};
         },
         "Waking up Archive\u2026", "Hard drives take a few seconds to start.", 1},
        {"mounting stuck",
         [](ModelState& s) {
             away(s);
             s.driveMounting = DriveMounting{Date{0}, true};
         },
         "This computer hasn't opened Archive",
         "It's plugged in, but it wasn't opened automatically or opening it failed. Click it in the file manager, "
         "or select it in the Disks utility and click Mount.",
         2},
        {"mounting",
         [](ModelState& s) {
             away(s);
             s.driveMounting = DriveMounting{Date{0}, false};
         },
         "Getting Archive ready\u2026",
         "It's plugged in but not opened yet. Hard drives can take a minute; to open it now, click it in the file "
         "manager.",
         1},
        // Volumes carrying the drive's marker that weren't taken are named, drive found or not.
        {"a volume refused as the drive",
         [](ModelState& s) {
             s.driveRefusals = {{"/tmp", DriveRefusal::Kind::notADisk, "tmpfs"},
                                {"/media/eve/Stick", DriveRefusal::Kind::anotherOwner, "Keldwick folder"}};
         },
         "Keldwick won't use the volume at /tmp",
         "It holds the marker of Archive. It isn't a disk drive (tmpfs). Keldwick uses only a drive plugged into "
         "this computer. Other volumes hold it too.",
         2},
        // The real reason and what to do, never "isn't plugged in" while it is mounted.
        {"the drive mounted with modes open to all",
         [](ModelState& s) {
             away(s);
             s.driveRefusals = {{"/media/ann/Stick", DriveRefusal::Kind::modesFromMount, "Keldwick folder"}};
         },
         "Keldwick won't use the volume at /media/ann/Stick",
         "It holds the marker of Archive. Every user of this computer can change it: mount it with \u201cumask=022\u201d, or "
         "format it as ext4.",
         2},
        {"the drive's folder of another account",
         [](ModelState& s) {
             away(s);
             s.driveRefusals = {{"/media/ann/Stick", DriveRefusal::Kind::anotherOwner, "Keldwick folder"}};
         },
         "Keldwick won't use the volume at /media/ann/Stick",
         "It holds the marker of Archive. Its Keldwick folder belongs to another account on this computer. If the "
         "drive is yours, make your account its owner, for example with \u201csudo chown -R $USER\u201d on its Keldwick "
         "folder.",
         2},
        {"two volumes with one marker",
         [](ModelState& s) {
             away(s);
             s.driveRefusals = {{"/media/u/A", DriveRefusal::Kind::duplicate, "/media/u/B"},
                                {"/media/u/B", DriveRefusal::Kind::duplicate, "/media/u/A"}};
         },
         "Two volumes claim to be Archive",
         "/media/u/A and /media/u/B hold the same drive marker, so Keldwick uses neither. Unplug the one that "
         "isn't Archive.",
         2},
        {"away with nothing on it",
         [](ModelState& s) {
             away(s);
             s.records = {record("/home/u/a", Phase::restored)};
         },
         "Archive isn't plugged in", "Plug it in so Keldwick can free up space when your computer needs it.", 2},
        {"away with 3 files and 1 folder on it",
         [](ModelState& s) {
             away(s);
             s.canReadHome = false;
             s.records = {record("/home/u/a", Phase::offloaded), record("/home/u/b", Phase::offloaded),
                          record("/home/u/c", Phase::offloaded), record("/home/u/d", Phase::offloaded, true),
                          record("/home/u/e", Phase::returned)};
         },
         "Archive isn't plugged in", "3 files and 1 folder on it won't open until you plug it back in.", 2},
        {"no permission", [](ModelState& s) { s.canReadHome = false; }, "Keldwick needs your permission",
         "The system is keeping it from reaching your files.", 2},
        {"paused",
         [](ModelState& s) {
             s.settings.isPaused = true;
             s.settings.drive.reset();
         },
         "Paused", "Keldwick won't move anything on its own.", 2},
        {"no drive chosen, none mounted",
         [](ModelState& s) {
             s.settings.drive.reset();
             away(s);
             s.records = {record("/home/u/a", Phase::offloaded)};
         },
         "Choose a drive for Keldwick.", std::nullopt, 2},
        {"no folders",
         [](ModelState& s) {
             s.settings.managedFolders.clear();
             lowOnSpace(s);
         },
         "Choose folders for Keldwick", "Add at least one in Settings so it can free up space.", 2},
        {"drive full beats waiting for approval",
         [](ModelState& s) {
             stalled(s, Stall::driveFull);
             firstAutomaticPreview(s);
         },
         "Archive is full", free + " Keldwick can't move more files until there's room on it.", 2},
        {"waiting for approval beats a test-run stall",
         [](ModelState& s) {
             stalled(s, Stall::testRun);
             firstAutomaticPreview(s);
         },
         "Your computer is filling up", free + " Keldwick is waiting for your OK in the Free Up Space window.", 2},
        {"test-run stall", [](ModelState& s) { stalled(s, Stall::testRun); }, "Your computer is filling up",
         free + " Test mode is on, so Keldwick only noted what it would move.", 2},
        {"nothing-to-move stall beats approval",
         [](ModelState& s) {
             stalled(s, Stall::nothingToMove);
             s.settings.automaticRunsApproved = true;
         },
         "Your computer is filling up", free + " Keldwick has already moved everything it can.", 2},
        {"approved, checking now",
         [](ModelState& s) {
             lowOnSpace(s);
             s.settings.automaticRunsApproved = true;
             s.isChecking = true;
             s.nextCheck = Date{1'000};
         },
         "Your computer is filling up", free + " Keldwick will free up space in a moment.", 2},
        {"approved, a check scheduled",
         [](ModelState& s) {
             lowOnSpace(s);
             s.settings.automaticRunsApproved = true;
             s.nextCheck = Date{1'000};
         },
         "Your computer is filling up", free + " Keldwick will look for files to move at its next check.", 2},
        {"approved, no check scheduled promises nothing",
         [](ModelState& s) {
             lowOnSpace(s);
             s.settings.automaticRunsApproved = true;
         },
         "Your computer is filling up", free + " Keldwick can free up space by moving old files to Archive.", 2},
        {"a manual preview does not count as waiting",
         [](ModelState& s) {
             lowOnSpace(s);
             s.preview = PreviewState{};
         },
         "Your computer is filling up", free + " Keldwick can free up space by moving old files to Archive.", 2},
        {"plenty of room despite a stall",
         [](ModelState& s) { s.stall = StallState{Stall::driveFull, Date{0}, 0}; }, "Plenty of room",
         "Keldwick is keeping an eye on your computer.", 0},
        {"exactly at the keep-free level", [](ModelState& s) { s.computerFreeBytes = s.settings.thresholdBytes; },
         "Plenty of room", "Keldwick is keeping an eye on your computer.", 0},
        {"free space not measured yet",
         [](ModelState& s) {
             s.computerFreeBytes.reset();
             s.stall = StallState{Stall::driveFull, Date{0}, 0};
         },
         "Plenty of room", "Keldwick is keeping an eye on your computer.", 0},
    };
    for (const auto& c : cases) {
        ModelState state = readyState();
        c.change(state);
        EXPECT_EQ(statusText(state), (MenuStatus{c.headline, c.detail, c.level})) << c.name;
        EXPECT_THAT(test::otherPlatformWords(c.headline + " " + c.detail.value_or("")), ::testing::IsEmpty()) << c.name;
    }
}

TEST(StatusTextsTest, GlyphMarkOrder) {
    struct Case {
        const char* name;
        std::function<void(ModelState&)> change;
        TrayGlyph::Mark mark;
    };
    auto overfull = [](ModelState& s) { s.computerFreeBytes = 10'000'000'000; };  // fill 0.98 past the mark 0.96
    auto awayWithItems = [](ModelState& s) {
        s.driveRoot.reset();
        s.records = {record("/home/u/a", Phase::offloaded)};
    };
    const std::vector<Case> cases = {
        {"all well", [](ModelState&) {}, TrayGlyph::Mark::none()},
        {"working is not attention", [](ModelState& s) { s.activity = Activity::scanning; },
         TrayGlyph::Mark::none()},
        {"drive away beats overflow",
         [&](ModelState& s) {
             overfull(s);
             awayWithItems(s);
         },
         TrayGlyph::Mark::driveAway()},
        {"overflow beats attention",
         [&](ModelState& s) {
             overfull(s);
             s.settings.isPaused = true;
         },
         TrayGlyph::Mark::overflow()},
        {"away with nothing on it is attention", [](ModelState& s) { s.driveRoot.reset(); },
         TrayGlyph::Mark::attention()},
        {"before setup only attention",
         [&](ModelState& s) {
             overfull(s);
             awayWithItems(s);
             s.settings.onboardingComplete = false;
         },
         TrayGlyph::Mark::attention()},
        {"free space unknown has no mark",
         [](ModelState& s) {
             s.computerFreeBytes.reset();
             s.activity = Activity::moving;
         },
         TrayGlyph::Mark::none()},
    };
    for (const auto& c : cases) {
        ModelState state = readyState();
        c.change(state);
        EXPECT_EQ(trayMark(state), c.mark) << c.name;
    }
}

TEST(StatusTextsTest, RecordListsAndGate) {
    ModelState state = readyState();
    state.records = {record("/a", Phase::offloaded, false, 5), record("/b", Phase::linkMissing),
                     record("/c", Phase::offloaded, true, std::numeric_limits<int64_t>::max()),
                     record("/d", Phase::returned), record("/e", Phase::offloadCopying)};
    auto paths = [](const std::vector<OffloadRecord>& records) {
        std::vector<std::string> out;
        for (const auto& r : records) out.push_back(r.originalPath);
        return out;
    };
    EXPECT_EQ(paths(offloadedRecords(state)), (std::vector<std::string>{"/a", "/c"}));
    EXPECT_EQ(paths(recordsNeedingAttention(state)), (std::vector<std::string>{"/b", "/d"}));
    EXPECT_EQ(offloadedBytes(state), std::numeric_limits<int64_t>::max());  // saturates
    state.records.clear();
    EXPECT_EQ(offloadedBytes(state), 0);

    EXPECT_TRUE(canOffload(state));
    state.journalProblem = "unable to open database file";
    EXPECT_FALSE(canOffload(state));
    EXPECT_FALSE(canMoveFiles(state));
}

TEST(StatusTextsTest, TheFiguresCountOnlyTheChosenDrivesRecords) {
    ModelState state = readyState();
    state.records = {record("/old", Phase::offloaded, false, 6'000, "EARLIER"),
                     record("/old folder", Phase::offloaded, true, 600, "EARLIER"),
                     record("/new", Phase::offloaded, false, 5)};
    ASSERT_EQ(offloadedRecords(state).size(), 1u);
    EXPECT_EQ(offloadedRecords(state)[0].originalPath, "/new");
    EXPECT_EQ(offloadedBytes(state), 5);
    EXPECT_EQ(offloadedCountText(state), "1 file");
    state.records = {state.records[0], state.records[1]};  // only the earlier drive's
    EXPECT_FALSE(hasOffloaded(state));
    EXPECT_EQ(offloadedBytes(state), 0);
    // With no drive chosen, every drive's records count.
    state.settings.drive.reset();
    EXPECT_TRUE(hasOffloaded(state));
    EXPECT_EQ(offloadedCountText(state), "1 file and 1 folder");
}

TEST(StatusTextsTest, DriveNameAgeAndProgress) {
    ModelState state;
    EXPECT_EQ(driveDisplayName(state), "your drive");
    state.driveVolume = VolumeInfo{};
    state.driveVolume->name = "USB STICK";
    EXPECT_EQ(driveDisplayName(state), "USB STICK");
    state.settings.drive = Drive{"ID", "Archive"};
    EXPECT_EQ(driveDisplayName(state), "Archive");

    const std::vector<std::pair<int64_t, std::string>> ages = {
        {30, "a month"}, {7, "a week"}, {14, "2 weeks"}, {28, "4 weeks"}, {10, "10 days"}, {1, "1 days"}};
    for (const auto& [days, text] : ages) {
        state.settings.minimumAgeDays = days;
        EXPECT_EQ(minimumAgeText(state), text) << days;
    }

    EXPECT_EQ(progressText(state), std::nullopt);
    state.progress = EngineProgress{"Taxes", 0, 1, 0, 0};
    EXPECT_EQ(progressText(state), "Taxes");
    state.progress = EngineProgress{"Taxes", 1, 3, 0, 0};
    EXPECT_EQ(progressText(state), "2 of 3: Taxes");
}

TEST(StatusTextsTest, ManagedFolderNamesFollowTheLocale) {
    ModelState state;
    state.settings.managedFolders = {"/home/u/Desktop", "/home/u/Documents/", "/home/u/Downloads"};
    EXPECT_EQ(managedFolderNames(state, "en_US"), "Desktop, Documents, and Downloads");
    EXPECT_EQ(managedFolderNames(state, "en_GB"), "Desktop, Documents and Downloads");
    EXPECT_EQ(managedFolderNames(state, "de_DE"), "Desktop, Documents und Downloads");
    state.settings.managedFolders = {"/home/u/Desktop", "/home/u/Bilder"};
    EXPECT_EQ(managedFolderNames(state, "en_US"), "Desktop and Bilder");
    state.settings.managedFolders = {"/home/u/Desktop"};
    EXPECT_EQ(managedFolderNames(state, "en_US"), "Desktop");
    state.settings.managedFolders.clear();
    EXPECT_EQ(managedFolderNames(state, "en_US"), "");

    // Unasked, the interface's English whatever the user's locale.
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale before = icu::Locale::getDefault();
    icu::Locale::setDefault(icu::Locale("de_DE"), status);
    state.settings.managedFolders = {"/home/u/Desktop", "/home/u/Bilder"};
    EXPECT_EQ(managedFolderNames(state), "Desktop and Bilder");
    icu::Locale::setDefault(before, status);
}

TEST(StatusTextsTest, FillLevels) {
    // The keep-free mark is the settings' own (AppSettingsTest.KeepFreeArithmetic); the bar
    // carries it only where it has a fill.
    struct Case {
        std::optional<int64_t> free, total, keepFree;
        FillLevel level;
    };
    const std::vector<Case> cases = {
        {250, 1000, std::nullopt, {0.75, std::nullopt}},
        {250, 1000, 100, {0.75, 0.9}},
        {2000, 1000, 5000, {0, 0}},  // more free than total, keep-free beyond total: clamped
        {-5, 1000, -100, {1, 1}},
        {250, 0, 100, {0, std::nullopt}},
        {std::nullopt, 1000, 100, {0, std::nullopt}},
        {250, std::nullopt, 100, {0, std::nullopt}},
        {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), std::nullopt, {1, std::nullopt}},
    };
    // The computer's bar, with the keep-free level as the settings' threshold after setup.
    auto computerLevel = [](std::optional<int64_t> free, std::optional<int64_t> total, std::optional<int64_t> keepFree) {
        ModelState state;
        state.computerFreeBytes = free;
        state.computerTotalBytes = total;
        state.settings.onboardingComplete = keepFree.has_value();
        if (keepFree) state.settings.thresholdBytes = *keepFree;
        return computerFillLevel(state);
    };
    auto expectLevel = [](const FillLevel& actual, const FillLevel& expected, const std::string& name) {
        EXPECT_NEAR(actual.fill, expected.fill, 1e-12) << name;
        ASSERT_EQ(actual.mark.has_value(), expected.mark.has_value()) << name;
        if (expected.mark) {
            EXPECT_NEAR(*actual.mark, *expected.mark, 1e-12) << name;
        }
    };
    for (const auto& c : cases) {
        expectLevel(computerLevel(c.free, c.total, c.keepFree), c.level,
                    std::to_string(c.free.value_or(-1)) + "/" + std::to_string(c.total.value_or(-1)) + "/" +
                        std::to_string(c.keepFree.value_or(-1)));
    }

    ModelState state = readyState();
    expectLevel(computerFillLevel(state), {0.8, 0.96}, "after setup");
    state.settings.onboardingComplete = false;
    expectLevel(computerFillLevel(state), {0.8, std::nullopt}, "before setup");

    EXPECT_EQ(driveFillFraction(state), std::nullopt);
    state.driveVolume = VolumeInfo{};
    state.driveVolume->totalBytes = 0;
    EXPECT_EQ(driveFillFraction(state), 0.0);
    state.driveVolume->totalBytes = 1000;
    state.driveVolume->availableBytes = 250;
    EXPECT_EQ(driveFillFraction(state), 0.75);
}
