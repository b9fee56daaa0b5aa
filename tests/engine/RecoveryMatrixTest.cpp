// Every state a move or a restore can be interrupted in, for a file and a folder, with
// and without name exchange, with the drive present or unplugged at the first recovery,
// and with the item disturbed meanwhile. After recovery (and, where it had to wait, a
// second one with the drive back) the record is settled, no working name is left, the
// item's latest bytes are visible somewhere, and another recovery changes nothing. The
// disturbances include a drive copy damaged at its full size and an older file put at
// the link's place, neither of which may cost the other copy.

#include <gtest/gtest.h>

#include "support/EngineWorld.h"
#include "foundation/ItemChecks.h"
#include "platform/Rename.h"

namespace keldwick {
namespace {

using test::EngineWorld;

// Where the road was cut: the offload executor's fault points (and, for a file where
// names can't be exchanged, the moment it sits aside before its link is made), then the
// restore's.
enum class Stop {
    offloadRecorded, offloadMidCopy, offloadCopied, offloadVerified, offloadLinkStaged, offloadSetAside, offloadSwapped,
    restoreRecorded, restoreMidCopy, restoreVerified, restoreFirstSwap, restoreSwapped, restoreDriveCopyDeleted,
};
const char* stopNames[] = {"OffloadRecorded", "OffloadMidCopy", "OffloadCopied", "OffloadVerified",
                           "OffloadLinkStaged", "OffloadSetAside", "OffloadSwapped", "RestoreRecorded", "RestoreMidCopy",
                           "RestoreVerified", "RestoreFirstSwap", "RestoreSwapped", "RestoreDriveCopyDeleted"};

enum class Disturbance { none, itemEdited, linkReplaced, originalDeleted, driveCopyDamaged, olderItemPut };
const char* disturbanceNames[] = {"Untouched",       "ItemEdited",       "LinkReplaced",
                                  "OriginalDeleted", "DriveCopyDamaged", "OlderItemPut"};

struct Case {
    Stop stop;
    bool folder;
    bool exchange;
    bool driveAtFirstRecovery;
    Disturbance disturbance;
};

std::string caseName(const testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    return std::string(stopNames[int(c.stop)]) + (c.folder ? "Folder" : "File") + (c.exchange ? "Exchange" : "Rename") +
           (c.driveAtFirstRecovery ? "DrivePresent" : "DriveAbsent") + disturbanceNames[int(c.disturbance)];
}

bool isRestore(Stop stop) { return stop >= Stop::restoreRecorded; }

class RecoveryMatrix : public testing::TestWithParam<Case> {
public:
    EngineWorld world;
    std::string original;
    OffloadRecord record;
    std::vector<std::string> expectedBytes;  // must be visible somewhere afterwards
    std::string olderItem;                   // born before the move, put at its place later

    std::string staged() const { return temporaryPath(original, TemporaryKind::link, record.id); }
    std::string trash() const { return temporaryPath(original, TemporaryKind::trash, record.id); }
    std::string restoreCopy() const { return temporaryPath(original, TemporaryKind::restore, record.id); }
    std::string partial() const { return temporaryPath(world.drivePath(record), TemporaryKind::partial, record.id); }

