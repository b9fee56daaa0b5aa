// The drive goes away while an item is being copied: the operation fails without harm,
// and recovery finishes or undoes it once the drive is back.

#include <gtest/gtest.h>
#include <unistd.h>

#include "EngineWorld.h"
#include "engine/ItemChecks.h"
#include "engine/OffloadEngine.h"
#include "support/FaultActions.h"
#include "support/RealMounts.h"

namespace keldwick {
namespace {

using test::FaultActions;
using test::engine::contentOf;
using test::engine::EngineWorld;
using test::engine::workingNamesUnder;

class DriveVanishingTest : public ::testing::TestWithParam<bool> {
protected:
    EngineWorld world;

    std::unique_ptr<OffloadEngine> engine() {
        auto made = std::make_unique<OffloadEngine>(world.journal, world.drive, world.locator, world.openFiles,
                                                    RuleList{}, world.faults, world.icons, world.configuration);
        made->inhibitor = [](const std::string&) { return -1; };
        return made;
    }

    std::string makeItem() {
        return GetParam() ? world.makeFolder("Album", false) : world.makeFile("Report.txt", 20'000);
    }

    Candidate candidateFor(const std::string& path) const {
        auto status = FileStat::read(path);
        int64_t size = status->isDirectory() ? 0 : status->size;
        if (status->isDirectory())
            for (const auto& entry : FileCopier().walk(path)) size += entry.size;
        return Candidate(path, status->isDirectory(), size, 1, Date::now().adding(60), LastUsedSource::modificationDate);
    }

    // At `point`, `unplug` runs and the locator stops finding the drive.
    void vanishAt(FaultPoint point, std::function<void()> unplug) {
        auto actions = std::make_shared<FaultActions>();
        actions->onceAt(point, [this, unplug](const FaultContext&) {
            unplug();
            world.locator->present = false;
        });
        world.faults->inner = actions;
    }

    // The move failed, the item never left, and once the drive is back nothing of the
    // attempt remains on it.
    void expectMoveUndone(const std::string& path, const std::optional<std::map<std::string, std::string>>& original,
                          const std::function<void()> plugBackIn) {
        EXPECT_EQ(contentOf(path), original);
        EXPECT_TRUE(workingNamesUnder(world.mac).empty());
        auto records = world.journal->allRecords();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_TRUE(isInFlight(records[0].phase)) << "waits for the drive: " << toString(records[0].phase);

        plugBackIn();
        world.locator->present = true;
        engine()->recover();
        EXPECT_EQ(world.phaseOf(records[0].id), Phase::abandoned);
        EXPECT_EQ(contentOf(path), original);
        EXPECT_TRUE(workingNamesUnder(world.root).empty());
        EXPECT_FALSE(FileStat::peek(world.drivePathFor(path)));
        EXPECT_TRUE(engine()->recover().empty());
    }
};

TEST_P(DriveVanishingTest, AMoveFailsCleanlyAndIsUndoneWhenTheDriveReturns) {
    const std::string path = makeItem();
    const auto original = contentOf(path);
    const std::string away = world.root + ".away";
    vanishAt(FaultPoint::offloadMidCopy, [&] { test::run("mv '" + world.root + "' '" + away + "'"); });

    EXPECT_ANY_THROW(engine()->offload(candidateFor(path), false));
    expectMoveUndone(path, original, [&] { test::run("mv '" + away + "' '" + world.root + "'"); });
}

TEST_P(DriveVanishingTest, ARestoreCutOffFromItsDriveLosesNothing) {
    const std::string path = makeItem();
    const auto original = contentOf(path);
    auto moved = engine()->offload(candidateFor(path), false).record;
    const std::string away = world.root + ".away";
    vanishAt(FaultPoint::restoreMidCopy, [&] { test::run("mv '" + world.root + "' '" + away + "'"); });

    // What was being read still arrives; whether it ends in place or not, the drive copy
    // is not deleted while the drive can't be looked at.
    try {
        engine()->restore(moved.id);
    } catch (const std::exception&) {
    }
    test::run("mv '" + away + "' '" + world.root + "'");
    world.locator->present = true;
    engine()->recover();

    auto settled = *world.journal->record(moved.id);
    EXPECT_TRUE(settled.phase == Phase::offloaded || settled.phase == Phase::returned) << toString(settled.phase);
    EXPECT_EQ(contentOf(world.drivePathFor(path)), original);
    if (settled.phase == Phase::returned) {
        EXPECT_EQ(contentOf(path), original);
    } else {
        EXPECT_TRUE(isLinkToDriveCopy(path, settled));
    }
    EXPECT_TRUE(workingNamesUnder(world.mac).empty());
    EXPECT_TRUE(workingNamesUnder(world.root).empty());
}

// A real volume, lazily unmounted while the copy's files are open on it.
TEST_P(DriveVanishingTest, ALazilyUnmountedExt4DriveMidCopy) {
    if (auto reason = test::mountSkipReason("mkfs.ext4")) GTEST_SKIP() << *reason;
    const std::string mountPoint = world.tmp / "volume";
    test::LoopVolume volume(world.tmp / "drive.img", 32, "mkfs.ext4 -q -F", "mount", mountPoint);
    if (!volume.mounted()) GTEST_SKIP() << volume.error();
    world.root = mountPoint;
    world.locator->root = mountPoint;

    const std::string path = makeItem();
    const auto original = contentOf(path);
    vanishAt(FaultPoint::offloadMidCopy, [&] { ASSERT_TRUE(test::run("umount -l '" + mountPoint + "'")); });

    EXPECT_ANY_THROW(engine()->offload(candidateFor(path), false));
    expectMoveUndone(path, original, [&] {
        ASSERT_TRUE(test::run("mount '" + volume.device() + "' '" + mountPoint + "'"));
    });
}

INSTANTIATE_TEST_SUITE_P(FileAndFolder, DriveVanishingTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Folder" : "File"; });

}  // namespace
}  // namespace keldwick
