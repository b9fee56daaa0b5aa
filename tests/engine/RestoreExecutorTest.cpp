#include "engine/RestoreExecutor.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>

#include "engine/RecoveryManager.h"
#include "foundation/EngineError.h"
#include "foundation/ItemChecks.h"
#include "foundation/Utf8.h"
#include "platform/POSIXFailure.h"
#include "platform/Rename.h"
#include "foundation/Formatting.h"
#include "platform/Extents.h"
#include "support/EngineWorld.h"
#include "support/FaultActions.h"

namespace keldwick {
namespace {

using test::FaultActions;
using test::readFile;
using test::writeFile;
using test::contentOf;
using test::EngineWorld;
using test::workingNamesUnder;

class RestoreExecutorTest : public ::testing::Test {
protected:
    EngineWorld world;

    RestoreExecutor executor() const { return RestoreExecutor(world.context()); }

    OffloadRecord restore(int64_t id, const std::optional<std::string>& suffix = std::nullopt,
                          const std::shared_ptr<CancellationFlag>& cancel = nullptr,
                          const RestoreExecutor::Progress& progress = {}) {
        return executor().restore(id, suffix, cancel, progress);
    }

    template <typename Body>
    EngineError engineErrorOf(Body body) {
        try {
            body();
        } catch (const EngineError& error) {
            return error;
        }
        ADD_FAILURE() << "no engine error";
        return EngineError::invalidState("");
    }

    std::shared_ptr<FaultActions> actions() {
        auto injected = std::make_shared<FaultActions>();
        world.faults->inner = injected;
        return injected;
    }

    // A flipped byte in a copy being written, as a failing medium would give.
    static void overwriteFirstByte(const std::string& path) {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(0);
        file.put('#');
    }

