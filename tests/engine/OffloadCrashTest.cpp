// A move cut short at every step, for a file and a folder, with and without exchanging
// names, with the drive there or gone when recovery runs; and a real process killed
// mid-move. Whatever happens, the item's bytes must exist afterwards at least once
// where the user can see them, and recovery must leave no working names behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <tuple>

#include "foundation/Clock.h"
#include "engine/OffloadExecutor.h"
#include "engine/OffloadFixture.h"
#include "engine/RecoveryManager.h"
#include "foundation/EngineError.h"
#include "platform/Rename.h"
#include "support/FaultActions.h"

namespace keldwick {
namespace {

using test::readFile;
using test::writeFile;

// Relative path -> content ("" for folders) of everything under a folder, following
// nothing but the folder itself when it is a link.
std::map<std::string, std::string> contentsOf(const std::string& path) {
    std::map<std::string, std::string> contents;
    auto status = FileStat::peek(path);
    if (status && status->isSymlink()) {
        auto target = readLink(path);
        return target ? contentsOf(*target) : contents;
    }
    if (!status) return contents;
    if (!status->isDirectory()) {
        contents[""] = readFile(path);
        return contents;
    }
    std::vector<std::string> relatives;
    collectRelativePaths("", path, relatives);
    contents[""] = "";
    for (const auto& relative : relatives) {
        auto inner = FileStat::peek(PathUtil::join(path, relative));
        contents[relative] = inner && inner->isFile() ? readFile(PathUtil::join(path, relative)) : "";
    }
    return contents;
}

// Working names anywhere under a folder.
std::vector<std::string> workingNamesUnder(const std::string& folder) {
    std::vector<std::string> relatives, found;
    collectRelativePaths("", folder, relatives);
    for (const auto& relative : relatives)
        if (isTemporaryName(PathUtil::name(relative))) found.push_back(relative);
    return found;
}

class OffloadCrash : public test::OffloadFixture {
protected:
    std::string makeItem(bool folder) {
        if (!folder) return writeFile(home + "/Documents/report.pdf", std::string(9000, 'r'));
        const std::string path = home + "/Documents/Trip";
        writeFile(path + "/day1.jpg", std::string(5000, '1'));
        writeFile(path + "/nested/day2.jpg", "two");
        test::makeDirs(path + "/empty");
        return path;
    }

    // What the engine's recovery runs at start-up, in its order.
    std::vector<RecoveryResult> recover() {
        faults->inner = std::make_shared<NoFaults>();
        return EngineWorld::recover();
    }

    // The bytes are where the user looks: at the item's path (through its link when the
    // drive is there) or, with the drive away, at the copy's visible place on it.
    void expectVisible(const std::string& item, const std::map<std::string, std::string>& original,
                       const std::string& when) {
        auto atPath = FileStat::peek(item);
        bool seen = contentsOf(item) == original;
        if (!seen && atPath && atPath->isSymlink()) seen = contentsOf(drivePathFor(item)) == original;
        EXPECT_TRUE(seen) << when << ": the item's bytes are nowhere to be seen";
    }

