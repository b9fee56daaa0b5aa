#pragma once
// Moving items the user picked by hand: whether the move may start, which paths are
// already on the drive, the plan and rules to run, and what the user is told when
// something stays behind. The model runs the plan and applies the reports.

#include <optional>
#include <string>
#include <vector>

#include "engine/RunSummary.h"
#include "foundation/Date.h"
#include "model/ModelState.h"
#include "model/RestoreOutcome.h"
#include "scanning/ManualMove.h"
#include "scanning/OffloadPlanner.h"
#include "scanning/ScanRule.h"

namespace keldwick {

// A problem to record in the files window and announce with a "move-chosen" notice.
struct ChosenProblem {
    std::string title;
    std::string message;
    bool operator==(const ChosenProblem&) const = default;
};

// The user's line for an item that stays: "“Taxes” stays on your computer: kept on this computer."
// (the reason with its first letter lowercased).
std::string refusalText(const ManualMove::Refusal& refusal);

// Every refused item, so none goes unmentioned: the first one's line, then the others by
// name ("“Musik” stays too.", "“A”, “B” and “C” stay too.") or, beyond three, by count
// ("5 other items stay too."). Empty for none.
std::string refusalsText(const std::vector<ManualMove::Refusal>& refusals);

// Why no chosen item can move now, in this order: a volume carrying the drive mounted
// but refused ("Keldwick won't use the volume at …" and why), setup incomplete or the
// drive not plugged in ("Plug in Archive"), the journal unusable outside test mode, another
// operation running ("Keldwick is busy"); none when the move may go ahead.
std::optional<ChosenProblem> chosenMoveRefusal(const ModelState& state);

struct ChosenMovePlan {
    // Report this (filesProblem, notice) and return its message; nothing runs.
    std::optional<ChosenProblem> report;
    // Run these candidates, in the order given, with chosenRules; nothing to goal them.
    std::optional<OffloadPlan> plan;
    // The refusals' line (refusalsText), when some items stay while others move.
    std::optional<std::string> firstProblem;
    bool operator==(const ChosenMovePlan&) const = default;
};

// Decides a move of `paths`: none of the three for an empty list, or when every path is
// looked at and nothing is refused nor movable. Paths already on the drive are refused
// with "It's already on " + the drive's name, after the core's own refusals; one refusal
// alone is titled "Couldn't move “name”", several "Couldn't move these files", and the
// message names them all (refusalsText). The home folder itself, its standard folders and the managed
// folders stay in place. `driveIsNativeFormat`: the drive keeps links, owners and
// modes natively.
ChosenMovePlan planChosenMove(const ModelState& state, const std::vector<std::string>& paths,
                              bool driveIsNativeFormat, Date now);

// The rules hand-picked items are checked with: the pins, the records needing attention,
// and the system folders.
RuleList chosenRules(const ModelState& state);

// After the run: the first refusal if there was one; else the first failure of the run;
// else, when the run was refused (no summary), the last-run line. The model sets
// filesProblem to it when present, without a notice.
std::optional<std::string> chosenMoveMessage(const ChosenMovePlan& plan, const std::optional<RunSummary>& summary,
                                             const std::optional<std::string>& lastRun);

// The files problem and "move-chosen" notice of a reported problem.
FilesProblemReport chosenProblemReport(const ChosenProblem& problem);

// The file-choosing panel of a manual move.
struct ChooseFilesTexts {
    std::string title;    // "Move to Archive"
    std::string prompt;   // "Move"
    std::string message;  // "Choose files or folders to move to Archive. Each stays in its folder as a shortcut."
};
ChooseFilesTexts chooseFilesTexts(const std::string& driveName);

}  // namespace keldwick
