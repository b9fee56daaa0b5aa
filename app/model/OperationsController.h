#pragma once
// The operations on the engine: runs, restores, drive copies deleted and recovery, each a
// job (EngineJob) and one at a time. While one runs it shows its activity and progress and
// holds the drive mounted; when it ends the records are read again before the model is
// idle, and what it leaves behind is written: the result line, failed items and stalls,
// the files problem, one notice. The rest goes through the model (Steps). Main thread only.

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Journal.h"
#include "model/AppServices.h"
#include "model/BackgroundWork.h"
#include "model/EngineJob.h"
#include "model/EngineOperations.h"
#include "model/MainThread.h"
#include "model/ModelStore.h"
#include "model/Notice.h"

namespace keldwick {

struct RunOutcome;

class OperationsController final : public QObject {
    Q_OBJECT

public:
    using Done = std::function<void()>;

    // What an operation does through the rest of the model.
    class Steps {
    public:
        virtual ~Steps() = default;
        // Reads free space, the drive and the records afresh; `done` once they are shown.
        virtual void refresh(Done done) = 0;
        // The engine for the chosen drive and the current rules.
        virtual const std::shared_ptr<EngineOperations>& engine() const = 0;
        virtual const std::shared_ptr<Journal>& journal() const = 0;
        // The line under the menu's status, kept across restarts.
        virtual void setLastRun(std::string text) = 0;
        // After an automatic run: an open preview that waits for nothing scans again.
        virtual void refreshPreview() = 0;
        // Keeps the paths on the computer from now on.
        virtual void pin(const std::vector<std::string>& paths) = 0;
    };

    template <class T>
    using EngineWork = std::function<T(EngineOperations& engine, const EngineOperations::Cancel& cancel,
                                       const EngineOperations::Progress& progress)>;

    // `store`, `services` and `steps` outlive the controller.
    OperationsController(ModelStore& store, const AppServices& services, Steps& steps, QObject* parent = nullptr);

    // The operation that runs; none while idle, scanning or clearing. Stopping it is
    // cancel() on it.
    EngineJob* currentJob() const { return job_; }
    // True (and the running operation is stopped) when the drive must stay mounted.
    bool shouldRefuseEject(const std::string& path);

    // Starts a job showing `activity` that runs `work` on a background thread with `engine`
    // (the current engine when none; kept even if the engine is rebuilt meanwhile) and
    // shows each progress report; when it ends the model refreshes, returns to idle and
    // calls `done` with the outcome. Never refuses: callers check idle.
    template <class T>
    EngineJob* perform(Activity activity, std::shared_ptr<EngineOperations> engine, EngineWork<T> work,
                       std::function<void(EngineOutcome<T>)> done, WorkPriority priority = WorkPriority::user);

    // Settles moves and restores cut short and tells the user what was finished.
    void recoverInterrupted(Done done = {});
    // The same now when idle, else as soon as the running work has ended (`done` then
    // waits for it): a drive that comes back while a restore runs still has what was cut
    // short on it settled without a restart.
    void recoverWhenIdle(Done done = {});

    // The one road by which planned items move: refused (none) while something else runs
    // or, unless it only tests, while the journal is unusable; then the result line, the
    // memory of failed items, the stall of automatic runs and one notice.
    void runPlan(const OffloadPlan& plan, bool dryRun, bool automatic, std::shared_ptr<EngineOperations> engine,
                 std::function<void(std::optional<RunSummary>)> done = {});

    // Restores and drive copies; each does nothing (but `done`) unless the model is idle.
    void restoreRecord(std::vector<int64_t> ids, Done done = {});
    void restoreCopy(int64_t id, Done done = {});
    // Pins the items' places, then brings them back.
    void keepOnComputer(const std::vector<OffloadRecord>& records, Done done = {});
    void restoreAll(Done done = {});
    void deleteDriveCopy(std::vector<int64_t> ids, Done done = {});
    // The first message (with the count of the others) as the files problem and a
    // "files-problem" notice; no message clears the problem.
    void reportFilesProblems(const std::vector<std::string>& messages, const std::string& title);

private:
    const ModelState& state() const { return store_.state(); }
    // Calls `done` and says so when there is nothing to do or something else runs:
    // operations start only while idle.
    bool declines(const Done& done, bool nothingToDo = false);
    // An operation that failed as a whole: its message is the result line and the problem.
    void reportFailure(const std::string& message, const std::string& title);
    // Shows the job's activity and progress while it runs, and starts it.
    void begin(EngineJob* job);
    // After `job`'s result: refreshes, returns to idle, lets the job go, then `then`.
    void settle(EngineJob* job, Done then);
    void holdDriveFor(Activity activity);
    void applyRunOutcome(const RunOutcome& outcome);
    // Reads the free space of this computer and of the drive, at most once a second.
    void followFreeSpace();

    ModelStore& store_;
    const AppServices& services_;
    Steps& steps_;
    QPointer<EngineJob> job_;
    std::optional<Date> lastSpaceReading_;  // during the running job
    // recoverWhenIdle's callers waiting for the running work to end; none: no recovery asked.
    std::optional<std::vector<Done>> recoveryAfterWork_;
};

template <class T>
EngineJob* OperationsController::perform(Activity activity, std::shared_ptr<EngineOperations> engine,
                                         EngineWork<T> work, std::function<void(EngineOutcome<T>)> done,
                                         WorkPriority priority) {
    assertMainThread();
    auto* job = new EngineJobFor<T>(
        activity, priority, services_.background,
        [taken = engine ? std::move(engine) : steps_.engine(), work = std::move(work)](
            const EngineOperations::Cancel& cancel, const EngineOperations::Progress& progress) {
            return work(*taken, cancel, progress);
        },
        this);
    connect(job, &EngineJob::result, this, [this, job, done = std::move(done)] {
        auto settled = std::make_shared<EngineOutcome<T>>(std::move(job->outcome()));
        settle(job, [settled, done] {
            if (done) done(std::move(*settled));
        });
    });
    begin(job);
    return job;
}

}  // namespace keldwick
