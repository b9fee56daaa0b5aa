// Recovery holds back the deletions that may only follow a flush, makes many records'
// folders and phases durable at once and then deletes on several threads. A folder that
// can't be flushed must hold back only the records whose items lie in it (restored items,
// or originals whose verified copies are undone): their phase stays where it was and their
// drive copies stay, while the other records settle; a later recovery settles them too.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "support/EngineWorld.h"
#include "platform/FileIO.h"

namespace keldwick {
namespace {

using test::EngineWorld;

// Fails every flush of one folder with EIO.
class FailingFolderFlush final : public platform::FileSystemCalls {
public:
    explicit FailingFolderFlush(std::string folder) : folder_(std::move(folder)) {}
    int fsync(int fd) override {
        char path[4096];
        const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1);
        if (n > 0 && std::string(path, size_t(n)) == folder_) {
            ++refused;
            errno = EIO;
            return -1;
        }
        return FileSystemCalls::fsync(fd);
    }
    int refused = 0;

private:
    std::string folder_;
};

// A restore cut short once the restored item stood in its place, its drive copy not yet deleted.
OffloadRecord restoredInPlace(EngineWorld& world, const std::string& original) {
    OffloadRecord record = world.offloadCompletely(original, false);
    world.journal->setPhase(record.id, Phase::restoreSwapping);
    PathUtil::removeTree(original);
    EngineWorld::copyItem(world.drivePath(record), original);
    return world.reload(record);
}

struct HeldCase {
    const char* name;
    const char* failingFolder;  // below the computer folder; "" for none
};

// Makes every commit fail that holds a change to a record matching `when` (SQL over NEW),
// through a deferred rule the change breaks; dropping the trigger `name` ends it.
void refuseCommitsChangingRecords(SQLiteConnection& db, const std::string& name, const std::string& when) {
    db.exec("CREATE TABLE refusal_parent (id INTEGER PRIMARY KEY);"
            "CREATE TABLE refusal (parent INTEGER REFERENCES refusal_parent(id) DEFERRABLE INITIALLY DEFERRED);"
            "CREATE TRIGGER " + name + " AFTER UPDATE ON records WHEN " + when +
            " BEGIN INSERT INTO refusal VALUES (1); END;");
}

// A move cut short once its copy was verified, the original still in its place.
OffloadRecord verifiedCopy(EngineWorld& world, const std::string& original) {
    return world.copyAndVerify(world.insert(original, false));
}

TEST(RecoveryHeldStepsTest, AFolderThatCantBeFlushedHoldsBackOnlyItsOwnRecords) {
    const HeldCase cases[] = {
        {"no failure", ""},
        {"Documents fails", "/Documents"},
        {"Music fails", "/Music"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineWorld world;
        test::makeDirs(world.home + "/Music");
        struct Item {
            OffloadRecord record;
            Phase settled;
        };
        std::vector<Item> items;
        // Enough records for the deletions to run on several threads.
        for (const char* folder : {"/Documents", "/Music"})
            for (int i = 0; i < 12; ++i) {
                const std::string original = world.home + folder + "/" + std::to_string(i) + ".txt";
                test::writeFile(original, std::string(folder) + std::to_string(i));
                if (i % 2 == 0) items.push_back({restoredInPlace(world, original), Phase::restored});
                else items.push_back({verifiedCopy(world, original), Phase::abandoned});
            }

        const std::string failing = *c.failingFolder ? world.home + c.failingFolder : "";
        {
            FailingFolderFlush calls(failing);
            platform::ScopedFileSystemCalls installed(calls);
            world.manager().recoverInFlight();
            EXPECT_EQ(calls.refused, failing.empty() ? 0 : 1) << "one flush per folder, not per record";
        }
        for (const auto& [record, settled] : items) {
            const bool heldBack = !failing.empty() && PathUtil::parent(record.originalPath) == failing;
            EXPECT_EQ(world.reload(record).phase, heldBack ? record.phase : settled) << record.originalPath;
            EXPECT_EQ(FileStat::peek(world.drivePath(record)).has_value(), heldBack) << record.originalPath;
            EXPECT_TRUE(FileStat::peek(record.originalPath)) << record.originalPath;
        }

        world.manager().recoverInFlight();
        for (const auto& [record, settled] : items) {
            EXPECT_EQ(world.reload(record).phase, settled) << record.originalPath;
            EXPECT_FALSE(FileStat::peek(world.drivePath(record))) << record.originalPath;
        }
    }
}

// Many repairs' journal changes share one commit. When that commit fails, none of them
// happened: each record keeps its phase, its result says it waits, and no deletion that
// only its changes allow runs; a later recovery settles them all.
TEST(RecoveryHeldStepsTest, RepairsWhoseSharedCommitFailsChangeNothing) {
  // Few records are repaired on one thread; many on several that share the commit.
  for (int count : {6, 48}) {
    SCOPED_TRACE(count);
    EngineWorld world;
    std::vector<OffloadRecord> records;
    for (int i = 0; i < count; ++i) {
        const std::string original = world.home + "/Documents/" + std::to_string(i) + ".txt";
        test::writeFile(original, "bytes " + std::to_string(i));
        if (i % 3 == 0) records.push_back(restoredInPlace(world, original));
        else if (i % 3 == 1) records.push_back(verifiedCopy(world, original));
        else {  // a restore recorded, its link still in place: journal work only
            OffloadRecord record = world.offloadCompletely(original, false);
            world.journal->setPhase(record.id, Phase::restoreCopying);
            records.push_back(world.reload(record));
        }
    }
    // Every change to a record leaves a row that breaks a deferred rule, so commits fail.
    auto& db = world.journal->db();
    refuseCommitsChangingRecords(db, "refuse_record_changes", "1");

    const auto results = world.manager().recoverInFlight();
    ASSERT_EQ(results.size(), records.size());
    for (const auto& result : results) EXPECT_EQ(result.action, RecoveryAction::deferred) << result.name;
    for (const auto& record : records) {
        EXPECT_EQ(world.reload(record).phase, record.phase) << record.originalPath;
        EXPECT_TRUE(FileStat::peek(world.drivePath(record))) << record.originalPath;
        EXPECT_TRUE(FileStat::peek(record.originalPath)) << record.originalPath;
    }

    db.exec("DROP TRIGGER refuse_record_changes");
    world.manager().recoverInFlight();
    for (const auto& record : records) {
        const Phase settled = record.phase == Phase::restoreSwapping  ? Phase::restored
                              : record.phase == Phase::offloadVerified ? Phase::abandoned
                                                                       : Phase::offloaded;
        EXPECT_EQ(world.reload(record).phase, settled) << record.originalPath;
    }
  }
}

// The held steps' own journal changes share one commit too. When it fails, the steps'
// deletions have happened but their records stay in the phase that allowed them, their
// results say they wait, and a later recovery finishes them from there.
TEST(RecoveryHeldStepsTest, StepsWhoseSharedCommitFailsAreTakenUpAgain) {
    EngineWorld world;
    std::vector<OffloadRecord> records;
    for (int i = 0; i < 32; ++i) {
        const std::string original = world.home + "/Documents/" + std::to_string(i) + ".txt";
        test::writeFile(original, "bytes " + std::to_string(i));
        records.push_back(i % 2 == 0 ? restoredInPlace(world, original) : verifiedCopy(world, original));
    }
    // The steps' last changes break a deferred rule; the changes that allow them don't.
    auto& db = world.journal->db();
    refuseCommitsChangingRecords(db, "refuse_settling", "NEW.phase IN ('restored', 'abandoned')");

    const auto results = world.manager().recoverInFlight();
    ASSERT_EQ(results.size(), records.size());
    for (const auto& result : results) EXPECT_EQ(result.action, RecoveryAction::deferred) << result.name;
    for (const auto& record : records) {
        const Phase allowed = record.phase == Phase::restoreSwapping ? Phase::restoreCleanup : record.phase;
        EXPECT_EQ(world.reload(record).phase, allowed) << record.originalPath;
        EXPECT_FALSE(FileStat::peek(world.drivePath(record))) << record.originalPath;
        EXPECT_TRUE(FileStat::peek(record.originalPath)) << record.originalPath;
    }

    db.exec("DROP TRIGGER refuse_settling");
    world.manager().recoverInFlight();
    for (const auto& record : records) {
        const Phase settled = record.phase == Phase::restoreSwapping ? Phase::restored : Phase::abandoned;
        EXPECT_EQ(world.reload(record).phase, settled) << record.originalPath;
        EXPECT_TRUE(FileStat::peek(record.originalPath)) << record.originalPath;
    }
    EXPECT_EQ(world.workingNames(), std::vector<std::string>{});
}

}  // namespace
}  // namespace keldwick
