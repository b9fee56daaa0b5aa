#include "model/EngineJob.h"

#include <QTimer>

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
    // The work keeps only its newest report; one delivery at a time is on its way to the
    // main thread, through the relay only.
    EngineOperations::Progress progress = [this, relay, pending = pending_](const EngineProgress& report) {
        {
            std::lock_guard<std::mutex> lock(pending->mutex);
            pending->report = report;
            if (pending->posted) return;
            pending->posted = true;
        }
        relay->post([this] { deliverProgress(); });
    };
    run(BackgroundWork(executor_, relay_.shared()), priority_, flag_, std::move(progress));
}

void EngineJob::deliverProgress() {
    if (finished_) return;
    // A copy reports every few milliseconds: the main thread hears at most ten reports a
    // second, so the windows that follow it stay usable.
    const auto now = std::chrono::steady_clock::now();
    if (lastDelivery_ && now - *lastDelivery_ < progressInterval) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(progressInterval - (now - *lastDelivery_));
        QTimer::singleShot(wait, this, [this] { deliverProgress(); });
        return;
    }
    std::optional<EngineProgress> report;
    {
        std::lock_guard<std::mutex> lock(pending_->mutex);
        report = std::move(pending_->report);
        pending_->report.reset();
        pending_->posted = false;
    }
    lastDelivery_ = now;
    if (report) emit progress(*report);
}

void EngineJob::finish() {
    assertMainThread();
    if (finished_) return;
    finished_ = true;
    emit result(this);
}

}  // namespace keldwick
