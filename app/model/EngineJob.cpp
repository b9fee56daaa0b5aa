#include "model/EngineJob.h"

#include "model/MainThread.h"

namespace keldwick {

EngineJob::EngineJob(Activity activity, WorkPriority priority, std::shared_ptr<BackgroundExecutor> executor,
                     QObject* parent)
    : QObject(parent),
      activity_(activity),
      priority_(priority),
      executor_(std::move(executor)),
      relay_(this) {}

void EngineJob::start() {
    assertMainThread();
    if (started_) return;
    started_ = true;
    auto relay = relay_.shared();
    // Each report is its own main-thread update, posted through the relay only.
    EngineOperations::Progress progress = [this, relay](const EngineProgress& report) {
        relay->post([this, report] { emit this->progress(report); });
    };
    run(BackgroundWork(executor_, relay_.shared()), priority_, flag_, std::move(progress));
}

void EngineJob::finish() {
    assertMainThread();
    if (finished_) return;
    finished_ = true;
    emit result(this);
}

}  // namespace keldwick
