// What recovery must prove before it deletes either copy of an item, or gives a record a
// link: a copy on the drive whose bytes differ from the record, an item at the original
// place that isn't the one moved, and a link made for another drive's record must each
// leave every version where the user can find it.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/EngineWorld.h"
#include "platform/Rename.h"

namespace keldwick {
namespace {

using test::EngineWorld;
namespace fs = std::filesystem;

// Same length, other bytes: what an unclean unplug or a dropped flush can leave behind.
void damage(const std::string& file) {
    std::string bytes = test::readFile(file);
    for (char& c : bytes) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    test::writeFile(file, bytes);
}

struct DamagedCase {
    const char* name;
    bool folder;
    bool exchange;
};

// The move was cut short after its link went in, with the original still set aside; the
// drive copy has the right size but not the recorded digest. The original goes back to
// its place and the move is undone; the damaged copy is left alone on the drive.
TEST(DamagedDriveCopyTest, TheSetAsideOriginalIsPutBackNotDeleted) {
    const DamagedCase cases[] = {
        {"file swapped by exchange", false, true},
        {"folder in cleanup, exchange", true, true},
        {"folder in cleanup, no exchange", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::ScopedRenameSupport support({true, c.exchange});
        EngineWorld world;
        const std::string original = world.makeItem(c.folder);
        OffloadRecord record = world.copyAndVerify(world.insert(original, c.folder));
        world.journal->setPhase(record.id, Phase::offloadSwapping);
        const std::string link = temporaryPath(original, TemporaryKind::link, record.id);
        if (c.folder) {
            renameItem(original, temporaryPath(original, TemporaryKind::trash, record.id));
            fs::create_symlink(world.drivePath(record), original);
            world.journal->setPhase(record.id, Phase::offloadCleanup);
        } else {
            fs::create_symlink(world.drivePath(record), link);
            ASSERT_TRUE(swapItems(link, original));
        }
        const std::string damagedFile = c.folder ? world.drivePath(record) + "/a.txt" : world.drivePath(record);
        damage(damagedFile);

        world.recover();

        EXPECT_EQ(world.reload(record).phase, Phase::abandoned);
        auto status = FileStat::peek(original);
        ASSERT_TRUE(status);
        EXPECT_FALSE(status->isSymlink());
        EXPECT_EQ(test::readFile(c.folder ? original + "/a.txt" : original),
                  c.folder ? "first photo" : "quarterly numbers\n");
        EXPECT_EQ(test::readFile(damagedFile), c.folder ? "FIRST PHOTO" : "QUARTERLY NUMBERS\n");
        EXPECT_EQ(world.workingNames(), std::vector<std::string>{});
    }
}

// A moved folder whose displaced original outlived the move: once its drive copy no
// longer has the recorded digest it is never deleted, but kept in view beside the link.
TEST(DamagedDriveCopyTest, APendingDeletionKeepsTheFolderWhenItsCopyDiffers) {
    EngineWorld world;
    const std::string original = world.makeItem(true);
    OffloadRecord record = world.offloadCompletely(original, true);
    const std::string trash = temporaryPath(original, TemporaryKind::trash, record.id);
    EngineWorld::copyItem(world.drivePath(record), trash);
    damage(world.drivePath(record) + "/sub/b.txt");

    world.recover();

    EXPECT_FALSE(FileStat::peek(trash));
    const std::string kept = original + " (recovered by Keldwick)";
    EXPECT_EQ(test::readFile(kept + "/sub/b.txt"), "second photo");
    EXPECT_TRUE(world.isOurLink(original, record));
    EXPECT_EQ(world.reload(record).phase, Phase::offloaded);

    // With an intact copy the pending deletion goes ahead.
    EngineWorld intact;
    const std::string other = intact.makeItem(true);
    OffloadRecord moved = intact.offloadCompletely(other, true);
    const std::string otherTrash = temporaryPath(other, TemporaryKind::trash, moved.id);
    EngineWorld::copyItem(intact.drivePath(moved), otherTrash);
    intact.recover();
    EXPECT_FALSE(FileStat::peek(otherTrash));
    EXPECT_FALSE(FileStat::peek(other + " (recovered by Keldwick)"));
}

// A file move cut short in its swap, and then an item at the original place that is not
// the link. Only when that item is proven to be the one moved (the very item, or its
// bytes) may the undo delete the drive copy; an older file put there (mv and a trash
// put-back keep its dates) leaves both versions.
TEST(ItemAtTheOriginalPlaceTest, TheDriveCopyGoesOnlyWhenTheItemIsProvenTheMovedOne) {
    enum class After { linkReplacedByOlderFile, originalEditedNeverSwapped, originalReplacedBySameBytes };
    struct Case {
        const char* name;
        After after;
        bool exchange;
        Phase phase;
        const char* bytes;  // at the original place afterwards
    };
    const Case cases[] = {
        {"older file over the link, no exchange", After::linkReplacedByOlderFile, false, Phase::returned,
         "last year's numbers\n"},
        {"older file over the link, exchange done", After::linkReplacedByOlderFile, true, Phase::returned,
         "last year's numbers\n"},
        {"the original edited, never swapped", After::originalEditedNeverSwapped, false, Phase::abandoned,
         "quarterly numbers\nedited\n"},
        {"the original saved anew with its bytes", After::originalReplacedBySameBytes, false, Phase::abandoned,
         "quarterly numbers\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::ScopedRenameSupport support({true, c.exchange});
        EngineWorld world;
        const std::string older = test::writeFile(world.tmp / "Report from last year.txt", "last year's numbers\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // born well before the move
        const std::string original = world.makeItem(false);
        OffloadRecord record = world.copyAndVerify(world.insert(original, false));
        world.journal->setPhase(record.id, Phase::offloadSwapping);
        const std::string link = temporaryPath(original, TemporaryKind::link, record.id);
        switch (c.after) {
            case After::linkReplacedByOlderFile:
                fs::create_symlink(world.drivePath(record), link);
                if (c.exchange) {
                    ASSERT_TRUE(swapItems(link, original));
                    fs::remove(link);  // the displaced original unlinked, the phase not yet written
                } else {
                    renameItem(link, original);
                }
                renameItem(older, original);
                break;
            case After::originalEditedNeverSwapped:
                test::writeFile(original, "quarterly numbers\nedited\n");
                break;
            case After::originalReplacedBySameBytes: {
                const std::string saved = test::writeFile(world.tmp / "saved", "quarterly numbers\n");
                renameItem(saved, original);
                break;
            }
        }

        world.recover();

        EXPECT_EQ(toString(world.reload(record).phase), toString(c.phase));
        EXPECT_EQ(test::readFile(original), c.bytes);
        auto driveCopy = FileStat::peek(world.drivePath(record));
        EXPECT_EQ(driveCopy.has_value(), c.phase == Phase::returned);
        if (driveCopy) {
            EXPECT_EQ(test::readFile(world.drivePath(record)), "quarterly numbers\n");
        }
        EXPECT_EQ(world.workingNames(), std::vector<std::string>{});
    }
}

// One path moved to two drives: drive A's record lost its link, a newer version then
// went to drive B, whose link now stands at the path and whose drive is away. The link's
// text ends the same on both drives; it is never taken for A's, so A's record neither
// takes it back nor points it at A, nor takes it for A's when repairing A's restore cut
// short, and A's older copy may be discarded.
TEST(LinkOfAnotherDriveTest, ARecordNeverTakesOverALinkIntoAnotherDrive) {
    enum class Check { linkPass, linkPassDriveAway, staleOffloadedRecord, repairPass, discard };
    struct Case {
        const char* name;
        Check check;
        Phase before;
        Phase after;
    };
    const Case cases[] = {
        {"link pass, A present", Check::linkPass, Phase::linkMissing, Phase::linkMissing},
        {"link pass, A away", Check::linkPassDriveAway, Phase::linkMissing, Phase::linkMissing},
        {"A's record still offloaded", Check::staleOffloadedRecord, Phase::offloaded, Phase::linkMissing},
        {"A's restore cut short", Check::repairPass, Phase::restoreCopying, Phase::returned},
        {"A's older copy discarded", Check::discard, Phase::linkMissing, Phase::superseded},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineWorld world;
        const std::string original = world.makeItem(false);
        OffloadRecord onA = world.offloadCompletely(original, false);
        world.journal->setPhase(onA.id, c.before);
        fs::remove(original);

        // The newer version, moved to drive B.
        test::writeFile(original, "a newer version\n");
        const std::string driveB = world.tmp / "drive-b";
        NewRecord newer;
        newer.originalPath = original;
        newer.driveID = "DRIVE-2";
        newer.driveRelativePath = onA.driveRelativePath;
        newer.size = 16;
        newer.phase = Phase::offloaded;
        newer.checksum = world.digest(original, false).first;
        OffloadRecord onB = world.journal->insert(newer);
        EngineWorld::copyItem(original, onB.drivePath(driveB));
        fs::remove(original);
        fs::create_symlink(onB.drivePath(driveB), original);

        world.locator->present = c.check != Check::linkPassDriveAway;
        if (c.check == Check::discard) {
            world.manager().discardDriveCopy(world.reload(onA), "you asked");
        } else {
            world.recover();
        }

        EXPECT_EQ(toString(world.reload(onA).phase), toString(c.after));
        EXPECT_EQ(world.reload(onB).phase, Phase::offloaded);
        EXPECT_EQ(readLink(original), onB.drivePath(driveB));
        EXPECT_EQ(test::readFile(onB.drivePath(driveB)), "a newer version\n");
        EXPECT_EQ(FileStat::peek(world.drivePath(onA)).has_value(), c.after != Phase::superseded);
    }

    // Where no other drive's record holds the path, a link put back is taken back.
    EngineWorld world;
    const std::string original = world.makeItem(false);
    OffloadRecord record = world.offloadCompletely(original, false);
    world.journal->setPhase(record.id, Phase::linkMissing);
    world.recover();
    EXPECT_EQ(world.reload(record).phase, Phase::offloaded);
}

}  // namespace
}  // namespace keldwick
