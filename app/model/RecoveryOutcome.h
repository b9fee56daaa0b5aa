#pragma once
// What the user is told after start-up recovery: a result line for the moves it finished
// or undid, and one notice for shortcuts it found removed.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/RecoveryResult.h"
#include "foundation/JournalEvent.h"
#include "model/Notice.h"

namespace keldwick {

struct RecoveryOutcome {
    std::optional<std::string> lastRun;  // none: the last-run line stays as it is
    std::optional<Notice> notice;
    bool operator==(const RecoveryOutcome&) const = default;
};

// Finished work (rolled forward, or rolled back but not a move: an undone restore) gives
// "Finished an interrupted move of “name”. Nothing was lost." (or "Finished 2 interrupted
// moves. ..."); moves that were undone (the rolled-back records in `undoneMoves`) give
// "Undid an interrupted move of “name”. It's still on your computer." (or "Undid 2
// interrupted moves. They're still on your computer."), after the first when both occur;
// neither posts a notice. The records in `bringBacks` were being brought back, never
// called moves: finished, "Finished bringing back “name”. Nothing was lost." (or
// "Finished bringing back 2 items. ..."); undone, "Bringing back “name” was interrupted.
// It's still on the drive, and its shortcut still opens it." (or "Bringing back 2 items
// was interrupted. They're still on the drive, and their shortcuts still open them."),
// after the moves' lines. Shortcuts marked missing give one notice "The shortcut to
// “name” was removed" (or "3 shortcuts were removed") that opens the files window. Other
// actions say nothing.
RecoveryOutcome recoveryOutcome(const std::vector<RecoveryResult>& results, const std::string& driveName,
                                const std::set<int64_t>& undoneMoves = {}, const std::set<int64_t>& bringBacks = {});

// Recovery can find items in the drive's manifest that it leaves there without adding them
// to the list (their places lie outside the home folder, or their copies overlap). The
// warnings it logged about them, among the events (newest first) logged after the event
// `lastEventBefore`, oldest first, give one notice "Some files were left on Archive"
// that opens the files window; none without such warnings.
std::optional<Notice> leftOnDriveNotice(const std::vector<JournalEvent>& newestFirst, int64_t lastEventBefore,
                                        const std::string& driveName);

}  // namespace keldwick
