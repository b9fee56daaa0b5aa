#include "model/PreviewRequest.h"

#include <algorithm>
#include <limits>

#include "model/RunOutcome.h"

namespace keldwick {

PreviewGoal previewGoal(const ModelState& state, PreviewKind kind, std::optional<int64_t> goal) {
    const int64_t free = state.computerFreeBytes.value_or(0);
    const bool aimsAtEverything =
        kind == PreviewKind::suggested || (kind == PreviewKind::manual && !state.settings.isBelowKeepFree(free));
    PreviewGoal result;
    result.includingRecent = !aimsAtEverything;
    result.goalBytes =
        aimsAtEverything ? std::numeric_limits<int64_t>::max() : state.settings.bytesToFree(free);
    if (goal) result.goalBytes = *goal;
    return result;
}

bool canApprovePreview(const ModelState& state, const PreviewState& preview) {
    return preview.plan && !preview.plan->items.empty() && canStartRun(state, preview.dryRun);
}

bool approvalApprovesAutomaticRuns(const PreviewState& preview) {
    return preview.kind == PreviewKind::firstAutomatic && !preview.keepAsking;
}

bool closingPreviewDeclines(const ModelState& state) {
    return state.preview && state.preview->kind == PreviewKind::firstAutomatic &&
           !state.settings.automaticRunsApproved;
}

}  // namespace keldwick
