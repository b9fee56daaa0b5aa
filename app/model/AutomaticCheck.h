#pragma once
// The periodic check's rules as plain functions of the model's state: when caches are
// cleared on their own, what the automation decision is asked with, when a stalled
// attempt holds back a new scan, which stall notice is due, the gates after a scan, the
// "ask-first" notice, and the scan rules and plan builders every automatic and preview
// scan uses. The model runs the check and writes what these give.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drives/DriveProfile.h"
#include "foundation/Clock.h"
#include "foundation/Date.h"
#include "foundation/OffloadRecord.h"
#include "model/ModelState.h"
#include "model/Notice.h"
#include "scanning/Automation.h"
#include "scanning/PlanBuilder.h"
#include "scanning/ScanRule.h"

namespace keldwick {

inline constexpr double kAutomaticCacheClearInterval = 86'400;  // at most one automatic clearing a day
inline constexpr double kStallWindow = 3'600;                   // a stall holds back scans this long...
inline constexpr int64_t kStallRescanDrop = 1'000'000'000;      // ...unless free space fell this much
inline constexpr double kStallNoticeInterval = 86'400;          // one stall notice of a kind a day
inline constexpr double kDeclineHold = 21'600;                  // quiet after the first run was declined

// Seconds from `date` to `now`. A date later than now (the clock was set back) counts as
// long past, so a bogus date never holds anything back.
double ageOf(Date date, Date now);

// Setup complete, clearing when low on, not paused, not in test mode, the journal usable,
// nothing running, free space measured and strictly below the keep-free level, and the
// last automatic clearing more than a day ago.
bool automaticCacheClearDue(const ModelState& state, Date now);

// The decision's inputs. Busy is wider than for quitting: any activity, and an open preview
// waiting for approval or still scanning.
AutomationInputs automationInputs(const ModelState& state);

// Automatic runs are not approved yet and the user declined the first one less than six
// hours ago.
bool declineHoldsBack(const ModelState& state, std::optional<Date> firstRunDeclinedAt, Date now);

// A stall less than an hour old holds back a new scan unless the free space (0 when not
// measured) has since fallen by at least 1,000,000,000 bytes.
bool stallHoldsBackScan(const ModelState& state, Date now);

struct StallOutcome {
    StallState stall;
    std::optional<StallNotice> lastStallNotice;  // the new value
    std::optional<Notice> notice;                // to post while notices are on
    bool operator==(const StallOutcome&) const = default;
};

// An automatic scan planned nothing: "drive-full" when it found candidates, else
// "nothing-to-move". The notice is due when none was posted, its kind differs, or it is
// at least a day old; the last notice is recorded also while notices are off.
StallOutcome stallOutcome(const ModelState& state, bool foundCandidates, Date now);

// After the scan, a run or a question may follow: not paused, the drive still mounted,
// the journal usable or test mode on, and nothing running.
bool mayActOnFindings(const ModelState& state);

// "Your computer is low on space", opening the preview.
Notice askFirstNotice(const ModelState& state);

// The rules every scan and the engine apply: the standard rules for the home folder with
// the pins, the recently restored items and the originals of records needing attention,
// and the system folders.
RuleList scanRules(const ModelState& state);

// Paths whose move failed within the last day: the journal's abandoned moves, then the
// model's own memory of failures (in its order).
std::vector<std::string> recentlyFailedPaths(const std::vector<OffloadRecord>& allRecords,
                                             const std::map<std::string, Date>& failedMoves, Date now);

// Automatic checks scan beside the user's own work, on two threads at most; the scans
// the user waits for (the preview, the first-run estimate) use every core.
constexpr int automaticScanThreads = 2;

// Where every plan's time and free space come from: the model's own, so that a test's
// clock and volumes reach each plan the program builds.
struct PlanSources {
    std::shared_ptr<const Clock> clock;
    std::function<std::optional<int64_t>(const std::string& path)> availableBytes;
};

// The builder of automatic and preview scans over the managed folders, on every core: the scan rules
// (plus a rule keeping `failedPaths` out, when given), the settings' policy with or
// without recent items, the process open-file checker, the emulator devices when projects and
// devices may move, and the home's standard folders as fixed folders.
PlanBuilder scanBuilder(const ModelState& state, const PlanSources& sources, bool includingRecent,
                        const std::optional<std::vector<std::string>>& failedPaths = std::nullopt);
// An automatic check's builder: scanBuilder with recent items and `failedPaths` kept out,
// on automaticScanThreads threads at most.
PlanBuilder automaticCheckBuilder(const ModelState& state, const PlanSources& sources,
                                  const std::vector<std::string>& failedPaths);
// Replaces the failed items an automaticCheckBuilder keeps out, so that the journal's
// failures can be read where the scan runs.
void keepFailedOut(PlanBuilder& builder, const std::vector<std::string>& failedPaths);

// A builder for `folders` as if the drive had `profile` (a drive not chosen yet), without
// recent items and without the failure rule.
PlanBuilder planBuilder(const ModelState& state, const PlanSources& sources, const std::vector<std::string>& folders,
                        const DriveProfile& profile);

// The form a pin is stored in: the parent folder resolved (as given when that fails), the
// item itself not, so a pinned link stays the link.
std::string pinForm(const std::string& path);

}  // namespace keldwick