    // Plays the road up to the stop, as the executors leave it.
    void playUpTo(const Case& c) {
        if (c.disturbance == Disturbance::olderItemPut)
            olderItem = test::writeFile(world.tmp / "Report from last year.txt", "last year's numbers\n");
        original = world.makeItem(c.folder);
        if (!isRestore(c.stop)) {
            record = world.insert(original, c.folder);
            createDirectory(PathUtil::parent(world.drivePath(record)));
            if (c.stop == Stop::offloadRecorded) return;
            if (c.stop == Stop::offloadMidCopy) {
                if (c.folder) test::writeFile(partial() + "/a.txt", "first");
                else test::writeFile(partial(), "quarterly");
                return;
            }
            if (c.stop == Stop::offloadCopied) {
                EngineWorld::copyItem(original, partial());
                return;
            }
            record = world.copyAndVerify(record);
            if (c.stop == Stop::offloadVerified) return;
            world.journal->setPhase(record.id, Phase::offloadSwapping);
            if (c.folder) {
                renameItem(original, trash());
                if (c.stop == Stop::offloadLinkStaged) return;
                symlinkTo(original);
                world.journal->setPhase(record.id, Phase::offloadCleanup);
                return;
            }
            symlinkTo(staged());
            if (c.stop == Stop::offloadLinkStaged) return;
            if (c.exchange) {
                ASSERT_TRUE(swapItems(staged(), original));
                return;
            }
            // Without exchange the file steps aside and the link is made in its free place.
            PathUtil::removeTree(staged());
            renameExclusive(original, staged());
            if (c.stop == Stop::offloadSetAside) return;
            symlinkTo(original);
            return;
        }

        record = world.offloadCompletely(original, c.folder);
        world.journal->setPhase(record.id, Phase::restoreCopying);
        if (c.stop == Stop::restoreRecorded) return;
        if (c.stop == Stop::restoreMidCopy) {
            if (c.folder) test::writeFile(restoreCopy() + "/a.txt", "first");
            else test::writeFile(restoreCopy(), "quarterly");
            return;
        }
        EngineWorld::copyItem(world.drivePath(record), restoreCopy());
        world.journal->setRestoreChecksum(record.id, world.digest(restoreCopy(), c.folder).first);
        if (c.stop == Stop::restoreVerified) return;
        world.journal->setPhase(record.id, Phase::restoreSwapping);
        if (c.stop == Stop::restoreFirstSwap) {
            if (c.exchange) {
                ASSERT_TRUE(swapItems(restoreCopy(), original));  // the old link now at the working name
            } else {
                renameExclusive(original, staged());  // the link set aside, the copy not yet in place
            }
            return;
        }
        PathUtil::removeTree(original);  // the old link, unlinked after the swap
        renameItem(restoreCopy(), original);
        if (c.stop == Stop::restoreSwapped) return;
        world.journal->setPhase(record.id, Phase::restoreCleanup);
        PathUtil::removeTree(world.drivePath(record));
    }

    void symlinkTo(const std::string& at) {
        std::filesystem::create_symlink(world.drivePath(record), at);
    }

    // The item on this machine's side that holds its bytes, not a link.
    std::optional<std::string> computerSideItem() const {
        for (const auto& path : {original, staged(), trash()}) {
            auto status = FileStat::peek(path);
            if (status && !status->isSymlink()) return path;
        }
        return std::nullopt;
    }

    static bool applicable(const Case& c) {
        if (c.stop == Stop::offloadSetAside)
            return !c.folder && !c.exchange && (c.disturbance == Disturbance::none || c.disturbance == Disturbance::itemEdited);
        switch (c.disturbance) {
            case Disturbance::none:
                return true;
            case Disturbance::itemEdited:
                // Only what a user or an app can reach: not the restore's own working copy.
                if (isRestore(c.stop)) return c.stop >= Stop::restoreSwapped || (c.stop == Stop::restoreFirstSwap && c.exchange);
                return true;
            case Disturbance::linkReplaced:
                return c.stop == Stop::offloadSwapped || (c.stop >= Stop::restoreRecorded && c.stop <= Stop::restoreVerified);
            case Disturbance::originalDeleted:
                if (c.stop == Stop::offloadLinkStaged && c.folder) return false;
                return !(c.stop == Stop::restoreFirstSwap && !c.exchange);
            case Disturbance::driveCopyDamaged:
            case Disturbance::olderItemPut:
                return c.stop == Stop::offloadSwapped;
        }
        return false;
    }

