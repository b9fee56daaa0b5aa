#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <set>

#include "support/EngineWorld.h"
#include "foundation/EngineError.h"
#include "foundation/ItemChecks.h"
#include "foundation/Utf8.h"
#include "platform/Rename.h"

namespace keldwick {
namespace {

using test::EngineWorld;
namespace fs = std::filesystem;

std::vector<std::string> messages(const EngineWorld& world) {
    std::vector<std::string> result;
    auto events = world.journal->events(1000);
    for (auto it = events.rbegin(); it != events.rend(); ++it) result.push_back(it->message);
    return result;
}

bool logged(const EngineWorld& world, const std::string& message) {
    auto all = messages(world);
    return std::find(all.begin(), all.end(), message) != all.end();
}

TEST(RecoveryActionTest, NamesRoundTripAndNothingElseParses) {
    for (int i = 0; i <= int(RecoveryAction::unchanged); ++i)
        EXPECT_EQ(parseRecoveryAction(toString(RecoveryAction(i))), RecoveryAction(i));
    EXPECT_EQ(toString(RecoveryAction::markedLinkMissing), "markedLinkMissing");
    EXPECT_EQ(parseRecoveryAction("RolledBack"), std::nullopt);
    EXPECT_EQ(parseRecoveryAction(""), std::nullopt);
}

TEST(UniqueSiblingPathTest, NumbersTakenNamesAndKeepsExtensionsOnlyWhenAsked) {
    test::TempDir dir;
    EXPECT_EQ(uniqueSiblingPath("Report.pdf", " (recovered by Keldwick)", dir.path(), false),
              dir / "Report.pdf (recovered by Keldwick)");
    test::writeFile(dir / "Report (from Travel).pdf", "");
    EXPECT_EQ(uniqueSiblingPath("Report.pdf", " (from Travel)", dir.path(), true), dir / "Report (from Travel) 2.pdf");
    test::writeFile(dir / "Report (from Travel) 2.pdf", "");
    EXPECT_EQ(uniqueSiblingPath("Report.pdf", " (from Travel)", dir.path(), true), dir / "Report (from Travel) 3.pdf");
    // A link counts as taken even when it dangles.
    fs::create_symlink("/nowhere", dir / ".hidden (x)");
    EXPECT_EQ(uniqueSiblingPath(".hidden", " (x)", dir.path(), true), dir / ".hidden (x) 2");
}

TEST(UniqueSiblingPathTest, LongNamesAreCutOnWholeCharactersToFit) {
    test::TempDir dir;
    std::string name;
    for (int i = 0; i < 120; ++i) name += "\xC3\xA9";  // 240 bytes of "é"
    std::string path = uniqueSiblingPath(name + ".txt", " (restored by Keldwick)", dir.path(), true);
    std::string leaf = PathUtil::name(path);
    EXPECT_LE(leaf.size() + 5, 255u);
    EXPECT_TRUE(leaf.ends_with(" (restored by Keldwick).txt"));
    EXPECT_TRUE(Utf8::isValid(leaf));
    test::writeFile(path, "");  // the cut name is usable, and so is its numbered sibling
    test::writeFile(uniqueSiblingPath(name + ".txt", " (restored by Keldwick)", dir.path(), true), "");
}

class RecoveryManagerTest : public testing::Test {
protected:
    EngineWorld world;
};

TEST_F(RecoveryManagerTest, LinkUnderAnOldMountPathIsPointedAtTheNewOneWithOrWithoutExchange) {
    for (bool exchange : {true, false}) {
        platform::ScopedRenameSupport support({true, exchange});
        std::string original = world.makeItem(false, exchange ? "a.txt" : "b.txt");
        OffloadRecord record = world.offloadCompletely(original, false);
        // The drive comes back under another mount path.
        std::string moved = world.tmp / (exchange ? "drive-2" : "drive-3");
        fs::rename(world.root, moved);
        world.locator->mounts[world.drive.id] = world.root = moved;

        RecoveryResult result = world.steps().checkLink(record);
        EXPECT_EQ(result.action, RecoveryAction::relinked);
        EXPECT_TRUE(world.isOurLink(original, record));
        EXPECT_EQ(world.reload(record).phase, Phase::offloaded);
        EXPECT_TRUE(logged(world, "Updated the link for \xE2\x80\x9C" + PathUtil::name(original) +
                                      "\xE2\x80\x9D to the drive's new location."));
        EXPECT_EQ(world.workingNames(), std::vector<std::string>{});
    }
}

// With the drive away, a pass of link checks asks where it is about once, not once per
// record (each question searches every mounted volume); the next pass asks again and
// finds it where it came back.
TEST_F(RecoveryManagerTest, APassAsksAfterADriveThatIsAwayOnlyOnce) {
    std::vector<std::pair<std::string, OffloadRecord>> items;
    for (int i = 0; i < 40; ++i) {
        const std::string original = world.makeItem(false, "f" + std::to_string(i) + ".txt");
        items.emplace_back(original, world.offloadCompletely(original, false));
    }
    world.locator->present = false;
    world.locator->asked = 0;
    EXPECT_TRUE(world.manager().checkLinks().empty());
    // Checks running side by side may each ask before the first answer is kept.
    EXPECT_LT(world.locator->asked, 10);

    const std::string moved = world.tmp / "drive-2";
    fs::rename(world.root, moved);
    world.locator->mounts[world.drive.id] = world.root = moved;
    world.locator->present = true;
    EXPECT_EQ(world.manager().checkLinks().size(), items.size());
    for (const auto& [original, record] : items) EXPECT_TRUE(world.isOurLink(original, record)) << original;
}

TEST_F(RecoveryManagerTest, LinkCheckMarksWhatStandsAtTheOriginalPath) {
    std::string gone = world.makeItem(false, "gone.txt");
    std::string elsewhere = world.makeItem(false, "elsewhere.txt");
    std::string replaced = world.makeItem(false, "replaced.txt");
    OffloadRecord r1 = world.offloadCompletely(gone, false);
    OffloadRecord r2 = world.offloadCompletely(elsewhere, false);
    OffloadRecord r3 = world.offloadCompletely(replaced, false);
    fs::remove(gone);
    fs::remove(elsewhere);
    fs::create_symlink("/somewhere/else", elsewhere);
    fs::remove(replaced);
    test::writeFile(replaced, "new");

    auto results = world.manager().checkLinks();
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0], (RecoveryResult{r1.id, "gone.txt", RecoveryAction::markedLinkMissing,
                                          "Its shortcut was deleted or moved. The file is still on your drive."}));
    EXPECT_EQ(results[1].action, RecoveryAction::markedLinkMissing);
    EXPECT_EQ(results[1].detail, "Its shortcut now points somewhere else. The file is still on your drive.");
    EXPECT_EQ(results[2].action, RecoveryAction::markedReturned);
    EXPECT_EQ(world.reload(r3).phase, Phase::returned);
    EXPECT_TRUE(logged(world, "\xE2\x80\x9Cgone.txt\xE2\x80\x9D: Its shortcut was deleted or moved. The file is "
                              "still on your drive."));

