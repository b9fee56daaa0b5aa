#include <gtest/gtest.h>

#include "engine/FaultInjecting.h"
#include "engine/IconPlacing.h"
#include "foundation/MachineIdentity.h"
#include "engine/EngineConfiguration.h"
#include "engine/EngineContext.h"
#include "support/FaultActions.h"
#include "support/ManualClock.h"

using namespace keldwick;

TEST(FaultPointTest, NamesAreExactAndListsPartitionAllCases) {
    const auto& all = FaultPoints::allCases();
    ASSERT_EQ(all.size(), 12u);
    EXPECT_EQ(toString(all.front()), "offloadRecorded");
    EXPECT_EQ(toString(FaultPoint::offloadLinkStaged), "offloadLinkStaged");
    EXPECT_EQ(toString(all.back()), "restoreDriveCopyDeleted");
    for (auto point : all) EXPECT_EQ(parseFaultPoint(toString(point)), point);
    EXPECT_EQ(parseFaultPoint("offloadmidcopy"), std::nullopt);
    EXPECT_EQ(parseFaultPoint("OffloadMidCopy"), std::nullopt);
    EXPECT_EQ(parseFaultPoint(""), std::nullopt);

    auto joined = FaultPoints::offloadPoints();
    joined.insert(joined.end(), FaultPoints::restorePoints().begin(), FaultPoints::restorePoints().end());
    EXPECT_EQ(joined, all);
    EXPECT_EQ(FaultPoints::offloadPoints().back(), FaultPoint::offloadSwapped);
    EXPECT_EQ(FaultPoints::restorePoints().front(), FaultPoint::restoreRecorded);
}

TEST(FaultInjectingTest, CrashAtFiresOnlyAtItsPoint) {
    CrashAt crash(FaultPoint::offloadSwapped);
    FaultContext context{7, "/home/a/x", std::nullopt};
    for (auto point : FaultPoints::allCases()) {
        if (point == FaultPoint::offloadSwapped) continue;
        EXPECT_NO_THROW(crash.reach(point, context));
    }
    try {
        crash.reach(FaultPoint::offloadSwapped, context);
        FAIL() << "no crash";
    } catch (const SimulatedCrash& e) {
        EXPECT_EQ(e.point(), FaultPoint::offloadSwapped);
        EXPECT_EQ(e, SimulatedCrash(FaultPoint::offloadSwapped));
        EXPECT_EQ(std::string(e.what()), "Simulated crash at \u201CoffloadSwapped\u201D.");
    }
    NoFaults none;
    for (auto point : FaultPoints::allCases()) EXPECT_NO_THROW(none.reach(point, context));
}

TEST(FaultInjectingTest, TestInjectorRunsCodeAndRecordsPoints) {
    test::FaultActions faults;
    int runs = 0;
    int onceRuns = 0;
    faults.at(FaultPoint::offloadMidCopy, [&](const FaultContext& c) {
        ++runs;
        EXPECT_EQ(c.workingCopyPath, std::optional<std::string>("/d/.x.keldwick-partial-3"));
    });
    faults.onceAt(FaultPoint::offloadMidCopy, [&](const FaultContext&) { ++onceRuns; });
    FaultContext context{3, "/h/x", "/d/.x.keldwick-partial-3"};
    faults.reach(FaultPoint::offloadRecorded, context);
    faults.reach(FaultPoint::offloadMidCopy, context);
    faults.reach(FaultPoint::offloadMidCopy, context);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(onceRuns, 1);
    EXPECT_EQ(faults.reached(), (std::vector<FaultPoint>{FaultPoint::offloadRecorded, FaultPoint::offloadMidCopy,
                                                         FaultPoint::offloadMidCopy}));
}

TEST(EngineVocabularyTest, DefaultsAndNoIconPlacing) {
    EngineConfiguration configuration;
    EXPECT_EQ(configuration.chunkSize, 4 * 1024 * 1024);
    EXPECT_EQ(configuration.driveReserveBytes, 1024LL * 1024 * 1024);
    EXPECT_EQ(configuration.computerReserveBytes, 1024LL * 1024 * 1024);
    EXPECT_EQ(configuration.machineID, MachineIdentity::current());
    EXPECT_EQ(configuration.machineFolder, MachineIdentity::folderName());
    NoIconPlacing icons;
    EXPECT_EQ(icons.place("/home/a/x"), std::nullopt);
    icons.restore(IconPlace{1, 2}, "/home/a/x");
}

TEST(EngineVocabularyTest, ContextCopierUsesTheConfiguredChunkSize) {
    EngineConfiguration configuration;
    configuration.chunkSize = 65536;
    const auto clock = std::make_shared<test::ManualClock>();
    auto context = EngineContext::make(Journal::inMemory(clock), nullptr, nullptr, std::make_shared<NoFaults>(),
                                       std::make_shared<NoIconPlacing>(), configuration, {});
    EXPECT_EQ(context.copier.chunkSize, 65536);
    EXPECT_EQ(context.configuration, configuration);
    EXPECT_EQ(context.clock, clock) << "the engine's time is the journal's";
    EXPECT_THROW(EngineContext::make(nullptr, nullptr, nullptr, nullptr, nullptr, configuration, {}),
                 std::invalid_argument);
}
