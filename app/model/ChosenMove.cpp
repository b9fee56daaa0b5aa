#include "model/ChosenMove.h"

#include <limits>
#include <unordered_set>

#include "foundation/ItemName.h"
#include "model/StatusTexts.h"
#include "scanning/NeverTouch.h"

namespace keldwick {

std::string refusalText(const ManualMove::Refusal& refusal) {
    std::string reason = refusal.reason;
    // The reasons are English sentences: lowering an ASCII capital is enough.
    if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z') reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
    return "\u201C" + ItemName::display(refusal.path) + "\u201D stays on your computer: " + reason + ".";
}

std::string refusalsText(const std::vector<ManualMove::Refusal>& refusals) {
    if (refusals.empty()) return {};
    std::string text = refusalText(refusals.front());
    const size_t others = refusals.size() - 1;
    if (others == 0) return text;
    if (others > 3) return text + " " + std::to_string(others) + " other items stay too.";
    auto quoted = [&](size_t i) { return "\u201C" + ItemName::display(refusals[i].path) + "\u201D"; };
    std::string names = quoted(1);
    for (size_t i = 2; i <= others; ++i) names += (i == others ? " and " : ", ") + quoted(i);
    return text + " " + names + (others == 1 ? " stays too." : " stay too.");
}

std::optional<ChosenProblem> chosenMoveRefusal(const ModelState& state) {
    const std::string name = driveDisplayName(state);
    if (state.settings.onboardingComplete && !state.driveRoot && !state.driveRefusals.empty()) {
        // Mounted but refused: saying to plug it in would send the user looking for it.
        const DriveRefusal& refused = state.driveRefusals.front();
        return ChosenProblem{"Keldwick won't use the volume at " + refused.mountPath, refused.explanation()};
    }
    if (!state.settings.onboardingComplete || !state.driveRoot) {
        return ChosenProblem{"Plug in " + name, "Keldwick moves files to " + name + ", so it needs to be plugged in."};
    }
    if (!canOffload(state) && !state.settings.dryRunMode) {
        return ChosenProblem{"Keldwick can't open its records",
                             "Quit Keldwick and open it again. Files on your drive are safe."};
    }
    if (state.activity != Activity::idle) {
        return ChosenProblem{"Keldwick is busy", "Try again once it's done with what it's doing."};
    }
    return std::nullopt;
}

ChosenMovePlan planChosenMove(const ModelState& state, const std::vector<std::string>& paths,
                              bool driveIsNativeFormat, Date now) {
    if (paths.empty()) return {};
    if (auto refusal = chosenMoveRefusal(state)) return ChosenMovePlan{refusal, std::nullopt, std::nullopt};

    std::unordered_set<std::string> onDrive;
    // On any drive, the chosen one or an earlier one.
    for (const auto& record : state.records)
        if (record.phase == Phase::offloaded) onDrive.insert(record.originalPath);
    std::vector<std::string> toConsider;
    for (const auto& path : paths) {
        if (!onDrive.count(path)) toConsider.push_back(path);
    }

    // The home folder itself never moves: it would take everything in it to the drive.
    std::vector<std::string> keptInPlace{state.home};
    const std::vector<std::string> standard = NeverTouch::standardFolders(state.home);
    keptInPlace.insert(keptInPlace.end(), standard.begin(), standard.end());
    keptInPlace.insert(keptInPlace.end(), state.settings.managedFolders.begin(), state.settings.managedFolders.end());
    ManualMove::Result result = ManualMove::candidates(toConsider, state.home, keptInPlace, driveIsNativeFormat, now);
    const std::string name = driveDisplayName(state);
    for (const auto& path : paths) {
        if (onDrive.count(path)) result.refusals.push_back({path, "It's already on " + name});
    }

    ChosenMovePlan plan;
    if (!result.refusals.empty()) plan.firstProblem = refusalsText(result.refusals);
    if (!result.candidates.empty()) {
        plan.plan = OffloadPlan{std::move(result.candidates), std::numeric_limits<int64_t>::max()};
        return plan;
    }
    if (result.refusals.empty()) return {};
    std::string title = result.refusals.size() == 1
                            ? "Couldn't move \u201C" + ItemName::display(result.refusals.front().path) + "\u201D"
                            : "Couldn't move these files";
    return ChosenMovePlan{ChosenProblem{std::move(title), *plan.firstProblem}, std::nullopt, std::nullopt};
}

RuleList chosenRules(const ModelState& state) {
    std::vector<std::string> withOlderCopies;
    for (const auto& record : recordsNeedingAttention(state)) withOlderCopies.push_back(record.originalPath);
    return NeverTouch::rulesForChosen(state.home, state.pins, withOlderCopies, NeverTouch::systemFolders());
}

std::optional<std::string> chosenMoveMessage(const ChosenMovePlan& plan, const std::optional<RunSummary>& summary,
                                             const std::optional<std::string>& lastRun) {
    if (plan.firstProblem) return plan.firstProblem;
    if (summary) {
        if (summary->failures.empty()) return std::nullopt;
        return summary->failures.front().message;
    }
    return lastRun;
}

FilesProblemReport chosenProblemReport(const ChosenProblem& problem) {
    return FilesProblemReport{problem.message,
                              Notice{problem.title, problem.message, NoticeTarget::offloaded, "move-chosen"}};
}

ChooseFilesTexts chooseFilesTexts(const std::string& driveName) {
    return ChooseFilesTexts{"Move to " + driveName, "Move",
                            "Choose files or folders to move to " + driveName +
                                ". Each stays in its folder as a shortcut."};
}

}  // namespace keldwick