    // The shortcut put back: the record is linked again.
    fs::create_symlink(world.drivePath(r1), gone);
    results = world.manager().checkLinks();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], (RecoveryResult{r1.id, "gone.txt", RecoveryAction::relinked, std::nullopt}));
    EXPECT_EQ(world.reload(r1).phase, Phase::offloaded);
    EXPECT_TRUE(logged(world, "The shortcut to \xE2\x80\x9Cgone.txt\xE2\x80\x9D is back in its place."));
    EXPECT_EQ(world.manager().checkLinks(), std::vector<RecoveryResult>{});
}

// Enough links to be checked on several threads: the results still come in journal order,
// one per changed record, each with its own record's action.
TEST_F(RecoveryManagerTest, ManyLinksCheckedAtOnceReportInJournalOrder) {
    std::vector<OffloadRecord> records;
    for (int i = 0; i < 40; ++i) {
        const std::string path = world.makeItem(false, "item " + std::to_string(i) + ".txt");
        records.push_back(world.offloadCompletely(path, false));
        if (i % 4 == 1) fs::remove(path);
        if (i % 4 == 2) {
            fs::remove(path);
            test::writeFile(path, "new");
        }
    }
    const auto results = world.manager().checkLinks();
    std::vector<std::pair<int64_t, RecoveryAction>> expected;
    for (size_t i = 0; i < records.size(); ++i) {
        if (i % 4 == 1) expected.emplace_back(records[i].id, RecoveryAction::markedLinkMissing);
        if (i % 4 == 2) expected.emplace_back(records[i].id, RecoveryAction::markedReturned);
    }
    std::vector<std::pair<int64_t, RecoveryAction>> actual;
    for (const auto& result : results) actual.emplace_back(result.recordID, result.action);
    EXPECT_EQ(actual, expected);
    for (size_t i = 0; i < records.size(); ++i) {
        const Phase phase = i % 4 == 1 ? Phase::linkMissing : i % 4 == 2 ? Phase::returned : Phase::offloaded;
        EXPECT_EQ(world.reload(records[i]).phase, phase) << i;
    }
    EXPECT_EQ(world.manager().checkLinks(), std::vector<RecoveryResult>{});
}

