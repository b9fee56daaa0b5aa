#include "shell/InstanceBus.h"

#include <QTest>
#include <gtest/gtest.h>

#include "desktop/PrivateBus.h"

namespace keldwick {
namespace {

// A launcher handing over must have its answer before the running instance starts the
// work: the answer is what lets the launcher end, and work that outlasts the launcher's wait
// (a move planned on a busy machine) would otherwise start a second instance.
TEST(InstanceBusTest, TheOwnerAnswersBeforeItStartsTheWork) {
    test::PrivateBus bus;
    if (bus.skipReason()) GTEST_SKIP() << *bus.skipReason();
    InstanceBus owner(bus.connect());
    ASSERT_EQ(owner.claim(), InstanceBus::Claim::owner);
    InstanceBus launcher(bus.connect());
    ASSERT_EQ(launcher.claim(), InstanceBus::Claim::taken);

    struct Case {
        const char* name;
        QStringList uris;
    };
    const Case cases[] = {{"a move", {QStringLiteral("file:///t/a%20b")}}, {"the panel", {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<bool> answered;
        std::optional<bool> answeredWhenTheWorkStarted;
        // The work waits (as slow work would) for the launcher's answer, which can't come
        // while the work runs inside the call.
        auto work = [&] {
            answeredWhenTheWorkStarted = QTest::qWaitFor([&] { return answered.has_value(); }, 3'000);
        };
        const auto moving = QObject::connect(&owner, &InstanceBus::moveRequested, work);
        const auto showing = QObject::connect(&owner, &InstanceBus::showPanelRequested, work);
        launcher.handOver(c.uris, [&](bool ok) { answered = ok; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return answeredWhenTheWorkStarted.has_value(); }, 10'000));
        EXPECT_TRUE(*answeredWhenTheWorkStarted);
        EXPECT_EQ(answered, std::optional<bool>(true));
        QObject::disconnect(moving);
        QObject::disconnect(showing);
    }
}

}  // namespace
}  // namespace keldwick
