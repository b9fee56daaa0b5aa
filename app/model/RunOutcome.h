#pragma once
// What a run of a plan leaves behind: the menu's result line, the memory of items that
// failed, the stall of automatic runs, and the one notice to post. Computed from the model's
// state before the outcome is applied; the model writes the fields and posts the notice.

#include <map>
#include <optional>
#include <string>

#include "engine/RunSummary.h"
#include "foundation/Date.h"
#include "model/ModelState.h"
#include "model/Notice.h"
#include "scanning/OffloadPlanner.h"

namespace keldwick {

// A run may start while nothing else runs, and, unless it only tests, while the journal
// can record it.
bool canStartRun(const ModelState& state, bool dryRun);

struct RunOutcome {
    std::string lastRun;                      // with lastRunDate = now
    std::map<std::string, Date> failedMoves;  // the new failure memory
    std::optional<StallState> stall;          // the new stall (unchanged for the user's runs)
    bool refreshPreview = false;              // rescan the open preview (see shouldRefreshPreview)
    std::optional<Notice> notice;
    std::optional<Date> lastFailureNotice;    // the new value: now whenever a failure notice is due
    bool operator==(const RunOutcome&) const = default;
};

// Result text "Moved 2 files and 1 folder (1.50 GB) to Archive." (or "Test run: would
// have moved ..."), then the first failure or the number skipped, " Stopped early." and
// the engine's reason; a run that moved nothing while items failed says "Nothing was
// moved." and the first failure (with the number that stay, when more than one).
// Failures are remembered at `now` and moved paths forgotten.
// Automatic runs record a stall (testRun after a test run; nothingToMove when nothing
// moved and the engine gave no reason, or when every planned item moved and the plan fell
// short of the need) and rescan the preview. One notice: the test-run
// summary, "Freed up ...", or "Keldwick couldn't free up space" when nothing moved but
// items failed or the run stopped (automatic runs at most once per 86,400 seconds).
RunOutcome runOutcome(const ModelState& state, const OffloadPlan& plan, const RunSummary& summary, bool automatic,
                      Date now);

// When the engine threw: its message as the result line and a failure notice.
RunOutcome runErrorOutcome(const ModelState& state, const std::string& message);

// An open preview that is not waiting for approval and not scanning is rescanned after an
// automatic run, so it shows what is left.
bool shouldRefreshPreview(const ModelState& state);

}  // namespace keldwick