TEST_F(RecoveryManagerTest, ExecutorsEntryRepairsWithTheFailureAndIgnoresUnknownIDs) {
    EXPECT_EQ(world.manager().recoverRecord(42, std::runtime_error("boom")), std::nullopt);
    EXPECT_TRUE(world.journal->events(10).empty());

    std::string original = world.makeItem(false);
    OffloadRecord record = world.copyAndVerify(world.insert(original, false));
    auto result = world.manager().recoverRecord(record.id, EngineError::inUse(original, {"Editor"}));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->action, RecoveryAction::rolledBack);
    OffloadRecord after = world.reload(record);
    EXPECT_EQ(after.phase, Phase::abandoned);
    EXPECT_EQ(after.error, EngineError::inUse(original, {"Editor"}).message());
    EXPECT_FALSE(FileStat::peek(world.drivePath(record)));
    EXPECT_EQ(test::readFile(original), "quarterly numbers\n");
    EXPECT_TRUE(logged(world, "Undid the unfinished move of \xE2\x80\x9CReport.txt\xE2\x80\x9D. It's still on your computer."));
}

TEST_F(RecoveryManagerTest, ForeignItemAtTheDrivePathIsLeftAlone) {
    std::string original = world.makeItem(false);
    OffloadRecord record = world.insert(original, false);
    test::writeFile(world.drivePath(record), "someone else's file");

    auto results = world.manager().recoverInFlight();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].action, RecoveryAction::rolledBack);
    EXPECT_EQ(world.reload(record).phase, Phase::abandoned);
    EXPECT_EQ(test::readFile(world.drivePath(record)), "someone else's file");
    EXPECT_TRUE(logged(world, "Left what's at \xE2\x80\x9CReport.txt\xE2\x80\x9D's place on the drive alone: it isn't "
                              "the copy Keldwick made."));
}

TEST_F(RecoveryManagerTest, UnpluggedDriveDefersAndKeepsThePhase) {
    std::string original = world.makeItem(false);
    OffloadRecord record = world.copyAndVerify(world.insert(original, false));
    world.locator->present = false;
    auto results = world.manager().recoverInFlight();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], (RecoveryResult{record.id, "Report.txt", RecoveryAction::deferred, "The drive isn't connected."}));
    EXPECT_EQ(world.reload(record).phase, Phase::offloadVerified);
    EXPECT_TRUE(logged(world, "\xE2\x80\x9CReport.txt\xE2\x80\x9D stayed on your computer. Its unfinished copy will be removed "
                              "from the drive when it's connected."));
}

// The displaced original holds the item's last bytes on this machine: it goes only once
// the drive copy is seen where it belongs.
TEST_F(RecoveryManagerTest, DisplacedOriginalStaysUntilItsDriveCopyIsSeen) {
    std::string original = world.makeItem(false);
    OffloadRecord record = world.copyAndVerify(world.insert(original, false));
    world.journal->setPhase(record.id, Phase::offloadSwapping);
    std::string staged = temporaryPath(original, TemporaryKind::link, record.id);
    fs::create_symlink(world.drivePath(record), staged);
    ASSERT_TRUE(swapItems(staged, original));

    world.locator->present = false;
    auto results = world.manager().recoverInFlight();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].action, RecoveryAction::deferred);
    EXPECT_EQ(results[0].detail, "The drive isn't connected.");
    EXPECT_EQ(test::readFile(staged), "quarterly numbers\n");

    world.locator->present = true;
    fs::remove(world.drivePath(record));  // the copy was lost on the way
    results = world.manager().recoverInFlight();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].action, RecoveryAction::deferred);
    EXPECT_EQ(results[0].detail, EngineError::driveCopyMissing(original).message());
    EXPECT_EQ(world.reload(record).phase, Phase::offloadSwapping);
    EXPECT_EQ(test::readFile(staged), "quarterly numbers\n");

    test::writeFile(world.drivePath(record), "quarterly numbers\n");
    results = world.manager().recoverInFlight();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].action, RecoveryAction::rolledForward);
    EXPECT_FALSE(FileStat::peek(staged));
    EXPECT_TRUE(logged(world, "Finished moving \xE2\x80\x9CReport.txt\xE2\x80\x9D after an interruption."));
}

TEST_F(RecoveryManagerTest, PendingFolderDeletionWaitsForTheDriveCopy) {
    std::string original = world.makeItem(true);
    OffloadRecord record = world.offloadCompletely(original, true);
    std::string trash = temporaryPath(original, TemporaryKind::trash, record.id);
    EngineWorld::copyItem(world.drivePath(record), trash);  // a deletion that failed earlier

    world.locator->present = false;
    world.manager().finishPendingDeletions();
    EXPECT_TRUE(FileStat::peek(trash));
    world.locator->present = true;
    std::string photo = world.drivePath(record) + "/sub/b.txt";
    fs::rename(photo, world.tmp / "b.txt");  // part of the drive copy is missing
    world.manager().finishPendingDeletions();
    // Never deleted on the strength of a copy that isn't whole: kept in view instead.
    EXPECT_FALSE(FileStat::peek(trash));
    EXPECT_EQ(test::readFile(original + " (recovered by Keldwick)/sub/b.txt"), "second photo");
    EXPECT_TRUE(world.isOurLink(original, record));
}