    void setModificationTime(const std::string& path, Date date) {
        Timespec t = keldwick::timespec(date);
        struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(t.seconds), static_cast<long>(t.nanoseconds)}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
};

// --- Refusals: each throws before anything is written.

TEST_F(RestoreExecutorTest, RefusesWhatCantBeBroughtBackNow) {
    EXPECT_EQ(engineErrorOf([&] { restore(404); }).message(), "That item isn't in Keldwick's log.");

    auto record = world.offloadByHand(world.makeFile("Report.txt"));
    EXPECT_EQ(engineErrorOf([&] { restore(record.id, " (from Travel)"); }).message(),
              "\u201CReport.txt\u201D can't be brought back right now (offloaded).");

    world.journal->setPhase(record.id, Phase::returned);
    EXPECT_EQ(engineErrorOf([&] { restore(record.id); }).message(),
              "\u201CReport.txt\u201D can't be brought back right now (returned).");

    world.locator->present = false;
    world.journal->setPhase(record.id, Phase::offloaded);
    EXPECT_EQ(engineErrorOf([&] { restore(record.id); }).kind(), EngineError::Kind::driveUnavailable);
    world.locator->present = true;

    world.openFiles->uses.push_back({world.drivePathFor(record.originalPath), 77, "Viewer"});
    EXPECT_EQ(engineErrorOf([&] { restore(record.id); }),
              EngineError::inUse(world.drivePathFor(record.originalPath), {"Viewer"}));
    world.openFiles->uses.clear();

    EXPECT_EQ(world.phaseOf(record.id), Phase::offloaded);
    EXPECT_FALSE(FileStat::peek(temporaryPath(record.originalPath, TemporaryKind::restore, record.id)));
    EXPECT_TRUE(isLinkToDriveCopy(record.originalPath, record));
}

TEST_F(RestoreExecutorTest, ACopyThatWouldLieOutsideTheDriveIsNeverTouched) {
    // As a record adopted from a doctored manifest could say.
    const std::string outside = writeFile(world.tmp / "outside.txt", "not the drive's");
    auto forged = world.journal->insert(NewRecord{world.home + "/Documents/Other.txt", world.drive.id,
                                                  "Keldwick/../../outside.txt", false, 15, std::nullopt,
                                                  Phase::linkMissing, std::nullopt, std::nullopt});
    EXPECT_THROW(restore(forged.id), POSIXFailure);
    EXPECT_EQ(readFile(outside), "not the drive's");
    EXPECT_FALSE(FileStat::peek(world.home + "/Documents/Other.txt"));
    EXPECT_EQ(world.phaseOf(forged.id), Phase::linkMissing);
}

// Deleting a drive copy that holds another moved item's copy would lose that item: the
// restore is refused, in place or as a copy, as a discard is.
TEST_F(RestoreExecutorTest, ADriveCopyHoldingAnotherItemsCopyIsNeverBroughtBack) {
    auto record = world.offloadByHand(world.makeFolder("Album"));
    const std::string innerCopy = world.drivePathFor(record.originalPath) + "/sub/newer.txt";
    writeFile(innerCopy, "only copy");
    world.journal->insert(NewRecord{record.originalPath + "/sub/newer.txt", world.drive.id,
                                    Utf8::lowercased(record.driveRelativePath) + "/sub/newer.txt", false, 9,
                                    std::nullopt, Phase::offloaded, std::nullopt, std::nullopt});
    EXPECT_EQ(engineErrorOf([&] { restore(record.id); }), EngineError::holdsOtherItems(record.originalPath));

    ::unlink(record.originalPath.c_str());
    world.makeFolder("Album");
    world.journal->setPhase(record.id, Phase::returned);
    EXPECT_EQ(engineErrorOf([&] { restore(record.id, " (from Travel)"); }),
              EngineError::holdsOtherItems(record.originalPath));
    EXPECT_EQ(world.phaseOf(record.id), Phase::returned);
    EXPECT_EQ(readFile(innerCopy), "only copy");
    EXPECT_FALSE(FileStat::peek(world.home + "/Documents/Album (from Travel)"));
}

TEST_F(RestoreExecutorTest, AsCopyOfALinkMissingRecordWhoseLinkCameBackMarksItOffloaded) {
    auto record = world.offloadByHand(world.makeFile("Report.txt"));
    world.journal->setPhase(record.id, Phase::linkMissing);
    EXPECT_EQ(engineErrorOf([&] { restore(record.id, " (from Travel)"); }).message(),
              "\u201CReport.txt\u201D has its shortcut again: bring it back the usual way.");
    EXPECT_EQ(world.phaseOf(record.id), Phase::offloaded);
}

TEST_F(RestoreExecutorTest, ALinkReplacedByAFileIsLeftAloneAndTheRecordMarked) {
    auto record = world.offloadByHand(world.makeFile("Report.txt"));
    ::unlink(record.originalPath.c_str());
    writeFile(record.originalPath, "newer version");
    EXPECT_EQ(engineErrorOf([&] { restore(record.id); }), EngineError::linkReplaced(record.originalPath));
    EXPECT_EQ(world.phaseOf(record.id), Phase::returned);
    EXPECT_EQ(readFile(record.originalPath), "newer version");
    EXPECT_TRUE(FileStat::peek(world.drivePathFor(record.originalPath)));
}

TEST_F(RestoreExecutorTest, ALinkMissingRecordNeedsAFreePlace) {
    auto record = world.offloadByHand(world.makeFile("Report.txt"));
    ::unlink(record.originalPath.c_str());
    writeFile(record.originalPath, "something new");
    world.journal->setPhase(record.id, Phase::linkMissing);
    EXPECT_EQ(engineErrorOf([&] { restore(record.id); }), EngineError::destinationExists(record.originalPath));
    EXPECT_EQ(readFile(record.originalPath), "something new");
    EXPECT_EQ(world.phaseOf(record.id), Phase::linkMissing);
}

TEST_F(RestoreExecutorTest, ADriveCopyOfTheWrongKindIsMissing) {
    auto record = world.offloadByHand(world.makeFolder("Album"));
    const std::string drivePath = world.drivePathFor(record.originalPath);
    PathUtil::removeTree(drivePath);
    writeFile(drivePath, "a file where the folder was");
    EXPECT_EQ(engineErrorOf([&] { restore(record.id); }), EngineError::driveCopyMissing(record.originalPath));
    PathUtil::removeTree(drivePath);
    EXPECT_EQ(engineErrorOf([&] { restore(record.id); }), EngineError::driveCopyMissing(record.originalPath));
}

TEST_F(RestoreExecutorTest, ComputerSpaceOfExactlyWhatIsNeededPlusTheReservePasses) {
    world.configuration.computerReserveBytes = 1'000;
    auto record = world.offloadByHand(world.makeFile("Report.txt", 10'000));
    auto tight = executor();
    tight.availableBytes = [](const std::string&) { return std::optional<int64_t>(10'999); };
    EXPECT_EQ(engineErrorOf([&] { tight.restore(record.id, std::nullopt); }),
              EngineError::notEnoughSpaceOnComputer(10'000, 9'999, 1'000));
    tight.availableBytes = [](const std::string&) { return std::optional<int64_t>(500); };
    EXPECT_EQ(engineErrorOf([&] { tight.restore(record.id, std::nullopt); }),
              EngineError::notEnoughSpaceOnComputer(10'000, 0, 1'000));
    EXPECT_EQ(world.phaseOf(record.id), Phase::offloaded);

    tight.availableBytes = [](const std::string&) { return std::optional<int64_t>(11'000); };
    EXPECT_EQ(tight.restore(record.id, std::nullopt).phase, Phase::restored);
}

// Copies of one content are counted once only where this computer's file system can
// clone them; on ext4 each is written, and the log says why it takes that much.
TEST_F(RestoreExecutorTest, CopiesOfOneContentCountInFullWhereTheHomeCantClone) {
    if (platform::volumeSharesExtents(world.home.c_str())) GTEST_SKIP() << "the temporary folder's file system clones";
    const std::string folder = world.home + "/Documents/Footage";
    const std::string take(6'000, 't');
    for (const char* name : {"take1.mov", "take2.mov", "take3.mov"}) writeFile(folder + "/" + name, take);
    const OffloadRecord record = world.offloadByHand(folder);
    auto tight = executor();
    tight.availableBytes = [](const std::string&) { return std::optional<int64_t>(17'999); };
    EXPECT_EQ(engineErrorOf([&] { tight.restore(record.id, std::nullopt); }),
              EngineError::notEnoughSpaceOnComputer(18'000, 17'999));
    EXPECT_TRUE(world.logged("\u201CFootage\u201D holds copies of the same content that this computer's file system "
                             "can't share, so each is written in full: bringing it back takes " +
                             byteCountText(18'000) + "."))
        << ::testing::PrintToString(world.eventTexts());
    tight.availableBytes = [](const std::string&) { return std::optional<int64_t>(18'000); };
    EXPECT_EQ(tight.restore(record.id, std::nullopt).phase, Phase::restored);
    EXPECT_EQ(readFile(folder + "/take3.mov"), take);
}

// --- Bringing items back.

TEST_F(RestoreExecutorTest, AFileComesBackInPlaceAndItsDriveCopyGoes) {
    const std::string path = world.makeFile("Report.txt", 10'000);
    const auto original = contentOf(path);
    auto record = world.offloadByHand(path);
    auto injected = actions();
    world.icons->current = IconPlace{12, 34};
    std::vector<int64_t> reported;

    auto result = restore(record.id, std::nullopt, nullptr, [&](int64_t done) { reported.push_back(done); });

    EXPECT_EQ(result.phase, Phase::restored);
    EXPECT_EQ(contentOf(path), original);
    EXPECT_TRUE(FileStat::read(path)->isFile());
    EXPECT_FALSE(FileStat::peek(world.drivePathFor(path)));
    EXPECT_TRUE(FileStat::peek(world.appFolder())) << "the app folder stays";
    const std::string mirroredTop = world.home.substr(0, world.home.find('/', 1));
    EXPECT_FALSE(FileStat::peek(world.appFolder() + "/Test Machine" + mirroredTop)) << "emptied folders go";
    EXPECT_TRUE(FileStat::peek(world.appFolder() + "/Test Machine")) << "this computer's judged folder stays";
    EXPECT_TRUE(workingNamesUnder(world.home).empty());
    EXPECT_EQ(reported.back(), 10'000);
    EXPECT_EQ(injected->reached(),
              (std::vector<FaultPoint>{FaultPoint::restoreRecorded, FaultPoint::restoreMidCopy,
                                       FaultPoint::restoreVerified, FaultPoint::restoreSwapped,
                                       FaultPoint::restoreSwapped, FaultPoint::restoreDriveCopyDeleted}));
    EXPECT_EQ(injected->contexts()[3].workingCopyPath, temporaryPath(path, TemporaryKind::restore, record.id));
    ASSERT_EQ(world.icons->restored.size(), 1u);
    EXPECT_EQ(world.icons->restored[0].second, path);
    EXPECT_TRUE(world.logged("Bringing back \u201CReport.txt\u201D\u2026"));
    EXPECT_TRUE(world.logged("Brought back \u201CReport.txt\u201D (10.0 KB) to your computer."));
    EXPECT_EQ(world.journal->record(record.id)->restoreChecksum, record.checksum);
}

TEST_F(RestoreExecutorTest, AFolderComesBackWithoutExchangeThroughTheLinkWorkingName) {
    platform::ScopedRenameSupport noExchange({.exclusive = true, .exchange = false});
    const std::string path = world.makeFolder("Album");
    const auto original = contentOf(path);
    auto record = world.offloadByHand(path);
    auto injected = actions();
    injected->at(FaultPoint::restoreLinkRemoved, [&](const FaultContext& context) {
        EXPECT_EQ(context.workingCopyPath, temporaryPath(path, TemporaryKind::link, record.id));
        EXPECT_TRUE(isLinkToDriveCopy(*context.workingCopyPath, record));
        EXPECT_FALSE(FileStat::peek(path));
    });

    EXPECT_EQ(restore(record.id).phase, Phase::restored);
    EXPECT_EQ(contentOf(path), original);
    EXPECT_FALSE(FileStat::peek(world.drivePathFor(path)));
    EXPECT_TRUE(workingNamesUnder(world.home).empty());
    EXPECT_EQ(injected->reached()[3], FaultPoint::restoreLinkRemoved);
}

TEST_F(RestoreExecutorTest, ALinkMissingItemGoesBackIntoItsEmptyPlace) {
    const std::string path = world.makeFolder("Album");
    const auto original = contentOf(path);
    auto record = world.offloadByHand(path);
    ::unlink(path.c_str());
    world.journal->setPhase(record.id, Phase::linkMissing);
    EXPECT_EQ(restore(record.id).phase, Phase::restored);
    EXPECT_EQ(contentOf(path), original);
}

TEST_F(RestoreExecutorTest, ACopyArrivesBesideTheNewVersionUnderTheNextFreeName) {
    const std::string path = world.makeFile("Report.pdf");
    const auto original = contentOf(path);
    auto record = world.offloadByHand(path);
    ::unlink(path.c_str());
    writeFile(path, "the newer version");
    writeFile(world.home + "/Documents/Report (from Travel).pdf", "taken");
    world.journal->setPhase(record.id, Phase::returned);

    EXPECT_EQ(restore(record.id, " (from Travel)").phase, Phase::restored);
    EXPECT_EQ(readFile(path), "the newer version");
    EXPECT_EQ(contentOf(world.home + "/Documents/Report (from Travel) 2.pdf"), original);
    EXPECT_FALSE(FileStat::peek(world.drivePathFor(path)));
    EXPECT_TRUE(world.logged("Brought back the copy of \u201CReport.pdf\u201D as \u201CReport (from Travel) 2.pdf\u201D."));
}

TEST_F(RestoreExecutorTest, AFolderCopyKeepsItsDottedNameWhole) {
    const std::string path = world.makeFolder("Photos.2019");
    const auto original = contentOf(path);
    auto record = world.offloadByHand(path);
    ::unlink(path.c_str());
    world.journal->setPhase(record.id, Phase::linkMissing);
    EXPECT_EQ(restore(record.id, " (from Travel)").phase, Phase::restored);
    EXPECT_EQ(contentOf(world.home + "/Documents/Photos.2019 (from Travel)"), original);
    EXPECT_FALSE(FileStat::peek(path));
}

// --- Keeping both versions.

TEST_F(RestoreExecutorTest, ADriveFileEditedDuringTheRestoreIsKeptBesideTheRestoredCopy) {
    const std::string path = world.makeFile("Report.txt");
    const auto original = contentOf(path);
    auto record = world.offloadByHand(path);
    const std::string drivePath = world.drivePathFor(path);
    actions()->at(FaultPoint::restoreVerified, [&](const FaultContext&) {
        std::ofstream(drivePath, std::ios::app) << "edited by an app";
    });

    auto result = restore(record.id);
    EXPECT_EQ(result.phase, Phase::returned);
    EXPECT_EQ(result.error, "The copy on your drive changed while \u201CReport.txt\u201D was being brought back, so "
                            "both were kept: one on your computer, one on the drive.");
    EXPECT_EQ(contentOf(path), original);
    EXPECT_EQ(readFile(drivePath), original->at("") + "edited by an app");
}

TEST_F(RestoreExecutorTest, ADriveCopyHeldOpenAfterTheSwapStays) {
    const std::string path = world.makeFile("Report.txt");
    auto record = world.offloadByHand(path);
    actions()->at(FaultPoint::restoreSwapped, [&](const FaultContext&) {
        world.openFiles->uses = {{world.drivePathFor(path), 5, "Viewer"}};
    });
    EXPECT_EQ(restore(record.id).phase, Phase::returned);
    EXPECT_TRUE(FileStat::peek(world.drivePathFor(path)));
}

TEST_F(RestoreExecutorTest, ADriveCopyUnlikeTheRecordIsKeptUnlessSavedSinceTheMove) {
    const std::string path = world.makeFile("Report.txt");
    auto record = world.offloadByHand(path);
    const std::string drivePath = world.drivePathFor(path);
    writeFile(drivePath, "changed on the drive");
    setModificationTime(drivePath, record.createdAt.adding(-10));

    auto result = restore(record.id);
    EXPECT_EQ(result.phase, Phase::returned);
    EXPECT_EQ(result.error, "\u201CReport.txt\u201D is back on your computer. Part of it changed on the drive although "
                            "nothing saved it, so its copy there was kept too, just in case.");
    EXPECT_EQ(readFile(path), "changed on the drive");
    EXPECT_EQ(readFile(drivePath), "changed on the drive");

    // Saved through the link after the move: the new content simply comes back.
    const std::string other = world.makeFile("Notes.txt");
    auto saved = world.offloadByHand(other);
    writeFile(world.drivePathFor(other), "saved through the link");
    setModificationTime(world.drivePathFor(other), saved.createdAt.adding(10));
    EXPECT_EQ(restore(saved.id).phase, Phase::restored);
    EXPECT_EQ(readFile(other), "saved through the link");
    EXPECT_FALSE(FileStat::peek(world.drivePathFor(other)));
}

TEST_F(RestoreExecutorTest, FolderComparisonCountsOnlyUnexplainedDifferences) {
    const std::string path = world.makeFolder("Album");
    auto record = world.offloadByHand(path);
    const std::string drivePath = world.drivePathFor(path);
    auto recorded = world.journal->treeEntries(record.id);
    auto executor = this->executor();
    auto copyOf = [&] { return FileCopier().hashedEntries(drivePath, {}); };
    auto before = [&] { return Fingerprint::snapshot(drivePath, true); };

    EXPECT_FALSE(executor.compareRestoredTree(copyOf(), recorded, record, before(), drivePath));

    // A file gone from a folder untouched since the move: changed.
    ::unlink((drivePath + "/sub/two.txt").c_str());
    setModificationTime(drivePath + "/sub", record.createdAt.adding(-5));
    EXPECT_TRUE(executor.compareRestoredTree(copyOf(), recorded, record, before(), drivePath));
    // Deleted through the link after the move: the folder's date explains it.
    setModificationTime(drivePath + "/sub", record.createdAt.adding(5));
    EXPECT_FALSE(executor.compareRestoredTree(copyOf(), recorded, record, before(), drivePath));

    // Another digest in the copy than on the drive: the drive copy is damaged.
    auto damaged = copyOf();
    for (auto& entry : damaged)
        if (entry.path == "one.txt") entry.sha256 = std::string(64, '0');
    EXPECT_EQ(engineErrorOf([&] { executor.compareRestoredTree(damaged, recorded, record, before(), drivePath); }),
              EngineError::driveCopyCorrupted(record.originalPath));

    // In a code project, differences are expected.
    writeFile(drivePath + "/one.txt", "rewritten by a build");
    setModificationTime(drivePath + "/one.txt", record.createdAt.adding(-5));
    EXPECT_TRUE(executor.compareRestoredTree(copyOf(), recorded, record, before(), drivePath));
    test::makeDirs(drivePath + "/.git");
    EXPECT_FALSE(executor.compareRestoredTree(copyOf(), recorded, record, before(), drivePath));
}

// --- Failures after the restore began are undone at once.

TEST_F(RestoreExecutorTest, ACopyThatDoesntReadBackNamesTheItemAndChangesNothing) {
    // Items within one chunk are written before their progress is reported.
    const std::string path = world.makeFile("Report.txt", 3'000);
    auto record = world.offloadByHand(path);
    const std::string working = temporaryPath(path, TemporaryKind::restore, record.id);
    auto spoil = [&](int64_t done) {
        if (done == 3'000) overwriteFirstByte(working);
    };
    EXPECT_EQ(engineErrorOf([&] { restore(record.id, std::nullopt, nullptr, spoil); }),
              EngineError::checksumMismatch(path));
    EXPECT_EQ(world.phaseOf(record.id), Phase::offloaded);
    EXPECT_TRUE(isLinkToDriveCopy(path, record));
    EXPECT_FALSE(FileStat::peek(working));
    EXPECT_TRUE(world.logged("Couldn't bring back \u201CReport.txt\u201D: The copy of \u201CReport.txt\u201D didn't "
                             "match the original, so nothing was changed."));

    auto folder = world.offloadByHand(world.makeFolder("Album"));
    const std::string workingFolder = temporaryPath(folder.originalPath, TemporaryKind::restore, folder.id);
    auto spoilFolder = [&](int64_t done) {
        if (done == folder.size) overwriteFirstByte(workingFolder + "/sub/two.txt");
    };
    EXPECT_EQ(engineErrorOf([&] { restore(folder.id, std::nullopt, nullptr, spoilFolder); }),
              EngineError::checksumMismatch(folder.originalPath));
    EXPECT_EQ(world.phaseOf(folder.id), Phase::offloaded);
}

TEST_F(RestoreExecutorTest, StopMidCopyLeavesTheItemOnTheDriveWithItsLink) {
    const std::string path = world.makeFile("Report.txt", 20'000);
    auto record = world.offloadByHand(path);
    auto cancel = std::make_shared<CancellationFlag>();
    actions()->at(FaultPoint::restoreMidCopy, [&](const FaultContext&) { cancel->cancel(); });
    EXPECT_THROW(restore(record.id, std::nullopt, cancel), CancellationError);
    EXPECT_EQ(world.phaseOf(record.id), Phase::offloaded);
    EXPECT_TRUE(isLinkToDriveCopy(path, record));
    EXPECT_TRUE(workingNamesUnder(world.home).empty());
}

TEST_F(RestoreExecutorTest, ALinkReplacedDuringTheRestoreKeepsTheNewVersion) {
    for (bool exchange : {true, false}) {
        SCOPED_TRACE(exchange ? "exchange" : "no exchange");
        platform::ScopedRenameSupport support({.exclusive = true, .exchange = exchange});
        const std::string path = world.makeFile(exchange ? "A.txt" : "B.txt");
        auto record = world.offloadByHand(path);
        actions()->at(FaultPoint::restoreVerified, [&](const FaultContext&) {
            ::unlink(path.c_str());
            writeFile(path, "saved by an app");
        });
        world.icons->current = IconPlace{1, 2};
        world.icons->restored.clear();
        EXPECT_EQ(engineErrorOf([&] { restore(record.id); }), EngineError::linkReplaced(path));
        EXPECT_EQ(world.icons->restored.size(), 1u) << "the icon goes back even when the swap fails";
        EXPECT_EQ(readFile(path), "saved by an app");
        EXPECT_EQ(world.phaseOf(record.id), Phase::returned);
        EXPECT_TRUE(FileStat::peek(world.drivePathFor(path)));
        EXPECT_TRUE(workingNamesUnder(world.home).empty());
    }
}

TEST_F(RestoreExecutorTest, ACrashMidCopyLeavesAWorkingCopyThatRecoveryRemoves) {
    const std::string path = world.makeFile("Report.txt", 20'000);
    auto record = world.offloadByHand(path);
    world.faults->inner = std::make_shared<CrashAt>(FaultPoint::restoreMidCopy);
    EXPECT_THROW(restore(record.id), SimulatedCrash);
    EXPECT_EQ(world.phaseOf(record.id), Phase::restoreCopying);
    EXPECT_TRUE(FileStat::peek(temporaryPath(path, TemporaryKind::restore, record.id)));

    RecoveryManager(world.context()).recoverInFlight();
    EXPECT_EQ(world.phaseOf(record.id), Phase::offloaded);
    EXPECT_TRUE(workingNamesUnder(world.home).empty());
}

TEST(RestoreExecutorHelpers, LaterEntriesWinAndAllEntriesHoldsForNone) {
    std::vector<TreeEntry> entries{{"a", TreeEntry::Kind::file, 1, "x", {}}, {"a", TreeEntry::Kind::file, 2, "y", {}}};
    EXPECT_EQ(RestoreExecutor::entriesByPath(entries).at("a").size, 2);
    EXPECT_TRUE(RestoreExecutor::allEntries({}, [](const auto&, const auto&) { return false; }));
}

}  // namespace
}  // namespace keldwick
