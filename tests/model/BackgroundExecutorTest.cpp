// Work the user didn't ask for runs at background CPU and I/O priority; the user's own
// work does not; and results handed to a model that is gone are dropped.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "model/BackgroundExecutor.h"
#include "model/MainThreadRelay.h"
#include "model/ModelFakes.h"

namespace keldwick::test {
namespace {

struct Priority {
    int nice = 0;
    int ioClass = 0;
};

Priority currentThreadPriority() {
    const pid_t thread = static_cast<pid_t>(syscall(SYS_gettid));
    errno = 0;
    Priority p;
    p.nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    const long io = syscall(SYS_ioprio_get, 1 /* IOPRIO_WHO_PROCESS */, thread);
    p.ioClass = io < 0 ? -1 : static_cast<int>(io >> 13);
    return p;
}

TEST(BackgroundExecutorTest, OnlyWorkTheUserDidNotAskForRunsAtBackgroundPriority) {
    const int processNice = getpriority(PRIO_PROCESS, 0);
    struct Case {
        WorkPriority priority;
        bool lowered;
    };
    for (const auto& c : {Case{WorkPriority::background, true}, Case{WorkPriority::user, false},
                          Case{WorkPriority::background, true}}) {
        std::atomic<bool> done{false};
        Priority seen;
        ThreadPoolExecutor::shared()->run(c.priority, [&] {
            seen = currentThreadPriority();
            done = true;
        });
        ASSERT_TRUE(pumpUntil([&] { return done.load(); }));
        if (c.lowered) {
            EXPECT_GE(seen.nice, std::min(processNice + 10, 19));
            EXPECT_EQ(seen.ioClass, 3);  // idle
        } else {
            EXPECT_EQ(seen.nice, processNice);
            EXPECT_NE(seen.ioClass, 3);
        }
    }
}

// At exit the program waits a moment for its workers and leaves at once when one still
// runs: the answer must say so, whichever pool the work is on, and the pools must take
// work again after a wait that found them idle.
TEST(BackgroundExecutorTest, FinishingSaysWhetherWorkStillRuns) {
    for (const WorkPriority priority : {WorkPriority::user, WorkPriority::background}) {
        std::atomic<bool> release{false}, started{false}, ended{false};
        ThreadPoolExecutor::shared()->run(priority, [&] {
            started = true;
            while (!release) usleep(1000);
            ended = true;
        });
        ASSERT_TRUE(pumpUntil([&] { return started.load(); }));
        EXPECT_FALSE(ThreadPoolExecutor::shared()->finishWithin(std::chrono::milliseconds(30)));
        EXPECT_FALSE(ended);
        release = true;
        EXPECT_TRUE(ThreadPoolExecutor::shared()->finishWithin(std::chrono::seconds(10)));
        EXPECT_TRUE(ended);

        std::atomic<bool> again{false};
        ThreadPoolExecutor::shared()->run(priority, [&] { again = true; });
        ASSERT_TRUE(pumpUntil([&] { return again.load(); }));
    }
}

TEST(MainThreadRelayTest, HandsOverInOrderUntilClosed) {
    QObject target;
    auto relay = std::make_shared<MainThreadRelay>(&target);
    std::vector<int> seen;
    std::atomic<bool> posted{false};
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) relay->post([&seen, i] { seen.push_back(i); });
        posted = true;
    });
    worker.join();
    ASSERT_TRUE(pumpUntil([&] { return seen.size() == 100; }));
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    relay->close();
    relay->post([&seen] { seen.push_back(-1); });
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(seen.size(), 100u);
}

}  // namespace
}  // namespace keldwick::test