// A displaced folder whose deletion was cut short (a crash, an entry that wouldn't go)
// holds part of what was copied: the rest goes, and it is not taken for a folder an app
// changed. One that gained an entry meanwhile is still kept beside the link.
TEST_F(RecoveryManagerTest, AHalfDeletedDisplacedFolderIsFinishedNotKeptAsChanged) {
    std::string original = world.makeItem(true);
    OffloadRecord record = world.copyAndVerify(world.insert(original, true));
    std::string trash = temporaryPath(original, TemporaryKind::trash, record.id);
    fs::rename(original, trash);
    fs::create_symlink(world.drivePath(record), original);
    world.journal->setPhase(record.id, Phase::offloadCleanup);
    fs::remove(trash + "/a.txt");
    fs::remove(trash + "/sub/link");

    auto results = world.manager().recoverInFlight();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].action, RecoveryAction::rolledForward);
    EXPECT_EQ(results[0].detail, std::nullopt);
    EXPECT_EQ(world.reload(record).phase, Phase::offloaded);
    EXPECT_FALSE(FileStat::peek(trash));
    EXPECT_FALSE(FileStat::peek(original + " (recovered by Keldwick)"));

    // The same after a live deletion that failed part way, finished by a later recovery.
    EngineWorld::copyItem(world.drivePath(record), trash);
    fs::remove(trash + "/sub/b.txt");
    world.manager().finishPendingDeletions();
    EXPECT_FALSE(FileStat::peek(trash));
    EXPECT_FALSE(FileStat::peek(original + " (recovered by Keldwick)"));

    EngineWorld::copyItem(world.drivePath(record), trash);
    fs::remove(trash + "/a.txt");
    test::writeFile(trash + "/new.txt", "written after the copy");
    world.manager().finishPendingDeletions();
    EXPECT_FALSE(FileStat::peek(trash));
    EXPECT_EQ(test::readFile(original + " (recovered by Keldwick)/new.txt"), "written after the copy");
}

TEST_F(RecoveryManagerTest, ManifestRepairWritesMissingEntriesOnce) {
    std::string original = world.makeItem(true);
    OffloadRecord record = world.copyAndVerify(world.insert(original, true));
    world.journal->setPhase(record.id, Phase::offloaded);
    DriveManifest manifest{DriveLayout::appFolder(world.root)};
    EXPECT_TRUE(manifest.latestEntries(world.configuration.machineID).empty());

    world.manager().updateManifest(EngineWorld::driveID);
    auto entries = manifest.latestEntries(world.configuration.machineID);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].originalPath, original);
    EXPECT_EQ(entries[0].relativePath, record.driveRelativePath);
    EXPECT_EQ(entries[0].machine, world.configuration.machineID);
    EXPECT_EQ(entries[0].checksum, record.checksum);
    EXPECT_EQ(entries[0].entries, world.journal->treeEntries(record.id));
    world.manager().updateManifest(EngineWorld::driveID);
    EXPECT_EQ(manifest.read().size(), 1u);
}

TEST_F(RecoveryManagerTest, DiscardingADriveCopyIsRefusedWhileItIsLinkedOrHoldsOtherItems) {
    std::string original = world.makeItem(true);
    OffloadRecord record = world.offloadCompletely(original, true);
    RecoveryManager recovery = world.manager();
    try {
        recovery.discardDriveCopy(record, "you asked");
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "Only copies that are no longer linked can be deleted.");
    }

    world.journal->setPhase(record.id, Phase::linkMissing);
    try {
        recovery.discardDriveCopy(world.reload(record), "you asked");
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "\xE2\x80\x9C" "Album\xE2\x80\x9D has its shortcut again, so its copy on the drive is in use.");
    }
    EXPECT_EQ(world.reload(record).phase, Phase::offloaded);

    // Another moved item lies inside its folder on the drive (letter case aside).
    fs::remove(original);
    world.journal->setPhase(record.id, Phase::linkMissing);
    NewRecord inner;
    inner.originalPath = original + "/inner.txt";
    inner.driveID = EngineWorld::driveID;
    inner.driveRelativePath = Utf8::lowercased(record.driveRelativePath) + "/inner.txt";
    inner.phase = Phase::offloaded;
    OffloadRecord innerRecord = world.journal->insert(inner);
    EXPECT_THROW(recovery.discardDriveCopy(world.reload(record), "you asked"), EngineError);
    EXPECT_TRUE(FileStat::peek(world.drivePath(record)));

    world.journal->setPhase(innerRecord.id, Phase::abandoned);
    world.locator->present = false;
    EXPECT_EQ(([&] {
                  try {
                      recovery.discardDriveCopy(world.reload(record), "you asked");
                  } catch (const EngineError& error) {
                      return error.kind();
                  }
                  return EngineError::Kind::invalidState;
              })(),
              EngineError::Kind::driveUnavailable);

    world.locator->present = true;
    recovery.discardDriveCopy(world.reload(record), "you asked");
    EXPECT_FALSE(FileStat::peek(world.drivePath(record)));
    EXPECT_FALSE(FileStat::peek(PathUtil::parent(world.drivePath(record))));  // emptied parents go too
    EXPECT_TRUE(FileStat::peek(DriveLayout::appFolder(world.root)));
    EXPECT_EQ(world.reload(record).phase, Phase::superseded);
    EXPECT_TRUE(DriveManifest{DriveLayout::appFolder(world.root)}.latestEntries(world.configuration.machineID).empty());
    EXPECT_TRUE(logged(world, "Deleted the drive copy of \xE2\x80\x9C" "Album\xE2\x80\x9D (you asked)."));
}

