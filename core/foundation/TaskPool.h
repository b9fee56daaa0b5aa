#pragma once
// The core's one pool of worker threads: for a walk that splits into many small tasks (one
// per folder) and for recovery's repairs of different places side by side. Each worker
// runs its own newest task first, so a walk goes depth first and holds little open; an
// idle worker takes the oldest task of another, the largest piece of work left. Tasks may
// queue further tasks. run() returns once no task is queued or running.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace keldwick {

class TaskPool {
public:
    // What a task names; the handler gives it meaning.
    struct Task {
        void* item = nullptr;
        uint32_t index = 0;
        uint32_t slot = 0;
        int kind = 0;
    };
    // Runs one task on worker `worker` (0 is the thread that called run()).
    using Handler = std::function<void(const Task& task, int worker)>;

    // `threads` workers in all, the caller of run() among them; at least 1.
    TaskPool(int threads, Handler handler);
    ~TaskPool();
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    int threads() const { return static_cast<int>(workers_.size()); }

    // Queues a task on `worker`'s own queue; from a task, pass the worker it runs on.
    void push(int worker, const Task& task);

    // Runs the queued tasks, and those they queue, on the caller and threads() - 1 more
    // threads, and returns when none is left. A handler's exception doesn't stop the
    // others; the first one is rethrown here once all have ended. Each added thread runs
    // its part inside `aroundHelper` when given (to hold what a thread must hold while it
    // works, such as a place in a shared journal transaction), which must call its argument.
    using Around = std::function<void(const std::function<void()>& work)>;
    void run(const Around& aroundHelper = nullptr);

private:
    struct alignas(64) Worker {
        std::mutex lock;
        std::deque<Task> tasks;
    };

    bool take(int worker, Task& task);
    void work(int worker);

    Handler handler_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::atomic<int64_t> queued_{0};       // tasks waiting in some queue
    std::atomic<int64_t> outstanding_{0};  // tasks queued or running
    std::atomic<int> sleepers_{0};
    std::mutex idleLock_;
    std::condition_variable idle_;
    std::mutex errorLock_;
    std::exception_ptr error_;
};

}  // namespace keldwick
