#include "shell/QuitController.h"

#include <QTest>
#include <gtest/gtest.h>

namespace keldwick {
namespace {

using namespace std::chrono_literals;

TEST(QuitControllerTest, WaitsForAStoppedMoveUpToTheLimit) {
    struct Case {
        const char* name;
        bool busy;
        bool finishesAfterCancel;  // the operation ends within the wait
        int cancels;
        bool quitAtOnce;
    };
    const Case cases[] = {
        {"idle quits at once", false, false, 0, true},
        {"a move stops, then the program quits", true, true, 1, false},
        {"a move that never stops is left at the limit", true, false, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool busy = c.busy;
        int cancels = 0, quits = 0;
        QuitController quitter({[&] { return busy; }, [&] { ++cancels; }, [&] { ++quits; }}, 400ms, 20ms);
        EXPECT_FALSE(quitter.deadline());
        const auto asked = std::chrono::steady_clock::now();
        quitter.request();
        // One deadline for everything that follows, the operation and the background work.
        ASSERT_TRUE(quitter.deadline());
        const auto deadline = *quitter.deadline();
        EXPECT_GE(deadline, asked + 400ms);
        EXPECT_LE(deadline, std::chrono::steady_clock::now() + 400ms);
        quitter.request();  // a second Quit while waiting changes nothing
        EXPECT_EQ(quitter.deadline(), deadline);
        EXPECT_EQ(cancels, c.cancels);
        EXPECT_EQ(quits, c.quitAtOnce ? 1 : 0);
        if (c.quitAtOnce) continue;
        EXPECT_TRUE(quitter.isWaiting());
        QTest::qWait(60);
        EXPECT_EQ(quits, 0);
        if (c.finishesAfterCancel) busy = false;
        ASSERT_TRUE(QTest::qWaitFor([&] { return quits == 1; }, 2000));
        EXPECT_FALSE(quitter.isWaiting());
        EXPECT_EQ(cancels, 1);
    }
}

}  // namespace
}  // namespace keldwick
