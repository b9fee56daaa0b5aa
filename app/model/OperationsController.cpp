#include "model/OperationsController.h"

#include <set>

#include "model/FreedMemory.h"
#include "model/RecoveryOutcome.h"
#include "model/RestoreOutcome.h"
#include "model/RunOutcome.h"
#include "model/StatusTexts.h"

namespace keldwick {

namespace {

// Enough for every event one recovery logs besides its per-item lines.
constexpr int64_t kRecentEventsRead = 500;

// A failed item's message; the engine's errors carry the user's sentence.
std::string failureText(std::exception_ptr error) { return EngineOutcome<int>{std::nullopt, error}.errorText(); }

struct Restored {
    std::vector<OffloadRecord> records;
    std::vector<std::string> failures;
};

}  // namespace

OperationsController::OperationsController(ModelStore& store, const AppServices& services, Steps& steps,
                                           QObject* parent)
    : QObject(parent), store_(store), services_(services), steps_(steps) {}

bool OperationsController::declines(const Done& done, bool nothingToDo) {
    if (!nothingToDo && state().activity == Activity::idle) return false;
    if (done) done();
    return true;
}

void OperationsController::reportFailure(const std::string& message, const std::string& title) {
    steps_.setLastRun(message);
    reportFilesProblems({message}, title);
}

void OperationsController::begin(EngineJob* job) {
    store_.set<ModelField::activity>(job->activity());
    store_.set<ModelField::progress>(std::nullopt);
    // The files window's last problem belongs to the work before this.
    store_.set<ModelField::filesProblem>(std::nullopt);
    job_ = job;
    store_.announce(ModelField::job);
    holdDriveFor(job->activity());
    lastSpaceReading_.reset();
    connect(job, &EngineJob::progress, this, [this](const EngineProgress& report) {
        store_.set<ModelField::progress>(report);
        followFreeSpace();
    });
    job->start();
}

void OperationsController::followFreeSpace() {
    // The storage rows show the space a move frees or a restore takes as it goes, read at
    // most once a second (the full refresh comes when the work ends).
    const Date now = services_.clock->now();
    if (lastSpaceReading_ && now.timeIntervalSince(*lastSpaceReading_) < 1 &&
        now.timeIntervalSince(*lastSpaceReading_) >= 0)
        return;
    lastSpaceReading_ = now;
    if (!services_.facts.availableBytes) return;
    if (auto free = services_.facts.availableBytes(state().home)) store_.set<ModelField::computerFreeBytes>(*free);
    if (state().driveRoot && state().driveVolume) {
        if (auto room = services_.facts.availableBytes(*state().driveRoot)) {
            VolumeInfo volume = *state().driveVolume;
            volume.availableBytes = *room;
            store_.set<ModelField::driveVolume>(std::optional<VolumeInfo>(std::move(volume)));
        }
    }
}

void OperationsController::holdDriveFor(Activity activity) {
    // Linux asks no one before unmounting: an open folder on the drive makes the kernel
    // refuse while files are copied to or from it.
    if ((activity == Activity::moving || activity == Activity::restoring) && state().driveRoot)
        services_.ejectGuard->holdVolume(*state().driveRoot);
}

bool OperationsController::shouldRefuseEject(const std::string& path) {
    assertMainThread();
    if (!state().driveRoot || *state().driveRoot != path) return false;
    if (state().activity != Activity::moving && state().activity != Activity::restoring) return false;
    if (job_) job_->cancel();
    return true;
}

void OperationsController::settle(EngineJob* job, Done then) {
    assertMainThread();
    services_.ejectGuard->releaseVolume();
    // Idle only once the records are read again: whoever sees the model idle sees what the
    // work did, and nothing new starts in between.
    steps_.refresh([this, job, then = std::move(then)] {
        store_.set<ModelField::activity>(Activity::idle);
        store_.set<ModelField::progress>(std::nullopt);
        job_ = nullptr;
        store_.announce(ModelField::job);
        job->deleteLater();
        // The work freed what it read (recovery reads the whole journal) on its worker;
        // the refresh may have read nothing new, so the memory is given back here.
        releaseFreedMemorySoon();
        then();
        if (!recoveryAfterWork_ || state().activity != Activity::idle) return;
        auto waiting = std::move(*recoveryAfterWork_);
        recoveryAfterWork_.reset();
        recoverInterrupted([waiting = std::move(waiting)] {
            for (const auto& done : waiting)
                if (done) done();
        });
    });
}

void OperationsController::recoverWhenIdle(Done done) {
    assertMainThread();
    if (state().activity == Activity::idle) {
        recoverInterrupted(std::move(done));
        return;
    }
    if (!recoveryAfterWork_) recoveryAfterWork_.emplace();
    recoveryAfterWork_->push_back(std::move(done));
}

void OperationsController::recoverInterrupted(Done done) {
    assertMainThread();
    if (declines(done)) return;
    // Recovery names the items it leaves on the drive only in the journal's events: those
    // logged from here on are read back afterwards.
    int64_t lastEventBefore = 0;
    try {
        auto newest = steps_.journal()->events(1);
        if (!newest.empty()) lastEventBefore = newest.front().id;
    } catch (const std::exception&) {
        lastEventBefore = 0;
    }
    // The bring-backs cut short, told as such once settled (their records' phase then no
    // longer says what they were).
    std::set<int64_t> bringBacks;
    try {
        for (const auto& record :
             steps_.journal()->records({Phase::restoreCopying, Phase::restoreSwapping, Phase::restoreCleanup}))
            bringBacks.insert(record.id);
    } catch (const std::exception&) {
        bringBacks.clear();
    }
    perform<std::vector<RecoveryResult>>(
        Activity::recovering, nullptr,
        [](EngineOperations& engine, const EngineOperations::Cancel&, const EngineOperations::Progress&) {
            return engine.recover();
        },
        [this, done, lastEventBefore, bringBacks](EngineOutcome<std::vector<RecoveryResult>> outcome) {
            if (outcome.succeeded()) {
                // A rolled-back move leaves its record abandoned; a rolled-back restore, on the drive.
                std::set<int64_t> undoneMoves;
                for (const RecoveryResult& result : *outcome.value) {
                    if (result.action != RecoveryAction::rolledBack) continue;
                    try {
                        auto record = steps_.journal()->record(result.recordID);
                        if (record && record->phase == Phase::abandoned) undoneMoves.insert(result.recordID);
                    } catch (const std::exception&) {
                        // Unread: told as finished, as before the journal could say more.
                    }
                }
                auto report = recoveryOutcome(*outcome.value, driveDisplayName(state()), undoneMoves, bringBacks);
                if (report.lastRun) steps_.setLastRun(*report.lastRun);
                if (report.notice) postNotice(*services_.notifier, *report.notice);
                std::vector<JournalEvent> events;
                try {
                    events = steps_.journal()->events(kRecentEventsRead);
                } catch (const std::exception&) {
                    events.clear();
                }
                if (auto left = leftOnDriveNotice(events, lastEventBefore, driveDisplayName(state())))
                    postNotice(*services_.notifier, *left);
            }
            if (done) done();
        },
        WorkPriority::background);
}

void OperationsController::runPlan(const OffloadPlan& plan, bool dryRun, bool automatic,
                                   std::shared_ptr<EngineOperations> engine,
                                   std::function<void(std::optional<RunSummary>)> done) {
    assertMainThread();
    if (!canStartRun(state(), dryRun)) {
        if (done) done(std::nullopt);
        return;
    }
    perform<RunSummary>(
        Activity::moving, std::move(engine),
        [plan, dryRun](EngineOperations& engine, const EngineOperations::Cancel& cancel,
                       const EngineOperations::Progress& progress) {
            return engine.run(plan, dryRun, cancel, progress);
        },
        [this, plan, automatic, done](EngineOutcome<RunSummary> outcome) {
            const Date now = services_.clock->now();
            applyRunOutcome(outcome.succeeded() ? runOutcome(state(), plan, *outcome.value, automatic, now)
                                                : runErrorOutcome(state(), outcome.errorText()));
            if (done) done(outcome.value);
        },
        automatic ? WorkPriority::background : WorkPriority::user);
}

void OperationsController::applyRunOutcome(const RunOutcome& outcome) {
    steps_.setLastRun(outcome.lastRun);
    store_.set<ModelField::failedMoves>(outcome.failedMoves);
    store_.set<ModelField::stall>(outcome.stall);
    store_.set<ModelField::lastFailureNotice>(outcome.lastFailureNotice);
    if (outcome.refreshPreview) steps_.refreshPreview();
    if (outcome.notice) postNotice(*services_.notifier, *outcome.notice);
}

void OperationsController::reportFilesProblems(const std::vector<std::string>& messages, const std::string& title) {
    assertMainThread();
    const FilesProblemReport report = filesProblemReport(messages, title);
    store_.set<ModelField::filesProblem>(report.filesProblem);
    if (report.notice) postNotice(*services_.notifier, *report.notice);
}

void OperationsController::restoreRecord(std::vector<int64_t> ids, Done done) {
    assertMainThread();
    if (declines(done, ids.empty())) return;
    perform<Restored>(
        Activity::restoring, nullptr,
        [ids](EngineOperations& engine, const EngineOperations::Cancel& cancel,
              const EngineOperations::Progress& progress) {
            Restored restored;
            const auto count = static_cast<int64_t>(ids.size());
            for (int64_t i = 0; i < count; ++i) {
                // Stopped between items: those back stay back, the rest are not failures.
                if (cancel && cancel->isCancelled()) break;
                EngineOperations::Progress itemProgress = [&progress, i, count](const EngineProgress& report) {
                    EngineProgress shown = report;
                    shown.itemIndex = i;
                    shown.itemCount = count;
                    if (progress) progress(shown);
                };
                try {
                    restored.records.push_back(engine.restore(ids[i], cancel, itemProgress));
                } catch (...) {
                    restored.failures.push_back(failureText(std::current_exception()));
                }
            }
            return restored;
        },
        [this, done](EngineOutcome<Restored> outcome) {
            if (outcome.succeeded()) {
                // A drive mounted but refused is named with the reason, not as missing.
                for (auto& failure : outcome.value->failures) failure = driveMessage(state(), failure);
                steps_.setLastRun(restoredText(outcome.value->records, outcome.value->failures, state().home));
                reportFilesProblems(outcome.value->failures, kRestoreProblemTitle);
            }
            if (done) done();
        });
}

void OperationsController::restoreCopy(int64_t id, Done done) {
    assertMainThread();
    if (declines(done)) return;
    perform<OffloadRecord>(
        Activity::restoring, nullptr,
        [id](EngineOperations& engine, const EngineOperations::Cancel& cancel,
             const EngineOperations::Progress& progress) { return engine.restoreAsCopy(id, cancel, progress); },
        [this, done](EngineOutcome<OffloadRecord> outcome) {
            if (outcome.succeeded()) {
                steps_.setLastRun(restoredCopyText(*outcome.value, driveDisplayName(state())));
                store_.set<ModelField::filesProblem>(std::nullopt);
            } else {
                reportFailure(outcome.errorText(), kRestoreCopyProblemTitle);
            }
            if (done) done();
        });
}

void OperationsController::keepOnComputer(const std::vector<OffloadRecord>& records, Done done) {
    assertMainThread();
    if (declines(done)) return;
    std::vector<std::string> paths;
    std::vector<int64_t> ids;
    for (const auto& record : records) {
        paths.push_back(record.originalPath);
        ids.push_back(record.id);
    }
    steps_.pin(paths);
    restoreRecord(std::move(ids), std::move(done));
}

void OperationsController::restoreAll(Done done) {
    assertMainThread();
    if (declines(done)) return;
    perform<RunSummary>(
        Activity::restoring, nullptr,
        [](EngineOperations& engine, const EngineOperations::Cancel& cancel,
           const EngineOperations::Progress& progress) { return engine.restoreAll(cancel, progress); },
        [this, done](EngineOutcome<RunSummary> outcome) {
            if (outcome.succeeded()) {
                // The records were reloaded by the runner, so "everything is back" sees them.
                RestoreAllOutcome result = restoreAllOutcome(state(), *outcome.value);
                steps_.setLastRun(result.lastRun);
                store_.set<ModelField::filesProblem>(result.filesProblem);
                postNotice(*services_.notifier, result.notice);
            } else {
                reportFailure(outcome.errorText(), kRestoreAllProblemTitle);
            }
            if (done) done();
        });
}

void OperationsController::deleteDriveCopy(std::vector<int64_t> ids, Done done) {
    assertMainThread();
    if (declines(done, ids.empty())) return;
    perform<std::vector<std::string>>(
        Activity::restoring, nullptr,
        [ids](EngineOperations& engine, const EngineOperations::Cancel&, const EngineOperations::Progress&) {
            std::vector<std::string> failures;
            for (int64_t id : ids) {
                try {
                    engine.discardDriveCopy(id);
                } catch (...) {
                    failures.push_back(failureText(std::current_exception()));
                }
            }
            return failures;
        },
        [this, done](EngineOutcome<std::vector<std::string>> outcome) {
            if (outcome.succeeded()) {
                if (!outcome.value->empty()) steps_.setLastRun(outcome.value->front());
                reportFilesProblems(*outcome.value, kDeleteProblemTitle);
            } else {
                reportFailure(outcome.errorText(), kDeleteFailedTitle);
            }
            if (done) done();
        });
}

}  // namespace keldwick
