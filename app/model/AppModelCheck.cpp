// The automatic check: caches cleared when low, the decision, the scan and its stalls,
// then a run or the question before the first one; and the pins that feed the scan rules.

#include <algorithm>

#include "model/AppModel.h"
#include "model/AutomaticCheck.h"
#include "model/StatusTexts.h"

namespace keldwick {

void AppModel::check(Done done) {
    assertMainThread();
    // Asked for while a check runs (a changed level, a drive plugged in), the check runs
    // once more after it: the running one may have read what came before the change.
    if (state_.isChecking) {
        if (!nextCheckWaiters_) nextCheckWaiters_.emplace();
        if (done) nextCheckWaiters_->push_back(std::move(done));
        return;
    }
    modelStore_.set<ModelField::isChecking>(true);
    Done finish = [this, done] {
        modelStore_.set<ModelField::isChecking>(false);
        if (done) done();
        if (!nextCheckWaiters_ || state_.isChecking) return;
        auto waiters = std::move(*nextCheckWaiters_);
        nextCheckWaiters_.reset();
        check([waiters = std::move(waiters)] {
            for (const auto& waiter : waiters) waiter();
        });
    };
    refresh([this, finish] {
        clearCachesWhenLow([this, finish] { decideAndAct(finish); });
    });
}

void AppModel::startChecking(Done done) {
    assertMainThread();
    recoverInterrupted([this, done] {
        check([this, done] {
            scheduleCheckAfterCheck();
            if (done) done();
        });
    });
}

void AppModel::clearCachesWhenLow(Done next) {
    if (!automaticCacheClearDue(state_, now())) {
        next();
        return;
    }
    // Stamped before anything is cleared: a clearing that fails is not retried the same day.
    stampAutomaticCacheClear();
    cacheLocations(
        [this, next](std::vector<CacheLocation> locations) {
            std::erase_if(locations, [](const CacheLocation& location) { return !location.selectedByDefault; });
            if (locations.empty()) {
                next();
                return;
            }
            clearCaches(std::move(locations), [next](CacheClearing) { next(); }, WorkPriority::background);
        },
        WorkPriority::background);
}

void AppModel::decideAndAct(Done finish) {
    const AutomationDecision decision = Automation::decide(automationInputs(state_));
    modelStore_.set<ModelField::decision>(decision);
    if (decision.kind != AutomationDecision::Kind::offload ||
        declineHoldsBack(state_, settings_.firstRunDeclinedAt(), now())) {
        finish();
        return;
    }
    const int64_t bytesNeeded = decision.bytesNeeded;
    findings(bytesNeeded, [this, bytesNeeded, finish](std::optional<ScanFindings> found) {
        // The user may have paused, unplugged the drive or started something meanwhile.
        if (!found || !mayActOnFindings(state_)) {
            finish();
            return;
        }
        if (state_.settings.automaticRunsApproved) {
            runPlan(found->plan, state_.settings.dryRunMode, true, nullptr,
                    [finish](std::optional<RunSummary>) { finish(); });
            return;
        }
        openPreview(PreviewKind::firstAutomatic, bytesNeeded, std::move(found), true);
        post(askFirstNotice(state_));
        finish();
    });
}

void AppModel::findings(int64_t bytesNeeded, std::function<void(std::optional<ScanFindings>)> done) {
    assertMainThread();
    if (!state_.driveRoot || stallHoldsBackScan(state_, now())) {
        done(std::nullopt);
        return;
    }
    modelStore_.set<ModelField::activity>(Activity::scanning);
    PlanBuilder builder = automaticCheckBuilder(state_, {});
    builder.now = [clock = services_.clock] { return clock->now(); };
    builder.availableBytes = services_.facts.availableBytes;
    auto relay = relay_;
    services_.background->run(WorkPriority::background, [this, relay, builder = std::move(builder),
                                                        root = *state_.driveRoot, bytesNeeded, journal = journal_,
                                                        failedMoves = state_.failedMoves, startedAt = now(),
                                                        done = std::move(done)]() mutable {
        // The journal is read here, not on the main thread: it may hold many records.
        std::vector<OffloadRecord> all;
        try {
            all = journal->allRecords();
        } catch (const std::exception&) {
            all.clear();  // the rule then holds the model's own memory of failures alone
        }
        keepFailedOut(builder, recentlyFailedPaths(all, failedMoves, startedAt));
        auto result = std::make_shared<PlanBuilder::Result>(builder.build(bytesNeeded, root));
        const int64_t room = builder.driveRoom(root);
        relay->post([this, result, room, done = std::move(done)] {
            // A clearing that started beside the scan keeps its own activity.
            if (state_.activity == Activity::scanning) modelStore_.set<ModelField::activity>(Activity::idle);
            if (!result->plan.items.empty()) {
                modelStore_.set<ModelField::stall>(std::nullopt);
                done(ScanFindings{std::move(result->report), std::move(result->plan), room});
                return;
            }
            const StallOutcome outcome = stallOutcome(state_, !result->report.candidates.empty(), now());
            modelStore_.set<ModelField::stall>(std::optional(outcome.stall));
            setLastStallNotice(outcome.lastStallNotice);
            if (outcome.notice) post(*outcome.notice);
            done(std::nullopt);
        });
    });
}

void AppModel::pin(const std::vector<std::string>& paths) {
    assertMainThread();
    for (const auto& path : paths) {
        try {
            journal_->pin(pinForm(path));
        } catch (const std::exception&) {
            // The next path is still pinned; this one shows as not pinned in the list.
        }
    }
    reloadPins();
}

void AppModel::loadPins() {
    std::vector<std::string> pins;
    try {
        pins = journal_->pins();
    } catch (const std::exception&) {
        pins.clear();
    }
    modelStore_.set<ModelField::pins>(std::move(pins));
}

void AppModel::reloadPins() {
    assertMainThread();
    loadPins();
    setEngine(makeEngine());
    modelStore_.set<ModelField::stall>(std::nullopt);
}

}  // namespace keldwick
