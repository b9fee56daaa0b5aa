#pragma once
// Turns items the user picked by hand into candidates for the engine, and into refusals
// with a reason for those that can't move. The scan rules are not applied here: the
// engine checks every candidate again with the rules for hand-picked items before it
// moves it. This settles only what must be known before anything is offered: is the item
// there, is it in the home folder, is it a folder kept in place, what kind is it, and for
// a folder, can it move as one piece and what does it weigh.

#include <string>
#include <vector>

#include "foundation/Date.h"
#include "scanning/Candidate.h"

namespace keldwick::ManualMove {

struct Refusal {
    std::string path;    // the resolved path
    std::string reason;  // a sentence shown to the user

    bool operator==(const Refusal&) const = default;
};

struct Result {
    std::vector<Candidate> candidates;
    std::vector<Refusal> refusals;
};

// Each path's folder is resolved (the item itself is not, so a chosen link stays a link);
// repeats are dropped. Each path ends as a candidate, a refusal, or nothing when it lies
// inside a chosen folder that became a candidate. Both lists keep the input order.
// `keptInPlace` starts with the home's standard folders; `driveIsNativeFormat` tells
// whether the drive keeps links, owners and modes natively. Never fails.
Result candidates(const std::vector<std::string>& paths, const std::string& home,
                  const std::vector<std::string>& keptInPlace, bool driveIsNativeFormat, Date now);

}  // namespace keldwick::ManualMove
