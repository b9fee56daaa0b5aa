// A transaction shared by the threads of one pass: their work lands in its one commit
// (or goes with its rollback), a member's own failed transaction takes back only its own
// changes, and a thread outside the share waits and never writes into it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Clock.h"
#include "foundation/Journal.h"

namespace keldwick {
namespace {

// Runs work(thread) on `count` threads that join the share.
void onMembers(Journal::Share& share, int count, const std::function<void(int)>& work) {
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t)
        threads.emplace_back([&, t] {
            Journal::Share::Member member(share);
            work(t);
        });
    for (auto& thread : threads) thread.join();
}

TEST(JournalShareTest, MembersWorkLandsInTheOneCommitOrGoesWithItsRollback) {
    for (bool commit : {true, false}) {
        SCOPED_TRACE(commit ? "commit" : "rollback");
        auto journal = Journal::inMemory(Clock::system());
        std::set<std::string> expected;
        {
            Journal::Transaction transaction(*journal);
            {
                Journal::Share share(*journal);
                onMembers(share, 4, [&](int t) {
                    for (int i = 0; i < 40; ++i) {
                        const std::string path = "/h/" + std::to_string(t) + "-" + std::to_string(i);
                        // Every third is a member's own transaction that fails: only it goes.
                        try {
                            journal->transaction([&] {
                                journal->pin(path);
                                if (i % 3 == 0) throw std::runtime_error("refused");
                            });
                        } catch (const std::runtime_error&) {
                        }
                    }
                });
                journal->pin("/h/creator");
            }
            if (commit) transaction.commit();
        }
        if (commit) {
            expected.insert("/h/creator");
            for (int t = 0; t < 4; ++t)
                for (int i = 0; i < 40; ++i)
                    if (i % 3 != 0) expected.insert("/h/" + std::to_string(t) + "-" + std::to_string(i));
        }
        const auto pins = journal->pins();
        EXPECT_EQ(std::set<std::string>(pins.begin(), pins.end()), expected);
    }
}

TEST(JournalShareTest, AThreadOutsideWaitsAndNeverWritesIntoTheShare) {
    auto journal = Journal::inMemory(Clock::system());
    std::atomic<bool> pinned{false};
    std::thread outside;
    {
        Journal::Transaction transaction(*journal);
        Journal::Share share(*journal);
        onMembers(share, 2, [&](int t) { journal->pin("/h/member-" + std::to_string(t)); });
        outside = std::thread([&] {
            journal->pin("/h/outside");
            pinned = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(pinned) << "a thread outside the share wrote while it was open";
    }  // the share ends and the transaction rolls back
    outside.join();
    EXPECT_EQ(journal->pins(), std::vector<std::string>{"/h/outside"});
}

}  // namespace
}  // namespace keldwick