    void disturb(const Case& c) {
        expectedBytes = c.folder ? std::vector<std::string>{"first photo", "second photo"}
                                 : std::vector<std::string>{"quarterly numbers\n"};
        switch (c.disturbance) {
            case Disturbance::none:
                return;
            case Disturbance::itemEdited: {
                auto item = computerSideItem();
                ASSERT_TRUE(item);
                if (c.folder) {
                    test::writeFile(*item + "/a.txt", "first photo, retouched");
                    expectedBytes = {"first photo, retouched", "second photo"};
                } else {
                    test::writeFile(*item, "quarterly numbers, corrected\n");
                    expectedBytes = {"quarterly numbers, corrected\n"};
                }
                return;
            }
            case Disturbance::linkReplaced: {
                ASSERT_TRUE(isLinkToDriveCopy(original, record));
                std::string saved = test::writeFile(world.tmp / "saved-by-app", "a new version");
                renameItem(saved, original);
                expectedBytes.push_back("a new version");  // the version it replaced is kept too
                return;
            }
            case Disturbance::driveCopyDamaged: {
                // Same size, other bytes, as after an unclean unplug.
                const std::string file = world.drivePath(record) + (c.folder ? "/a.txt" : "");
                std::string bytes = test::readFile(file);
                for (char& b : bytes) b = static_cast<char>(std::toupper(static_cast<unsigned char>(b)));
                test::writeFile(file, bytes);
                return;
            }
            case Disturbance::olderItemPut:
                ASSERT_TRUE(isLinkToDriveCopy(original, record));
                renameItem(olderItem, original);
                expectedBytes.push_back("last year's numbers\n");
                return;
            case Disturbance::originalDeleted: {
                auto status = FileStat::peek(original);
                ASSERT_TRUE(status);
                bool onlyLink = status->isSymlink();
                PathUtil::removeTree(original);
                // Bytes the user threw away before a checked copy existed are gone by choice;
                // so are those of a restored item deleted after its drive copy went.
                bool copyChecked = c.stop >= Stop::offloadVerified && c.stop != Stop::restoreDriveCopyDeleted;
                if (!onlyLink && !copyChecked) expectedBytes.clear();
                if (c.stop == Stop::restoreDriveCopyDeleted) expectedBytes.clear();
                return;
            }
        }
    }

    // Where each case must end once the drive is there.
    Phase expectedPhase(const Case& c) const {
        const Disturbance d = c.disturbance;
        switch (c.stop) {
            case Stop::offloadRecorded:
            case Stop::offloadMidCopy:
            case Stop::offloadCopied:
                return Phase::abandoned;
            case Stop::offloadVerified:
                return d == Disturbance::originalDeleted ? Phase::linkMissing : Phase::abandoned;
            case Stop::offloadLinkStaged:
                return !c.folder && d == Disturbance::originalDeleted ? Phase::offloaded : Phase::abandoned;
            case Stop::offloadSetAside:
                return Phase::abandoned;  // the file goes back to its place
            case Stop::offloadSwapped:
                if (d == Disturbance::none) return Phase::offloaded;
                // A copy without the recorded digest never lets the original go: the
                // original takes its place again and the move is undone.
                if (d == Disturbance::driveCopyDamaged) return Phase::abandoned;
                // A folder's move was past its point of no return: the displaced folder
                // goes, and the link check settles what happened at its place.
                if (c.folder && (d == Disturbance::linkReplaced || d == Disturbance::olderItemPut)) return Phase::returned;
                if (c.folder && d == Disturbance::originalDeleted) return Phase::linkMissing;
                if (c.folder) return Phase::offloaded;
                // The displaced file is kept beside the new one and the move undone; when
                // the first recovery, without the drive, already set it aside, the drive
                // copy stays as well. An older file put there keeps its dates, and is no
                // proof either.
                if (d == Disturbance::linkReplaced || d == Disturbance::olderItemPut)
                    return c.driveAtFirstRecovery ? Phase::abandoned : Phase::returned;
                return Phase::abandoned;
            case Stop::restoreRecorded:
            case Stop::restoreMidCopy:
            case Stop::restoreVerified:
                if (d == Disturbance::linkReplaced) return Phase::returned;
                if (d == Disturbance::originalDeleted) return Phase::linkMissing;
                return Phase::offloaded;
            case Stop::restoreFirstSwap:
            case Stop::restoreSwapped:
                if (d == Disturbance::itemEdited) return Phase::returned;
                if (d == Disturbance::originalDeleted) return Phase::offloaded;  // link made again
                return Phase::restored;
            case Stop::restoreDriveCopyDeleted:
                return Phase::restored;
        }
        return Phase::abandoned;
    }

