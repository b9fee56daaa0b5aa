#include <gtest/gtest.h>

#include "ModelStateFixtures.h"
#include "model/RecoveryOutcome.h"
#include "model/RestoreOutcome.h"

using namespace keldwick;
using keldwick::test::readyState;
using keldwick::test::record;

TEST(RestoreOutcomeTest, ProblemReports) {
    const std::vector<std::pair<std::vector<std::string>, std::optional<std::string>>> cases = {
        {{}, std::nullopt},
        {{"one"}, "one"},
        {{"one", "two"}, "one (and 1 more problem)"},
        {{"one", "two", "three"}, "one (and 2 more problems)"},
    };
    for (const auto& [messages, problem] : cases) {
        FilesProblemReport report = filesProblemReport(messages, kRestoreProblemTitle);
        EXPECT_EQ(report.filesProblem, problem);
        if (problem) {
            EXPECT_EQ(report.notice, (Notice{"Couldn't bring back everything", *problem, NoticeTarget::offloaded,
                                             "files-problem"}));
        } else {
            EXPECT_EQ(report.notice, std::nullopt);
        }
    }
}

TEST(RestoreOutcomeTest, RestoredLines) {
    const std::string home = "/home/u";
    const OffloadRecord taxes = record("/home/u/Documents/Work/Taxes", Phase::restored, true, 2'000);
    const OffloadRecord photo = record("/home/u/photo.jpg", Phase::restored, false, 1'000'000);
    const OffloadRecord notes = record("/home/u/notes.txt", Phase::restored, false, 500);
    struct Case {
        std::vector<OffloadRecord> restored;
        std::vector<std::string> failures;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{taxes}, {}, "Brought back \u201CTaxes\u201D to Documents \u203A Work."},
        {{photo}, {"“notes.txt” is open"}, "Brought back \u201Cphoto.jpg\u201D to Home folder. “notes.txt” is open"},
        {{photo, notes, taxes}, {}, "Brought back 2 files and 1 folder (1.00 MB) to your computer."},
        {{}, {"“a” is open", "“b” is open"}, "“a” is open"},  // no leading space
        {{}, {}, ""},                                       // cancelled before the first item
    };
    for (const auto& c : cases) EXPECT_EQ(restoredText(c.restored, c.failures, home), c.text);

    EXPECT_EQ(restoredCopyText(photo, "Archive"),
              "Brought back the copy of \u201Cphoto.jpg\u201D from Archive, next to the one on your computer.");
}

