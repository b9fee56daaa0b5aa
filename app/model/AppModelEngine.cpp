// Around engine work: the model's state before and after, and start-up recovery's report.

#include "model/AppModel.h"
#include "model/RecoveryOutcome.h"
#include "model/StatusTexts.h"

namespace keldwick {

namespace {

// Enough for every event one recovery logs besides its per-item lines.
constexpr int64_t kRecentEventsRead = 500;

}  // namespace

void AppModel::holdDriveFor(Activity activity) {
    // Linux asks no one before unmounting: an open folder on the drive makes the kernel
    // refuse while files are copied to or from it.
    if ((activity == Activity::moving || activity == Activity::restoring) && state_.driveRoot)
        services_.ejectGuard->holdVolume(*state_.driveRoot);
}

bool AppModel::shouldRefuseEject(const std::string& path) {
    assertMainThread();
    if (!state_.driveRoot || *state_.driveRoot != path) return false;
    if (state_.activity != Activity::moving && state_.activity != Activity::restoring) return false;
    if (job_) job_->cancel();
    return true;
}

void AppModel::settleEngineOperation(EngineJob* job, Done then) {
    assertMainThread();
    services_.ejectGuard->releaseVolume();
    // Idle only once the records are read again: whoever sees the model idle sees what the
    // work did, and nothing new starts in between.
    refresh([this, job, then = std::move(then)] {
        modelStore_.set<ModelField::activity>(Activity::idle);
        modelStore_.set<ModelField::progress>(std::nullopt);
        job_ = nullptr;
        modelStore_.announce(ModelField::job);
        job->deleteLater();
        then();
    });
}

void AppModel::recoverInterrupted(Done done) {
    assertMainThread();
    if (state_.activity != Activity::idle) {
        if (done) done();
        return;
    }
    // Recovery names the items it leaves on the drive only in the journal's events: those
    // logged from here on are read back afterwards.
    int64_t lastEventBefore = 0;
    try {
        auto newest = journal_->events(1);
        if (!newest.empty()) lastEventBefore = newest.front().id;
    } catch (const std::exception&) {
        lastEventBefore = 0;
    }
    performEngineOperation<std::vector<RecoveryResult>>(
        Activity::recovering, nullptr,
        [](EngineOperations& engine, const EngineOperations::Cancel&, const EngineOperations::Progress&) {
            return engine.recover();
        },
        [this, done, lastEventBefore](EngineOutcome<std::vector<RecoveryResult>> outcome) {
            if (outcome.succeeded()) {
                auto report = recoveryOutcome(*outcome.value, driveDisplayName(state_));
                if (report.lastRun) setLastRun(*report.lastRun);
                if (report.notice) post(*report.notice);
                std::vector<JournalEvent> events;
                try {
                    events = journal_->events(kRecentEventsRead);
                } catch (const std::exception&) {
                    events.clear();
                }
                if (auto left = leftOnDriveNotice(events, lastEventBefore, driveDisplayName(state_)))
                    post(*left);
            }
            if (done) done();
        },
        WorkPriority::background);
}

}  // namespace keldwick
