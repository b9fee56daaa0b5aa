#pragma once
// One operation on the engine (a run, restores, drive copies deleted, recovery) as an
// object, in the manner of KDE's KJob: made by the model, started once, stoppable while it
// runs, and ending in exactly one result on the main thread. The work runs off the main
// thread and never touches the job: its reports and its value come back through the job's
// own relay, which closes with the job, so a job deleted early hears nothing.

#include <QObject>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <memory>
#include <utility>

#include "engine/EngineProgress.h"
#include "foundation/CancellationFlag.h"
#include "model/BackgroundWork.h"
#include "model/EngineOperations.h"
#include "model/ModelState.h"

namespace keldwick {

class EngineJob : public QObject {
    Q_OBJECT

public:
    // What the job shows while it runs.
    Activity activity() const { return activity_; }

    // Main thread, once: the work starts on a background thread.
    void start();
    // Any time: the work stops at its next step, and what it finished stays finished. The
    // result still comes.
    void cancel() { flag_->cancel(); }
    bool isCancelled() const { return flag_->isCancelled(); }
    bool isFinished() const { return finished_; }

signals:
    // On the main thread, in the order the work reported, at most ten a second: the newest
    // report when the last delivery is a tenth of a second old. None after the result.
    void progress(const keldwick::EngineProgress& report);
    // Once, on the main thread, when the work has ended with a value or an error.
    void result(keldwick::EngineJob* job);

protected:
    EngineJob(Activity activity, WorkPriority priority, std::shared_ptr<BackgroundExecutor> executor,
              QObject* parent);

    // Hands the work to `work` (on this job's relay); called by start().
    virtual void run(const BackgroundWork& work, WorkPriority priority, EngineOperations::Cancel cancel,
                     EngineOperations::Progress progress) = 0;
    // The work has ended: its outcome is kept, the result goes out.
    void finish();

private:
    static constexpr std::chrono::milliseconds progressInterval{100};

    // The work's newest report not yet delivered, and whether a delivery is on its way.
    struct PendingProgress {
        std::mutex mutex;
        std::optional<EngineProgress> report;
        bool posted = false;
    };

    void deliverProgress();

    Activity activity_;
    WorkPriority priority_;
    std::shared_ptr<BackgroundExecutor> executor_;
    std::shared_ptr<CancellationFlag> flag_ = std::make_shared<CancellationFlag>();
    OwnedRelay relay_;
    std::shared_ptr<PendingProgress> pending_ = std::make_shared<PendingProgress>();
    std::optional<std::chrono::steady_clock::time_point> lastDelivery_;
    bool started_ = false;
    bool finished_ = false;
};

// A job whose work gives a T.
template <class T>
class EngineJobFor final : public EngineJob {
public:
    using Work = std::function<T(const EngineOperations::Cancel& cancel, const EngineOperations::Progress& progress)>;

    EngineJobFor(Activity activity, WorkPriority priority, std::shared_ptr<BackgroundExecutor> executor, Work work,
                 QObject* parent = nullptr)
        : EngineJob(activity, priority, std::move(executor), parent), work_(std::move(work)) {}

    // Once the result is out: the value, or the error the work threw.
    EngineOutcome<T>& outcome() { return outcome_; }

private:
    void run(const BackgroundWork& work, WorkPriority priority, EngineOperations::Cancel cancel,
             EngineOperations::Progress progress) override {
        // The work (and the engine it holds) moves to the background thread and is released there.
        // Its flag is the executor's to set as well, when the program quits.
        auto flag = cancel;
        work.run<T>(
            priority,
            [cancel = std::move(cancel), progress = std::move(progress), work = std::move(work_)] {
                return work(cancel, progress);
            },
            [this](EngineOutcome<T> outcome) {
                outcome_ = std::move(outcome);
                finish();
            },
            std::move(flag));
    }

    Work work_;
    EngineOutcome<T> outcome_;
};

}  // namespace keldwick
