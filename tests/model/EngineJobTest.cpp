// An engine job starts once, reports progress in order, ends in exactly one result, stops
// its work when cancelled, and says nothing once it is gone.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPointer>
#include <atomic>
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
        EXPECT_EQ(seen.size(), 50u);  // every report comes before the result
    });
    job->start();
    job->start();
    ASSERT_TRUE(pumpUntil([&] { return results > 0; }));
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(results, 1);
    EXPECT_TRUE(job->isFinished());
    for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], static_cast<int64_t>(i));
    ASSERT_TRUE(job->outcome().succeeded());
    EXPECT_EQ(*job->outcome().value, 7);
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
