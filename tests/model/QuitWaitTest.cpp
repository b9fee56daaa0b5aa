// Quitting with work in flight ends by the one deadline: work that watches its flag stops
// at once, work that can't (a drive slow to answer) is left at the deadline, and the
// process then ends with the journal's lock held, or says it could not have it.

#include <gtest/gtest.h>

#include <QObject>
#include <atomic>
#include <chrono>
#include <thread>

#include "model/LatestJob.h"
#include "model/MainThreadRelay.h"
#include "model/ModelFakes.h"
#include "model/QuitWait.h"
#include "support/ManualClock.h"

namespace keldwick::test {
namespace {

using namespace std::chrono;

bool lockedElsewhere(Journal& journal) {
    bool locked = false;
    std::thread([&] {
        locked = !journal.lock().try_lock();
        if (!locked) journal.lock().unlock();
    }).join();
    return locked;
}

TEST(QuitWaitTest, QuittingWithABackgroundListingAndADriveListingInFlightEndsByTheDeadline) {
    struct Case {
        const char* what;
        milliseconds driveAnswersAfter;  // the drive listing ignores its flag this long
        bool journalBusy;                // another thread holds the journal past the deadline
        bool finished;
    };
    const milliseconds deadline(600);
    const Case cases[] = {
        {"the drive answers before the deadline", milliseconds(150), false, true},
        {"the drive is stuck: left at the deadline, the journal held", milliseconds(3000), false, false},
        {"stuck, and the journal is mid-write past the grace", milliseconds(3000), true, false},
    };
    for (const auto& c : cases) {
        auto executor = std::make_shared<ThreadPoolExecutor>();
        auto journal = Journal::inMemory(std::make_shared<ManualClock>());
        QObject owner;
        OwnedRelay relay(&owner);
        BackgroundWork work(executor, relay.shared());
        // The model's listing of every record: long, but it watches its flag.
        LatestJob background(work);
        std::atomic<bool> backgroundStarted{false}, backgroundStopped{false};
        background.run<int>(
            WorkPriority::background,
            [&](const LatestJob::Cancel& cancel) {
                backgroundStarted = true;
                while (!cancel->isCancelled()) std::this_thread::sleep_for(milliseconds(1));
                backgroundStopped = true;
                return 0;
            },
            nullptr);
        // A listing of the drive: blocked in the device, it can't look at its flag.
        LatestJob drive(work);
        std::atomic<bool> release{false};
        drive.run<int>(
            WorkPriority::waiting,
            [&, answersAfter = c.driveAnswersAfter](const LatestJob::Cancel&) {
                const auto until = steady_clock::now() + answersAfter;
                while (!release && steady_clock::now() < until) std::this_thread::sleep_for(milliseconds(1));
                return 0;
            },
            nullptr);
        ASSERT_TRUE(pumpUntil([&] { return backgroundStarted.load(); }));
        std::optional<JournalHold> hold;
        if (c.journalBusy) hold.emplace(*journal);

        const auto start = steady_clock::now();
        QuitWait wait = finishForQuit(*executor, start + deadline, journal, milliseconds(200));
        const auto took = steady_clock::now() - start;

        EXPECT_EQ(wait.finished, c.finished) << c.what;
        EXPECT_TRUE(backgroundStopped) << c.what;
        // Within the deadline; past it only by the journal's grace, where it is waited for.
        if (c.finished) {
            EXPECT_LT(took, deadline) << c.what;
        } else {
            EXPECT_GE(took, deadline) << c.what;
            EXPECT_LT(took, deadline + milliseconds(200) + milliseconds(400)) << c.what;
        }
        const bool held = !c.finished && !c.journalBusy;
        EXPECT_EQ(wait.journal.owns_lock(), held) << c.what;
        if (held) {
            EXPECT_TRUE(lockedElsewhere(*journal)) << c.what;
        }

        wait.journal = {};
        hold.reset();
        release = true;
        ASSERT_TRUE(executor->finishWithin(seconds(10)));
    }
}

}  // namespace
}  // namespace keldwick::test
