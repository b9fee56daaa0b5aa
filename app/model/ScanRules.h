#pragma once
// The rules every scan and every engine apply, from the model's state.

#include "model/ModelState.h"
#include "scanning/ScanRule.h"

namespace keldwick {

// The never-touch rules for the home with the pinned paths, the recently restored paths,
// the original paths of the records that need attention (their older copy is still on the
// drive), and the system folders unless the program runs sandboxed.
RuleList scanRules(const ModelState& state);

}  // namespace keldwick
