#include "model/FreedMemory.h"

#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <utility>

#include "foundation/BackgroundThread.h"

namespace keldwick {

void releaseFreedMemorySoon() {
    static std::atomic<bool> pending{false};
    if (pending.exchange(true)) return;
    QTimer::singleShot(0, [] {
        QThreadPool::globalInstance()->start([] {
            pending = false;
            BackgroundThread::releaseFreedMemory();
        });
    });
}

void releaseElsewhere(RecordList records) {
    if (records.empty()) return;
    // Trimmed by the same task once the list is gone: a trim running beside the freeing
    // would miss what is freed after it, and that would stay mapped until the next one.
    QThreadPool::globalInstance()->start([records = std::move(records)]() mutable {
        records = RecordList();
        malloc_trim(0);
    });
    releaseFreedMemorySoon();
}

}  // namespace keldwick
