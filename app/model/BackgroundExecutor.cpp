#include "model/BackgroundExecutor.h"

#include <QDeadlineTimer>
#include <QThreadPool>
#include <algorithm>

#include "foundation/BackgroundThread.h"

namespace keldwick {

namespace {

QThreadPool* makePool(int threads) {
    auto* pool = new QThreadPool;
    pool->setMaxThreadCount(threads);
    return pool;
}

}  // namespace

// Keeps a piece of work's cancel flag known to the executor for as long as the work is
// queued or running: dropped unrun or ended, the flag is forgotten with it.
struct ThreadPoolExecutor::Tracked {
    Tracked(ThreadPoolExecutor& executor, std::shared_ptr<CancellationFlag> flag)
        : executor(executor), flag(std::move(flag)) {}
    ~Tracked() {
        std::lock_guard guard(executor.lock_);
        executor.running_.erase(executor.running_.find(flag));
    }
    Tracked(const Tracked&) = delete;
    Tracked& operator=(const Tracked&) = delete;

    ThreadPoolExecutor& executor;
    std::shared_ptr<CancellationFlag> flag;
};

ThreadPoolExecutor::ThreadPoolExecutor() : user_(makePool(3)), background_(makePool(2)), waiting_(makePool(4)) {}

ThreadPoolExecutor::~ThreadPoolExecutor() {
    stop();
    for (QThreadPool* pool : {user_, background_, waiting_}) delete pool;  // each waits for its work
}

QThreadPool& ThreadPoolExecutor::pool(WorkPriority priority) {
    switch (priority) {
        case WorkPriority::user:
            return *user_;
        case WorkPriority::background:
            return *background_;
        case WorkPriority::waiting:
            break;
    }
    return *waiting_;
}

bool ThreadPoolExecutor::lowerCurrentThreadPriority() { return BackgroundThread::lowerPriority(); }

void ThreadPoolExecutor::run(WorkPriority priority, std::function<void()> work) {
    runCancellable(priority, std::move(work), nullptr);
}

void ThreadPoolExecutor::runCancellable(WorkPriority priority, std::function<void()> work,
                                        std::shared_ptr<CancellationFlag> cancel) {
    std::shared_ptr<Tracked> tracked;
    {
        std::lock_guard guard(lock_);
        // Quitting: nothing new starts, and what it would have handed back has no one to go to.
        if (stopped_) return;
        if (cancel) {
            running_.insert(cancel);
            tracked = std::make_shared<Tracked>(*this, std::move(cancel));
        }
    }
    const bool lower = priority == WorkPriority::background;
    pool(priority).start([work = std::move(work), tracked = std::move(tracked), lower] {
        if (lower) {
            thread_local bool lowered = false;
            if (!lowered) {
                lowerCurrentThreadPriority();
                lowered = true;
            }
        }
        work();
    });
}

void ThreadPoolExecutor::stop() {
    {
        std::lock_guard guard(lock_);
        stopped_ = true;
        for (const auto& flag : running_) flag->cancel();
    }
    // Outside the lock: the dropped work's flags leave the set as it goes.
    for (QThreadPool* pool : {user_, background_, waiting_}) pool->clear();
}

bool ThreadPoolExecutor::finishWithin(std::chrono::milliseconds limit) {
    const QDeadlineTimer deadline(limit);
    // Each is waited for even when an earlier one is not done: the later ones' threads end too.
    bool finished = true;
    for (QThreadPool* pool : {user_, background_, waiting_})
        finished = pool->waitForDone(static_cast<int>(std::max<qint64>(0, deadline.remainingTime()))) && finished;
    return finished;
}

std::shared_ptr<ThreadPoolExecutor> ThreadPoolExecutor::shared() {
    // Never destroyed: its destructor waits for its work, and work may outlive everything
    // else at exit (the journal makes a cut-short move safe).
    static auto* executor = new std::shared_ptr<ThreadPoolExecutor>(std::make_shared<ThreadPoolExecutor>());
    return *executor;
}

SerialWork::SerialWork(std::shared_ptr<BackgroundExecutor> executor, WorkPriority priority)
    : executor_(std::move(executor)), priority_(priority) {}

void SerialWork::run(std::function<void()> work) {
    {
        std::lock_guard guard(queue_->lock);
        queue_->work.push_back(std::move(work));
        if (queue_->draining) return;
        queue_->draining = true;
    }
    executor_->run(priority_, [queue = queue_] { drain(queue); });
}

void SerialWork::drain(const std::shared_ptr<Queue>& queue) {
    for (;;) {
        std::function<void()> next;
        {
            std::lock_guard guard(queue->lock);
            if (queue->work.empty()) {
                queue->draining = false;
                return;
            }
            next = std::move(queue->work.front());
            queue->work.pop_front();
        }
        next();
    }
}

}  // namespace keldwick