class AdoptionTest : public RecoveryManagerTest {
protected:
    // A line for `original` and, with `linked`, the link a move leaves in its place (only
    // where that lies in a real folder of a home and nothing stands there yet).
    DriveManifest::Entry entryFor(const std::string& original, bool makeCopy = true, bool linked = true) {
        DriveManifest::Entry entry;
        entry.machine = world.configuration.machineID;
        entry.originalPath = original;
        entry.relativePath = world.relativeFor(original);
        entry.size = 18;
        entry.checksum = std::string(64, 'a');
        entry.date = Date{1'700'000'000};
        if (makeCopy) test::writeFile(PathUtil::join(world.root, entry.relativePath), "quarterly numbers\n");
        if (linked) linkInHome(entry, world.root);
        return entry;
    }
    static void linkInHome(const DriveManifest::Entry& entry, const std::string& root) {
        const fs::path original = entry.originalPath;
        const std::string at = original.parent_path().string();
        if (!original.is_absolute() || (at + "/").find("/home/") == std::string::npos ||
            fs::exists(fs::symlink_status(original)))
            return;
        std::error_code ignored;
        fs::create_directories(at, ignored);
        const auto real = fs::canonical(at, ignored);
        if (ignored || (real.string() + "/").find("/home/") == std::string::npos) return;
        fs::create_symlink(PathUtil::join(root, entry.relativePath), original, ignored);
    }
};

TEST_F(AdoptionTest, EntriesTheJournalLacksAreAddedAndTheirLinksChecked) {
    std::string linked = world.home + "/Documents/linked.txt";
    std::string unlinked = world.home + "/Documents/unlinked.txt";
    DriveManifest manifest{DriveLayout::appFolder(world.root)};
    auto first = entryFor(linked);
    manifest.append(first);
    manifest.append(entryFor(unlinked, true, false));
    manifest.append(entryFor(world.home + "/Documents/missing.txt", false));  // nothing on the drive

    auto results = world.manager().adoptManifestEntries(EngineWorld::driveID);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].action, RecoveryAction::adopted);
    EXPECT_EQ(results[0].name, "linked.txt");
    EXPECT_TRUE(logged(world, "Left on the drive, not added to Keldwick's list, because no shortcut in your home "
                              "folder leads to them, so nothing shows they were moved from this computer: "
                              "\xE2\x80\x9C" + unlinked + "\xE2\x80\x9D. They stay on the drive, with everything else "
                              "on it."));

    auto adopted = *world.journal->record(results[0].recordID);
    EXPECT_EQ(adopted.phase, Phase::offloaded);
    EXPECT_EQ(adopted.driveID, EngineWorld::driveID);
    EXPECT_EQ(adopted.checksum, first.checksum);
    EXPECT_EQ(adopted.createdAt, first.date);
    EXPECT_TRUE(logged(world, "Found \xE2\x80\x9Clinked.txt\xE2\x80\x9D on the drive and added it back to Keldwick's list."));
    // Known now: nothing is adopted twice.
    EXPECT_EQ(world.manager().adoptManifestEntries(EngineWorld::driveID), std::vector<RecoveryResult>{});
}

