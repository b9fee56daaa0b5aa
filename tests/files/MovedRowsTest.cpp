#include <gtest/gtest.h>

#include "files/MovedRows.h"
#include "model/OtherDrives.h"

namespace keldwick {
namespace {

OffloadRecord record(int64_t id, const std::string& path, Phase phase, int64_t size = 1000, bool folder = false,
                     std::optional<std::string> error = std::nullopt) {
    OffloadRecord r;
    r.id = id;
    r.originalPath = path;
    r.driveID = "D1";
    r.phase = phase;
    r.size = size;
    r.isDirectory = folder;
    r.error = std::move(error);
    return r;
}

ModelState mounted(std::vector<OffloadRecord> records) {
    ModelState state;
    state.settings.drive = Drive{};
    state.settings.drive->id = "D1";
    state.settings.drive->name = "Vault";
    state.driveRoot = "/media/u/Vault";
    state.records = std::move(records);
    return state;
}

DriveStatusOf connected(bool on) {
    return [on](const OffloadRecord&) { return DriveStatus{"Vault", on}; };
}
ExistsAt existing(std::set<std::string> paths) {
    return [paths](const std::string& p) { return paths.count(p) > 0; };
}

std::vector<int64_t> ids(const std::vector<OffloadRecord>& records) {
    std::vector<int64_t> out;
    for (const auto& r : records) out.push_back(r.id);
    return out;
}

TEST(MovedListTest, SearchesPathAndNameAndPutsUnfinishedFirst) {
    const std::vector<OffloadRecord> records = {
        record(1, "/home/u/docs/report.pdf", Phase::offloaded), record(2, "/home/u/Music/song.mp3", Phase::offloaded),
        record(3, "/home/u/old.iso", Phase::restoreCopying), record(4, "/home/u/Docs/x ", Phase::linkMissing)};
    struct Case {
        std::string search;
        std::vector<int64_t> expected;
    };
    for (const Case& c : std::vector<Case>{{"", {3, 4, 1, 2}},
                                           {"DOCS", {4, 1}},        // the folder part of the path counts
                                           {"SONG", {2}},           // case ignored
                                           {"x ", {4}},             // not trimmed
                                           {"nothing", {}}}) {
        EXPECT_EQ(ids(listedRecords(records, c.search)), c.expected) << c.search;
    }
}

TEST(MovedListTest, StatusLabelForEveryPhase) {
    for (Phase phase : allPhases) {
        for (bool on : {true, false}) {
            const StatusLabel label = statusLabel(phase, "your other drive", on);
            switch (phase) {
                case Phase::linkMissing:
                    EXPECT_EQ(label.title, "Shortcut removed");
                    EXPECT_EQ(label.tint, Tint::orange);
                    break;
                case Phase::returned:
                    EXPECT_EQ(label.title, "Extra copy on drive");
                    EXPECT_EQ(label.symbol, "info-filled");
                    break;
                case Phase::offloaded:
                    EXPECT_EQ(label.title, on ? "On your other drive" : "Drive not plugged in");
                    EXPECT_EQ(label.help, on ? "Opens from its shortcut on your computer."
                                             : "Plug in your other drive to open this file.");
                    break;
                default:
                    EXPECT_EQ(label.title, "Finishing up\u2026");
                    EXPECT_EQ(label.symbol, "hourglass");
            }
        }
    }
    EXPECT_EQ(statusLabel(Phase::offloaded, "", true).title, "On ");
}

TEST(MovedListTest, ProblemBarNeedsExactlyOneSelectedProblem) {
    const std::vector<OffloadRecord> records = {
        record(1, "/home/u/a.txt", Phase::offloaded), record(2, "/home/u/b.txt", Phase::linkMissing),
        record(3, "/home/u/c.txt", Phase::returned, 1, false, "Kept aside"),
        record(4, "/home/u/d.txt", Phase::offloadSwapping, 1, false, "ignored")};
    struct Case {
        std::set<int64_t> selection;
        std::optional<std::string> text;
    };
    for (const Case& c : std::vector<Case>{
             {{}, std::nullopt},
             {{1}, std::nullopt},
             {{2, 3}, std::nullopt},
             {{2, 99}, "The shortcut to \u201Cb.txt\u201D was deleted or moved, but the file is still safe on Vault."},
             {{3}, "Kept aside"},
             {{4}, "Moving \u201Cd.txt\u201D was interrupted. Keldwick will finish or undo it automatically. Nothing "
                   "will be lost."}}) {
        auto chosen = problemRecord(records, c.selection);
        std::optional<std::string> text;
        if (chosen) text = problemOf(*chosen, "Vault")->text;
        EXPECT_EQ(text, c.text);
    }
}

TEST(MovedListTest, BottomStatusFirstCaseWins) {
    ModelState state = mounted({record(1, "/home/u/a", Phase::offloaded, 2000), record(2, "/home/u/b", Phase::offloaded,
                                                                                       3000, true)});
    EXPECT_EQ(bottomStatus(state).text, "1 file and 1 folder \u00B7 5.00 KB on Vault");
    state.activity = Activity::restoring;  // no progress yet: still the summary
    EXPECT_EQ(bottomStatus(state).kind, BottomStatus::Kind::text);
    state.progress = EngineProgress{};
    state.progress->itemName = "a";
    state.progress->itemBytesDone = 5;
    EXPECT_EQ(bottomStatus(state), (BottomStatus{BottomStatus::Kind::progress, "Bringing back a\u2026", 5, 1}));
    state.activity = Activity::idle;
    state.filesProblem = "Try again once it's done with what it's doing.";
    EXPECT_EQ(bottomStatus(state).kind, BottomStatus::Kind::problem);
    state.filesProblem.reset();
    state.driveRoot.reset();
    EXPECT_EQ(bottomStatus(state).text, "Plug in Vault to bring files back.");
    EXPECT_TRUE(driveAwayBanner(state));
    // Mounted but refused: the reason, not a missing drive.
    state.driveRefusals = {{"/media/u/Vault", DriveRefusal::Kind::modesFromMount, "Keldwick folder"}};
    EXPECT_EQ(bottomStatus(state).text, "Keldwick won't use the volume at /media/u/Vault.");
    EXPECT_EQ(driveAwayBanner(state), "Keldwick won't use the volume at /media/u/Vault. Every user of this computer "
                                      "can change it: mount it with \u201cumask=022\u201d, or format it as ext4.");
    state.driveRefusals.clear();
    state.records = {record(3, "/home/u/c", Phase::returned)};  // away, but nothing offloaded
    EXPECT_EQ(bottomStatus(state).text, "Nothing on Vault right now");
    EXPECT_FALSE(driveAwayBanner(state));
    state.settings.drive.reset();
    state.records = {record(1, "/home/u/a", Phase::offloaded)};
    EXPECT_FALSE(driveAwayBanner(state));  // no drive chosen
}

TEST(MovedListTest, EmptyStates) {
    ModelState state = mounted({});
    EXPECT_EQ(movedEmptyState(state, 0, "")->title, "No files on your drive yet");
    EXPECT_TRUE(movedEmptyState(state, 0, "")->offersFreeUpSpace);
    state.journalProblem = "broken";
    EXPECT_FALSE(movedEmptyState(state, 0, "")->offersFreeUpSpace);
    state.hasBroughtFilesBack = true;
    EXPECT_EQ(movedEmptyState(state, 0, "x")->title, "Everything is back on your computer");
    state.records = {record(1, "/home/u/a", Phase::offloaded)};
    EXPECT_TRUE(movedEmptyState(state, 0, "zz")->isSearch);
    EXPECT_FALSE(movedEmptyState(state, 1, ""));
}

std::vector<std::string> titles(const std::vector<MenuEntry>& menu, bool enabledOnly = false) {
    std::vector<std::string> out;
    for (const auto& e : menu)
        if (e.action != MovedAction::divider && (!enabledOnly || e.enabled)) out.push_back(e.title);
    return out;
}

TEST(MovedActionsTest, RowMenuMatrix) {
    const auto returned = record(1, "/home/u/r", Phase::returned);
    const auto missing = record(2, "/home/u/m", Phase::linkMissing);
    const auto offloaded = record(3, "/home/u/o", Phase::offloaded);
    ModelState busy = mounted({});
    busy.activity = Activity::moving;
    ModelState away = mounted({});
    away.driveRoot.reset();
    struct Case {
        const char* name;
        std::vector<OffloadRecord> chosen;
        ModelState state;
        bool on;
        std::set<std::string> present;
        std::vector<std::string> shown, enabled;
    };
    const std::vector<Case> cases = {
        {"returned", {returned}, mounted({}), true, {},
         {"Bring Back", "Bring Back and Always Keep on This Computer", "Bring Back as a Copy", "Show in Folder",
          "Show on Vault", "Delete Copy from Vault\u2026"},
         {"Bring Back as a Copy", "Show in Folder", "Show on Vault", "Delete Copy from Vault\u2026"}},
        {"missing, nothing there", {missing}, mounted({}), true, {},
         {"Bring Back", "Bring Back and Always Keep on This Computer", "Show in Folder", "Show on Vault",
          "Delete from Vault\u2026"},
         {"Bring Back", "Bring Back and Always Keep on This Computer", "Show in Folder", "Show on Vault",
          "Delete from Vault\u2026"}},
        {"missing, a new file there", {missing}, mounted({}), true, {"/home/u/m"},
         {"Bring Back", "Bring Back and Always Keep on This Computer", "Bring Back as a Copy", "Show in Folder",
          "Show on Vault", "Delete from Vault\u2026"},
         {"Bring Back", "Bring Back and Always Keep on This Computer", "Bring Back as a Copy", "Show in Folder",
          "Show on Vault", "Delete from Vault\u2026"}},
        {"two chosen", {returned, missing}, mounted({}), true, {"/home/u/m"},
         {"Bring Back", "Bring Back and Always Keep on This Computer", "Show in Folder", "Show on Vault"},
         {"Bring Back", "Bring Back and Always Keep on This Computer", "Show in Folder", "Show on Vault"}},
        {"unplugged", {offloaded}, away, false, {},
         {"Bring Back", "Bring Back and Always Keep on This Computer", "Show in Folder"},
         {"Show in Folder"}},
        {"busy", {offloaded}, busy, true, {},
         {"Open", "Bring Back", "Bring Back and Always Keep on This Computer", "Show in Folder", "Show on Vault"},
         {"Open", "Show in Folder", "Show on Vault"}},
    };
    for (const auto& c : cases) {
        const auto menu = movedRowMenu(c.chosen, c.state, connected(c.on), existing(c.present));
        EXPECT_EQ(titles(menu), c.shown) << c.name;
        EXPECT_EQ(titles(menu, true), c.enabled) << c.name;
    }
}

TEST(MovedActionsTest, OpenRevealAndProblemButtons) {
    const std::vector<OffloadRecord> chosen = {record(1, "/home/u/a", Phase::offloaded),
                                               record(2, "/home/u/d/b", Phase::restoreCopying)};
    ModelState state = mounted({});
    EXPECT_EQ(pathsToOpen(chosen, state), std::vector<std::string>{"/home/u/a"});
    EXPECT_EQ(pathsToOpen({chosen[1]}, state), std::vector<std::string>{});  // being restored: nothing opens
    EXPECT_EQ(pathsToReveal(chosen, existing({"/home/u/a"})), (std::vector<std::string>{"/home/u/a", "/home/u/d"}));
    state.driveRoot.reset();
    EXPECT_TRUE(pathsToOpen(chosen, state).empty());

    const ModelState ready = mounted({});
    EXPECT_EQ(problemButtons(record(1, "/home/u/m", Phase::linkMissing), ready, existing({})),
              (ProblemButtons{MovedAction::restore, "Bring Back", true, "Delete from Drive\u2026", true}));
    EXPECT_EQ(problemButtons(record(1, "/home/u/r", Phase::returned), state, existing({})),
              (ProblemButtons{MovedAction::restoreCopy, "Bring Back as a Copy", true, "Delete Copy\u2026", false}));
    EXPECT_EQ(problemButtons(record(1, "/home/u/s", Phase::offloadCopying), ready, existing({})).first, std::nullopt);
}

TEST(MovedActionsTest, SelectionButtonTitle) {
    ModelState state = mounted({record(1, "/a", Phase::offloaded), record(2, "/b", Phase::offloaded),
                                record(3, "/c", Phase::linkMissing), record(4, "/d", Phase::offloaded, 1, true),
                                record(5, "/e", Phase::returned)});
    struct Case {
        std::set<int64_t> selection;
        std::string title;
        bool enabled;
    };
    for (const Case& c : std::vector<Case>{{{}, "Bring Back", false},
                                           {{1}, "Bring Back", true},
                                           {{1, 2, 3}, "Bring Back 3 Files", true},
                                           {{1, 2, 4}, "Bring Back 3 Items", true},
                                           {{1, 5}, "Bring Back", true},  // returned not counted
                                           {{5}, "Bring Back", false}}) {
        const auto buttons = bottomButtons(state, c.selection, connected(true));
        EXPECT_EQ(buttons.selectionTitle, c.title);
        EXPECT_EQ(buttons.selectionEnabled, c.enabled);
    }
    state.activity = Activity::restoring;
    EXPECT_EQ(bottomButtons(state, {1}, connected(true)),
              (BottomButtons{false, "Bring Back", false, false}));
}

TEST(MovedActionsTest, ARefusedDriveStillGivesItsItemsBack) {
    ModelState state = mounted({record(1, "/home/u/a.txt", Phase::offloaded), record(2, "/home/u/b", Phase::returned)});
    state.settings.drive->id = "D1";
    state.driveRoot.reset();
    state.driveRefusals = {DriveRefusal{"/media/u/Vault", DriveRefusal::Kind::othersCanChange, "Keldwick folder"}};
    EXPECT_TRUE(driveStatus(state, state.records[0]).connected);
    EXPECT_TRUE(bottomButtons(state, {1}, [&](const OffloadRecord& r) { return driveStatus(state, r); })
                    .restoreAllEnabled);
    EXPECT_TRUE(problemButtons(state.records[1], state, existing({})).enabled);
    EXPECT_FALSE(bottomButtons(state, {1}, connected(true)).moveFilesEnabled) << "nothing new moves there";
    // Its rows name the refusal, with the reason as their help; never a drive that isn't plugged in.
    const DriveStatus refused = driveStatus(state, state.records[0]);
    const StatusLabel label = statusLabel(Phase::offloaded, refused.name, refused.connected, refused.refusal);
    EXPECT_EQ(label.title, "Drive refused");
    EXPECT_EQ(label.tint, Tint::orange);
    EXPECT_EQ(label.help, "Keldwick won't use the volume at /media/u/Vault. " +
                              state.driveRefusals.front().explanation());
    EXPECT_EQ(statusLabel(Phase::linkMissing, refused.name, true, refused.refusal).title, "Shortcut removed");

    state.driveRefusals.clear();
    EXPECT_FALSE(driveStatus(state, state.records[0]).connected);
    EXPECT_EQ(driveStatus(state, state.records[0]).refusal, std::nullopt);
    EXPECT_EQ(statusLabel(Phase::offloaded, "Vault", false, driveStatus(state, state.records[0]).refusal).title,
              "Drive not plugged in");
    EXPECT_FALSE(bottomButtons(state, {1}, connected(false)).restoreAllEnabled);
}

TEST(MovedActionsTest, Confirmations) {
    ModelState state = mounted({record(1, "/home/u/a.txt", Phase::offloaded, 3000)});
    EXPECT_EQ(restoreAllConfirmation(state).title, "Bring \u201Ca.txt\u201D back to your computer?");
    EXPECT_EQ(restoreAllConfirmation(state).message, "");  // free space unknown
    state.computerFreeBytes = 3000;
    EXPECT_EQ(restoreAllConfirmation(state).message,
              "3.00 KB will be copied back to this computer (it has 3.00 KB free) and removed from Vault. Keldwick won't "
              "move them again for at least 30 days.");
    state.computerFreeBytes = 2999;
    EXPECT_EQ(restoreAllConfirmation(state).message,
              "That's 3.00 KB, but this computer only has 3.00 KB free. Keldwick will bring back what fits and then stop "
              "safely.");
    state.records.push_back(record(2, "/home/u/b", Phase::offloaded));
    EXPECT_EQ(restoreAllConfirmation(state).title, "Bring all 2 files back to your computer?");

    // After a change of drive, the records of the earlier one are neither counted nor
    // said to be removed from this one.
    OffloadRecord earlier = record(3, "/home/u/old.iso", Phase::offloaded, 6'620'000'000);
    earlier.driveID = "D0";
    state.records.push_back(earlier);
    EXPECT_EQ(restoreAllConfirmation(state).title, "Bring all 2 files back to your computer?");
    EXPECT_EQ(summaryText(state), "2 files \u00B7 4.00 KB on Vault");
    state.records = {earlier};
    EXPECT_EQ(summaryText(state), "Nothing on Vault right now");
    EXPECT_FALSE(bottomButtons(state, {}, connected(true)).restoreAllEnabled);

    EXPECT_EQ(deleteConfirmation(record(1, "/x/r", Phase::returned), state).title,
              "Delete the copy of \u201Cr\u201D from Vault?");
    EXPECT_EQ(deleteConfirmation(record(1, "/x/m", Phase::linkMissing), state).button, "Delete from Drive");
}

}  // namespace
}  // namespace keldwick