TEST(RestoreOutcomeTest, RestoreAll) {
    struct Case {
        const char* name;
        RunSummary summary;
        std::vector<OffloadRecord> recordsAfter;
        std::string text;
        bool everythingBack;
    };
    const std::vector<Case> cases = {
        {"all back", RunSummary{{"/a", "/b"}, 3'000, {}, false, std::nullopt, false, {}},
         {record("/a", Phase::restored)}, "Brought back 2 items (3.00 KB) to your computer.", true},
        {"one back while others stay", RunSummary{{"/a"}, 1, {}, false, std::nullopt, false, {}},
         {record("/b", Phase::offloaded)}, "Brought back 1 item (1 byte) to your computer.", false},
        {"one needing attention remains", RunSummary{{"/a"}, 1, {}, false, std::nullopt, false, {}},
         {record("/b", Phase::linkMissing)}, "Brought back 1 item (1 byte) to your computer.", false},
        {"one failure", RunSummary{{}, 0, {{"/b", "“b” is open"}}, false, std::nullopt, false, {}}, {},
         "Brought back 0 items (0 bytes) to your computer. “b” is open", false},
        {"failures, cancelled and stopped",
         RunSummary{{"/a"}, 5, {{"/b", "“b” is open"}, {"/c", "“c” is open"}}, true, "Archive was unplugged.", false, {}},
         {}, "Brought back 1 item (5 bytes) to your computer. 2 couldn't come back, for example: “b” is open Stopped "
             "early. Archive was unplugged.",
         false},
        // The drive is mounted but refused: the reason, never "isn't plugged in".
        {"stopped on a refused drive", RunSummary{{}, 0, {}, false, "Your drive isn't plugged in.", false, {}},
         {record("/b", Phase::offloaded)},
         "Brought back 0 items (0 bytes) to your computer. Keldwick won't use the volume at /media/ann/Archive. Its "
         "Keldwick folder belongs to another account on this computer. If the drive is yours, make your account its "
         "owner, for example with \u201csudo chown -R $USER\u201d on its Keldwick folder.",
         false},
    };
    for (const auto& c : cases) {
        ModelState state = readyState();
        state.records = c.recordsAfter;
        if (c.summary.stoppedBecause == "Your drive isn't plugged in.") {
            state.driveRoot.reset();
            state.driveRefusals = {{"/media/ann/Archive", DriveRefusal::Kind::anotherOwner, "Keldwick folder"}};
        }
        RestoreAllOutcome outcome = restoreAllOutcome(state, c.summary);
        EXPECT_EQ(outcome.lastRun, c.text) << c.name;
        EXPECT_EQ(outcome.filesProblem, c.everythingBack ? std::nullopt : std::optional(c.text)) << c.name;
        EXPECT_EQ(outcome.notice,
                  (Notice{c.everythingBack ? "Everything is back on your computer" : "Some files are still on Archive",
                          c.text, NoticeTarget::offloaded, std::nullopt}))
            << c.name;
    }
}

TEST(RestoreOutcomeTest, RecoveryNotices) {
    auto result = [](const std::string& name, RecoveryAction action) {
        return RecoveryResult{1, name, action, std::nullopt};
    };
    const std::string body = "The files are still safe on Archive. Click to bring them back or delete them.";
    struct Case {
        std::vector<RecoveryResult> results;
        std::optional<std::string> lastRun;
        std::optional<std::string> title;
    };
    const std::vector<Case> cases = {
        {{}, std::nullopt, std::nullopt},
        {{result("Taxes", RecoveryAction::rolledBack)},
         "Finished an interrupted move of \u201CTaxes\u201D. Nothing was lost.", std::nullopt},
        {{result("a", RecoveryAction::rolledBack), result("b", RecoveryAction::deferred),
          result("c", RecoveryAction::rolledForward)},
         "Finished 2 interrupted moves. Nothing was lost.", std::nullopt},
        {{result("Taxes", RecoveryAction::markedLinkMissing), result("x", RecoveryAction::relinked)}, std::nullopt,
         "The shortcut to \u201CTaxes\u201D was removed"},
        {{result("a", RecoveryAction::markedLinkMissing), result("b", RecoveryAction::markedLinkMissing),
          result("c", RecoveryAction::markedLinkMissing), result("d", RecoveryAction::rolledForward)},
         "Finished an interrupted move of \u201Cd\u201D. Nothing was lost.", "3 shortcuts were removed"},
        {{result("a", RecoveryAction::markedReturned), result("b", RecoveryAction::adopted),
          result("c", RecoveryAction::unchanged)},
         std::nullopt, std::nullopt},
    };
    // A move recovery undid is told as undone; beside finished work, after it.
    auto undid = [](const std::string& name, int64_t id) { return RecoveryResult{id, name, RecoveryAction::rolledBack, std::nullopt}; };
    EXPECT_EQ(recoveryOutcome({undid("bigbackup.tar", 4)}, "Archive", {4}).lastRun,
              "Undid an interrupted move of \u201Cbigbackup.tar\u201D. It's still on your computer.");
    EXPECT_EQ(recoveryOutcome({undid("a", 4), undid("b", 5), undid("c", 6), result("d", RecoveryAction::rolledForward)},
                              "Archive", {4, 5})
                  .lastRun,
              "Finished 2 interrupted moves. Nothing was lost. Undid 2 interrupted moves. They're still on your "
              "computer.");
    for (const auto& c : cases) {
        RecoveryOutcome outcome = recoveryOutcome(c.results, "Archive");
        EXPECT_EQ(outcome.lastRun, c.lastRun);
        if (c.title) {
            EXPECT_EQ(outcome.notice, (Notice{*c.title, body, NoticeTarget::offloaded, std::nullopt}));
        } else {
            EXPECT_EQ(outcome.notice, std::nullopt);
        }
    }
}

TEST(RestoreOutcomeTest, ItemsLeftOnTheDrive) {
    const std::string outside = std::string(kLeftOnDriveWarning) + "their places lie outside your home folder: “a”.";
    const std::string overlap = std::string(kLeftOnDriveWarning) + "their copies there overlap: “b”.";
    auto event = [](int64_t id, EventLevel level, std::string message) {
        return JournalEvent{id, std::nullopt, Date{0}, level, std::move(message)};
    };
    struct Case {
        const char* name;
        std::vector<JournalEvent> newestFirst;
        std::optional<std::string> body;
    };
    const std::vector<Case> cases = {
        {"none", {}, std::nullopt},
        {"only before recovery", {event(5, EventLevel::warning, outside)}, std::nullopt},
        {"other events",
         {event(8, EventLevel::info, outside), event(7, EventLevel::warning, "Couldn't update the drive's manifest.")},
         std::nullopt},
        {"both, oldest first",
         {event(9, EventLevel::warning, overlap), event(8, EventLevel::info, "Found “c” on the drive"),
          event(7, EventLevel::warning, outside), event(5, EventLevel::warning, outside)},
         outside + " " + overlap},
    };
    for (const auto& c : cases) {
        std::optional<Notice> notice = leftOnDriveNotice(c.newestFirst, 6, "Archive");
        EXPECT_EQ(notice ? std::optional(notice->body) : std::nullopt, c.body) << c.name;
        if (notice) {
            EXPECT_EQ(notice->title, "Some files were left on Archive");
            EXPECT_EQ(notice->target, NoticeTarget::offloaded);
        }
    }
}
