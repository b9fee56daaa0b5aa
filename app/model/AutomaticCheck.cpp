#include "model/AutomaticCheck.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <thread>

#include "foundation/OpenFileChecking.h"
#include "foundation/PathUtil.h"
#include "foundation/Saturating.h"
#include "foundation/AndroidDevices.h"
#include "model/StatusTexts.h"
#include "scanning/NeverTouch.h"

namespace keldwick {

double ageOf(Date date, Date now) {
    const double age = now.timeIntervalSince(date);
    return age < 0 ? std::numeric_limits<double>::infinity() : age;
}

bool automaticCacheClearDue(const ModelState& state, Date now) {
    const AppSettings& s = state.settings;
    if (!s.onboardingComplete || !s.clearCachesWhenLow || s.isPaused) return false;
    if (s.dryRunMode || !canOffload(state)) return false;
    if (state.activity != Activity::idle) return false;
    if (!state.computerFreeBytes || !s.isBelowKeepFree(*state.computerFreeBytes)) return false;
    return !state.lastAutomaticCacheClear || ageOf(*state.lastAutomaticCacheClear, now) > kAutomaticCacheClearInterval;
}

AutomationInputs automationInputs(const ModelState& state) {
    AutomationInputs inputs;
    inputs.settings = state.settings;
    inputs.freeBytes = state.computerFreeBytes;
    inputs.driveConnected = state.driveRoot.has_value();
    inputs.canOffload = canOffload(state);
    inputs.canReadHome = state.canReadHome;
    inputs.isBusy = state.activity != Activity::idle ||
                    (state.preview && (state.preview->kind == PreviewKind::firstAutomatic || state.preview->isScanning));
    return inputs;
}

bool declineHoldsBack(const ModelState& state, std::optional<Date> firstRunDeclinedAt, Date now) {
    return !state.settings.automaticRunsApproved && firstRunDeclinedAt && ageOf(*firstRunDeclinedAt, now) < kDeclineHold;
}

bool stallHoldsBackScan(const ModelState& state, Date now) {
    if (!state.stall || ageOf(state.stall->date, now) >= kStallWindow) return false;
    return state.computerFreeBytes.value_or(0) > Saturating::subtract(state.stall->freeBytes, kStallRescanDrop);
}

StallOutcome stallOutcome(const ModelState& state, bool foundCandidates, Date now) {
    const Stall kind = foundCandidates ? Stall::driveFull : Stall::nothingToMove;
    StallOutcome outcome{StallState{kind, now, state.computerFreeBytes.value_or(0)}, state.lastStallNotice, std::nullopt};
    const auto& last = state.lastStallNotice;
    if (last && last->kind == kind && ageOf(last->date, now) < kStallNoticeInterval) return outcome;

    outcome.lastStallNotice = StallNotice{kind, now};
    if (kind == Stall::driveFull) {
        outcome.notice = Notice{driveDisplayName(state) + " is full",
                                "Keldwick can't move more files to it until there's room. Delete what you no longer "
                                "need from it, or use a bigger drive.",
                                NoticeTarget::offloaded, "drive-full"};
    } else if (state.settings.managedFolders.empty()) {
        outcome.notice = Notice{"Your computer is still low on space", "Choose the folders Keldwick may look in, in Settings.",
                                NoticeTarget::menu, "nothing-to-move"};
    } else {
        // The panel's own entry first; the file manager's only where it is installed for
        // this program, else the command line.
        const std::string panel = "choose Move Files to " + driveDisplayName(state) + "\u2026 in Keldwick's panel";
        const std::string how = state.moveEntry
                                    ? "right-click it in the file manager and choose " + *state.moveEntry + "."
                                    : "run \u201Ckeldwick --move\u201D with its path in a terminal.";
        outcome.notice = Notice{"Your computer is still low on space",
                                "Keldwick has moved everything it can: the rest is recent, in use or protected. To "
                                "move something anyway, " + panel + ", or " + how,
                                NoticeTarget::menu, "nothing-to-move"};
    }
    return outcome;
}

bool mayActOnFindings(const ModelState& state) {
    return !state.settings.isPaused && state.driveRoot && (canOffload(state) || state.settings.dryRunMode) &&
           state.activity == Activity::idle;
}

Notice askFirstNotice(const ModelState& state) {
    return Notice{"Your computer is low on space",
                  "Keldwick can free up space by moving old files to " + driveDisplayName(state) +
                      ". Click to see which ones \u2014 nothing moves until you say so.",
                  NoticeTarget::preview, "ask-first"};
}

RuleList scanRules(const ModelState& state) {
    std::vector<std::string> withOlderCopies;
    for (const auto& record : recordsNeedingAttention(state)) withOlderCopies.push_back(record.originalPath);
    return NeverTouch::rules(state.home, state.pins, state.recentlyRestored, withOlderCopies,
                             NeverTouch::systemFolders());
}

std::vector<std::string> recentlyFailedPaths(const std::vector<OffloadRecord>& allRecords,
                                             const std::map<std::string, Date>& failedMoves, Date now) {
    std::vector<std::string> paths = Automation::recentlyFailed(allRecords, now);
    const Date cutOff = now.adding(-Automation::retryAfterFailure);
    for (const auto& [path, date] : failedMoves) {
        if (date > cutOff) paths.push_back(path);
    }
    return paths;
}

namespace {

PlanBuilder builderFor(const ModelState& state, const AppSettings& settings, std::vector<std::string> folders,
                       RuleList rules, bool includingRecent) {
    PlanBuilder builder(std::move(folders), std::move(rules), settings.policy(includingRecent),
                        std::make_shared<ProcessOpenFileChecker>());
    if (settings.moveProjectsAndEmulators) builder.emulatorDevices = AndroidDevices::devicesFolder(state.home);
    builder.fixedFolders = NeverTouch::standardFolders(state.home);
    builder.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return builder;
}

}  // namespace

PlanBuilder scanBuilder(const ModelState& state, bool includingRecent,
                        const std::optional<std::vector<std::string>>& failedPaths) {
    RuleList rules = scanRules(state);
    if (failedPaths) rules.push_back(Automation::failureRule(*failedPaths));
    return builderFor(state, state.settings, state.settings.managedFolders, std::move(rules), includingRecent);
}

PlanBuilder automaticCheckBuilder(const ModelState& state, const std::vector<std::string>& failedPaths) {
    PlanBuilder builder = scanBuilder(state, true, failedPaths);
    builder.threads = std::min(builder.threads, automaticScanThreads);
    return builder;
}

void keepFailedOut(PlanBuilder& builder, const std::vector<std::string>& failedPaths) {
    // scanBuilder puts the failure rule last.
    builder.rules.back() = Automation::failureRule(failedPaths);
}

PlanBuilder planBuilder(const ModelState& state, const std::vector<std::string>& folders, const DriveProfile& profile) {
    AppSettings settings = state.settings;
    settings.driveProfile = profile;
    return builderFor(state, settings, folders, scanRules(state), false);
}

std::string pinForm(const std::string& path) {
    const std::string parent = PathUtil::parent(path);
    return PathUtil::join(PathUtil::canonical(parent).value_or(parent), PathUtil::name(path));
}

}  // namespace keldwick
