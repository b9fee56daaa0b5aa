// Bringing items back, keeping them on the computer, deleting drive copies, and the
// caches and system data the user clears or moves.

#include "foundation/OpenFileChecking.h"
#include "model/AppModel.h"
#include "model/RestoreOutcome.h"
#include "model/StatusTexts.h"

namespace keldwick {

namespace {

// A failed item's message; the engine's errors carry the user's sentence.
std::string failureText(std::exception_ptr error) { return EngineOutcome<int>{std::nullopt, error}.errorText(); }

struct Restored {
    std::vector<OffloadRecord> records;
    std::vector<std::string> failures;
};

}  // namespace


void AppModel::reportFilesProblems(const std::vector<std::string>& messages, const std::string& title) {
    assertMainThread();
    const FilesProblemReport report = filesProblemReport(messages, title);
    modelStore_.set<ModelField::filesProblem>(report.filesProblem);
    if (report.notice) post(*report.notice);
}

void AppModel::restoreRecord(std::vector<int64_t> ids, Done done) {
    assertMainThread();
    if (state_.activity != Activity::idle || ids.empty()) {
        if (done) done();
        return;
    }
    performEngineOperation<Restored>(
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
                setLastRun(restoredText(outcome.value->records, outcome.value->failures, home()));
                reportFilesProblems(outcome.value->failures, kRestoreProblemTitle);
            }
            if (done) done();
        });
}

void AppModel::restoreCopy(int64_t id, Done done) {
    assertMainThread();
    if (state_.activity != Activity::idle) {
        if (done) done();
        return;
    }
    performEngineOperation<OffloadRecord>(
        Activity::restoring, nullptr,
        [id](EngineOperations& engine, const EngineOperations::Cancel& cancel,
             const EngineOperations::Progress& progress) { return engine.restoreAsCopy(id, cancel, progress); },
        [this, done](EngineOutcome<OffloadRecord> outcome) {
            if (outcome.succeeded()) {
                setLastRun(restoredCopyText(*outcome.value, driveDisplayName(state_)));
                modelStore_.set<ModelField::filesProblem>(std::nullopt);
            } else {
                setLastRun(outcome.errorText());
                reportFilesProblems({outcome.errorText()}, kRestoreCopyProblemTitle);
            }
            if (done) done();
        });
}

void AppModel::keepOnMac(const std::vector<OffloadRecord>& records, Done done) {
    assertMainThread();
    if (state_.activity != Activity::idle) {
        if (done) done();
        return;
    }
    std::vector<std::string> paths;
    std::vector<int64_t> ids;
    for (const auto& record : records) {
        paths.push_back(record.originalPath);
        ids.push_back(record.id);
    }
    pin(paths);
    restoreRecord(std::move(ids), std::move(done));
}

void AppModel::restoreAll(Done done) {
    assertMainThread();
    if (state_.activity != Activity::idle) {
        if (done) done();
        return;
    }
    performEngineOperation<RunSummary>(
        Activity::restoring, nullptr,
        [](EngineOperations& engine, const EngineOperations::Cancel& cancel,
           const EngineOperations::Progress& progress) { return engine.restoreAll(cancel, progress); },
        [this, done](EngineOutcome<RunSummary> outcome) {
            if (outcome.succeeded()) {
                // The records were reloaded by the runner, so "everything is back" sees them.
                RestoreAllOutcome result = restoreAllOutcome(state_, *outcome.value);
                setLastRun(result.lastRun);
                modelStore_.set<ModelField::filesProblem>(result.filesProblem);
                post(result.notice);
            } else {
                setLastRun(outcome.errorText());
                reportFilesProblems({outcome.errorText()}, kRestoreAllProblemTitle);
            }
            if (done) done();
        });
}

void AppModel::deleteDriveCopy(std::vector<int64_t> ids, Done done) {
    assertMainThread();
    if (state_.activity != Activity::idle || ids.empty()) {
        if (done) done();
        return;
    }
    performEngineOperation<std::vector<std::string>>(
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
                if (!outcome.value->empty()) setLastRun(outcome.value->front());
                reportFilesProblems(*outcome.value, kDeleteProblemTitle);
            } else {
                setLastRun(outcome.errorText());
                reportFilesProblems({outcome.errorText()}, kDeleteFailedTitle);
            }
            if (done) done();
        });
}

void AppModel::cacheLocations(std::function<void(std::vector<CacheLocation>)> done, WorkPriority priority) {
    assertMainThread();
    auto relay = relay_;
    services_.background->run(priority, [relay, home = state_.home, done = std::move(done)] {
        auto locations = std::make_shared<std::vector<CacheLocation>>(measuredCacheLocations(home));
        relay->post([locations, done] { done(std::move(*locations)); });
    });
}

void AppModel::clearCaches(std::vector<CacheLocation> locations, std::function<void(CacheClearing)> done,
                           WorkPriority priority) {
    assertMainThread();
    // Beside an engine operation the clearing leaves that operation's activity alone.
    const bool showsClearing = state_.activity == Activity::idle;
    if (showsClearing) modelStore_.set<ModelField::activity>(Activity::clearing);
    auto relay = relay_;
    services_.background->run(priority, [this, relay, showsClearing, locations = std::move(locations),
                                         journal = journal_, done = std::move(done)] {
        const CacheClearing cleared = clearCacheLocations(locations, ProcessOpenFileChecker());
        try {
            journal->log(cachesClearedMessage(cleared.freed), EventLevel::info);
        } catch (const std::exception&) {
            // The clearing happened all the same; only its line in the log is missing.
        }
        relay->post([this, showsClearing, cleared, done] {
            refresh([this, showsClearing, cleared, done] {
                if (showsClearing && state_.activity == Activity::clearing)
                    modelStore_.set<ModelField::activity>(Activity::idle);
                if (done) done(cleared);
            });
        });
    });
}

void AppModel::movableSystemData(std::function<void(std::vector<MovableData>)> done) {
    assertMainThread();
    auto relay = relay_;
    services_.background->run(WorkPriority::user, [relay, home = state_.home, done = std::move(done)] {
        auto found = std::make_shared<std::vector<MovableData>>(findMovableSystemData(home));
        relay->post([found, done] { done(std::move(*found)); });
    });
}

}  // namespace keldwick
