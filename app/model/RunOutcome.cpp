#include "model/RunOutcome.h"

#include <algorithm>
#include <unordered_set>

#include "foundation/Formatting.h"
#include "foundation/Saturating.h"
#include "model/DisplayTexts.h"
#include "model/StatusTexts.h"

namespace keldwick {

namespace {

constexpr double kFailureNoticeInterval = 86'400;

Notice failureNotice(const std::string& body) {
    return Notice{"Keldwick couldn't free up space", body, NoticeTarget::menu, std::nullopt};
}

}  // namespace

bool canStartRun(const ModelState& state, bool dryRun) {
    return state.activity == Activity::idle && (dryRun || canOffload(state));
}

bool shouldRefreshPreview(const ModelState& state) {
    return state.preview && state.preview->kind != PreviewKind::firstAutomatic && !state.preview->isScanning;
}

RunOutcome runOutcome(const ModelState& state, const OffloadPlan& plan, const RunSummary& summary, bool automatic,
                      Date now) {
    RunOutcome outcome;
    outcome.stall = state.stall;
    outcome.lastFailureNotice = state.lastFailureNotice;

    outcome.failedMoves = state.failedMoves;
    for (const auto& failure : summary.failures) outcome.failedMoves[failure.path] = now;
    for (const auto& path : summary.completed) outcome.failedMoves.erase(path);

    if (automatic) {
        const int64_t free = state.computerFreeBytes.value_or(0);
        if (summary.dryRun) {
            outcome.stall = StallState{Stall::testRun, now, free};
        } else if (summary.completed.empty() && !summary.stoppedBecause) {
            outcome.stall = StallState{Stall::nothingToMove, now, free};
        } else if (plan.shortfall() > 0 && summary.completed.size() == plan.items.size() && summary.failures.empty() &&
                   !summary.cancelled && !summary.stoppedBecause) {
            // Everything found moved and still fell short: nothing is left to move, as
            // when a check finds nothing, measured from the space this run freed.
            outcome.stall = StallState{Stall::nothingToMove, now, Saturating::add(free, summary.bytes)};
        }
        outcome.refreshPreview = shouldRefreshPreview(state);
    }

    const std::unordered_set<std::string> completed(summary.completed.begin(), summary.completed.end());
    int64_t files = 0;
    int64_t folders = 0;
    for (const auto& item : plan.items) {
        if (!completed.count(item.path)) continue;
        ++(item.isDirectory ? folders : files);
    }
    const std::string count = fileFolderCountText(files, folders);
    const std::string size = byteCountText(summary.bytes);
    const std::string drive = driveDisplayName(state);

    std::string text = summary.dryRun ? "Test run: would have moved " + count + " (" + size + ")."
                                      : "Moved " + count + " (" + size + ") to " + drive + ".";
    // Nothing moved, and items stayed for their reasons: those are the news.
    const bool nothingMoved = !summary.dryRun && summary.completed.empty() && !summary.failures.empty();
    if (nothingMoved && summary.failures.size() == 1) {
        text = "Nothing was moved. " + summary.failures.front().message;
    } else if (nothingMoved) {
        text = "Nothing was moved. " + std::to_string(summary.failures.size()) +
               " items stay on your computer, for example: " + summary.failures.front().message;
    } else if (summary.failures.size() == 1) {
        text += " " + summary.failures.front().message;
    } else if (summary.failures.size() > 1) {
        text += " " + std::to_string(summary.failures.size()) +
                " were skipped, for example: " + summary.failures.front().message;
    }
    if (summary.cancelled) text += " Stopped early.";
    if (summary.stoppedBecause) text += " " + driveMessage(state, *summary.stoppedBecause);
    outcome.lastRun = text;

    if (summary.dryRun) {
        outcome.notice = Notice{"Test run finished",
                                "Keldwick would have moved " + count + " (" + size + "). Nothing was moved.",
                                NoticeTarget::menu, "test-run"};
    } else if (!summary.completed.empty()) {
        const std::string where = summary.completed.size() == 1
                                      ? ". It's still in the same folder \u2014 it opens whenever the drive is "
                                        "plugged in."
                                      : ". They're still in the same folders \u2014 they open whenever the drive is "
                                        "plugged in.";
        outcome.notice = Notice{"Freed up " + size, "Moved " + count + " to " + drive + where, NoticeTarget::offloaded,
                                std::nullopt};
    } else if (!summary.failures.empty() || summary.stoppedBecause) {
        // A notice time from the future (the clock was set back) counts as now, and is
        // stored as now, so it can't hold notices back for longer than one interval.
        std::optional<Date> last = state.lastFailureNotice;
        if (last && *last > now) {
            last = now;
            outcome.lastFailureNotice = now;
        }
        const bool limited = automatic && last && now.timeIntervalSince(*last) <= kFailureNoticeInterval;
        if (!limited) {
            outcome.lastFailureNotice = now;
            outcome.notice = failureNotice(text);
        }
    }
    return outcome;
}

RunOutcome runErrorOutcome(const ModelState& state, const std::string& message) {
    RunOutcome outcome;
    outcome.lastRun = message;
    outcome.failedMoves = state.failedMoves;
    outcome.stall = state.stall;
    outcome.lastFailureNotice = state.lastFailureNotice;
    outcome.notice = failureNotice(message);
    return outcome;
}

}  // namespace keldwick
