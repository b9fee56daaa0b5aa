#include "model/MainThreadRelay.h"

#include <QMetaObject>

namespace keldwick {

void MainThreadRelay::post(std::function<void()> call) {
    std::lock_guard guard(lock_);
    // Under the lock the target can't be closed and deleted meanwhile; a queued call whose
    // target is deleted before it runs is discarded by Qt.
    if (target_) QMetaObject::invokeMethod(target_, std::move(call), Qt::QueuedConnection);
}

void MainThreadRelay::close() {
    std::lock_guard guard(lock_);
    target_ = nullptr;
}

}  // namespace keldwick
