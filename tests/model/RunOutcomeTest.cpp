#include <gtest/gtest.h>

#include <functional>

#include "ModelStateFixtures.h"
#include "model/RunOutcome.h"
#include "model/StatusTexts.h"

using namespace keldwick;
using keldwick::test::readyState;

namespace {

const Date kNow{2'000'000'000};

Candidate item(const std::string& path, bool isDirectory) {
    return Candidate(path, isDirectory, 1, 1, Date{0}, LastUsedSource::modificationDate);
}

// Two files and a folder planned; the third file was planned but did not move.
const OffloadPlan kPlan{{item("/home/u/a", false), item("/home/u/b", false), item("/home/u/c", true),
                         item("/home/u/d", false)},
                        1'000};

RunSummary summary(std::vector<std::string> completed, int64_t bytes, std::vector<RunFailure> failures = {},
                   bool cancelled = false, std::optional<std::string> stopped = std::nullopt, bool dryRun = false) {
    return RunSummary{std::move(completed), bytes, std::move(failures), cancelled, std::move(stopped), dryRun, {}};
}

const std::vector<RunFailure> kThreeFailures = {
    {"/home/u/x", "“x” is open in another app"}, {"/home/u/y", "“y” changed"}, {"/home/u/z", "“z” vanished"}};

Notice failureNotice(const std::string& body) {
    return Notice{"Keldwick couldn't free up space", body, NoticeTarget::menu, std::nullopt};
}

}  // namespace

TEST(RunOutcomeTest, ResultLinesNoticesAndStalls) {
    struct Case {
        const char* name;
        RunSummary summary;
        bool automatic;
        std::function<void(ModelState&)> change;
        std::string lastRun;
        std::optional<Notice> notice;
        std::optional<Stall> stall;  // the stall kind afterwards
        std::optional<Date> lastFailureNotice;
    };
    const std::string threeSkipped =
        "Nothing was moved. 3 items stay on your computer, for example: “x” is open in another app";
    const std::string oneStays = "Nothing was moved. “big.tar” is open in gedit. Close it and try again.";
    const std::vector<Case> cases = {
        {"moved two files and a folder", summary({"/home/u/a", "/home/u/c", "/home/u/b"}, 1'500'000'000), true,
         [](ModelState&) {}, "Moved 2 files and 1 folder (1.50 GB) to Archive.",
         Notice{"Freed up 1.50 GB",
                "Moved 2 files and 1 folder to Archive. They're still in the same folders \u2014 they open whenever "
                "the drive is plugged in.",
                NoticeTarget::offloaded, std::nullopt},
         std::nullopt, std::nullopt},
        {"a moving run keeps an earlier stall",
         summary({"/home/u/a"}, 1, {{"/home/u/d", "“d” changed"}}), true,
         [](ModelState& s) { s.stall = StallState{Stall::driveFull, Date{5}, 7}; },
         "Moved 1 file (1 byte) to Archive. “d” changed",
         Notice{"Freed up 1 byte", "Moved 1 file to Archive. It's still in the same folder \u2014 it opens "
                                  "whenever the drive is plugged in.",
                NoticeTarget::offloaded, std::nullopt},
         Stall::driveFull, std::nullopt},
        {"a test run that would move nothing", summary({}, 0, {}, false, std::nullopt, true), true,
         [](ModelState&) {}, "Test run: would have moved 0 files (0 bytes).",
         Notice{"Test run finished", "Keldwick would have moved 0 files (0 bytes). Nothing was moved.",
                NoticeTarget::menu, "test-run"},
         Stall::testRun, std::nullopt},
        {"three failures, last failure notice exactly a day ago", summary({}, 0, kThreeFailures), true,
         [](ModelState& s) { s.lastFailureNotice = kNow.adding(-86'400); }, threeSkipped, std::nullopt,
         Stall::nothingToMove, kNow.adding(-86'400)},
        {"three failures, last failure notice over a day ago", summary({}, 0, kThreeFailures), true,
         [](ModelState& s) { s.lastFailureNotice = kNow.adding(-86'401); }, threeSkipped,
         failureNotice(threeSkipped), Stall::nothingToMove, kNow},
        {"the user's own runs always tell", summary({}, 0, kThreeFailures), false,
         [](ModelState& s) { s.lastFailureNotice = kNow.adding(-10); }, threeSkipped, failureNotice(threeSkipped),
         std::nullopt, kNow},
        {"a failure notice dated in the future counts as now", summary({}, 0, kThreeFailures), true,
         [](ModelState& s) { s.lastFailureNotice = kNow.adding(1'000'000); }, threeSkipped, std::nullopt,
         Stall::nothingToMove, kNow},
        {"the one file picked stays", summary({}, 0, {{"/home/u/big.tar", "“big.tar” is open in gedit. Close it and try again."}}),
         false, [](ModelState&) {}, oneStays, failureNotice(oneStays), std::nullopt, kNow},
        {"stopped by the engine with nothing moved", summary({}, 0, {}, false, "Archive was unplugged."), true,
         [](ModelState&) {}, "Moved 0 files (0 bytes) to Archive. Archive was unplugged.",
         failureNotice("Moved 0 files (0 bytes) to Archive. Archive was unplugged."), std::nullopt, kNow},
        {"cancelled with nothing moved", summary({}, 0, {}, true), true, [](ModelState&) {},
         "Moved 0 files (0 bytes) to Archive. Stopped early.", std::nullopt, Stall::nothingToMove, std::nullopt},
        {"cancelled and stopped, in that order", summary({"/home/u/a"}, 2'000, {}, true, "This computer is full."), false,
         [](ModelState&) {}, "Moved 1 file (2.00 KB) to Archive. Stopped early. This computer is full.",
         Notice{"Freed up 2.00 KB", "Moved 1 file to Archive. It's still in the same folder \u2014 it opens "
                                   "whenever the drive is plugged in.",
                NoticeTarget::offloaded, std::nullopt},
         std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        ModelState state = readyState();
        state.computerFreeBytes = 12'000'000'000;
        c.change(state);
        RunOutcome outcome = runOutcome(state, kPlan, c.summary, c.automatic, kNow);
        EXPECT_EQ(outcome.lastRun, c.lastRun) << c.name;
        EXPECT_EQ(outcome.notice, c.notice) << c.name;
        ASSERT_EQ(outcome.stall.has_value(), c.stall.has_value()) << c.name;
        if (c.stall) {
            EXPECT_EQ(outcome.stall->kind, *c.stall) << c.name;
            if (outcome.stall != state.stall) {
                EXPECT_EQ(outcome.stall->date, kNow) << c.name;
                EXPECT_EQ(outcome.stall->freeBytes, 12'000'000'000) << c.name;
            }
        }
        EXPECT_EQ(outcome.lastFailureNotice, c.lastFailureNotice) << c.name;
    }
}

TEST(RunOutcomeTest, AnAutomaticRunThatMovedAllItFoundAndFellShortLeavesNothingToMove) {
    ModelState state = readyState();
    state.computerFreeBytes = 12'000'000'000;
    const RunSummary everything = summary({"/home/u/a", "/home/u/b", "/home/u/c", "/home/u/d"}, 4);
    const RunOutcome outcome = runOutcome(state, kPlan, everything, true, kNow);
    ASSERT_TRUE(outcome.stall);
    EXPECT_EQ(outcome.stall->kind, Stall::nothingToMove);
    EXPECT_EQ(outcome.stall->freeBytes, 12'000'000'004);
    // Below the keep-free level afterwards, the panel says so rather than promise a check.
    state.stall = outcome.stall;
    state.nextCheck = kNow.adding(3'600);
    state.computerFreeBytes = state.settings.thresholdBytes - 1;
    EXPECT_NE(statusText(state).detail.value_or("").find("Keldwick has already moved everything it can."),
              std::string::npos);

    // A plan that covered the need, or a run that left items behind, leaves no stall.
    OffloadPlan enough = kPlan;
    enough.bytesNeeded = 4;
    EXPECT_FALSE(runOutcome(readyState(), enough, everything, true, kNow).stall);
    EXPECT_FALSE(runOutcome(readyState(), kPlan, summary({"/home/u/a"}, 1), true, kNow).stall);
}

TEST(RunOutcomeTest, FailureMemoryAndPreviewRefresh) {
    ModelState state = readyState();
    state.failedMoves = {{"/home/u/a", Date{1}}, {"/home/u/old", Date{2}}};
    RunSummary run = summary({"/home/u/a"}, 10, {{"/home/u/b", "first"}, {"/home/u/old", "again"}});
    RunOutcome outcome = runOutcome(state, kPlan, run, false, kNow);
    EXPECT_EQ(outcome.failedMoves,
              (std::map<std::string, Date>{{"/home/u/b", kNow}, {"/home/u/old", kNow}}));
    EXPECT_FALSE(outcome.refreshPreview);

    // A test run forgets completed paths too.
    run.dryRun = true;
    run.failures.clear();
    EXPECT_EQ(runOutcome(state, kPlan, run, true, kNow).failedMoves,
              (std::map<std::string, Date>{{"/home/u/old", Date{2}}}));

    const std::vector<std::pair<std::optional<PreviewState>, bool>> previews = {
        {std::nullopt, false},
        {PreviewState{PreviewKind::manual, false, false, false, std::nullopt}, true},
        {PreviewState{PreviewKind::suggested, false, false, true, std::nullopt}, false},  // still scanning
        {PreviewState{PreviewKind::firstAutomatic, false, false, false, std::nullopt}, false},
    };
    for (const auto& [preview, refresh] : previews) {
        state.preview = preview;
        EXPECT_EQ(runOutcome(state, kPlan, run, true, kNow).refreshPreview, refresh);
        EXPECT_FALSE(runOutcome(state, kPlan, run, false, kNow).refreshPreview);
    }
}

TEST(RunOutcomeTest, GatesAndEngineErrors) {
    ModelState state = readyState();
    EXPECT_TRUE(canStartRun(state, false));
    state.activity = Activity::scanning;
    EXPECT_FALSE(canStartRun(state, true));
    state.activity = Activity::idle;
    state.journalProblem = "unable to open database file";
    EXPECT_FALSE(canStartRun(state, false));
    EXPECT_TRUE(canStartRun(state, true));

    state.failedMoves = {{"/home/u/a", Date{1}}};
    state.stall = StallState{Stall::testRun, Date{3}, 4};
    state.lastFailureNotice = Date{9};
    RunOutcome outcome = runErrorOutcome(state, "The drive is read-only.");
    EXPECT_EQ(outcome.lastRun, "The drive is read-only.");
    EXPECT_EQ(outcome.notice, failureNotice("The drive is read-only."));
    EXPECT_EQ(outcome.failedMoves, state.failedMoves);
    EXPECT_EQ(outcome.stall, state.stall);
    EXPECT_EQ(outcome.lastFailureNotice, state.lastFailureNotice);
}
