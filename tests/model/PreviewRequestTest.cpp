#include <gtest/gtest.h>

#include <limits>

#include "ModelStateFixtures.h"
#include "model/PreviewRequest.h"

using namespace keldwick;
using keldwick::test::readyState;

TEST(PreviewRequestTest, GoalAndScope) {
    constexpr int64_t everything = std::numeric_limits<int64_t>::max();
    // The keep-free level is 20 GB and the target 30 GB.
    struct Case {
        PreviewKind kind;
        std::optional<int64_t> free;
        std::optional<int64_t> goal;
        PreviewGoal expected;
    };
    const std::vector<Case> cases = {
        {PreviewKind::suggested, 1'000, std::nullopt, {everything, false}},
        {PreviewKind::manual, 20'000'000'000, std::nullopt, {everything, false}},
        {PreviewKind::manual, 19'999'999'999, std::nullopt, {10'000'000'001, true}},
        {PreviewKind::manual, std::nullopt, std::nullopt, {30'000'000'000, true}},
        {PreviewKind::firstAutomatic, 25'000'000'000, std::nullopt, {5'000'000'000, true}},
        {PreviewKind::firstAutomatic, 40'000'000'000, std::nullopt, {0, true}},
        {PreviewKind::firstAutomatic, std::numeric_limits<int64_t>::min(), std::nullopt, {everything, true}},
        {PreviewKind::manual, 50'000'000'000, 7, {7, false}},  // a given goal keeps the scope
        {PreviewKind::firstAutomatic, 1'000, 7, {7, true}},
    };
    for (const auto& c : cases) {
        ModelState state = readyState();
        state.computerFreeBytes = c.free;
        EXPECT_EQ(previewGoal(state, c.kind, c.goal), c.expected)
            << static_cast<int>(c.kind) << " free " << c.free.value_or(-1);
    }
}

TEST(PreviewRequestTest, ApprovalAndClosing) {
    OffloadPlan plan{{Candidate("/home/u/a", false, 1, 1, Date{0}, LastUsedSource::modificationDate)}, 1};
    PreviewState preview{PreviewKind::firstAutomatic, false, false, false, plan};
    ModelState state = readyState();
    EXPECT_TRUE(canApprovePreview(state, preview));
    EXPECT_TRUE(approvalApprovesAutomaticRuns(preview));
    preview.keepAsking = true;
    EXPECT_FALSE(approvalApprovesAutomaticRuns(preview));

    state.journalProblem = "disk I/O error";
    EXPECT_FALSE(canApprovePreview(state, preview));
    preview.dryRun = true;
    EXPECT_TRUE(canApprovePreview(state, preview));
    state.activity = Activity::clearing;
    EXPECT_FALSE(canApprovePreview(state, preview));
    state.activity = Activity::idle;
    preview.plan->items.clear();
    EXPECT_FALSE(canApprovePreview(state, preview));
    preview.plan.reset();
    EXPECT_FALSE(canApprovePreview(state, preview));

    const std::vector<std::tuple<std::optional<PreviewKind>, bool, bool>> closing = {
        {PreviewKind::firstAutomatic, false, true},
        {PreviewKind::firstAutomatic, true, false},  // approved meanwhile
        {PreviewKind::manual, false, false},
        {PreviewKind::suggested, false, false},
        {std::nullopt, false, false},
    };
    for (const auto& [kind, approved, declines] : closing) {
        state.preview.reset();
        if (kind) state.preview = PreviewState{*kind, false, false, false, std::nullopt};
        state.settings.automaticRunsApproved = approved;
        EXPECT_EQ(closingPreviewDeclines(state), declines);
    }
}
