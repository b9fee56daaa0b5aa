#pragma once
// How much a preview aims to free and how widely it scans, and the preview's gates:
// approving it, and what closing it without approval records.

#include <cstdint>
#include <optional>

#include "model/ModelState.h"

namespace keldwick {

struct PreviewGoal {
    int64_t goalBytes = 0;         // the largest Int64 value means "everything"
    bool includingRecent = false;  // the scan may take recently used light files
    bool operator==(const PreviewGoal&) const = default;
};

// Suggested previews, and the user's own while this computer has at least its keep-free level
// free, aim at everything without recent files. The first automatic run, and the user's
// own below the keep-free level, aim at the target minus the free space (free space not
// measured counts as 0; never below 0) and include recent files. A given goal replaces
// the goal only.
PreviewGoal previewGoal(const ModelState& state, PreviewKind kind, std::optional<int64_t> goal);

// The preview has a non-empty plan, nothing else runs, and it only tests or the journal
// can record the run.
bool canApprovePreview(const ModelState& state, const PreviewState& preview);

// Approving the first automatic run approves later ones too, unless the user asked to
// keep being asked.
bool approvalApprovesAutomaticRuns(const PreviewState& preview);

// Closing the open preview without approving is a decline to remember ("firstRunDeclinedAt")
// when it is the first automatic run and automatic runs are not approved yet.
bool closingPreviewDeclines(const ModelState& state);

}  // namespace keldwick
