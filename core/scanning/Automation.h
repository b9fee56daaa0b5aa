#pragma once
// The decision taken at each periodic check (nothing, an offload run of a given size, or
// nothing because something blocks the run), and the small rules around it: which recent
// failures to leave alone for a day, whether an amount is worth suggesting, and which
// heading the preview shows.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Date.h"
#include "foundation/OffloadRecord.h"
#include "scanning/AppSettings.h"
#include "scanning/ScanRule.h"

namespace keldwick {

struct AutomationInputs {
    AppSettings settings;
    std::optional<int64_t> freeBytes;  // free bytes on this computer; nothing when unreadable
    bool driveConnected = false;       // the chosen drive is mounted
    bool canOffload = true;            // the journal is usable, so moves can be recorded
    bool canReadHome = false;
    bool isBusy = false;               // other work is running
};

enum class AutomationBlocker {
    setupIncomplete,
    busy,
    paused,
    noHomeAccess,
    noDrive,
    driveDisconnected,
    journalUnavailable,
};

// The sentence shown for a blocker.
std::string explanation(AutomationBlocker blocker);

struct AutomationDecision {
    enum class Kind { blocked, offload, idle };
    Kind kind = Kind::idle;
    AutomationBlocker blocker = AutomationBlocker::setupIncomplete;  // only for blocked
    int64_t bytesNeeded = 0;                                         // only for offload

    static AutomationDecision blockedBy(AutomationBlocker b) { return {Kind::blocked, b, 0}; }
    static AutomationDecision offload(int64_t bytes) { return {Kind::offload, AutomationBlocker::setupIncomplete, bytes}; }
    static AutomationDecision idle() { return {}; }

    // By case and payload.
    bool operator==(const AutomationDecision& other) const;
};

namespace Automation {

// How long a path whose move failed is left alone.
inline constexpr double retryAfterFailure = 86'400;

// The first rule that applies: setup incomplete; enough free space (or none known) means
// idle; then busy, paused, no permission, no drive, drive away, journal unusable; else an
// offload run that frees space up to the target.
AutomationDecision decide(const AutomationInputs& inputs);

// Original paths whose move was abandoned less than a day before `now` and that have no
// record in a live phase since; each once, in ascending order.
std::vector<std::string> recentlyFailed(const std::vector<OffloadRecord>& records, Date now);

// A rule that keeps scans away from those paths, what lies inside them and the folders
// that hold them.
std::shared_ptr<const ScanRule> failureRule(const std::vector<std::string>& paths);

}  // namespace Automation

namespace Suggestion {

inline constexpr int64_t minimumBytes = 1'000'000'000;
inline bool isWorthMentioning(int64_t bytes) { return bytes >= minimumBytes; }

}  // namespace Suggestion

struct PreviewHeading {
    enum class Kind { couldFreeUp, freeUpSpace, lowOnSpace };
    Kind kind = Kind::freeUpSpace;
    int64_t bytes = 0;  // only for couldFreeUp

    static PreviewHeading couldFreeUp(int64_t bytes) { return {Kind::couldFreeUp, bytes}; }
    static PreviewHeading freeUpSpace() { return {Kind::freeUpSpace, 0}; }
    static PreviewHeading lowOnSpace() { return {Kind::lowOnSpace, 0}; }

    // Low on space when below the keep-free level, whatever the plan; else what the plan
    // could free when it frees anything; else the plain heading.
    static PreviewHeading choose(std::optional<int64_t> freeBytes, int64_t keepFreeBytes,
                                 std::optional<int64_t> planBytes);

    bool operator==(const PreviewHeading& other) const;
};

}  // namespace keldwick
