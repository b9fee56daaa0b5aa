#include "foundation/TaskPool.h"

#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

namespace keldwick {

TaskPool::TaskPool(int threads, Handler handler) : handler_(std::move(handler)) {
    if (threads < 1) throw std::invalid_argument("A task pool needs at least one thread");
    for (int i = 0; i < threads; ++i) workers_.push_back(std::make_unique<Worker>());
}

TaskPool::~TaskPool() = default;

void TaskPool::push(int worker, const Task& task) {
    // Counted before any worker can see it, so none finds the pool empty meanwhile.
    outstanding_.fetch_add(1);
    try {
        std::lock_guard guard(workers_[worker]->lock);
        workers_[worker]->tasks.push_back(task);
    } catch (...) {
        outstanding_.fetch_sub(1);
        throw;
    }
    queued_.fetch_add(1);
    // A sleeper counted itself before it checked for work, so either it sees this task
    // or it is waiting and gets the notice.
    if (sleepers_.load() > 0) {
        std::lock_guard guard(idleLock_);
        idle_.notify_one();
    }
}

bool TaskPool::take(int worker, Task& task) {
    // Its own newest task first, else the oldest of another worker.
    const int count = threads();
    for (int step = 0; step < count; ++step) {
        Worker& from = *workers_[(worker + step) % count];
        std::lock_guard guard(from.lock);
        if (from.tasks.empty()) continue;
        if (step == 0) {
            task = from.tasks.back();
            from.tasks.pop_back();
        } else {
            task = from.tasks.front();
            from.tasks.pop_front();
        }
        queued_.fetch_sub(1);
        return true;
    }
    return false;
}

void TaskPool::work(int worker) {
    for (;;) {
        Task task;
        if (take(worker, task)) {
            try {
                handler_(task, worker);
            } catch (...) {
                std::lock_guard guard(errorLock_);
                if (!error_) error_ = std::current_exception();
            }
            if (outstanding_.fetch_sub(1) == 1) {
                std::lock_guard guard(idleLock_);
                idle_.notify_all();
            }
            continue;
        }
        if (outstanding_.load() == 0) return;
        std::unique_lock guard(idleLock_);
        sleepers_.fetch_add(1);
        idle_.wait(guard, [&] { return queued_.load() > 0 || outstanding_.load() == 0; });
        sleepers_.fetch_sub(1);
    }
}

void TaskPool::run(const Around& aroundHelper) {
    std::vector<std::thread> helpers;
    helpers.reserve(workers_.size() - 1);
    for (int worker = 1; worker < threads(); ++worker) {
        try {
            helpers.emplace_back([this, worker, &aroundHelper] {
                if (aroundHelper)
                    aroundHelper([this, worker] { work(worker); });
                else
                    work(worker);
            });
        } catch (const std::system_error&) {
            break;  // no more threads to be had: the workers running take every task all the same
        }
    }
    work(0);
    for (auto& helper : helpers) helper.join();
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

}  // namespace keldwick
