#pragma once
// The program's one way off the main thread: every piece of background work (engine
// operations, scans, measuring a drive, listings of the drive, disk probes, the desktop's
// tools) runs on the executor's pools. Work the user asked for runs at normal priority;
// work the user didn't ask for (automatic checks, runs and cache clearing) runs at
// background CPU and I/O priority, so a long move never makes the desktop sluggish; work
// that waits on a device or another program has threads of its own, so a drive slow to
// answer holds up nothing else. Quitting stops the executor: queued work is dropped, work
// that carries a cancel flag is told to stop, and the program waits for the rest.

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "foundation/CancellationFlag.h"

class QThreadPool;

namespace keldwick {

enum class WorkPriority {
    user,        // started by the user, who is waiting for it
    background,  // started by the program on its own: a raised nice value and the idle I/O class
    waiting,     // waits on a device or another program: a listing of the drive, a disk's probe, a desktop tool
};

class BackgroundExecutor {
public:
    virtual ~BackgroundExecutor() = default;
    // Runs `work` once on another thread and returns at once. The work must not touch the
    // model; it hands results back through a MainThreadRelay.
    virtual void run(WorkPriority priority, std::function<void()> work) = 0;
    // As run(), for work that watches `cancel`: stopping the executor sets it.
    virtual void runCancellable(WorkPriority priority, std::function<void()> work,
                                std::shared_ptr<CancellationFlag> cancel) {
        (void)cancel;
        run(priority, std::move(work));
    }
};

// Thread pools, one per priority. A thread of the background pool lowers its own priority
// once (nice raised by 10, idle I/O class) and keeps it: an unprivileged thread could not
// raise it again.
class ThreadPoolExecutor final : public BackgroundExecutor {
public:
    ThreadPoolExecutor();
    // Stops, then waits for the work still running.
    ~ThreadPoolExecutor() override;
    ThreadPoolExecutor(const ThreadPoolExecutor&) = delete;
    ThreadPoolExecutor& operator=(const ThreadPoolExecutor&) = delete;

    // After stop(), work is refused: it is dropped unrun.
    void run(WorkPriority priority, std::function<void()> work) override;
    void runCancellable(WorkPriority priority, std::function<void()> work,
                        std::shared_ptr<CancellationFlag> cancel) override;

    // The one executor of the process, never destroyed: its pools outlive every model, so
    // work still running when a model goes away ends on its own instead of blocking the
    // main thread.
    static std::shared_ptr<ThreadPoolExecutor> shared();

    // Quitting: work not yet started is dropped, the cancel flag of all work running is
    // set, and later work is refused.
    void stop();
    // Waits up to `limit` in all for the work of every pool to end, then ends their idle
    // threads. True when no thread of theirs is left; false when work still runs at the
    // limit, and the process must then end without running exit-time destructors under it.
    // Without stop() the pools take work again afterwards.
    bool finishWithin(std::chrono::milliseconds limit);

    // Lowers the calling thread's CPU and I/O priority. False when the system refused.
    static bool lowerCurrentThreadPriority();

private:
    struct Tracked;
    QThreadPool& pool(WorkPriority priority);

    QThreadPool* user_;
    QThreadPool* background_;
    QThreadPool* waiting_;
    std::mutex lock_;
    bool stopped_ = false;
    std::multiset<std::shared_ptr<CancellationFlag>> running_;  // the flags of work queued or running
};

// Work of one owner that must run one piece at a time, in the order given (a watcher whose
// readings must arrive in the order they were asked for), on an executor's threads. What
// is queued runs even once the owner is gone: it must hold nothing of the owner but a relay.
class SerialWork {
public:
    SerialWork(std::shared_ptr<BackgroundExecutor> executor, WorkPriority priority);

    // Any thread.
    void run(std::function<void()> work);

private:
    struct Queue {
        std::mutex lock;
        std::deque<std::function<void()>> work;
        bool draining = false;
    };
    static void drain(const std::shared_ptr<Queue>& queue);

    std::shared_ptr<BackgroundExecutor> executor_;
    WorkPriority priority_;
    std::shared_ptr<Queue> queue_ = std::make_shared<Queue>();
};

}  // namespace keldwick