    // After the last recovery with the drive present: the move is either finished or
    // undone, cleanly, and a further recovery finds nothing to do.
    void expectSettled(const std::string& item, const std::map<std::string, std::string>& original) {
        auto records = journal->allRecords();
        ASSERT_EQ(records.size(), 1u);
        const auto& record = records[0];
        EXPECT_TRUE(record.phase == Phase::offloaded || record.phase == Phase::abandoned) << toString(record.phase);
        if (record.phase == Phase::offloaded) {
            EXPECT_EQ(readLink(item), drivePathFor(item));
        } else {
            EXPECT_FALSE(FileStat::read(item)->isSymlink());
            EXPECT_FALSE(FileStat::peek(drivePathFor(item)).has_value());
        }
        EXPECT_EQ(contentsOf(item), original);
        EXPECT_EQ(workingNamesUnder(home), std::vector<std::string>{});
        EXPECT_EQ(workingNamesUnder(root), std::vector<std::string>{});
        EXPECT_EQ(recover(), std::vector<RecoveryResult>{});
    }
};

using CrashCase = std::tuple<FaultPoint, bool /*folder*/, bool /*exchange*/, bool /*drive at recovery*/>;

class OffloadCrashMatrix : public OffloadCrash, public ::testing::WithParamInterface<CrashCase> {};

TEST_P(OffloadCrashMatrix, RecoveryFinishesOrUndoesTheMove) {
    const auto [point, folder, exchange, driveThere] = GetParam();
    platform::ScopedRenameSupport support({.exclusive = true, .exchange = exchange});
    const std::string item = makeItem(folder);
    const auto original = contentsOf(item);

    faults->inner = std::make_shared<CrashAt>(point);
    EXPECT_THROW(move(item), SimulatedCrash);

    if (!driveThere) {
        locator->present = false;
        recover();
        expectVisible(item, original, "after recovery without the drive");
        locator->present = true;
    }
    recover();
    expectVisible(item, original, "after recovery");
    expectSettled(item, original);
}

std::string caseName(const ::testing::TestParamInfo<CrashCase>& info) {
    const auto [point, folder, exchange, driveThere] = info.param;
    return toString(point) + (folder ? "_folder" : "_file") + (exchange ? "_exchange" : "_rename") +
           (driveThere ? "_drive" : "_noDrive");
}

INSTANTIATE_TEST_SUITE_P(EveryPoint, OffloadCrashMatrix,
                         ::testing::Combine(::testing::ValuesIn(FaultPoints::offloadPoints()), ::testing::Bool(),
                                            ::testing::Bool(), ::testing::Bool()),
                         caseName);

// Disturbances between the crash and the next start.

TEST_F(OffloadCrash, DisplacedFileEditedAfterTheSwapComesBackInPlace) {
    const std::string item = makeItem(false);
    faults->inner = std::make_shared<CrashAt>(FaultPoint::offloadSwapped);
    EXPECT_THROW(move(item), SimulatedCrash);
    const auto record = journal->allRecords().at(0);
    writeFile(temporaryPath(item, TemporaryKind::link, record.id), "edited after the swap");
    recover();
    EXPECT_EQ(readFile(item), "edited after the swap");
    EXPECT_FALSE(FileStat::read(item)->isSymlink());
    EXPECT_EQ(journal->record(record.id)->phase, Phase::abandoned);
    EXPECT_EQ(workingNamesUnder(home), std::vector<std::string>{});
}

TEST_F(OffloadCrash, OriginalDeletedAfterVerificationKeepsTheDriveCopy) {
    const std::string item = makeItem(false);
    const auto original = contentsOf(item);
    faults->inner = std::make_shared<CrashAt>(FaultPoint::offloadVerified);
    EXPECT_THROW(move(item), SimulatedCrash);
    ::unlink(item.c_str());
    recover();
    EXPECT_EQ(journal->allRecords().at(0).phase, Phase::linkMissing);
    EXPECT_EQ(contentsOf(drivePathFor(item)), original);
}

TEST_F(OffloadCrash, FolderSetAsideComesBackWhenTheMoveFailsAfterwards) {
    // A failure (not a crash) right after the folder stepped aside: the executor hands
    // the record to recovery at once, which puts the folder back.
    const std::string item = makeItem(true);
    const auto original = contentsOf(item);
    auto actions = std::make_shared<test::FaultActions>();
    actions->at(FaultPoint::offloadLinkStaged, [](const FaultContext&) { throw std::runtime_error("disk hiccup"); });
    faults->inner = actions;
    EXPECT_THROW(move(item), std::runtime_error);
    EXPECT_EQ(contentsOf(item), original);
    EXPECT_FALSE(FileStat::read(item)->isSymlink());
    EXPECT_EQ(journal->allRecords().at(0).phase, Phase::abandoned);
    EXPECT_EQ(journal->allRecords().at(0).error, "disk hiccup");
    EXPECT_EQ(workingNamesUnder(home), std::vector<std::string>{});
    EXPECT_EQ(workingNamesUnder(root), std::vector<std::string>{});
}

TEST_F(OffloadCrash, FileWrittenDuringTheCopyStaysAndThePartialCopyGoes) {
    const std::string item = makeItem(false);
    auto actions = std::make_shared<test::FaultActions>();
    actions->at(FaultPoint::offloadMidCopy, [&](const FaultContext&) { writeFile(item, "saved meanwhile"); });
    faults->inner = actions;
    try {
        move(item);
        FAIL() << "moved a file that changed while it was copied";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.kind(), EngineError::Kind::sourceChanged);
    }
    EXPECT_EQ(readFile(item), "saved meanwhile");
    EXPECT_EQ(journal->allRecords().at(0).phase, Phase::abandoned);
    EXPECT_EQ(workingNamesUnder(root), std::vector<std::string>{});
    EXPECT_FALSE(FileStat::peek(drivePathFor(item)).has_value());
}

// A real process, killed outright at each point of a move, with its journal on disk.
TEST_F(OffloadCrash, KilledProcessLeavesWhatRecoveryCanSettle) {
    for (bool folder : {false, true}) {
        for (FaultPoint point : FaultPoints::offloadPoints()) {
            SCOPED_TRACE(toString(point) + (folder ? " folder" : " file"));
            PathUtil::removeTree(home);
            PathUtil::removeTree(root);
            test::makeDirs(home);
            test::makeDirs(root);
            const std::string journalPath = tmp / "journal.sqlite";
            PathUtil::removeTree(journalPath);
            PathUtil::removeTree(journalPath + "-wal");
            PathUtil::removeTree(journalPath + "-shm");
            const std::string item = makeItem(folder);
            const auto original = contentsOf(item);

            pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                journal = Journal::open(journalPath, Clock::system());
                auto actions = std::make_shared<test::FaultActions>();
                actions->at(point, [](const FaultContext&) { ::kill(::getpid(), SIGKILL); });
                faults->inner = actions;
                try {
                    move(item);
                } catch (...) {
                }
                ::_exit(3);  // not killed: the point was never reached
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << status;

            journal = Journal::open(journalPath, Clock::system());
            recover();
            expectVisible(item, original, "after recovery");
            expectSettled(item, original);
        }
    }
}

}  // namespace
}  // namespace keldwick