// A drive copy that is, holds or lies inside another item's copy (letter case aside) is
// never adopted: a restore or a discard of it would delete or damage the other's copy.
TEST_F(AdoptionTest, EntriesOverlappingAnotherItemsDriveCopyAreLeftOnTheDrive) {
    struct Case {
        std::string entry;                         // below Documents
        std::string other;                         // the other item's original path below Documents
        std::optional<std::string> otherRelative;  // its drive path below Documents, when not its own
        Phase phase;
        std::string otherDrive;
        bool adopted;
    };
    const std::string drive = EngineWorld::driveID;
    const std::vector<Case> cases = {
        {"Album", "Album/inner.txt", std::nullopt, Phase::offloaded, drive, false},
        {"Album", "Album/Inner.txt", "ALBUM/Inner.txt", Phase::linkMissing, drive, false},
        {"Album", "Elsewhere.txt", "Album", Phase::returned, drive, false},
        {"Album/sub/b.txt", "Album", std::nullopt, Phase::offloaded, drive, false},
        {"Album", "Album 2/inner.txt", std::nullopt, Phase::offloaded, drive, true},
        {"Album", "Album/inner.txt", std::nullopt, Phase::restored, drive, true},
        {"Album", "Album/inner.txt", std::nullopt, Phase::offloaded, "OTHER-DRIVE", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry + " beside " + c.other);
        EngineWorld fresh;
        const std::string documents = fresh.home + "/Documents/";
        auto entry = entryFor(documents + c.entry, false);
        entry.isDirectory = c.entry == "Album";
        entry.relativePath = fresh.relativeFor(entry.originalPath);
        test::writeFile(PathUtil::join(fresh.root, entry.relativePath) + (entry.isDirectory ? "/a.txt" : ""), "x");
        DriveManifest{DriveLayout::appFolder(fresh.root)}.append(entry);
        NewRecord other;
        other.originalPath = documents + c.other;
        other.driveID = c.otherDrive;
        other.driveRelativePath = fresh.relativeFor(documents + c.otherRelative.value_or(c.other));
        other.phase = c.phase;
        fresh.journal->insert(other);

        auto results = fresh.manager().adoptManifestEntries(EngineWorld::driveID);
        EXPECT_EQ(!results.empty() && results[0].action == RecoveryAction::adopted, c.adopted);
        EXPECT_TRUE(FileStat::peek(PathUtil::join(fresh.root, entry.relativePath)));
        if (!c.adopted) {
            EXPECT_EQ(fresh.journal->allRecords().size(), 1u);
            EXPECT_TRUE(logged(fresh, "Left on the drive, not added to Keldwick's list, because their copies there "
                                      "overlap the copies of other items: \xE2\x80\x9C" + entry.originalPath +
                                          "\xE2\x80\x9D."));
        }
    }
}

// A record restored or discarded while its drive was away still has its "offloaded" line
// there: that line gets the line the drive missed, never a new record. A line written
// after the record ended is another move and is taken.
TEST_F(AdoptionTest, LinesOfRecordsEndedMeanwhileAreClosedNotAdopted) {
    using Event = DriveManifest::Entry::Event;
    struct Case {
        Phase phase;
        double lineAfterEnd;  // seconds
        std::optional<Event> written;
    };
    for (const auto& c : {Case{Phase::restored, -60, Event::restored}, Case{Phase::superseded, 0, Event::discarded},
                          Case{Phase::restored, 3600, std::nullopt}, Case{Phase::abandoned, -60, std::nullopt}}) {
        SCOPED_TRACE(std::string(toString(c.phase)) + " " + std::to_string(c.lineAfterEnd));
        EngineWorld fresh;
        auto ended = fresh.insert(fresh.home + "/Documents/Report.txt", false, c.phase);
        auto entry = entryFor(ended.originalPath, false);
        entry.relativePath = ended.driveRelativePath;
        entry.date = Date{std::floor(ended.updatedAt.adding(c.lineAfterEnd).secondsSince1970)};
        test::writeFile(fresh.drivePath(ended), "quarterly numbers\n");
        DriveManifest manifest{DriveLayout::appFolder(fresh.root)};
        manifest.append(entry);

        auto results = fresh.manager().adoptManifestEntries(EngineWorld::driveID);
        EXPECT_EQ(results.empty(), c.written.has_value());
        EXPECT_EQ(manifest.read().back().event, c.written.value_or(Event::offloaded));
        EXPECT_EQ(manifest.read().size(), c.written ? 2u : 1u);
    }
}

// A forged line must not bring anything back outside the user's own files: only places
// strictly inside the home, off the drive and outside the protected folders are taken
// (also as the folders on their way resolve), lines without a machine id included; the
// rest stay on the drive, untouched and named.
TEST_F(AdoptionTest, OnlyPlacesInsideTheHomeAndOutsideProtectedFoldersAreAdopted) {
    const std::string& home = world.home;
    fs::create_directories(world.tmp / "outside");
    fs::create_directory_symlink(world.tmp / "outside", home + "/Documents/away");
    fs::create_directories(world.root + "/Photos");
    fs::create_directory_symlink(world.root + "/Photos", home + "/Documents/onto-drive");
    struct Case {
        std::string original;
        bool adopted;
        bool withMachineID = true;
    };
    const std::vector<Case> cases = {
        {home + "/Documents/Report.txt", true},
        {home + "/Documents/Old.txt", true, false},
        {home + "/Notes.txt", true},
        {home, false},
        {world.tmp / "outside/evil.desktop", false},
        {"/etc/cron.d/evil", false, false},
        {home + "/.ssh/authorized_keys", false},
        {home + "/.gnupg", false},
        {home + "/Library/LaunchAgents/evil.plist", false},
        {home + "/.local/share/Trash/files/x", false},
        {home + "/Documents/away/evil.desktop", false},
        {home + "/Documents/onto-drive/evil.txt", false},
    };
    DriveManifest manifest{DriveLayout::appFolder(world.root)};
    for (const auto& c : cases) {
        auto entry = entryFor(c.original, c.original != home);  // the home's "copy" is the folder above the others
        if (!c.withMachineID) entry.machine.reset();
        manifest.append(entry);
    }
    auto before = world.trees();

    world.manager().adoptManifestEntries(EngineWorld::driveID);
    std::set<std::string> adopted;
    for (const auto& record : world.journal->allRecords()) adopted.insert(record.originalPath);
    const auto texts = messages(world);
    auto warning = std::find_if(texts.begin(), texts.end(), [](const std::string& text) {
        return text.starts_with("Left on the drive, not added to Keldwick's list, because their places lie outside");
    });
    ASSERT_NE(warning, texts.end());
    for (const auto& c : cases) {
        EXPECT_EQ(adopted.contains(c.original), c.adopted) << c.original;
        EXPECT_EQ(warning->find("\xE2\x80\x9C" + c.original + "\xE2\x80\x9D") != std::string::npos, !c.adopted)
            << c.original;
    }
    EXPECT_EQ(world.trees(), before);
    EXPECT_FALSE(FileStat::peek(world.tmp / "outside/evil.desktop"));
}

