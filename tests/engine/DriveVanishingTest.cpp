// The drive goes away while an item is being copied: the operation fails without harm,
// and recovery finishes or undoes it once the drive is back.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "support/EngineWorld.h"
#include "drives/DriveLayout.h"
#include "engine/OffloadEngine.h"
#include "foundation/DriveManifest.h"
#include "foundation/EngineError.h"
#include "foundation/ItemChecks.h"
#include "support/FaultActions.h"
#include "support/RealMounts.h"

namespace keldwick {
namespace {

using test::FaultActions;
using test::candidateFor;
using test::engineOver;
using test::contentOf;
using test::EngineWorld;
using test::workingNamesUnder;

class DriveVanishingTest : public ::testing::TestWithParam<bool> {
protected:
    EngineWorld world;

    std::unique_ptr<OffloadEngine> engine() { return engineOver(world); }

    std::string makeItem() {
        return GetParam() ? world.makeFolder("Album", false) : world.makeFile("Report.txt", 20'000);
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
        EXPECT_TRUE(workingNamesUnder(world.home).empty());
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
    // is not deleted while the drive can't be looked at, nor judged changed from afar.
    try {
        engine()->restore(moved.id);
    } catch (const std::exception&) {
    }
    EXPECT_EQ(contentOf(away + "/" + world.relativeFor(path)), original);
    test::run("mv '" + away + "' '" + world.root + "'");
    world.locator->present = true;
    engine()->recover();

    auto settled = *world.journal->record(moved.id);
    EXPECT_TRUE(settled.phase == Phase::offloaded || settled.phase == Phase::restored) << toString(settled.phase);
    if (settled.phase == Phase::restored) {
        EXPECT_EQ(contentOf(path), original);
        EXPECT_FALSE(FileStat::peek(world.drivePathFor(path)));
    } else {
        EXPECT_EQ(contentOf(world.drivePathFor(path)), original);
        EXPECT_TRUE(isLinkToDriveCopy(path, settled));
    }
    EXPECT_TRUE(workingNamesUnder(world.home).empty());
    EXPECT_TRUE(workingNamesUnder(world.root).empty());
}

// A real volume, lazily unmounted while the copy's files are open on it.
TEST_P(DriveVanishingTest, ALazilyUnmountedExt4DriveMidCopy) {
    if (auto reason = test::mountSkipReason("mkfs.ext4")) GTEST_SKIP() << *reason;
    const std::string mountPoint = world.tmp / "volume";
    test::LoopVolume volume(world.tmp / "drive.img", 32, "mkfs.ext4 -q -F", "mount", mountPoint);
    if (!volume.mounted()) GTEST_SKIP() << volume.error();
    world.root = mountPoint;
    world.locator->mounts[world.drive.id] = mountPoint;

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

// A drive mounted at a folder that stays on this computer's disk when the drive goes
// (/mnt/backup): from then on its paths lead into that empty folder, which a locator that
// only looks for a folder still accepts. Whatever step the drive leaves at, nothing is
// written into the folder, nothing is judged from it, the original is kept unless its copy
// was already safe on the drive, and once the drive is back recovery settles the move.
class LeftBehindMountPointTest : public ::testing::TestWithParam<std::tuple<FaultPoint, bool>> {
protected:
    EngineWorld world;

    FaultPoint point() const { return std::get<0>(GetParam()); }
    bool isFolder() const { return std::get<1>(GetParam()); }

    std::unique_ptr<OffloadEngine> engine() { return engineOver(world); }

    std::string makeItem() {
        return isFolder() ? world.makeFolder("Album", false) : world.makeFile("Report.txt", 20'000);
    }


    static std::vector<std::string> namesIn(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.push_back(entry.path().filename());
        return names;
    }

    // Moves an item while `unplug` takes the drive away at the test's point, with the
    // locator still answering with the root; `plugBackIn` returns it.
    void moveWhileUnplugged(const std::function<void()>& unplug, const std::function<void()>& plugBackIn) {
        const std::string path = makeItem();
        const auto original = contentOf(path);
        auto actions = std::make_shared<FaultActions>();
        actions->onceAt(point(), [&](const FaultContext&) { unplug(); });
        world.faults->inner = actions;

        const bool copySafeBeforeItLeft = point() == FaultPoint::offloadLinkStaged || point() == FaultPoint::offloadSwapped;
        if (copySafeBeforeItLeft) {
            engine()->offload(candidateFor(path), false);
        } else {
            EXPECT_THROW(engine()->offload(candidateFor(path), false), EngineError);
            EXPECT_EQ(contentOf(path), original);
        }
        EXPECT_TRUE(namesIn(world.root).empty()) << "written where the drive was mounted";
        auto records = world.journal->allRecords();
        ASSERT_EQ(records.size(), 1u);
        const int64_t id = records[0].id;

        plugBackIn();
        engine()->recover();
        auto settled = *world.journal->record(id);
        EXPECT_TRUE(workingNamesUnder(world.home).empty());
        EXPECT_TRUE(workingNamesUnder(world.root).empty());
        if (copySafeBeforeItLeft) {
            EXPECT_EQ(settled.phase, Phase::offloaded);
            EXPECT_TRUE(isLinkToDriveCopy(path, settled));
            EXPECT_EQ(contentOf(world.drivePathFor(path)), original);
            // The manifest line the move couldn't write is there now.
            auto latest = DriveManifest(DriveLayout::appFolder(world.root)).latestEntries(world.configuration.machineID);
            ASSERT_EQ(latest.size(), 1u);
            EXPECT_EQ(latest[0].originalPath, path);
        } else {
            EXPECT_EQ(settled.phase, Phase::abandoned) << toString(settled.phase);
            EXPECT_EQ(contentOf(path), original);
            EXPECT_FALSE(FileStat::peek(world.drivePathFor(path)));
        }
        EXPECT_TRUE(engine()->recover().empty());
    }

    // Brings a moved item back while `unplug` takes the drive away at the test's point.
    // Nothing is judged from the folder left behind: the item ends back on this computer
    // with its drive copy deleted, or still moved, never with both kept as if the drive
    // copy had changed.
    void restoreWhileUnplugged(const std::function<void()>& unplug, const std::function<void()>& plugBackIn) {
        const std::string path = makeItem();
        const auto original = contentOf(path);
        const int64_t id = engine()->offload(candidateFor(path), false).record.id;
        auto actions = std::make_shared<FaultActions>();
        actions->onceAt(point(), [&](const FaultContext&) { unplug(); });
        world.faults->inner = actions;

        EXPECT_ANY_THROW(engine()->restore(id));
        EXPECT_TRUE(namesIn(world.root).empty()) << "written where the drive was mounted";

        plugBackIn();
        engine()->recover();
        auto settled = *world.journal->record(id);
        EXPECT_TRUE(workingNamesUnder(world.home).empty());
        EXPECT_TRUE(workingNamesUnder(world.root).empty());
        if (settled.phase == Phase::restored) {
            EXPECT_EQ(contentOf(path), original);
            EXPECT_FALSE(FileStat::peek(world.drivePathFor(path)));
        } else {
            EXPECT_EQ(settled.phase, Phase::offloaded) << toString(settled.phase);
            EXPECT_TRUE(isLinkToDriveCopy(path, settled));
            EXPECT_EQ(contentOf(world.drivePathFor(path)), original);
        }
        EXPECT_TRUE(engine()->recover().empty());
    }

    void runWhileUnplugged(const std::function<void()>& unplug, const std::function<void()>& plugBackIn) {
        const auto& moves = FaultPoints::offloadPoints();
        if (std::find(moves.begin(), moves.end(), point()) != moves.end())
            moveWhileUnplugged(unplug, plugBackIn);
        else
            restoreWhileUnplugged(unplug, plugBackIn);
    }
};

// The folder the drive was at is swapped for an empty one (another folder at the same path,
// as the startup disk's folder looks after an unmount); runs without privileges.
TEST_P(LeftBehindMountPointTest, AFolderDriveReplacedByAnEmptyFolder) {
    const std::string away = world.root + ".away";
    runWhileUnplugged(
        [&] {
            ASSERT_TRUE(test::run("mv '" + world.root + "' '" + away + "'"));
            test::makeDirs(world.root);
        },
        [&] {
            ASSERT_TRUE(test::run("rmdir '" + world.root + "'"));
            ASSERT_TRUE(test::run("mv '" + away + "' '" + world.root + "'"));
        });
}

// A real ext4 volume lazily unmounted from its mount point, then mounted there again.
TEST_P(LeftBehindMountPointTest, AnExt4DriveUnmountedFromItsMountPoint) {
    if (auto reason = test::mountSkipReason("mkfs.ext4")) GTEST_SKIP() << *reason;
    const std::string mountPoint = world.tmp / "backup";
    test::LoopVolume volume(world.tmp / "drive.img", 32, "mkfs.ext4 -q -F", "mount", mountPoint);
    if (!volume.mounted()) GTEST_SKIP() << volume.error();
    ASSERT_TRUE(test::run("rmdir '" + mountPoint + "/lost+found'"));
    world.root = mountPoint;
    world.locator->mounts[world.drive.id] = mountPoint;
    runWhileUnplugged([&] { ASSERT_TRUE(test::run("umount -l '" + mountPoint + "'")); },
                       [&] { ASSERT_TRUE(test::run("mount '" + volume.device() + "' '" + mountPoint + "'")); });
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, LeftBehindMountPointTest,
    ::testing::Combine(::testing::Values(FaultPoint::offloadRecorded, FaultPoint::offloadMidCopy,
                                         FaultPoint::offloadCopied, FaultPoint::offloadVerified,
                                         FaultPoint::offloadSwapped, FaultPoint::restoreRecorded,
                                         FaultPoint::restoreMidCopy, FaultPoint::restoreVerified,
                                         FaultPoint::restoreSwapped),
                       ::testing::Bool()),
    [](const auto& info) {
        return toString(std::get<0>(info.param)) + (std::get<1>(info.param) ? "Folder" : "File");
    });

}  // namespace
}  // namespace keldwick
