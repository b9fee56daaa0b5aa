#include "model/BackgroundExecutor.h"

#include <QDeadlineTimer>
#include <QThreadPool>
#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace keldwick {

namespace {

// linux/ioprio.h is not in every libc's headers; the values are the kernel's ABI.
constexpr int ioprioWhoProcess = 1;
constexpr int ioprioClassIdle = 3;
constexpr int ioprioClassShift = 13;
constexpr int backgroundNice = 10;
constexpr int maximumNice = 19;

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

bool ThreadPoolExecutor::lowerCurrentThreadPriority() {
    const pid_t thread = static_cast<pid_t>(syscall(SYS_gettid));
    // On Linux nice and the I/O class belong to the thread named by its id. The nice value
    // only ever goes up from where it is, so a program started niced stays below it.
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    const int raised = std::min(current + backgroundNice, maximumNice);
    const bool niced = (errno == 0 && raised <= current) ||
                       setpriority(PRIO_PROCESS, static_cast<id_t>(thread), raised) == 0;
    const bool idle =
        syscall(SYS_ioprio_set, ioprioWhoProcess, thread, ioprioClassIdle << ioprioClassShift) == 0;
    return niced && idle;
}

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
