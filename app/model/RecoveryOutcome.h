#pragma once
// What the user is told after start-up recovery: a result line for the moves it finished
// or undid, and one notice for shortcuts it found removed.

#include <optional>
#include <string>
#include <vector>

#include "engine/RecoveryResult.h"
#include "model/Notice.h"

namespace keldwick {

struct RecoveryOutcome {
    std::optional<std::string> lastRun;  // none: the last-run line stays as it is
    std::optional<Notice> notice;
    bool operator==(const RecoveryOutcome&) const = default;
};

// Rolled-back and rolled-forward moves give "Finished an interrupted move of “name”.
// Nothing was lost." (or "Finished 2 interrupted moves. ..."), with no notice. Shortcuts
// marked missing give one notice "The shortcut to “name” was removed" (or "3 shortcuts
// were removed") that opens the files window. Other actions say nothing.
RecoveryOutcome recoveryOutcome(const std::vector<RecoveryResult>& results, const std::string& driveName);

}  // namespace keldwick
