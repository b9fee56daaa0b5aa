#pragma once
// Picks just enough ranked candidates, best first, to free the bytes needed, within the
// room left on the drive. A folder that would overshoot a small need, or that doesn't fit
// the drive, is split into its ranked parts.

#include <cstdint>
#include <vector>

#include "scanning/Candidate.h"

namespace keldwick {

struct OffloadPlan {
    std::vector<Candidate> items;  // in the order they were picked
    int64_t bytesNeeded = 0;       // what the plan was asked to free

    // Sum of the items' sizes (bytes freed on this computer), saturating.
    int64_t totalBytes() const;
    // Sum of the items' file counts.
    int64_t fileCount() const;
    // max(bytesNeeded - totalBytes, 0).
    int64_t shortfall() const;

    bool operator==(const OffloadPlan&) const = default;
};

struct OffloadPlanner {
    // One pass over `ranked` that stops once the need is met. A candidate goes whole when
    // it has no parts, or when it fits the drive room and is no larger than the cap
    // (four times what is still needed, at least 2 GB); a whole candidate that doesn't fit
    // the room is skipped. Otherwise its parts are ranked and considered the same way.
    // Items count against this computer by size and against the drive by driveSize. A need of 0
    // or less gives an empty plan.
    OffloadPlan plan(const std::vector<Candidate>& ranked, int64_t bytesNeeded, int64_t driveRoom) const;
};

}  // namespace keldwick
