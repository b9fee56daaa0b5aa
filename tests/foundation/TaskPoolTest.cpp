#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <vector>

#include "foundation/TaskPool.h"

using namespace keldwick;

namespace {

// Each task of a tree of the given depth queues its two children; every task must run
// exactly once, however many threads share them, and run() returns only after the last.
TEST(TaskPoolTest, EveryQueuedTaskRunsOnceOnAnyNumberOfThreads) {
    struct Case {
        int threads;
        int depth;
        int failAt;  // the task that throws, or -1
    };
    const Case cases[] = {{1, 10, -1}, {2, 12, -1}, {8, 13, -1}, {1, 8, 5}, {8, 12, 777}};
    for (const auto& c : cases) {
        const uint32_t count = (1u << (c.depth + 1)) - 1;
        std::vector<std::atomic<int>> runs(count);
        std::unique_ptr<TaskPool> pool;
        pool = std::make_unique<TaskPool>(c.threads, [&](const TaskPool::Task& task, int worker) {
            EXPECT_GE(worker, 0);
            EXPECT_LT(worker, c.threads);
            runs[task.index].fetch_add(1);
            for (uint32_t child : {2 * task.index + 1, 2 * task.index + 2}) {
                if (child < count) pool->push(worker, {nullptr, child, 0, 0});
            }
            if (static_cast<int>(task.index) == c.failAt) throw std::runtime_error("task failed");
        });
        pool->push(0, {nullptr, 0, 0, 0});
        if (c.failAt >= 0) {
            EXPECT_THROW(pool->run(), std::runtime_error) << c.threads << " threads";
        } else {
            pool->run();
        }
        int wrong = 0;
        for (auto& each : runs) wrong += each.load() == 1 ? 0 : 1;
        EXPECT_EQ(wrong, 0) << c.threads << " threads, depth " << c.depth;
    }
    EXPECT_THROW(TaskPool(0, [](const TaskPool::Task&, int) {}), std::invalid_argument);
}

// Each added thread works inside the wrapper (recovery's threads join the journal's
// shared transaction there); the caller's thread doesn't, and every task still runs once.
TEST(TaskPoolTest, AddedThreadsWorkInsideTheWrapper) {
    constexpr int kTasks = 64;
    std::atomic<int> wrapped{0};
    std::atomic<int> ran{0};
    std::atomic<int> outside{0};
    thread_local bool inside = false;
    TaskPool pool(4, [&](const TaskPool::Task&, int worker) {
        ++ran;
        if (worker != 0 && !inside) ++outside;
    });
    for (int i = 0; i < kTasks; ++i) pool.push(0, TaskPool::Task{nullptr, static_cast<uint32_t>(i), 0, 0});
    pool.run([&](const std::function<void()>& work) {
        ++wrapped;
        inside = true;
        work();
        inside = false;
    });
    EXPECT_EQ(ran.load(), kTasks);
    EXPECT_EQ(outside.load(), 0);
    EXPECT_LE(wrapped.load(), 3);
}

}  // namespace
