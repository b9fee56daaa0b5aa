#include "foundation/Clock.h"
#include "engine/OffloadEngine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <set>
#include <thread>

#include "support/EngineWorld.h"
#include "drives/DriveLayout.h"
#include "foundation/DriveManifest.h"
#include "foundation/EngineError.h"
#include "foundation/ItemChecks.h"
#include "foundation/Formatting.h"
#include "foundation/SQLiteConnection.h"
#include "foundation/VolumeSpace.h"
#include "support/FaultActions.h"
#include "support/ManualClock.h"

namespace keldwick {
namespace {

using test::FaultActions;
using test::readFile;
using test::writeFile;
using test::candidateFor;
using test::contentOf;
using test::EngineWorld;
using test::engineOver;
using test::workingNamesUnder;

class OffloadEngineTest : public ::testing::Test {
protected:
    EngineWorld world;
    std::vector<std::string> assertions;  // reasons of the sleep inhibitors taken, in order

    std::unique_ptr<OffloadEngine> engine() {
        auto made = engineOver(world);
        made->inhibitor = [this](const std::string& reason) {
            assertions.push_back(reason);
            return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        };
        return made;
    }

    OffloadPlan planOf(const std::vector<std::string>& paths) const {
        OffloadPlan plan;
        for (const auto& path : paths) plan.items.push_back(candidateFor(path));
        plan.bytesNeeded = 1;
        return plan;
    }

