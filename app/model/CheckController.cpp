#include "model/CheckController.h"

#include <algorithm>

#include "foundation/Log.h"
#include "model/AutomaticCheck.h"
#include "model/FreedMemory.h"
#include "model/MainThread.h"

namespace keldwick {

CheckController::CheckController(ModelStore& store, const AppServices& services, SettingsController& settings,
                                 OperationsController& operations, Steps& steps, BackgroundWork work,
                                 QObject* parent)
    : QObject(parent),
      store_(store),
      state_(store.state()),
      services_(services),
      settings_(settings),
      operations_(operations),
      steps_(steps),
      work_(std::move(work)) {}

void CheckController::check(Done done) {
    assertMainThread();
    if (state_.isChecking) {
        if (!nextCheckWaiters_) nextCheckWaiters_.emplace();
        if (done) nextCheckWaiters_->push_back(std::move(done));
        return;
    }
    store_.set<ModelField::isChecking>(true);
    Done finish = [this, done] {
        store_.set<ModelField::isChecking>(false);
        if (done) done();
        if (!nextCheckWaiters_ || state_.isChecking) return;
        auto waiters = std::move(*nextCheckWaiters_);
        nextCheckWaiters_.reset();
        check([waiters = std::move(waiters)] {
            for (const auto& waiter : waiters) waiter();
        });
    };
    steps_.refresh([this, finish] { clearCachesWhenLow([this, finish] { decideAndAct(finish); }); });
}

void CheckController::startChecking(Done done) {
    assertMainThread();
    operations_.recoverInterrupted([this, done] {
        check([this, done] {
            scheduleCheckAfterCheck();
            if (done) done();
        });
    });
}

void CheckController::scheduleCheck(std::optional<double> seconds) {
    assertMainThread();
    checkTask_.reset();
    const double interval = seconds ? *seconds : state_.settings.checkIntervalMinutes * 60.0;
    store_.set<ModelField::nextCheck>(std::optional<Date>(now().adding(interval)));
    checkPending_ = true;
    checkTask_ = services_.timers->after(interval, [this] {
        checkPending_ = false;
        check([this] { scheduleCheckAfterCheck(); });
    });
}

void CheckController::scheduleCheckAfterCheck() {
    assertMainThread();
    // A level changed or a wake while the check ran asked for one soon: the check that ends
    // here may have decided on what came before, so that one stays.
    const double interval = state_.settings.checkIntervalMinutes * 60.0;
    if (checkPending_ && state_.nextCheck && state_.nextCheck->timeIntervalSince(now()) < interval) return;
    scheduleCheck();
}

void CheckController::clearCachesWhenLow(Done next) {
    if (!automaticCacheClearDue(state_, now())) {
        next();
        return;
    }
    // Stamped before anything is cleared: a clearing that fails is not retried the same day.
    steps_.stampAutomaticCacheClear();
    steps_.cacheLocations(
        [this, next](std::vector<CacheLocation> locations) {
            std::erase_if(locations, [](const CacheLocation& location) { return !location.selectedByDefault; });
            if (locations.empty()) {
                next();
                return;
            }
            steps_.clearCaches(std::move(locations), [next](CacheClearing) { next(); }, WorkPriority::background);
        },
        WorkPriority::background);
}

void CheckController::decideAndAct(Done finish) {
    const AutomationDecision decision = Automation::decide(automationInputs(state_));
    store_.set<ModelField::decision>(decision);
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
            operations_.runPlan(found->plan, state_.settings.dryRunMode, true, nullptr,
                                [finish](std::optional<RunSummary>) { finish(); });
            return;
        }
        steps_.openPreview(PreviewKind::firstAutomatic, bytesNeeded, std::move(found), true);
        steps_.post(askFirstNotice(state_));
        finish();
    });
}

void CheckController::findings(int64_t bytesNeeded, std::function<void(std::optional<ScanFindings>)> done) {
    assertMainThread();
    if (!state_.driveRoot || stallHoldsBackScan(state_, now())) {
        done(std::nullopt);
        return;
    }
    store_.set<ModelField::activity>(Activity::scanning);
    PlanBuilder builder = automaticCheckBuilder(state_, {});
    builder.clock = services_.clock;
    builder.availableBytes = services_.facts.availableBytes;
    struct Found {
        PlanBuilder::Result result;
        int64_t room = 0;
    };
    work_.run<Found>(
        WorkPriority::background,
        [builder = std::move(builder), root = *state_.driveRoot, bytesNeeded, journal = steps_.journal(),
         failedMoves = state_.failedMoves, startedAt = now()]() mutable {
            // The journal is read here, not on the main thread: it may hold many records.
            std::vector<OffloadRecord> all;
            try {
                all = journal->allRecords();
            } catch (const std::exception&) {
                all.clear();  // the rule then holds the model's own memory of failures alone
            }
            keepFailedOut(builder, recentlyFailedPaths(all, failedMoves, startedAt));
            Found found{builder.build(bytesNeeded, root), 0};
            found.room = builder.driveRoom(root);
            return found;
        },
        [this, done = std::move(done)](EngineOutcome<Found> outcome) {
            // The journal's records the worker read are freed: their memory goes back.
            releaseFreedMemorySoon();
            // A clearing that started beside the scan keeps its own activity.
            if (state_.activity == Activity::scanning) store_.set<ModelField::activity>(Activity::idle);
            if (!outcome.succeeded()) {
                Log::error("app", "The automatic check's scan failed: " + outcome.errorText());
                done(std::nullopt);
                return;
            }
            Found& found = *outcome.value;
            if (!found.result.plan.items.empty()) {
                store_.set<ModelField::stall>(std::nullopt);
                done(ScanFindings{std::move(found.result.report), std::move(found.result.plan), found.room});
                return;
            }
            const StallOutcome stall = stallOutcome(state_, !found.result.report.candidates.empty(), now());
            store_.set<ModelField::stall>(std::optional(stall.stall));
            steps_.setLastStallNotice(stall.lastStallNotice);
            if (stall.notice) steps_.post(*stall.notice);
            done(std::nullopt);
        });
}

}  // namespace keldwick
