// Around engine work: the model's state before and after, and start-up recovery's report.

#include "model/AppModel.h"
#include "model/RecoveryOutcome.h"
#include "model/StatusTexts.h"

namespace keldwick {

void AppModel::holdDriveFor(Activity activity) {
    // Linux asks no one before unmounting: an open folder on the drive makes the kernel
    // refuse while files are copied to or from it.
    if ((activity == Activity::moving || activity == Activity::restoring) && state_.driveRoot)
        services_.ejectGuard->holdVolume(*state_.driveRoot);
}

void AppModel::settleEngineOperation() {
    assertMainThread();
    services_.ejectGuard->releaseVolume();
    assign(state_.activity, Activity::idle, &AppModel::activityChanged);
    assign(state_.progress, std::nullopt, &AppModel::progressChanged);
    setCancelFlag(nullptr);
    refresh();
}

void AppModel::recoverInterrupted(Done done) {
    assertMainThread();
    if (state_.activity != Activity::idle) {
        if (done) done();
        return;
    }
    QPointer<AppModel> self(this);
    performEngineOperation<std::vector<RecoveryResult>>(
        Activity::recovering, nullptr,
        [](EngineOperations& engine, const EngineOperations::Cancel&, const EngineOperations::Progress&) {
            return engine.recover();
        },
        [self, done](EngineOutcome<std::vector<RecoveryResult>> outcome) {
            if (!self) return;
            if (outcome.succeeded()) {
                auto report = recoveryOutcome(*outcome.value, driveDisplayName(self->state_));
                if (report.lastRun) {
                    self->assign(self->state_.lastRun, report.lastRun, &AppModel::lastRunChanged);
                    self->assign(self->state_.lastRunDate, std::optional<Date>(self->now()),
                                 &AppModel::lastRunDateChanged);
                }
                if (report.notice) self->post(*report.notice);
            }
            if (done) done();
        },
        WorkPriority::background);
}

}  // namespace keldwick
