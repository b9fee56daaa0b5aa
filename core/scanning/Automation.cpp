#include "scanning/Automation.h"

#include <algorithm>
#include <limits>
#include <set>

#include "scanning/PinnedRule.h"

namespace keldwick {

std::string explanation(AutomationBlocker blocker) {
    switch (blocker) {
        case AutomationBlocker::setupIncomplete: return "Finish setting up Keldwick.";
        case AutomationBlocker::busy: return "Keldwick is busy.";
        case AutomationBlocker::paused: return "Keldwick is paused.";
        case AutomationBlocker::noHomeAccess: return "Keldwick needs your permission to reach your files.";
        case AutomationBlocker::noDrive: return "Choose a drive for Keldwick.";
        case AutomationBlocker::driveDisconnected: return "Plug in your drive to free up space.";
        case AutomationBlocker::journalUnavailable: return "Keldwick can't open its records.";
    }
    return "";
}

bool AutomationDecision::operator==(const AutomationDecision& other) const {
    if (kind != other.kind) return false;
    switch (kind) {
        case Kind::blocked: return blocker == other.blocker;
        case Kind::offload: return bytesNeeded == other.bytesNeeded;
        case Kind::idle: return true;
    }
    return true;
}

bool PreviewHeading::operator==(const PreviewHeading& other) const {
    return kind == other.kind && (kind != Kind::couldFreeUp || bytes == other.bytes);
}

PreviewHeading PreviewHeading::choose(std::optional<int64_t> freeBytes, int64_t keepFreeBytes,
                                      std::optional<int64_t> planBytes) {
    if (freeBytes && *freeBytes < keepFreeBytes) return lowOnSpace();
    if (planBytes && *planBytes >= 1) return couldFreeUp(*planBytes);
    return freeUpSpace();
}

namespace Automation {

AutomationDecision decide(const AutomationInputs& in) {
    const AppSettings& s = in.settings;
    if (!s.onboardingComplete) return AutomationDecision::blockedBy(AutomationBlocker::setupIncomplete);
    if (!in.freeBytes || !s.isBelowKeepFree(*in.freeBytes)) return AutomationDecision::idle();
    if (in.isBusy) return AutomationDecision::blockedBy(AutomationBlocker::busy);
    if (s.isPaused) return AutomationDecision::blockedBy(AutomationBlocker::paused);
    if (!in.canReadHome) return AutomationDecision::blockedBy(AutomationBlocker::noHomeAccess);
    if (!s.drive) return AutomationDecision::blockedBy(AutomationBlocker::noDrive);
    if (!in.driveConnected) return AutomationDecision::blockedBy(AutomationBlocker::driveDisconnected);
    if (!in.canOffload) return AutomationDecision::blockedBy(AutomationBlocker::journalUnavailable);
    return AutomationDecision::offload(s.bytesToFree(*in.freeBytes));
}

std::vector<std::string> recentlyFailed(const std::vector<OffloadRecord>& records, Date now) {
    std::set<std::string> settled;
    for (const auto& r : records)
        if (r.phase != Phase::restored && r.phase != Phase::abandoned && r.phase != Phase::superseded)
            settled.insert(r.originalPath);
    std::set<std::string> failed;
    for (const auto& r : records)
        if (r.phase == Phase::abandoned && now.timeIntervalSince(r.updatedAt) < retryAfterFailure &&
            !settled.count(r.originalPath))
            failed.insert(r.originalPath);
    return {failed.begin(), failed.end()};
}

std::shared_ptr<const ScanRule> failureRule(const std::vector<std::string>& paths) {
    return std::make_shared<PinnedRule>(paths, "Couldn't be moved in the last day",
                                        "Inside a folder that couldn't be moved in the last day",
                                        "Holds something that couldn't be moved in the last day");
}

}  // namespace Automation

}  // namespace keldwick
