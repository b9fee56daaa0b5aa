#include "model/RecoveryOutcome.h"

namespace keldwick {

namespace {

std::vector<const RecoveryResult*> withAction(const std::vector<RecoveryResult>& results,
                                              std::initializer_list<RecoveryAction> actions) {
    std::vector<const RecoveryResult*> found;
    for (const auto& result : results) {
        for (RecoveryAction action : actions) {
            if (result.action == action) {
                found.push_back(&result);
                break;
            }
        }
    }
    return found;
}

}  // namespace

RecoveryOutcome recoveryOutcome(const std::vector<RecoveryResult>& results, const std::string& driveName,
                                const std::set<int64_t>& undoneMoves, const std::set<int64_t>& bringBacks) {
    RecoveryOutcome outcome;
    std::vector<const RecoveryResult*> finished, undone, broughtBack, stillOnDrive;
    for (const RecoveryResult* result : withAction(results, {RecoveryAction::rolledBack, RecoveryAction::rolledForward})) {
        const bool rolledBack = result->action == RecoveryAction::rolledBack;
        if (bringBacks.count(result->recordID)) {
            (rolledBack ? stillOnDrive : broughtBack).push_back(result);
            continue;
        }
        const bool undid = rolledBack && undoneMoves.count(result->recordID);
        (undid ? undone : finished).push_back(result);
    }
    std::string line;
    const auto add = [&line](const std::string& sentence) { line += (line.empty() ? "" : " ") + sentence; };
    if (finished.size() == 1) {
        add("Finished an interrupted move of \u201C" + finished.front()->name + "\u201D. Nothing was lost.");
    } else if (finished.size() > 1) {
        add("Finished " + std::to_string(finished.size()) + " interrupted moves. Nothing was lost.");
    }
    if (!undone.empty()) {
        add(undone.size() == 1 ? "Undid an interrupted move of \u201C" + undone.front()->name +
                                     "\u201D. It's still on your computer."
                               : "Undid " + std::to_string(undone.size()) +
                                     " interrupted moves. They're still on your computer.");
    }
    if (!broughtBack.empty()) {
        add(broughtBack.size() == 1
                ? "Finished bringing back \u201C" + broughtBack.front()->name + "\u201D. Nothing was lost."
                : "Finished bringing back " + std::to_string(broughtBack.size()) + " items. Nothing was lost.");
    }
    if (!stillOnDrive.empty()) {
        add(stillOnDrive.size() == 1
                ? "Bringing back \u201C" + stillOnDrive.front()->name +
                      "\u201D was interrupted. It's still on the drive, and its shortcut still opens it."
                : "Bringing back " + std::to_string(stillOnDrive.size()) +
                      " items was interrupted. They're still on the drive, and their shortcuts still open them.");
    }
    if (!line.empty()) outcome.lastRun = line;
    const auto missing = withAction(results, {RecoveryAction::markedLinkMissing});
    if (!missing.empty()) {
        std::string title = missing.size() == 1 ? "The shortcut to \u201C" + missing.front()->name + "\u201D was removed"
                                                : std::to_string(missing.size()) + " shortcuts were removed";
        outcome.notice = Notice{std::move(title),
                                "The files are still safe on " + driveName +
                                    ". Click to bring them back or delete them.",
                                NoticeTarget::offloaded, std::nullopt};
    }
    return outcome;
}

std::optional<Notice> leftOnDriveNotice(const std::vector<JournalEvent>& newestFirst, int64_t lastEventBefore,
                                        const std::string& driveName) {
    std::string body;
    for (auto event = newestFirst.rbegin(); event != newestFirst.rend(); ++event) {
        if (event->id <= lastEventBefore || event->level != EventLevel::warning) continue;
        if (!event->message.starts_with(kLeftOnDriveWarning)) continue;
        body += (body.empty() ? "" : " ") + event->message;
    }
    if (body.empty()) return std::nullopt;
    return Notice{"Some files were left on " + driveName, std::move(body), NoticeTarget::offloaded, std::nullopt};
}

}  // namespace keldwick
