#include "model/FreedMemory.h"

#include "model/BackgroundExecutor.h"

#include <QTimer>
#include <malloc.h>

#include <atomic>
#include <utility>

namespace keldwick {

void releaseFreedMemorySoon() {
    static std::atomic<bool> pending{false};
    if (pending.exchange(true)) return;
    QTimer::singleShot(0, [] {
        ThreadPoolExecutor::shared()->run(WorkPriority::background, [] {
            pending = false;
            malloc_trim(0);
        });
    });
}

void releaseElsewhere(RecordList records) {
    if (records.empty()) return;
    ThreadPoolExecutor::shared()->run(WorkPriority::background,
                                      [records = std::move(records)]() mutable { records = RecordList(); });
    releaseFreedMemorySoon();
}

}  // namespace keldwick