// The home's hidden entries hold what the session runs by itself (autostart entries, user
// services, shell start-up files): a line naming one stays on the drive, even without a
// machine id; a hidden name deeper in the user's folders is the user's own.
TEST_F(AdoptionTest, LinesNamingTheHomesHiddenEntriesStayOnTheDrive) {
    const std::string& home = world.home;
    const std::vector<std::pair<std::string, bool>> cases = {
        {home + "/.config/autostart/evil.desktop", false},
        {home + "/.config/systemd/user/evil.service", false},
        {home + "/.bashrc", false},
        {home + "/Documents/.hidden-notes.txt", true},
    };
    DriveManifest manifest{DriveLayout::appFolder(world.root)};
    for (const auto& [original, adopted] : cases) {
        auto entry = entryFor(original);
        entry.machine.reset();
        manifest.append(entry);
    }
    world.manager().adoptManifestEntries(EngineWorld::driveID);
    std::set<std::string> adopted;
    for (const auto& record : world.journal->allRecords()) adopted.insert(record.originalPath);
    for (const auto& [original, expected] : cases) EXPECT_EQ(adopted.contains(original), expected) << original;
}

// An item moved from a hidden folder by hand is in the journal already: its line is
// neither adopted again nor reported as left on the drive, start after start.
TEST_F(AdoptionTest, LinesOfItemsTheJournalHoldsRaiseNoWarning) {
    const std::string original = world.home + "/.ollama/models";
    world.insert(original, true, Phase::offloaded);
    DriveManifest{DriveLayout::appFolder(world.root)}.append(entryFor(original));
    for (int start = 0; start < 2; ++start) {
        EXPECT_TRUE(world.manager().adoptManifestEntries(EngineWorld::driveID).empty());
        for (const auto& event : world.journal->events(100))
            EXPECT_FALSE(event.message.starts_with(kLeftOnDriveWarning)) << event.message;
    }
    EXPECT_EQ(world.journal->allRecords().size(), 1u);
}

// Without a home folder nothing is known to be the user's own: nothing is adopted. Nor is
// an item on the drive itself, when the drive is a folder inside the home.
TEST_F(AdoptionTest, NothingIsAdoptedWithoutAHomeOrForAPlaceOnTheDrive) {
    DriveManifest manifest{DriveLayout::appFolder(world.root)};
    auto entry = entryFor(world.home + "/Documents/Report.txt");
    manifest.append(entry);
    EngineWorld homeless;
    homeless.locator->mounts[homeless.drive.id] = world.root;
    homeless.configuration.homeFolder.clear();
    EXPECT_TRUE(homeless.manager().adoptManifestEntries(EngineWorld::driveID).empty());
    EXPECT_TRUE(homeless.journal->allRecords().empty());
    EXPECT_TRUE(logged(homeless, "Left on the drive, not added to Keldwick's list, because Keldwick doesn't know your "
                                 "home folder: \xE2\x80\x9C" + entry.originalPath + "\xE2\x80\x9D."));

    EngineWorld inside;
    const std::string drive = inside.home + "/Backup";
    fs::create_directories(drive);
    inside.locator->mounts[inside.drive.id] = drive;
    auto onDrive = entryFor(drive + "/Keldwick/Test Machine/x.txt", false);
    test::writeFile(PathUtil::join(drive, onDrive.relativePath), "x");
    DriveManifest{DriveLayout::appFolder(drive)}.append(onDrive);
    EXPECT_TRUE(inside.manager().adoptManifestEntries(EngineWorld::driveID).empty());
    EXPECT_TRUE(inside.journal->allRecords().empty());
}

