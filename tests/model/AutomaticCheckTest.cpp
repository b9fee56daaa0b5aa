#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "ModelStateFixtures.h"
#include "foundation/PathUtil.h"
#include "foundation/AndroidDevices.h"
#include "model/AutomaticCheck.h"
#include "model/SpaceCalls.h"
#include "scanning/NeverTouch.h"
#include "scanning/PinnedRule.h"
#include "support/FakeOpenFiles.h"
#include "support/TempDir.h"

using namespace keldwick;
using keldwick::test::readyState;
using keldwick::test::record;

namespace {

const Date now{2'000'000'000};

Date ago(double seconds) { return now.adding(-seconds); }

}  // namespace

TEST(AutomaticCheckTest, AutomaticCacheClearingGate) {
    // Ready, 10 GB free under a keep-free level of 20 GB, never cleared automatically.
    struct Case {
        const char* name;
        std::function<void(ModelState&)> change;
        bool due;
    };
    const std::vector<Case> cases = {
        {"low on space", [](ModelState&) {}, true},
        {"setup incomplete", [](ModelState& s) { s.settings.onboardingComplete = false; }, false},
        {"clearing off", [](ModelState& s) { s.settings.clearCachesWhenLow = false; }, false},
        {"paused", [](ModelState& s) { s.settings.isPaused = true; }, false},
        {"test mode", [](ModelState& s) { s.settings.dryRunMode = true; }, false},
        {"journal unusable", [](ModelState& s) { s.journalProblem = "disk I/O error"; }, false},
        {"busy", [](ModelState& s) { s.activity = Activity::moving; }, false},
        {"free at the level", [](ModelState& s) { s.computerFreeBytes = 20'000'000'000; }, false},
        {"free unmeasured", [](ModelState& s) { s.computerFreeBytes.reset(); }, false},
        {"cleared exactly a day ago", [](ModelState& s) { s.lastAutomaticCacheClear = ago(86'400); }, false},
        {"cleared a day and a second ago", [](ModelState& s) { s.lastAutomaticCacheClear = ago(86'401); }, true},
        {"cleared in the future", [](ModelState& s) { s.lastAutomaticCacheClear = now.adding(3'600); }, true},
    };
    for (const auto& c : cases) {
        ModelState state = readyState();
        state.computerFreeBytes = 10'000'000'000;
        c.change(state);
        EXPECT_EQ(automaticCacheClearDue(state, now), c.due) << c.name;
    }
}

TEST(AutomaticCheckTest, DecisionInputsAndGatesAfterTheScan) {
    struct Case {
        const char* name;
        std::function<void(ModelState&)> change;
        bool busy;
        bool mayAct;
    };
    const PreviewState waiting{PreviewKind::firstAutomatic, false, false, false, std::nullopt};
    const PreviewState scanning{PreviewKind::manual, false, false, true, std::nullopt};
    const PreviewState ready{PreviewKind::manual, false, false, false, std::nullopt};
    const std::vector<Case> cases = {
        {"idle", [](ModelState&) {}, false, true},
        {"clearing", [](ModelState& s) { s.activity = Activity::clearing; }, true, false},
        {"a first run waiting", [&](ModelState& s) { s.preview = waiting; }, true, true},
        {"a preview scanning", [&](ModelState& s) { s.preview = scanning; }, true, true},
        {"a preview shown", [&](ModelState& s) { s.preview = ready; }, false, true},
        {"paused meanwhile", [](ModelState& s) { s.settings.isPaused = true; }, false, false},
        {"unplugged meanwhile", [](ModelState& s) { s.driveRoot.reset(); }, false, false},
        {"journal unusable", [](ModelState& s) { s.journalProblem = "x"; }, false, false},
        {"journal unusable in test mode",
         [](ModelState& s) {
             s.journalProblem = "x";
             s.settings.dryRunMode = true;
         },
         false, true},
    };
    for (const auto& c : cases) {
        ModelState state = readyState();
        c.change(state);
        const AutomationInputs inputs = automationInputs(state);
        EXPECT_EQ(inputs.isBusy, c.busy) << c.name;
        EXPECT_EQ(inputs.canOffload, !state.journalProblem) << c.name;
        EXPECT_EQ(inputs.freeBytes, state.computerFreeBytes) << c.name;
        EXPECT_TRUE(inputs.driveConnected == state.driveRoot.has_value()) << c.name;
        EXPECT_EQ(mayActOnFindings(state), c.mayAct) << c.name;
    }
}

TEST(AutomaticCheckTest, DeclineAndStallHoldBack) {
    struct Decline {
        std::optional<Date> declined;
        bool approved;
        bool holds;
    };
    for (const auto& c : std::vector<Decline>{{ago(21'599), false, true},
                                              {ago(21'600), false, false},
                                              {ago(10), true, false},
                                              {std::nullopt, false, false},
                                              {now.adding(60), false, false}}) {
        ModelState state = readyState();
        state.settings.automaticRunsApproved = c.approved;
        EXPECT_EQ(declineHoldsBack(state, c.declined, now), c.holds)
            << (c.declined ? now.timeIntervalSince(*c.declined) : -1);
    }

    struct Stalled {
        std::optional<StallState> stall;
        std::optional<int64_t> free;
        bool holds;
    };
    const StallState halfHour{Stall::driveFull, ago(1'800), 5'000'000'000};
    for (const auto& c : std::vector<Stalled>{{halfHour, 4'000'000'001, true},
                                              {halfHour, 4'000'000'000, false},
                                              {halfHour, std::nullopt, false},
                                              {StallState{Stall::testRun, ago(3'599), 5'000'000'000}, 6'000'000'000, true},
                                              {StallState{Stall::testRun, ago(3'600), 5'000'000'000}, 6'000'000'000, false},
                                              {std::nullopt, 1, false}}) {
        ModelState state = readyState();
        state.stall = c.stall;
        state.computerFreeBytes = c.free;
        EXPECT_EQ(stallHoldsBackScan(state, now), c.holds) << c.free.value_or(-1);
    }
}

TEST(AutomaticCheckTest, StallNoticesOncePerKindADay) {
    ModelState state = readyState();
    state.computerFreeBytes = 7;
    struct Step {
        double at;  // seconds after `now`
        bool found;
        std::optional<std::string> identifier;
    };
    const std::vector<Step> steps = {
        {0, true, "drive-full"},           {600, true, std::nullopt},
        {86'399, true, std::nullopt},      {86'400, true, "drive-full"},
        {86'401, false, "nothing-to-move"}, {86'402, true, "drive-full"},
    };
    for (const auto& step : steps) {
        const Date at = now.adding(step.at);
        StallOutcome outcome = stallOutcome(state, step.found, at);
        EXPECT_EQ(outcome.stall, (StallState{step.found ? Stall::driveFull : Stall::nothingToMove, at, 7})) << step.at;
        EXPECT_EQ(outcome.notice ? outcome.notice->identifier : std::nullopt, step.identifier) << step.at;
        if (outcome.notice) {
            EXPECT_EQ(outcome.lastStallNotice, (StallNotice{outcome.stall.kind, at})) << step.at;
        }
        state.stall = outcome.stall;
        state.lastStallNotice = outcome.lastStallNotice;
    }

    ModelState fresh = readyState();
    EXPECT_EQ(stallOutcome(fresh, true, now).notice,
              (Notice{"Archive is full",
                      "Keldwick can't move more files to it until there's room. Delete what you no longer need from "
                      "it, or use a bigger drive.",
                      NoticeTarget::offloaded, "drive-full"}));
    EXPECT_EQ(stallOutcome(fresh, false, now).notice->body,
              "Keldwick has moved everything it can: the rest is recent, in use or protected. To move something "
              "anyway, choose Move Files to Archive\u2026 in Keldwick's panel, or run \u201Ckeldwick --move\u201D "
              "with its path in a terminal.");
    fresh.moveEntry = "Scripts \u25B8 Move to Keldwick Drive";
    EXPECT_EQ(stallOutcome(fresh, false, now).notice->body,
              "Keldwick has moved everything it can: the rest is recent, in use or protected. To move something "
              "anyway, choose Move Files to Archive\u2026 in Keldwick's panel, or right-click it in the file "
              "manager and choose Scripts \u25B8 Move to Keldwick Drive.");
    fresh.settings.managedFolders.clear();
    EXPECT_EQ(stallOutcome(fresh, false, now).notice,
              (Notice{"Your computer is still low on space", "Choose the folders Keldwick may look in, in Settings.",
                      NoticeTarget::menu, "nothing-to-move"}));
    EXPECT_EQ(askFirstNotice(fresh),
              (Notice{"Your computer is low on space",
                      "Keldwick can free up space by moving old files to Archive. Click to see which ones \u2014 "
                      "nothing moves until you say so.",
                      NoticeTarget::preview, "ask-first"}));
}

TEST(AutomaticCheckTest, BuildersAndFailedPaths) {
    ModelState state = readyState();
    state.pins = {"/home/u/Keep"};
    state.records = {record("/home/u/Returned", Phase::returned)};

    OffloadRecord abandoned = record("/home/u/Abandoned", Phase::abandoned);
    abandoned.updatedAt = ago(3'600);
    const std::map<std::string, Date> failedMoves = {{"/home/u/Old", ago(86'400)}, {"/home/u/New", ago(86'399)}};
    const std::vector<std::string> failed = recentlyFailedPaths({abandoned}, failedMoves, now);
    EXPECT_EQ(failed, (std::vector<std::string>{"/home/u/Abandoned", "/home/u/New"}));

    const size_t standardRules = scanRules(state).size();
    PlanBuilder automatic = scanBuilder(state, true, failed);
    ASSERT_EQ(automatic.rules.size(), standardRules + 1);
    auto failureRule = std::dynamic_pointer_cast<const PinnedRule>(automatic.rules.back());
    ASSERT_TRUE(failureRule);
    EXPECT_EQ(failureRule->paths(), failed);
    EXPECT_EQ(failureRule->reason(), "Couldn't be moved in the last day");
    EXPECT_EQ(automatic.folders, state.settings.managedFolders);
    EXPECT_EQ(automatic.policy, state.settings.policy(true));
    EXPECT_EQ(automatic.emulatorDevices, AndroidDevices::devicesFolder(state.home));
    EXPECT_EQ(automatic.fixedFolders, NeverTouch::standardFolders(state.home));
    EXPECT_TRUE(automatic.openFiles);

    state.settings.moveProjectsAndEmulators = false;
    PlanBuilder preview = scanBuilder(state, false);
    EXPECT_EQ(preview.rules.size(), standardRules);
    EXPECT_EQ(preview.policy, state.settings.policy(false));
    EXPECT_FALSE(preview.emulatorDevices);

    const DriveProfile profile;
    PlanBuilder onboarding = planBuilder(state, {"/home/u/Videos"}, profile);
    AppSettings withProfile = state.settings;
    withProfile.driveProfile = profile;
    EXPECT_EQ(onboarding.folders, std::vector<std::string>{"/home/u/Videos"});
    EXPECT_EQ(onboarding.policy, withProfile.policy(false));
    EXPECT_EQ(onboarding.rules.size(), standardRules);

    // The scans the user waits for use every core; an automatic check, two at most.
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    for (const PlanBuilder* builder : {&automatic, &preview, &onboarding}) EXPECT_EQ(builder->threads, cores);
    PlanBuilder check = automaticCheckBuilder(state, failed);
    EXPECT_EQ(check.threads, std::min(cores, 2));
    EXPECT_EQ(check.rules.size(), automatic.rules.size());
    EXPECT_EQ(check.policy, state.settings.policy(true));
}

TEST(AutomaticCheckTest, PinFormResolvesTheParentOnly) {
    test::TempDir dir;
    test::makeDirs(dir / "real");
    ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
    ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "real/itself").c_str()), 0);
    const std::string real = PathUtil::canonical(dir / "real").value();
    EXPECT_EQ(pinForm(dir / "link/Taxes"), real + "/Taxes");
    EXPECT_EQ(pinForm(dir / "link/itself"), real + "/itself");  // the pinned link stays the link
    EXPECT_EQ(pinForm(dir / "missing/Taxes"), dir / "missing/Taxes");
}

TEST(SpaceCallsTest, ClearingAddsUpFreedAndKept) {
    test::TempDir dir;
    const std::string cache = dir / "cache";
    test::writeFile(cache + "/a/blob", std::string(100'000, 'a'));
    test::writeFile(cache + "/b/blob", std::string(100'000, 'b'));
    const std::string busy = dir / "busy";
    test::writeFile(busy + "/in-use/blob", std::string(100'000, 'c'));
    test::FakeOpenFiles openFiles({{PathUtil::canonical(busy).value() + "/in-use/blob", 42, "editor"}});

    CacheLocation free;
    free.folders = {cache};
    CacheLocation inUse;
    inUse.folders = {busy};
    EXPECT_EQ(clearCacheLocations({}, openFiles), (CacheClearing{0, 0}));
    const CacheClearing cleared = clearCacheLocations({inUse, free}, openFiles);
    EXPECT_GE(cleared.freed, 200'000);
    EXPECT_EQ(cleared.kept, 1);
    EXPECT_TRUE(test::readFile(busy + "/in-use/blob").size() == 100'000);

    EXPECT_EQ(cachesClearedMessage(0), "Cleared 0 bytes of caches.");
    EXPECT_EQ(cachesClearedMessage(1'500'000'000), "Cleared 1.50 GB of caches.");
}
