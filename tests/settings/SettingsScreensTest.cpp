#include <gtest/gtest.h>

#include "foundation/AndroidDevices.h"
#include "settings/SettingsScreens.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

constexpr int64_t GB = 1'000'000'000;

ModelState readyState() {
    ModelState state;
    state.home = "/home/u";
    state.settings.onboardingComplete = true;
    state.settings.drive = Drive{"D1", "Archive"};
    return state;
}

TEST(GeneralScreenTest, SwitchesCaptionsAndUpdates) {
    ModelState state = readyState();
    state.settings.automaticRunsApproved = true;
    state.settings.isPaused = true;
    state.settings.notificationsEnabled = false;
    GeneralScreen screen = generalScreen(state, {true, false, true, "1.4 (212)", true, true, ""});
    EXPECT_EQ(screen.keepFreeBytes, 20 * GB);
    EXPECT_EQ(screen.keepFreeFooter,
              "When your computer has less free space than this, Keldwick moves old files to Archive to make room.");
    EXPECT_FALSE(screen.askFirst);
    EXPECT_EQ(screen.askCaption,
              "Keldwick moves old files on its own when your computer gets low on space, and lets you know.");
    EXPECT_TRUE(screen.paused);
    EXPECT_FALSE(screen.notifications);
    // Configured but busy checking: the switch stays, the button waits.
    EXPECT_TRUE(screen.showsUpdateSwitches);
    EXPECT_TRUE(screen.checksAutomatically);
    EXPECT_FALSE(screen.updatesNotSetUp);
    EXPECT_FALSE(screen.checkForUpdatesEnabled);
    EXPECT_EQ(screen.versionText, "Keldwick 1.4 (212)");

    state.settings.automaticRunsApproved = false;
    state.settings.drive.reset();
    screen = generalScreen(state, {false, true, false, "?", false, false, ""});
    EXPECT_TRUE(screen.askFirst);
    EXPECT_EQ(screen.askCaption, "Keldwick shows you the list of files and waits for your OK before moving anything.");
    EXPECT_NE(screen.keepFreeFooter.find("to your drive to make room."), std::string::npos);
    EXPECT_FALSE(screen.showsUpdateSwitches);
    EXPECT_EQ(screen.updatesNotSetUp, "Updates aren't set up in this build: add the feed URL and EdDSA public key "
                                      "to the build's settings (-DSUFeedURL and -DSUPublicEDKey).");
    EXPECT_FALSE(screen.checkForUpdatesEnabled);
}

