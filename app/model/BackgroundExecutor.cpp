#include "model/BackgroundExecutor.h"

#include <QDeadlineTimer>
#include <QThreadPool>

#include "foundation/BackgroundThread.h"

namespace keldwick {

namespace {

QThreadPool& pool(WorkPriority priority) {
    // Never destroyed: a pool's destructor waits for its work, and work may outlive
    // everything else at exit (the journal makes a cut-short move safe).
    static QThreadPool* user = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(3);
        return p;
    }();
    static QThreadPool* background = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(2);
        return p;
    }();
    return priority == WorkPriority::user ? *user : *background;
}

}  // namespace

bool ThreadPoolExecutor::lowerCurrentThreadPriority() { return BackgroundThread::lowerPriority(); }

void ThreadPoolExecutor::run(WorkPriority priority, std::function<void()> work) {
    if (priority == WorkPriority::user) {
        pool(priority).start(std::move(work));
        return;
    }
    pool(priority).start([work = std::move(work)] {
        thread_local bool lowered = false;
        if (!lowered) {
            lowerCurrentThreadPriority();
            lowered = true;
        }
        work();
    });
}

bool ThreadPoolExecutor::finishWithin(std::chrono::milliseconds limit) {
    const QDeadlineTimer deadline(limit);
    auto finished = [&deadline](QThreadPool& p) { return p.waitForDone(static_cast<int>(deadline.remainingTime())); };
    // Each is waited for even when an earlier one is not done: the later ones' threads end too.
    const bool user = finished(pool(WorkPriority::user));
    const bool background = finished(pool(WorkPriority::background));
    const bool shared = finished(*QThreadPool::globalInstance());  // Qt's own concurrent work
    return user && background && shared;
}

std::shared_ptr<ThreadPoolExecutor> ThreadPoolExecutor::shared() {
    static auto executor = std::make_shared<ThreadPoolExecutor>();
    return executor;
}

}  // namespace keldwick
