#include "model/FreedMemory.h"

#include <QTimer>

#include <atomic>
#include <utility>

#include "foundation/BackgroundThread.h"
#include "model/BackgroundExecutor.h"

namespace keldwick {

void releaseFreedMemorySoon() {
    static std::atomic<bool> pending{false};
    if (pending.exchange(true)) return;
    QTimer::singleShot(0, [] {
        ThreadPoolExecutor::shared()->run(WorkPriority::background, [] {
            pending = false;
            BackgroundThread::releaseFreedMemory();
        });
    });
}

void releaseElsewhere(RecordList records) {
    if (records.empty()) return;
    // Trimmed by the same task once the list is gone: a trim running beside the freeing
    // would miss what is freed after it, and that would stay mapped until the next one.
    ThreadPoolExecutor::shared()->run(WorkPriority::background, [records = std::move(records)]() mutable {
        records = RecordList();
        BackgroundThread::releaseFreedMemory();
    });
    releaseFreedMemorySoon();
}

}  // namespace keldwick