    std::shared_ptr<FaultActions> actions() {
        auto injected = std::make_shared<FaultActions>();
        world.faults->inner = injected;
        return injected;
    }
};

// --- Runs.

TEST_F(OffloadEngineTest, ARunMovesEveryItemOfThePlanAndSaysSo) {
    const std::string report = world.makeFile("Report.txt", 2'000);
    const std::string album = world.makeFolder("Album", false);
    std::vector<EngineProgress> reports;
    auto summary = engine()->run(planOf({report, album}), false, nullptr,
                                 [&](const EngineProgress& progress) { reports.push_back(progress); });

    EXPECT_EQ(summary.completed, (std::vector<std::string>{report, album}));
    EXPECT_EQ(summary.bytes, 2'000 + 9'000 + 11 + 5'000);
    EXPECT_TRUE(summary.failures.empty());
    EXPECT_FALSE(summary.cancelled);
    EXPECT_FALSE(summary.dryRun);
    EXPECT_TRUE(FileStat::read(report)->isSymlink());
    EXPECT_TRUE(FileStat::read(album)->isSymlink());
    EXPECT_EQ(world.eventTexts().back(), "Moved 2 of 2 items (16.0 KB).");
    EXPECT_EQ(assertions, (std::vector<std::string>{"Keldwick is working on your files",
                                                    "Keldwick is moving files to your drive"}));
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), (EngineProgress{"Report.txt", 0, 2, reports.front().itemBytesDone, 2'000}));
    EXPECT_EQ(reports.back().itemName, "Album");
    EXPECT_EQ(reports.back().itemIndex, 1);
    EXPECT_EQ(reports.back().itemBytesDone, 14'011);
}

TEST_F(OffloadEngineTest, AnEmptyOrCancelledRunStillWritesItsSummary) {
    EXPECT_EQ(engine()->run(OffloadPlan{}, false), RunSummary{});
    EXPECT_EQ(world.eventTexts().back(), "Moved 0 of 0 items (0 bytes).");

    auto cancel = std::make_shared<CancellationFlag>();
    cancel->cancel();
    const std::string report = world.makeFile("Report.txt");
    auto summary = engine()->run(planOf({report}), false, cancel);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_TRUE(summary.completed.empty());
    EXPECT_EQ(world.eventTexts().back(), "Moved 0 of 1 items (0 bytes).");
    EXPECT_TRUE(FileStat::read(report)->isFile());
}

TEST_F(OffloadEngineTest, ADryRunGoesOnPastAFailure) {
    const std::string a = world.makeFile("A.txt", 1'000);
    const std::string b = world.makeFile("B.txt", 1'000);
    const std::string c = world.makeFile("C.txt", 1'000);
    auto plan = planOf({a, b, c});
    ::unlink(b.c_str());

    auto summary = engine()->run(plan, true);
    EXPECT_TRUE(summary.dryRun);
    EXPECT_EQ(summary.completed, (std::vector<std::string>{a, c}));
    EXPECT_EQ(summary.bytes, 2'000);
    ASSERT_EQ(summary.failures.size(), 1u);
    EXPECT_EQ(summary.failures[0].path, b);
    EXPECT_TRUE(world.logged("Didn't move \u201CB.txt\u201D: " + summary.failures[0].message));
    EXPECT_EQ(world.eventTexts().back(), "Dry run: would move 2 of 3 items (2.00 KB). 1 couldn't be moved.");
    EXPECT_TRUE(FileStat::read(a)->isFile());
}

TEST_F(OffloadEngineTest, ARunsClashChecksSeeWhatTheRunItselfRecorded) {
    // Rolled back, its place is free again for a later item of the run.
    const std::string failing = world.makeFile("Notes.txt");
    const std::string later = world.makeFile("NOTES.txt");
    // Names alike once lower-cased beyond ASCII: the second finds the first's place held.
    const std::string first = world.makeFile("\u00C4rger.txt");
    const std::string second = world.makeFile("\u00E4RGER.TXT");
    const std::string firstBytes = readFile(first);
    actions()->onceAt(FaultPoint::offloadCopied, [](const FaultContext&) { throw std::runtime_error("read error"); });

    auto summary = engine()->run(planOf({failing, first, second, later}), false);
    EXPECT_EQ(summary.completed, (std::vector<std::string>{first, later}));
    ASSERT_EQ(summary.failures.size(), 2u);
    EXPECT_EQ(summary.failures[0].path, failing);
    EXPECT_EQ(summary.failures[1], (RunFailure{second, EngineError::alreadyManaged(second).what()}));
    EXPECT_TRUE(FileStat::read(second)->isFile());
    EXPECT_EQ(readFile(world.drivePathFor(first)), firstBytes);
}

TEST_F(OffloadEngineTest, ADriveUnpluggedMidRunStopsItAndKeepsWhatMoved) {
    const std::string a = world.makeFile("A.txt");
    const std::string b = world.makeFile("B.txt");
    actions()->onceAt(FaultPoint::offloadSwapped, [&](const FaultContext&) { world.locator->present = false; });
    auto summary = engine()->run(planOf({a, b}), false);
    EXPECT_EQ(summary.completed, std::vector<std::string>{a});
    EXPECT_EQ(summary.stoppedBecause, "Your drive isn't plugged in.");
    EXPECT_TRUE(summary.failures.empty());
    EXPECT_TRUE(FileStat::read(a)->isSymlink());
    EXPECT_TRUE(FileStat::read(b)->isFile());
}

TEST_F(OffloadEngineTest, ASimulatedCrashEndsTheRunWithoutASummary) {
    const std::string a = world.makeFile("A.txt");
    world.faults->inner = std::make_shared<CrashAt>(FaultPoint::offloadCopied);
    EXPECT_THROW(engine()->run(planOf({a}), false), SimulatedCrash);
    for (const auto& text : world.eventTexts()) EXPECT_EQ(text.rfind("Moved ", 0), std::string::npos) << text;
}

// --- Restores.

TEST_F(OffloadEngineTest, RestoreAllBringsBackWhatHasAFreePlace) {
    const std::string a = world.makeFile("A.txt", 1'000);
    const std::string b = world.makeFolder("B");
    const std::string c = world.makeFile("C.txt", 1'000);
    const auto contentA = contentOf(a), contentB = contentOf(b);
    auto recordA = world.offloadByHand(a);
    auto recordB = world.offloadByHand(b);
    auto recordC = world.offloadByHand(c);
    ::unlink(b.c_str());
    world.journal->setPhase(recordB.id, Phase::linkMissing);
    ::unlink(c.c_str());
    writeFile(c, "a new C");
    world.journal->setPhase(recordC.id, Phase::linkMissing);

    std::vector<EngineProgress> reports;
    auto summary = engine()->restoreAll(nullptr, [&](const EngineProgress& p) { reports.push_back(p); });
    EXPECT_EQ(summary.completed, (std::vector<std::string>{a, b}));
    EXPECT_EQ(summary.bytes, recordA.size + recordB.size);
    EXPECT_TRUE(summary.failures.empty());
    EXPECT_EQ(contentOf(a), contentA);
    EXPECT_EQ(contentOf(b), contentB);
    EXPECT_EQ(readFile(c), "a new C");
    EXPECT_EQ(world.phaseOf(recordC.id), Phase::linkMissing);
    EXPECT_EQ(world.eventTexts().back(), "Restored 2 of 2 items (15.0 KB).");
    EXPECT_EQ(assertions, (std::vector<std::string>{"Keldwick is working on your files",
                                                    "Keldwick is restoring files to your computer"}));
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), (EngineProgress{"B", 1, 2, 14'011, recordB.size}));

    EXPECT_EQ(engine()->restoreAll(), RunSummary{});
    EXPECT_EQ(world.eventTexts().back(), "Restored 0 of 0 items (0 bytes).");
}

// A computer too full for one item still takes the smaller ones after it: the item that
// doesn't fit stays on the drive, named once, and the room counted is the file system's
// free space less the reserve.
TEST_F(OffloadEngineTest, RestoreAllSkipsWhatDoesntFitAndBringsBackTheRest) {
    constexpr int64_t MB = 1'000'000;
    auto missing = world.offloadByHand(world.makeFile("Gone.txt"));
    PathUtil::removeTree(world.drivePathFor(missing.originalPath));
    auto first = world.offloadByHand(world.makeFile("A.txt"));
    auto big = world.offloadByHand(world.makeFile("Big.bin", 64 * MB));
    auto last = world.offloadByHand(world.makeFile("C.txt"));
    // 32 MB of room beyond the reserve, as this computer's free space is counted; the
    // disk's own free space is other tests' too.
    const auto free = VolumeSpace::availableBytes(world.home);
    ASSERT_TRUE(free);
    world.configuration.computerReserveBytes = *free - 32 * MB;
    const auto withRoom = [&] {
        auto made = engine();
        made->homeSpace = [free](const std::string&) { return free; };
        return made;
    };

    auto summary = withRoom()->restoreAll();
    EXPECT_EQ(summary.completed, (std::vector<std::string>{first.originalPath, last.originalPath}));
    EXPECT_EQ(summary.noRoom, std::vector<std::string>{big.originalPath});
    EXPECT_EQ(summary.failures, (std::vector<RunFailure>{{missing.originalPath,
                                                          EngineError::driveCopyMissing(missing.originalPath).message()}}));
    EXPECT_FALSE(summary.stoppedBecause);
    EXPECT_EQ(world.phaseOf(first.id), Phase::restored);
    EXPECT_EQ(world.phaseOf(last.id), Phase::restored);
    EXPECT_EQ(world.phaseOf(big.id), Phase::offloaded);
    EXPECT_TRUE(FileStat::peek(world.drivePathFor(big.originalPath)));
    EXPECT_EQ(world.eventTexts().back(),
              "Restored 2 of 4 items (20.0 KB). 1 stayed on the drive for lack of room on this computer.");

    // Brought back alone, its refusal names the reserve the room was counted beyond.
    try {
        withRoom()->restore(big.id);
        ADD_FAILURE() << "restored without room";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.kind(), EngineError::Kind::notEnoughSpaceOnComputer);
        EXPECT_NE(error.message().find(" free beyond the " + byteCountText(world.configuration.computerReserveBytes) +
                                       " Keldwick keeps free on it)."),
                  std::string::npos)
            << error.message();
    }
}

// Every plugged-in drive's items come back in one run, each drive's through its own
// folder; a drive that isn't plugged in is left out, and the drive in use being away is
// told when nothing else comes back.
TEST_F(OffloadEngineTest, RestoreAllBringsBackEveryPluggedInDrivesItems) {
    const std::string earlier = world.tmp.path() + "/earlier";
    world.locator->set("EARLIER-DRIVE", earlier);
    const std::string old = world.makeFile("Old.txt", 1'000);
    const auto oldContent = contentOf(old);
    world.offloadByHand(old, "EARLIER-DRIVE", earlier);
    const std::string path = world.makeFile("A.txt", 1'000);
    const auto content = contentOf(path);
    auto record = world.offloadByHand(path);

    world.locator->set(world.drive.id, std::nullopt);
    auto away = engine()->restoreAll();
    EXPECT_EQ(away.completed, std::vector<std::string>{old});
    EXPECT_FALSE(away.stoppedBecause);
    EXPECT_TRUE(away.failures.empty());
    EXPECT_EQ(contentOf(old), oldContent);
    EXPECT_FALSE(FileStat::peek(earlier + "/" + world.relativeFor(old)));
    EXPECT_EQ(world.eventTexts().back(), "Restored 1 of 1 items (1.00 KB).");

    // An earlier drive away, the one in use back: that one's items come, nothing is told.
    const std::string older = world.makeFile("Older.txt", 1'000);
    auto olderRecord = world.offloadByHand(older, "EARLIER-DRIVE", earlier);
    world.locator->set("EARLIER-DRIVE", std::nullopt);
    world.locator->set(world.drive.id, world.root);
    auto summary = engine()->restoreAll();
    EXPECT_EQ(summary.completed, std::vector<std::string>{path});
    EXPECT_TRUE(summary.failures.empty());
    EXPECT_FALSE(summary.stoppedBecause);
    EXPECT_EQ(contentOf(path), content);
    EXPECT_EQ(world.phaseOf(record.id), Phase::restored);
    EXPECT_EQ(world.phaseOf(olderRecord.id), Phase::offloaded);
    EXPECT_EQ(world.eventTexts().back(), "Restored 1 of 1 items (1.00 KB).");

    // Neither plugged in: nothing to try, and the drive in use is why.
    world.locator->set(world.drive.id, std::nullopt);
    world.offloadByHand(world.makeFile("B.txt", 1'000));
    auto nothing = engine()->restoreAll();
    EXPECT_TRUE(nothing.completed.empty());
    EXPECT_EQ(nothing.stoppedBecause, EngineError::driveUnavailable().message());
    EXPECT_EQ(world.eventTexts().back(), "Restored 0 of 0 items (0 bytes).");
}

// A drive unplugged while its first item comes back ends only its own items; the
// interrupted one is settled by the recovery that follows the drive's return.
TEST_F(OffloadEngineTest, ADriveGoingAwayDuringRestoreAllStopsOnlyItsItems) {
    const std::string earlier = world.tmp.path() + "/earlier";
    world.locator->set("EARLIER-DRIVE", earlier);
    const std::string firstPath = world.makeFile("Old1.txt", 1'000);
    const auto firstContent = contentOf(firstPath);
    auto first = world.offloadByHand(firstPath, "EARLIER-DRIVE", earlier);
    auto second = world.offloadByHand(world.makeFile("Old2.txt", 1'000), "EARLIER-DRIVE", earlier);
    const std::string path = world.makeFile("A.txt", 1'000);
    auto record = world.offloadByHand(path);
    actions()->onceAt(FaultPoint::restoreRecorded,
                      [&](const FaultContext&) { world.locator->set("EARLIER-DRIVE", std::nullopt); });

    auto summary = engine()->restoreAll();
    EXPECT_EQ(summary.completed, std::vector<std::string>{path});
    EXPECT_EQ(summary.stoppedBecause, EngineError::driveUnavailable().message());
    EXPECT_TRUE(summary.failures.empty());
    EXPECT_EQ(world.phaseOf(record.id), Phase::restored);
    EXPECT_EQ(world.phaseOf(second.id), Phase::offloaded);
    const std::set<Phase> inFlight{Phase::restoreCopying, Phase::restoreSwapping, Phase::restoreCleanup};
    EXPECT_TRUE(inFlight.count(world.phaseOf(first.id)));

    world.locator->set("EARLIER-DRIVE", earlier);
    engine()->recover();
    EXPECT_EQ(world.phaseOf(first.id), Phase::restored);
    EXPECT_EQ(contentOf(first.originalPath), firstContent);
    EXPECT_EQ(engine()->restoreAll().completed, std::vector<std::string>{second.originalPath});
}

TEST_F(OffloadEngineTest, RestoreAsCopyNamesTheCopyAfterTheDrive) {
    const std::string path = world.makeFile("Report.pdf");
    auto record = world.offloadByHand(path);
    ::unlink(path.c_str());
    world.journal->setPhase(record.id, Phase::linkMissing);
    EXPECT_EQ(engine()->restoreAsCopy(record.id).phase, Phase::restored);
    EXPECT_TRUE(FileStat::peek(world.home + "/Documents/Report (from Travel).pdf"));
    EXPECT_EQ(assertions, std::vector<std::string>{"Keldwick is working on your files"});
}

TEST_F(OffloadEngineTest, DiscardingADriveCopy) {
    EXPECT_THROW(
        {
            try {
                engine()->discardDriveCopy(99);
            } catch (const EngineError& error) {
                EXPECT_EQ(error.message(), "That item isn't in Keldwick's log.");
                throw;
            }
        },
        EngineError);

    const std::string path = world.makeFile("Report.txt");
    auto record = world.offloadByHand(path);
    ::unlink(path.c_str());
    writeFile(path, "the newer version");
    world.journal->setPhase(record.id, Phase::returned);
    engine()->discardDriveCopy(record.id);
    EXPECT_EQ(world.phaseOf(record.id), Phase::superseded);
    EXPECT_FALSE(FileStat::peek(world.drivePathFor(path)));
    EXPECT_TRUE(world.logged("Deleted the drive copy of \u201CReport.txt\u201D (you asked)."));
}

// A restore whose "restored" line never reached the drive, then a move of an item inside
// that folder: the stale line must not come back as a record whose restore deletes the
// newer item's only copy.
TEST_F(OffloadEngineTest, AStaleManifestLineNeverTakesOverANewerItemsDriveCopy) {
    const std::string album = world.makeFolder("Album", false);
    auto moved = engine()->offload(candidateFor(album), false).record;
    actions()->onceAt(FaultPoint::restoreDriveCopyDeleted, [&](const FaultContext&) { world.locator->present = false; });
    EXPECT_EQ(engine()->restore(moved.id).phase, Phase::restored);
    world.locator->present = true;
    const DriveManifest manifest{DriveLayout::appFolder(world.root)};
    ASSERT_EQ(manifest.latestEntries(world.configuration.machineID).size(), 1u);  // the stale line

    const std::string inner = album + "/sub";
    auto innerRecord = engine()->offload(candidateFor(inner), false).record;
    for (const auto& result : engine()->recover()) EXPECT_NE(result.action, RecoveryAction::adopted) << result.name;

    // The missing line is written, and only the newer item is left on the drive's list.
    auto latest = manifest.latestEntries(world.configuration.machineID);
    ASSERT_EQ(latest.size(), 1u);
    EXPECT_EQ(latest[0].originalPath, inner);
    EXPECT_EQ(manifest.read().back().event, DriveManifest::Entry::Event::restored);
    EXPECT_EQ(manifest.read().back().originalPath, album);
    for (const auto& record : world.journal->records({Phase::returned, Phase::linkMissing, Phase::offloaded}))
        EXPECT_EQ(record.id, innerRecord.id);
    EXPECT_EQ(engine()->restore(innerRecord.id).phase, Phase::restored);
    EXPECT_EQ(readFile(inner + "/two.txt"), "second file");
}

// The engine stamps with its journal's clock: the drive's lines and the journal's records
// tell one time, whatever the wall clock says.
TEST_F(OffloadEngineTest, TheDrivesLinesAndTheJournalTellTheJournalsTime) {
    auto clock = std::make_shared<test::ManualClock>(Date{1'900'000'000});
    world.journal = Journal::inMemory(clock);
    const std::string report = world.makeFile("Report.txt", 2'000);
    const auto moved = engine()->offload(candidateFor(report), false).record;
    EXPECT_EQ(world.journal->record(moved.id)->createdAt, Date{1'900'000'000});
    clock->set(Date{1'700'000'000});  // set back years
    EXPECT_EQ(engine()->restore(moved.id).phase, Phase::restored);

    const auto lines = DriveManifest{DriveLayout::appFolder(world.root)}.read();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].date, Date{1'900'000'000});
    EXPECT_EQ(lines[1].date, Date{1'700'000'000});
    EXPECT_EQ(world.journal->record(moved.id)->updatedAt, Date{1'700'000'000});
    for (const auto& event : world.journal->events(100))
        EXPECT_TRUE(event.date == Date{1'900'000'000} || event.date == Date{1'700'000'000}) << event.message;
}

// --- Recovery and the one operation at a time.

TEST_F(OffloadEngineTest, RecoveryCountsWhatItLookedAt) {
    EXPECT_TRUE(engine()->recover().empty());
    EXPECT_FALSE(world.logged("Recovery checked 0 item(s)."));

    auto record = world.offloadByHand(world.makeFile("Report.txt"));
    ::unlink(record.originalPath.c_str());
    auto results = engine()->recover();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].action, RecoveryAction::markedLinkMissing);
    EXPECT_EQ(world.eventTexts().back(), "Recovery checked 1 item(s).");
    EXPECT_TRUE(engine()->recover().empty());
}

TEST_F(OffloadEngineTest, EnginesOverOneJournalRunOneOperationAtATime) {
    auto record = world.offloadByHand(world.makeFile("Report.txt"));
    std::promise<void> inside, release;
    auto released = release.get_future().share();
    actions()->at(FaultPoint::restoreVerified, [&](const FaultContext&) {
        inside.set_value();
        released.wait();
    });
    auto first = engine();
    auto second = engine();  // as the program builds a new engine after a settings change

    std::thread restoring([&] { first->restore(record.id); });
    inside.get_future().wait();
    std::atomic<bool> recovered = false;
    std::optional<Phase> phaseSeenByRecovery;
    std::thread recovering([&] {
        second->recover();
        recovered = true;
    });
    // The restore is between its copy and its swap: a recovery now would undo it.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(recovered);
    EXPECT_EQ(world.phaseOf(record.id), Phase::restoreCopying);
    release.set_value();
    restoring.join();
    recovering.join();
    EXPECT_TRUE(recovered);
    EXPECT_EQ(world.phaseOf(record.id), Phase::restored);
    EXPECT_TRUE(FileStat::read(record.originalPath)->isFile());
}

// A second process over the same journal (another instance, a helper run by hand) runs
// its start-up recovery while this one waits between verifying a copy and swapping it in.
TEST(OffloadEngineProcessesTest, ARecoveryInAnotherProcessWaitsForAMoveToEnd) {
    test::TempDir tmp;
    EngineWorld world(Journal::open(tmp / "journal.sqlite", Clock::system()));
    const std::string path = world.makeFile("Report.txt");
    const auto precious = contentOf(path);

    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Forked before the move takes any lock: the child's engine is a separate process's.
        char byte = 0;
        if (::read(go[0], &byte, 1) != 1) std::_Exit(2);
        OffloadEngine other(Journal::open(tmp / "journal.sqlite", Clock::system()), world.drive, world.locator, world.openFiles,
                            RuleList{}, std::make_shared<NoFaults>(), world.icons, world.configuration);
        other.inhibitor = [](const std::string&) { return -1; };
        other.recover();
        std::_Exit(0);
    }
    ::close(go[0]);

    bool childEndedDuringTheMove = false;
    auto held = std::make_shared<FaultActions>();
    held->at(FaultPoint::offloadVerified, [&](const FaultContext&) {
        ASSERT_EQ(::write(go[1], "x", 1), 1);
        // Long enough for an unhindered recovery to finish.
        for (int waited = 0; waited < 100 && !childEndedDuringTheMove; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            int status = 0;
            childEndedDuringTheMove = ::waitpid(child, &status, WNOHANG) == child;
        }
    });
    world.faults->inner = held;
    try {
        engineOver(world)->offload(candidateFor(path), false);
    } catch (const std::exception& error) {
        ADD_FAILURE() << error.what();
    }
    ::close(go[1]);
    int status = 0;
    if (!childEndedDuringTheMove) {
        ASSERT_EQ(::waitpid(child, &status, 0), child);
    }

    EXPECT_FALSE(childEndedDuringTheMove) << "the recovery ran beside the move";
    auto records = world.journal->allRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].phase, Phase::offloaded);
    EXPECT_TRUE(isLinkToDriveCopy(path, records[0]));
    auto throughLink = FileStat::peek(world.drivePathFor(path));
    ASSERT_TRUE(throughLink.has_value()) << "the file exists nowhere";
    EXPECT_EQ(readFile(path), precious->at(""));
}

TEST_F(OffloadEngineTest, TheSleepInhibitorIsReleasedWhenAnOperationThrows) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    auto made = engine();
    made->inhibitor = [&](const std::string&) { return ends[1]; };
    EXPECT_THROW(made->discardDriveCopy(404), EngineError);
    char byte;
    EXPECT_EQ(::read(ends[0], &byte, 1), 0) << "the inhibitor is still held";
    ::close(ends[0]);
}

TEST_F(OffloadEngineTest, RecordsNeverThrow) {
    auto record = world.offloadByHand(world.makeFile("Report.txt"));
    auto made = engine();
    EXPECT_EQ(made->records({Phase::offloaded}).size(), 1u);
    EXPECT_EQ(made->driveRoot(), world.root);
    world.journal->db().exec("DROP TABLE tree_entries; DROP TABLE records");
    EXPECT_TRUE(made->records({Phase::offloaded}).empty());
    world.locator->present = false;
    EXPECT_EQ(made->driveRoot(), std::nullopt);
    (void)record;
}

// Another process takes the journal's write lock once the link is swapped in: the item
// is moved, so the run reports it as finishing at the next start, never as failed, and
// that start's recovery finishes its record.
class OffloadEngineLockedJournalTest : public ::testing::TestWithParam<bool> {};

TEST_P(OffloadEngineLockedJournalTest, AMoveWhoseJournalLocksAfterTheSwapIsFinishingNotFailed) {
    const bool folder = GetParam();
    test::TempDir tmp;
    const std::string journalPath = tmp / "journal.sqlite";
    EngineWorld world(std::make_shared<Journal>(journalPath, Clock::system(), 20));
    const std::string path = folder ? world.makeFolder("Album", false) : world.makeFile("Report.txt");

    std::unique_ptr<SQLiteConnection> other;
    auto actions = std::make_shared<FaultActions>();
    actions->onceAt(FaultPoint::offloadSwapped, [&](const FaultContext&) {
        other = std::make_unique<SQLiteConnection>(journalPath, 0);
        other->exec("BEGIN EXCLUSIVE");
    });
    world.faults->inner = actions;

    OffloadPlan plan;
    plan.items.push_back(candidateFor(path));
    const RunSummary summary = engineOver(world)->run(plan, false);
    ASSERT_NE(other, nullptr) << (summary.failures.empty() ? "" : summary.failures.front().message);
    EXPECT_TRUE(summary.failures.empty()) << summary.failures.front().message;
    EXPECT_EQ(summary.completed, std::vector<std::string>{path});
    EXPECT_EQ(summary.finishing, std::vector<std::string>{path});
    EXPECT_TRUE(FileStat::read(path)->isSymlink());
    const std::set<Phase> all(allPhases.begin(), allPhases.end());
    ASSERT_EQ(world.journal->records(all).size(), 1u);
    EXPECT_NE(world.journal->records(all).front().phase, Phase::offloaded);

    other->exec("COMMIT");
    other.reset();
    engineOver(world)->recover();
    const auto records = world.journal->records(all);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records.front().phase, Phase::offloaded);
    EXPECT_TRUE(FileStat::read(path)->isSymlink());
    EXPECT_TRUE(workingNamesUnder(world.home).empty());
}

INSTANTIATE_TEST_SUITE_P(FileAndFolder, OffloadEngineLockedJournalTest, ::testing::Bool());

}  // namespace
}  // namespace keldwick
