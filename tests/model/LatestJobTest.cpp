// Only the newest of a kind of work answers, however the answers arrive; the one it
// replaces is told to stop; and the executor that runs them stops all at once on quitting.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "model/BackgroundExecutor.h"
#include "model/LatestJob.h"
#include "model/MainThreadRelay.h"
#include "model/ModelFakes.h"

namespace keldwick::test {
namespace {

void settle() {
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
}

TEST(LatestJobTest, OnlyTheNewestRunAnswersAndTheOnesBeforeAreCancelled) {
    // The steps, in order: "run" starts one more, "cancel" cancels, a digit ends that run.
    struct Case {
        std::vector<std::string> steps;
        std::vector<int> answered;  // the runs whose done was called
        bool runningAtEnd;
    };
    const Case cases[] = {
        {{"run", "run", "1", "0"}, {1}, false},          // the newer ends first
        {{"run", "run", "0", "1"}, {1}, false},          // the older ends first
        {{"run", "cancel", "0"}, {}, false},             // cancelled before it ended
        {{"run", "run", "cancel", "1", "0"}, {}, false},  // both dropped
        {{"run", "0", "run", "1"}, {0, 1}, false},       // one after the other: both answer
        {{"run", "run", "0"}, {}, true},                 // the newest still runs
    };
    for (const auto& c : cases) {
        QObject owner;
        OwnedRelay relay(&owner);
        auto held = std::make_shared<HeldExecutor>();
        LatestJob job(BackgroundWork(held, relay.shared()));
        std::vector<int> answered;
        std::vector<LatestJob::Cancel> flags;
        std::vector<size_t> heldIndex;  // run -> its place among the held work
        int started = 0;
        for (const auto& step : c.steps) {
            if (step == "run") {
                const int run = started++;
                job.run<int>(
                    WorkPriority::user,
                    [run, &flags](const LatestJob::Cancel& cancel) {
                        flags.at(static_cast<size_t>(run)) = cancel;
                        return run;
                    },
                    [&answered](EngineOutcome<int> outcome) { answered.push_back(*outcome.value); });
                flags.emplace_back();
                heldIndex.push_back(held->held() - 1);
            } else if (step == "cancel") {
                job.cancel();
            } else {
                const size_t run = static_cast<size_t>(std::stoi(step));
                held->runHeld(heldIndex[run]);
                for (auto& index : heldIndex)
                    if (index > heldIndex[run] && index != SIZE_MAX) --index;
                heldIndex[run] = SIZE_MAX;
                settle();
            }
        }
        std::string steps;
        for (const auto& step : c.steps) steps += step + " ";
        EXPECT_EQ(answered, c.answered) << steps;
        EXPECT_EQ(job.isRunning(), c.runningAtEnd) << steps;
        // Every run that ended and was overtaken or cancelled saw its flag set.
        for (size_t run = 0; run < flags.size(); ++run) {
            if (!flags[run]) continue;
            const bool replaced = std::find(answered.begin(), answered.end(), static_cast<int>(run)) == answered.end();
            EXPECT_EQ(flags[run]->isCancelled(), replaced) << steps << "run " << run;
        }
    }
}

TEST(LatestJobTest, WorkStartedElsewhereAnswersOnlyWhileNewestAndNeverAfterTheJobIsGone) {
    QObject owner;
    OwnedRelay relay(&owner);
    std::vector<std::string> answered;
    std::function<void(EngineOutcome<std::string>)> first, second, orphan;
    {
        LatestJob job(BackgroundWork(std::make_shared<HeldExecutor>(), relay.shared()));
        auto note = [&answered](EngineOutcome<std::string> outcome) { answered.push_back(*outcome.value); };
        first = job.replace<std::string>(note);
        second = job.replace<std::string>(note);
        EngineOutcome<std::string> a, b;
        a.value = "first";
        b.value = "second";
        first(a);
        second(b);
        EXPECT_TRUE(answered == std::vector<std::string>{"second"});
        EXPECT_FALSE(job.isRunning());
        orphan = job.replace<std::string>(note);
    }
    EngineOutcome<std::string> late;
    late.value = "late";
    orphan(late);
    EXPECT_TRUE(answered == std::vector<std::string>{"second"});
}

// Quitting: work not yet started never starts, the running work's flag is set, and
// nothing is taken afterwards.
TEST(ThreadPoolExecutorTest, StoppingCancelsWhatRunsDropsWhatWaitsAndRefusesMore) {
    ThreadPoolExecutor executor;
    std::atomic<int> running{0};
    std::atomic<int> ranAfterStop{0};
    std::vector<std::shared_ptr<CancellationFlag>> flags;
    // Three fill the user pool and watch their flags; a fourth waits for a thread.
    for (int i = 0; i < 4; ++i) {
        auto flag = std::make_shared<CancellationFlag>();
        flags.push_back(flag);
        executor.runCancellable(
            WorkPriority::user,
            [flag, &running, &ranAfterStop, i] {
                if (i == 3) {
                    ++ranAfterStop;
                    return;
                }
                ++running;
                while (!flag->isCancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            },
            flag);
    }
    ASSERT_TRUE(pumpUntil([&] { return running == 3; }));
    executor.stop();
    executor.run(WorkPriority::waiting, [&ranAfterStop] { ++ranAfterStop; });
    EXPECT_TRUE(executor.finishWithin(std::chrono::seconds(10)));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(flags[static_cast<size_t>(i)]->isCancelled());
    EXPECT_EQ(ranAfterStop, 0);
}

TEST(SerialWorkTest, RunsOneAtATimeInTheOrderGiven) {
    ThreadPoolExecutor executor;
    SerialWork serial(std::shared_ptr<BackgroundExecutor>(&executor, [](BackgroundExecutor*) {}),
                      WorkPriority::waiting);
    std::mutex lock;
    std::vector<int> order;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < 50; ++i) {
        serial.run([&, i] {
            if (++inside > 1) overlapped = true;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            {
                std::lock_guard guard(lock);
                order.push_back(i);
            }
            --inside;
        });
    }
    ASSERT_TRUE(executor.finishWithin(std::chrono::seconds(10)));
    ASSERT_EQ(order.size(), 50u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_FALSE(overlapped);
}

}  // namespace
}  // namespace keldwick::test