TEST(GeneralScreenTest, InstallingUpdatesItselfOnlyWhereTheProgramCanReplaceItself) {
    const std::string why = "Keldwick can't replace itself here: /opt/k/lib/keldwick belongs to another user.";
    struct Case {
        const char* name;
        UpdateFacts facts;
        bool on, enabled;
        std::optional<std::string> note;
    };
    const Case cases[] = {
        {"its own prefix, switched on", {true, true, true, "1.4", true, true, ""}, true, true, std::nullopt},
        {"its own prefix, switched off", {true, true, true, "1.4", false, true, ""}, false, true, std::nullopt},
        // A stored "on" from an earlier installation shows off where it can't act.
        {"another user's prefix", {true, true, true, "1.4", true, false, why}, false, false,
         why + " Installing an update opens its download page."},
        {"updates not set up", {false, false, false, "1.4", true, true, ""}, false, false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const GeneralScreen screen = generalScreen(readyState(), c.facts);
        EXPECT_EQ(screen.downloadsAutomatically, c.on);
        EXPECT_EQ(screen.downloadSwitchEnabled, c.enabled);
        EXPECT_EQ(screen.downloadSwitchNote, c.note);
    }
}

TEST(FoldersScreenTest, FoldersPinsAndTheirTexts) {
    test::TempDir dir;
    const std::string home = dir / "home";
    test::makeDirs(home + "/Documents/Work");
    test::makeDirs(home + "/Pictures/Keep");
    test::writeFile(home + "/notes.txt", "x");
    ModelState state;
    state.home = home;
    state.settings.managedFolders = {home, home + "/Documents/Work", home + "/Gone"};
    state.settings.moveProjectsAndEmulators = true;
    state.pins = {home + "/Pictures/Keep", home + "/notes.txt", home + "/deleted.iso"};

    FoldersScreen screen = foldersScreen(state, {});
    ASSERT_EQ(screen.folders.size(), 3u);
    EXPECT_EQ(screen.folders[0], (FolderRow{home, "Home folder", std::nullopt, "Stop looking in home"}));
    EXPECT_EQ(screen.folders[1].title, "Documents \u203A Work");
    EXPECT_EQ(screen.folders[1].removeText, "Stop looking in Work");
    EXPECT_EQ(screen.folders[2].problem, "Keldwick leaves this folder alone: Folder not found.");
    EXPECT_FALSE(screen.noFolders);
    // Projects and emulator devices may move, but this computer has no emulator devices.
    EXPECT_EQ(screen.foldersFooter, "Keldwick only looks inside these folders.");

    ASSERT_EQ(screen.pins.size(), 3u);
    EXPECT_EQ(screen.pins[0],
              (PinRow{home + "/Pictures/Keep", "folder", "Keep", "Pictures", "Remove Keep from this list"}));
    EXPECT_EQ(screen.pins[1].symbol, "doc");
    EXPECT_EQ(screen.pins[1].place, "Home folder");
    EXPECT_EQ(screen.pins[2].symbol, "doc");  // deleted
    EXPECT_FALSE(screen.noPins);

    test::makeDirs(AndroidDevices::devicesFolder(home));
    EXPECT_EQ(foldersScreen(state, {}).foldersFooter,
              "Keldwick only looks inside these folders, and at your Android emulators.");
    state.settings.moveProjectsAndEmulators = false;
    EXPECT_EQ(foldersScreen(state, {}).foldersFooter, "Keldwick only looks inside these folders.");

    state.settings.managedFolders.clear();
    state.pins.clear();
    screen = foldersScreen(state, {});
    EXPECT_TRUE(screen.noFolders);
    EXPECT_TRUE(screen.noPins);
    EXPECT_TRUE(screen.folders.empty());

    const auto& never = neverMovedRows();
    ASSERT_EQ(never.size(), 6u);
    EXPECT_EQ(never[0], (NeverMovedRow{"application", "Apps and their parts"}));
    EXPECT_EQ(never[5], (NeverMovedRow{"library", "Your hidden folders (apart from unused Android emulators), the "
                                                  "Trash and system folders"}));
}

TEST(DriveScreenTest, WhatTheTabShowsInEachState) {
    DriveProfile unmeasured;
    DriveProfile measured;
    measured.benchmark = BenchmarkResult{420, 480, 0.2, 0.4, 512 << 20, Date{1'765'000'000}};
    VolumeInfo volume;
    volume.name = "Archive SSD";
    volume.availableBytes = 812 * GB;
    volume.kernelName = "sdb1";
    OffloadRecord moved;
    moved.phase = Phase::offloaded;
    moved.size = 3 * GB;
    moved.driveID = readyState().settings.drive->id;
    OffloadRecord folder = moved;
    folder.isDirectory = true;

    struct Case {
        const char* name;
        std::function<void(ModelState&, DriveWork&)> setUp;
        std::function<void(const DriveScreen&)> check;
    };
    const Case cases[] = {
        {"no drive",
         [](ModelState& s, DriveWork&) { s.settings.drive.reset(); },
         [](const DriveScreen& d) {
             EXPECT_FALSE(d.hasDrive);
             EXPECT_FALSE(d.showsSpeed);
             EXPECT_TRUE(d.differentDriveEnabled);
             EXPECT_FALSE(d.checkSpeedEnabled);
         }},
        {"chosen but unplugged, never measured",
         [&](ModelState& s, DriveWork&) { s.settings.driveProfile = unmeasured; },
         [](const DriveScreen& d) {
             EXPECT_EQ(d.driveName, "Archive");
             EXPECT_EQ(d.status, "Not plugged in");
             EXPECT_EQ(d.filesOnIt, "None yet");
             EXPECT_EQ(d.kind, "Not checked yet");
             EXPECT_FALSE(d.showsFolderButton);
             EXPECT_TRUE(d.showsSpeed);
             EXPECT_FALSE(d.checkedLabel);
             EXPECT_FALSE(d.checkSpeedEnabled);
         }},
        {"plugged in and measured",
         [&](ModelState& s, DriveWork&) {
             s.settings.driveProfile = measured;
             s.driveRoot = "/media/u/Archive";
             s.driveVolume = volume;
             s.records = {moved, folder};
         },
         [](const DriveScreen& d) {
             EXPECT_EQ(d.driveName, "Archive SSD");
             EXPECT_EQ(d.status, "Plugged in \u00B7 812 GB free");
             EXPECT_EQ(d.filesOnIt, "1 file and 1 folder \u00B7 6.00 GB");
             EXPECT_EQ(d.kind, "Fast SSD");
             EXPECT_TRUE(d.showsFolderButton);
             EXPECT_EQ(d.checkedLabel, "Checked Dec 6, 2025");
             EXPECT_EQ(d.speedDetails, "Reads about 480 MB/s, writes about 420 MB/s");
             EXPECT_TRUE(d.checkSpeedEnabled);
             EXPECT_TRUE(d.differentDriveEnabled);
         }},
        {"a check runs",
         [&](ModelState& s, DriveWork& w) {
             s.driveRoot = "/media/u/Archive";
             w.working = kCheckingSpeed;
         },
         [](const DriveScreen& d) {
             EXPECT_EQ(d.working, kCheckingSpeed);
             EXPECT_FALSE(d.differentDriveEnabled);
             EXPECT_FALSE(d.checkSpeedEnabled);
         }},
        {"files move: no test file is written beside them",
         [&](ModelState& s, DriveWork& w) {
             s.driveRoot = "/media/u/Archive";
             s.activity = Activity::moving;
             w.error = "write failed";
         },
         [](const DriveScreen& d) {
             EXPECT_EQ(d.error, "write failed");
             EXPECT_FALSE(d.differentDriveEnabled);
             EXPECT_FALSE(d.checkSpeedEnabled);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelState state = readyState();
        DriveWork work;
        c.setUp(state, work);
        c.check(driveScreen(state, work));
    }
}

TEST(DriveScreenTest, ChooserMarksTheStoredDriveAndTexts) {
    DriveOption option;
    option.existing = Drive{"D1", "Old name"};
    EXPECT_TRUE(chooserMarksChosen(option, Drive{"D1", "Archive"}));
    EXPECT_FALSE(chooserMarksChosen(option, Drive{"D2", "Archive"}));
    EXPECT_FALSE(chooserMarksChosen(option, std::nullopt));
    option.existing.reset();
    EXPECT_FALSE(chooserMarksChosen(option, Drive{"D1", "Archive"}));
    EXPECT_EQ(checkingDriveText("Archive"), "Checking Archive (about 10 seconds)\u2026");
    EXPECT_EQ(couldNotUseText("Archive", "read-only"), "Keldwick couldn't use Archive: read-only");
}

TEST(AdvancedScreenTest, StepperRangesHoldStoredValues) {
    struct Case {
        const char* name;
        std::function<void(AppSettings&)> set;
        StepperState age, threshold, target;
    };
    const Case cases[] = {
        {"defaults", [](AppSettings&) {}, {30, 7, 365, 7}, {20, 5, 500, 5}, {30, 21, 600, 5}},
        {"a fraction of a gigabyte reads whole",
         [](AppSettings& s) {
             s.thresholdBytes = 12'500'000'000;
             s.targetBytes = 30 * GB;
         },
         {30, 7, 365, 7}, {12, 5, 500, 5}, {30, 13, 600, 5}},
        {"threshold at the top", [](AppSettings& s) { s.thresholdBytes = 500 * GB; s.targetBytes = 501 * GB; },
         {30, 7, 365, 7}, {500, 5, 500, 5}, {501, 501, 600, 5}},
        {"values set elsewhere below and above the ranges",
         [](AppSettings& s) {
             s.minimumAgeDays = 3;
             s.thresholdBytes = GB;
             s.targetBytes = 2 * GB;
         },
         {3, 3, 365, 7}, {1, 1, 500, 5}, {2, 2, 600, 5}},
        {"target range empty: only the stored value",
         [](AppSettings& s) {
             s.minimumAgeDays = 400;
             s.thresholdBytes = 650 * GB;
             s.targetBytes = 651 * GB;
         },
         {400, 7, 400, 7}, {650, 5, 650, 5}, {651, 651, 651, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppSettings settings;
        c.set(settings);
        const AdvancedScreen screen = advancedScreen(settings);
        EXPECT_EQ(screen.age, c.age);
        EXPECT_EQ(screen.thresholdGB, c.threshold);
        EXPECT_EQ(screen.targetGB, c.target);
    }

    AppSettings settings;
    settings.thresholdBytes = 12'500'000'000;
    settings.checkIntervalMinutes = 1440;
    settings.minimumAgeDays = int64_t{1} << 40;
    AdvancedScreen screen = advancedScreen(settings);
    EXPECT_EQ(screen.thresholdLabel, "Start making room below **13 GB** free");
    EXPECT_EQ(screen.targetLabel, "Make room until there's **30 GB** free");
    EXPECT_EQ(screen.ageLabel, "Only move files unused for at least **1099511627776 days**");
    EXPECT_FALSE(screen.age.editable);  // shown by the label alone
    EXPECT_TRUE(screen.thresholdGB.editable);
    EXPECT_EQ(screen.intervals, (std::vector<int64_t>{5, 10, 15, 30, 60, 1440}));
    EXPECT_EQ(screen.intervalIndex, 5);
    EXPECT_EQ(intervalText(1440), "1440 minutes");
    settings.checkIntervalMinutes = 30;
    EXPECT_EQ(advancedScreen(settings).intervalIndex, 3);
    EXPECT_EQ(advancedScreen(settings).intervals.size(), 5u);
}

}  // namespace
}  // namespace keldwick
