#include <gtest/gtest.h>

#include <limits>

#include "scanning/Automation.h"

using namespace keldwick;
using B = AutomationBlocker;

namespace {

constexpr int64_t GB = 1'000'000'000;

// Everything clear, free space below the 20 GB threshold.
AutomationInputs clear() {
    AutomationInputs in;
    in.settings.onboardingComplete = true;
    in.settings.drive = Drive{"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", "Disk"};
    in.freeBytes = 15 * GB;
    in.driveConnected = true;
    in.canReadHome = true;
    return in;
}

OffloadRecord record(const std::string& path, Phase phase, double updatedAt) {
    OffloadRecord r;
    r.originalPath = path;
    r.phase = phase;
    r.updatedAt = Date{updatedAt};
    return r;
}

}  // namespace

TEST(AutomationTest, DecideTakesTheFirstRuleThatApplies) {
    EXPECT_EQ(Automation::decide(clear()), AutomationDecision::offload(15 * GB));

    AutomationInputs in = clear();
    in.settings.onboardingComplete = false;
    in.freeBytes = 1;
    EXPECT_EQ(Automation::decide(in), AutomationDecision::blockedBy(B::setupIncomplete));

    // Enough space: no blocker is reported, not even a pause or a missing drive.
    in = clear();
    in.settings.isPaused = true;
    in.freeBytes = 20 * GB;
    EXPECT_EQ(Automation::decide(in), AutomationDecision::idle());
    in.freeBytes = std::nullopt;
    in.settings.drive = std::nullopt;
    EXPECT_EQ(Automation::decide(in), AutomationDecision::idle());

    // Each blocker, with every later one also present, wins in its turn.
    struct Step {
        void (*apply)(AutomationInputs&);
        B blocker;
    };
    const Step steps[] = {
        {[](AutomationInputs& i) { i.isBusy = true; }, B::busy},
        {[](AutomationInputs& i) { i.settings.isPaused = true; }, B::paused},
        {[](AutomationInputs& i) { i.canReadHome = false; }, B::noHomeAccess},
        {[](AutomationInputs& i) { i.settings.drive = std::nullopt; }, B::noDrive},
        {[](AutomationInputs& i) { i.driveConnected = false; }, B::driveDisconnected},
        {[](AutomationInputs& i) { i.canOffload = false; }, B::journalUnavailable},
    };
    for (size_t first = 0; first < std::size(steps); ++first) {
        in = clear();
        for (size_t k = first; k < std::size(steps); ++k) steps[k].apply(in);
        EXPECT_EQ(Automation::decide(in), AutomationDecision::blockedBy(steps[first].blocker)) << first;
    }

    // The run frees up to the target, never a negative amount.
    in = clear();
    in.freeBytes = 19 * GB;
    in.settings.targetBytes = 10 * GB;
    EXPECT_EQ(Automation::decide(in), AutomationDecision::offload(0));
    // Figures at the ends of the range saturate instead of wrapping.
    in.settings.targetBytes = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(Automation::decide(in), AutomationDecision::offload(0));
    in.settings.targetBytes = 30 * GB;
    in.freeBytes = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(Automation::decide(in), AutomationDecision::offload(std::numeric_limits<int64_t>::max()));
}

TEST(AutomationTest, BlockerTextsAndDecisionEquality) {
    EXPECT_EQ(explanation(B::setupIncomplete), "Finish setting up Keldwick.");
    EXPECT_EQ(explanation(B::busy), "Keldwick is busy.");
    EXPECT_EQ(explanation(B::paused), "Keldwick is paused.");
    EXPECT_EQ(explanation(B::noHomeAccess), "Keldwick needs your permission to reach your files.");
    EXPECT_EQ(explanation(B::noDrive), "Choose a drive for Keldwick.");
    EXPECT_EQ(explanation(B::driveDisconnected), "Plug in your drive to free up space.");
    EXPECT_EQ(explanation(B::journalUnavailable), "Keldwick can't open its records.");

    EXPECT_NE(AutomationDecision::offload(1), AutomationDecision::offload(2));
    EXPECT_NE(AutomationDecision::blockedBy(B::busy), AutomationDecision::blockedBy(B::paused));
    EXPECT_NE(AutomationDecision::idle(), AutomationDecision::offload(0));
}

TEST(AutomationTest, RecentlyFailedLeavesPathsAloneForADay) {
    const double now = 1'800'000'000;
    const double hour = 3600;
    std::vector<OffloadRecord> records = {
        record("/h/b-23h", Phase::abandoned, now - 23 * hour),
        record("/h/c-25h", Phase::abandoned, now - 25 * hour),
        record("/h/a-retried", Phase::abandoned, now - hour),
        record("/h/a-retried", Phase::offloaded, now),
        record("/h/d-twice", Phase::abandoned, now - 2 * hour),
        record("/h/d-twice", Phase::abandoned, now - 3 * hour),
        record("/h/e-future", Phase::abandoned, now + hour),
        record("/h/f-restored", Phase::abandoned, now - hour),
        record("/h/f-restored", Phase::restored, now),
        record("/h/g-exactly-a-day", Phase::abandoned, now - 24 * hour),
    };
    EXPECT_EQ(Automation::recentlyFailed(records, Date{now}),
              (std::vector<std::string>{"/h/b-23h", "/h/d-twice", "/h/e-future", "/h/f-restored"}));
    EXPECT_TRUE(Automation::recentlyFailed({}, Date{now}).empty());
}

TEST(AutomationTest, FailureRuleKeepsScansAwayForADay) {
    auto rule = Automation::failureRule({"/h/Movies/trip"});
    FileStat stat;
    EXPECT_EQ(rule->skipReason("/h/Movies/trip", stat, false), "Couldn't be moved in the last day");
    EXPECT_EQ(rule->skipReason("/h/Movies/trip/a.mov", stat, false), "Couldn't be moved in the last day");
    EXPECT_EQ(rule->skipReason("/h/Movies/trip2", stat, false), std::nullopt);
    EXPECT_EQ(rule->skipReasonForAncestorsOf("/h/Movies/trip/a.mov"),
              "Inside a folder that couldn't be moved in the last day");
    EXPECT_EQ(rule->skipReasonWhole("/h/Movies", WholeKind::chosen),
              "Holds something that couldn't be moved in the last day");
    EXPECT_EQ(rule->skipReasonWhole("/h/Music", WholeKind::chosen), std::nullopt);
}

TEST(AutomationTest, SuggestionAndPreviewHeading) {
    EXPECT_FALSE(Suggestion::isWorthMentioning(999'999'999));
    EXPECT_TRUE(Suggestion::isWorthMentioning(1'000'000'000));

    EXPECT_EQ(PreviewHeading::choose(5 * GB, 10 * GB, 8 * GB), PreviewHeading::lowOnSpace());
    EXPECT_EQ(PreviewHeading::choose(std::nullopt, 10 * GB, 0), PreviewHeading::freeUpSpace());
    EXPECT_EQ(PreviewHeading::choose(50 * GB, 10 * GB, 3 * GB), PreviewHeading::couldFreeUp(3 * GB));
    EXPECT_EQ(PreviewHeading::choose(10 * GB, 10 * GB, std::nullopt), PreviewHeading::freeUpSpace());
    EXPECT_NE(PreviewHeading::couldFreeUp(1), PreviewHeading::couldFreeUp(2));
}