    void expectTreesFit(Phase phase, Disturbance disturbance) {
        auto atOriginal = FileStat::peek(original);
        bool driveCopy = FileStat::peek(world.drivePath(record)).has_value();
        switch (phase) {
            case Phase::offloaded:
                EXPECT_TRUE(world.isOurLink(original, record));
                EXPECT_TRUE(driveCopy);
                break;
            case Phase::abandoned:
            case Phase::restored:
                // A damaged copy isn't the one made, so it is left where it is.
                EXPECT_EQ(driveCopy, disturbance == Disturbance::driveCopyDamaged);
                if (!expectedBytes.empty()) {
                    ASSERT_TRUE(atOriginal);
                    EXPECT_FALSE(atOriginal->isSymlink());
                }
                break;
            case Phase::returned:
                ASSERT_TRUE(atOriginal);
                EXPECT_FALSE(atOriginal->isSymlink());
                EXPECT_TRUE(driveCopy);
                break;
            case Phase::linkMissing:
                EXPECT_FALSE(isLinkToDriveCopy(original, record));
                EXPECT_TRUE(driveCopy);
                break;
            default:
                ADD_FAILURE() << "not settled: " << toString(phase);
        }
    }
};

TEST_P(RecoveryMatrix, SettlesKeepsTheBytesAndIsIdempotent) {
    const Case c = GetParam();
    platform::ScopedRenameSupport support({true, c.exchange});
    playUpTo(c);
    disturb(c);
    if (HasFatalFailure()) return;

    world.locator->present = c.driveAtFirstRecovery;
    auto first = world.recover();
    if (!c.driveAtFirstRecovery) {
        // Nothing on the drive could be touched; whatever waited is taken up once it's back.
        for (const auto& result : first) {
            if (result.recordID == record.id && result.action == RecoveryAction::deferred) {
                EXPECT_TRUE(isInFlight(world.reload(record).phase)) << result.detail.value_or("");
            }
        }
        world.locator->present = true;
        world.recover();
    }

    OffloadRecord settled = world.reload(record);
    EXPECT_EQ(toString(settled.phase), toString(expectedPhase(c))) << settled.error.value_or("");
    expectTreesFit(settled.phase, c.disturbance);
    EXPECT_EQ(world.workingNames(), std::vector<std::string>{});
    auto visible = world.visibleContents();
    for (const auto& bytes : expectedBytes) EXPECT_TRUE(visible.contains(bytes)) << "lost: " << bytes;

    auto treesBefore = world.trees();
    auto again = world.recover();
    EXPECT_EQ(again, std::vector<RecoveryResult>{});
    EXPECT_EQ(world.trees(), treesBefore);
    EXPECT_EQ(world.reload(record), settled);
}

std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (int stop = 0; stop <= int(Stop::restoreDriveCopyDeleted); ++stop)
        for (bool folder : {false, true})
            for (bool exchange : {true, false})
                for (bool drive : {true, false})
                    for (int d = 0; d <= int(Disturbance::olderItemPut); ++d)
                        if (Case c{Stop(stop), folder, exchange, drive, Disturbance(d)}; RecoveryMatrix::applicable(c))
                            cases.push_back(c);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllStops, RecoveryMatrix, testing::ValuesIn(allCases()), caseName);

}  // namespace
}  // namespace keldwick
