// An engine job starts once, reports progress in order, ends in exactly one result, stops
// its work when cancelled, and says nothing once it is gone.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPointer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "model/EngineJob.h"
#include "model/ModelFakes.h"

namespace keldwick::test {
namespace {

using Job = EngineJobFor<int>;

Job* makeJob(Job::Work work) {
    return new Job(Activity::moving, WorkPriority::user, ThreadPoolExecutor::shared(), std::move(work));
}

TEST(EngineJobTest, StartsOnceAndEndsInOneResultWithItsProgressInOrder) {
    std::atomic<int> runs{0};
    std::unique_ptr<Job> job(makeJob([&](const EngineOperations::Cancel&, const EngineOperations::Progress& report) {
        ++runs;
        for (int64_t i = 0; i < 50; ++i) report(EngineProgress{"item", i, 50, 0, 0});
        return 7;
    }));
    std::vector<int64_t> seen;
    int results = 0;
    QObject::connect(job.get(), &EngineJob::progress, [&](const EngineProgress& p) { seen.push_back(p.itemIndex); });
    QObject::connect(job.get(), &EngineJob::result, [&](EngineJob* ended) {
        ++results;
        EXPECT_EQ(ended, job.get());
        EXPECT_FALSE(seen.empty());  // the reports that come, come before the result
    });
    job->start();
    job->start();
    ASSERT_TRUE(pumpUntil([&] { return results > 0; }));
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(results, 1);
    EXPECT_TRUE(job->isFinished());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    ASSERT_TRUE(job->outcome().succeeded());
    EXPECT_EQ(*job->outcome().value, 7);
}

TEST(EngineJobTest, ProgressReachesTheMainThreadAtMostTenTimesASecondAndTheNewestLast) {
    using Clock = std::chrono::steady_clock;
    std::unique_ptr<Job> job(makeJob([&](const EngineOperations::Cancel&, const EngineOperations::Progress& report) {
        // A chunk every 2 ms for 0.6 s, then a pause before the end.
        const auto start = Clock::now();
        int64_t i = 0;
        while (Clock::now() - start < std::chrono::milliseconds(600)) {
            report(EngineProgress{"big.iso", 0, 1, ++i, 1'000'000});
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        report(EngineProgress{"big.iso", 0, 1, 1'000'000, 1'000'000});
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        return 0;
    }));
    std::vector<Clock::time_point> arrivals;
    std::vector<int64_t> done;
    bool ended = false;
    QObject::connect(job.get(), &EngineJob::progress, [&](const EngineProgress& p) {
        arrivals.push_back(Clock::now());
        done.push_back(p.itemBytesDone);
    });
    QObject::connect(job.get(), &EngineJob::result, [&] { ended = true; });
    job->start();
    ASSERT_TRUE(pumpUntil([&] { return ended; }));
    ASSERT_GE(arrivals.size(), 3u);
    EXPECT_LE(arrivals.size(), 9u);
    for (size_t i = 1; i < arrivals.size(); ++i) EXPECT_GE(arrivals[i] - arrivals[i - 1], std::chrono::milliseconds(99));
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
    EXPECT_EQ(done.back(), 1'000'000);
}

TEST(EngineJobTest, CancelStopsTheWorkAndAnErrorIsTheResult) {
    std::unique_ptr<Job> job(makeJob([](const EngineOperations::Cancel& cancel, const EngineOperations::Progress&) -> int {
        while (!cancel->isCancelled()) std::this_thread::yield();
        throw std::runtime_error("Stopped.");
    }));
    bool ended = false;
    QObject::connect(job.get(), &EngineJob::result, [&] { ended = true; });
    job->start();
    EXPECT_FALSE(job->isCancelled());
    job->cancel();
    ASSERT_TRUE(pumpUntil([&] { return ended; }));
    EXPECT_TRUE(job->isCancelled());
    EXPECT_FALSE(job->outcome().succeeded());
    EXPECT_EQ(job->outcome().errorText(), "Stopped.");
}

TEST(EngineJobTest, AJobDeletedWhileItsWorkRunsHearsNothingMore) {
    std::mutex gate;
    gate.lock();
    std::atomic<bool> workEnded{false};
    bool heard = false;
    auto* job = makeJob([&](const EngineOperations::Cancel&, const EngineOperations::Progress& report) {
        std::lock_guard wait(gate);
        report(EngineProgress{"late", 0, 1, 0, 0});
        workEnded = true;
        return 1;
    });
    QObject::connect(job, &EngineJob::progress, [&] { heard = true; });
    QObject::connect(job, &EngineJob::result, [&] { heard = true; });
    job->start();
    delete job;
    gate.unlock();
    ASSERT_TRUE(pumpUntil([&] { return workEnded.load(); }));
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_FALSE(heard);
}

}  // namespace
}  // namespace keldwick::test