// Two lines that overlap each other: at most one of them is current, and which one can't
// be told, so neither is taken; an unrelated line still is.
TEST_F(AdoptionTest, EntriesOverlappingEachOtherAreBothLeftOnTheDrive) {
    DriveManifest manifest{DriveLayout::appFolder(world.root)};
    auto outer = entryFor(world.home + "/Documents/Album", false);
    outer.isDirectory = true;
    auto inner = entryFor(world.home + "/Documents/Album/b.txt");
    auto alone = entryFor(world.home + "/Documents/Alone.txt");
    auto twin = entryFor(world.home + "/Documents/Twin.txt", false, false);
    twin.relativePath = alone.relativePath;
    linkInHome(twin, world.root);
    auto single = entryFor(world.home + "/Documents/Single.txt");
    for (const auto& entry : {outer, inner, alone, twin, single}) manifest.append(entry);

    world.manager().adoptManifestEntries(EngineWorld::driveID);
    // The inner line can have no link of its own (its place lies in the outer's copy),
    // so only the outer one counts; the twins both have theirs.
    std::set<std::string> adopted;
    for (const auto& record : world.journal->allRecords()) adopted.insert(record.originalPath);
    EXPECT_EQ(adopted, (std::set<std::string>{outer.originalPath, single.originalPath}));
    EXPECT_TRUE(FileStat::peek(PathUtil::join(world.root, inner.relativePath)));
}

TEST_F(AdoptionTest, HostileManifestTouchesNothingOutsideTheDrive) {
    std::string victim = test::writeFile(world.home + "/Documents/precious.txt", "keep me");
    std::string outside = test::writeFile(world.tmp / "outside/keep.txt", "outside");
    DriveManifest manifest{DriveLayout::appFolder(world.root)};
    const std::string prefix = DriveLayout::folderName() + "/" + world.configuration.machineFolder;

    auto climbing = entryFor(world.home + "/Documents/a.txt", false);
    climbing.relativePath = prefix + "/../../../home/Documents/precious.txt";
    auto absolute = entryFor(world.home + "/Documents/b.txt", false);
    absolute.relativePath = victim;
    auto otherMachine = entryFor(world.home + "/Documents/c.txt", false);
    otherMachine.relativePath = DriveLayout::folderName() + "/Other Machine/c.txt";
    test::writeFile(PathUtil::join(world.root, otherMachine.relativePath), "theirs");
    auto relativeOriginal = entryFor("Documents/d.txt", false);
    relativeOriginal.relativePath = prefix + "/Documents/d.txt";
    test::writeFile(PathUtil::join(world.root, relativeOriginal.relativePath), "d");
    // A folder on the drive that is a link out of it.
    fs::create_directories(PathUtil::join(world.root, prefix));
    fs::create_directory_symlink(world.tmp / "outside", PathUtil::join(world.root, prefix + "/escape"));
    auto throughLink = entryFor(world.home + "/Documents/e.txt", false);
    throughLink.relativePath = prefix + "/escape/keep.txt";
    auto dottedTree = entryFor(world.home + "/Documents/f", false);
    dottedTree.isDirectory = true;
    dottedTree.relativePath = prefix + "/Documents/f";
    fs::create_directories(PathUtil::join(world.root, dottedTree.relativePath));
    dottedTree.entries = std::vector<TreeEntry>{TreeEntry{"../../escape", TreeEntry::Kind::file, 1, std::nullopt, std::nullopt}};
    for (const auto& entry : {climbing, absolute, otherMachine, relativeOriginal, throughLink, dottedTree})
        manifest.append(entry);

    auto before = world.trees();
    EXPECT_EQ(world.recover(), std::vector<RecoveryResult>{});
    EXPECT_TRUE(world.journal->allRecords().empty());
    EXPECT_EQ(test::readFile(victim), "keep me");
    EXPECT_EQ(test::readFile(outside), "outside");
    auto after = world.trees();
    EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace keldwick

namespace keldwick {
namespace {

// A file swapped on a volume that could exchange, recovered where it can't (the home
// remounted through FUSE, say): the changed original goes back in the link's place by
// moving the link aside first, never by renaming over whatever stands there.
TEST_F(RecoveryManagerTest, ChangedDisplacedFileReturnsWithoutExchange) {
    std::string original = world.makeItem(false);
    OffloadRecord record = world.copyAndVerify(world.insert(original, false));
    world.journal->setPhase(record.id, Phase::offloadSwapping);
    std::string staged = temporaryPath(original, TemporaryKind::link, record.id);
    fs::create_symlink(world.drivePath(record), staged);
    ASSERT_TRUE(swapItems(staged, original));
    test::writeFile(staged, "edited after the swap");

    platform::ScopedRenameSupport noExchange({true, false});
    auto results = world.manager().recoverInFlight();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].action, RecoveryAction::rolledBack);
    EXPECT_EQ(test::readFile(original), "edited after the swap");
    EXPECT_EQ(world.reload(record).phase, Phase::abandoned);
    EXPECT_EQ(world.reload(record).error, EngineError::sourceChanged(original).message());
    EXPECT_EQ(world.workingNames(), std::vector<std::string>{});
    EXPECT_FALSE(FileStat::peek(world.drivePath(record)));
}

}  // namespace
}  // namespace keldwick
