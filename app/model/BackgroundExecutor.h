#pragma once
// Where the model's long work runs: engine operations, scans, measuring a drive. Work the
// user asked for runs at normal priority; work the user didn't ask for (automatic checks,
// runs and cache clearing) runs at background CPU and I/O priority, so a long move never
// makes the desktop sluggish.

#include <chrono>
#include <functional>
#include <memory>

namespace keldwick {

enum class WorkPriority {
    user,        // started by the user, who is waiting for it
    background,  // started by the program on its own: a raised nice value and the idle I/O class
};

class BackgroundExecutor {
public:
    virtual ~BackgroundExecutor() = default;
    // Runs `work` once on another thread and returns at once. The work must not touch the
    // model; it hands results back through a MainThreadRelay.
    virtual void run(WorkPriority priority, std::function<void()> work) = 0;
};

// Two thread pools kept for the life of the process, one per priority. A thread of the
// background pool lowers its own priority once (nice raised by 10, idle I/O class) and keeps it: an
// unprivileged thread could not raise it again.
class ThreadPoolExecutor final : public BackgroundExecutor {
public:
    void run(WorkPriority priority, std::function<void()> work) override;

    // The one executor of the process; its pools outlive every model, so work still
    // running when a model goes away ends on its own instead of blocking the main thread.
    static std::shared_ptr<ThreadPoolExecutor> shared();

    // Waits up to `limit` in all for the work of both pools and of Qt's global pool to end,
    // then ends their idle threads.
    // True when no thread of theirs is left; false when work still runs at the limit, and
    // the process must then end without running exit-time destructors under it.
    static bool finishWithin(std::chrono::milliseconds limit);

    // Lowers the calling thread's CPU and I/O priority. False when the system refused.
    static bool lowerCurrentThreadPriority();
};

}  // namespace keldwick
