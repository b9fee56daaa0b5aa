// The power goes at every flush, syncfs and journal commit of a start-up recovery that
// settles several moves and restores at once, with the journal in a file whose commits
// recovery groups: a commit of a group is durable only once the group's log is flushed,
// so a cut inside a group loses the commits before it too. The computer, the drive and
// the journal then come back as they were last flushed; after the next recovery every
// version the user had must be visible at least once, no record may be in flight, and a
// further recovery must change nothing.

#include <gtest/gtest.h>

#include <fcntl.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Clock.h"
#include "EngineWorldChecks.h"
#include "support/EngineWorld.h"
#include "engine/OffloadEngine.h"
#include "foundation/FileOps.h"
#include "foundation/ItemChecks.h"
#include "platform/FileIO.h"
#include "support/PowerCutJournalFiles.h"
#include "support/PowerCutSimulator.h"

namespace keldwick {
namespace {

using test::PowerCut;
using test::PowerCutJournalFiles;
using test::PowerCutSimulator;
using test::Content;
using test::contentOf;
using test::engineOver;
using test::EngineWorld;
using test::expectSettled;
using test::ScratchOnTmpfs;
using test::stateOf;

namespace fs = std::filesystem;

void copyItem(const std::string& from, const std::string& to) {
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

// One recovery of several interrupted operations with the power cut at one point (0:
// just after it ends), then the next start.
class GroupedRecoveryPlay {
public:
    // `alone`: a file set aside by its move, its link in place, is the only item, so no
    // other item's flush makes recovery's deletion of it durable.
    explicit GroupedRecoveryPlay(bool alone) : alone_(alone) {}

    // Plays the recovery under the simulators: the cut points it went through, and whether
    // the cut lost commits of a group that were made but not yet flushed.
    std::pair<int, bool> play(int cutAt) {
        stage();
        int events = 0;
        bool lostGroupedCommits = false;
        {
            PowerCutSimulator simulator({world_.home, world_.root}, world_.tmp / "kept by the simulator");
            simulator.watch(world_.journal);
            files_.powerIsOff([&simulator] { return simulator.isOff(); });
            platform::ScopedFileSystemCalls installed(simulator);
            swapUnflushed();
            simulator.cutAt(cutAt);
            try {
                engineOver(world_)->recover();
            } catch (const PowerCut& cut) {
                EXPECT_EQ(cut.event, cutAt);
            }
            if (cutAt != 0) {
                EXPECT_TRUE(simulator.isOff()) << "the cut point was never reached";
            }
            events = simulator.events();
            lostGroupedCommits = files_.commitsNotDurable() > 0;
            files_.powerIsOff([] { return true; });
            simulator.cutPower();
        }
        // The journal closes with the power off, so closing makes nothing durable.
        world_.journal.reset();
        files_.putBackDurableBytes();
        world_.journal = Journal::open(journalPath_, Clock::system());

        engineOver(world_)->recover();
        expectSettled(world_, precious_);
        const auto before = stateOf(world_);
        EXPECT_TRUE(engineOver(world_)->recover().empty()) << "a further recovery found work";
        EXPECT_EQ(stateOf(world_), before) << "a further recovery changed something";
        return {events, lostGroupedCommits};
    }

private:
    std::string keep(const std::string& path) {
        precious_.push_back(*contentOf(path));
        return path;
    }
    // The item offloaded by hand and then back at its place, with the record in `phase`.
    OffloadRecord offloadedAndBack(const std::string& path, Phase phase) {
        const std::string aside = world_.tmp / ("aside " + std::to_string(asides_++));
        copyItem(path, aside);
        OffloadRecord record = world_.offloadByHand(path);
        PathUtil::removeTree(path);
        fs::rename(aside, path);
        world_.journal->setPhase(record.id, phase);
        return record;
    }
    void linkAt(const OffloadRecord& record) {
        if (platform::calls().symlinkAt(world_.drivePath(record).c_str(), AT_FDCWD, record.originalPath.c_str()) != 0)
            throw std::runtime_error("symlink");
    }

    // Each road cut where recovery's work is heaviest: restores whose items stand in their
    // places again (their drive copies go once that is durable), moves whose links stand
    // with the items set aside, a verified copy to undo, and a record that needs only
    // journal work. What lies on disk so far is durable.
    void stage() {
        if (alone_) {
            // Its swap made durable already: only recovery's own steps are at stake.
            const OffloadRecord record = offloadedAndBack(keep(world_.makeFile("Notes.txt")), Phase::offloadSwapping);
            renameItem(record.originalPath, temporaryPath(record.originalPath, TemporaryKind::link, record.id));
            linkAt(record);
            ::sync();
            return;
        }
        for (bool folder : {false, true}) {
            const std::string path = keep(folder ? world_.makeFolder("Album", false) : world_.makeFile("Report.txt"));
            OffloadRecord record = world_.offloadByHand(path);
            world_.journal->setPhase(record.id, Phase::restoreSwapping);
            copyItem(world_.drivePathFor(path), temporaryPath(path, TemporaryKind::restore, record.id));
            restores_.push_back(record);
        }
        moves_.push_back(offloadedAndBack(keep(world_.makeFile("Notes.txt")), Phase::offloadSwapping));
        moves_.push_back(offloadedAndBack(keep(world_.makeFolder("Photos", false)), Phase::offloadSwapping));
        offloadedAndBack(keep(world_.makeFile("Budget.txt")), Phase::offloadVerified);
        const std::string recorded = keep(world_.makeFile("Letter.txt"));
        world_.journal->setPhase(world_.offloadByHand(recorded).id, Phase::restoreCopying);
        ::sync();
    }
    // The swaps the operations made last, not yet flushed when the power went: the
    // restored items in place of their links, the moved items aside and their links in place.
    void swapUnflushed() {
        for (const auto& record : restores_) {
            PathUtil::removeTree(record.originalPath);
            renameItem(temporaryPath(record.originalPath, TemporaryKind::restore, record.id), record.originalPath);
        }
        for (const auto& record : moves_) {
            const auto kind = record.isDirectory ? TemporaryKind::trash : TemporaryKind::link;
            renameItem(record.originalPath, temporaryPath(record.originalPath, kind, record.id));
            linkAt(record);
        }
    }

    PowerCutJournalFiles files_;  // before the journal opens, after it closes
    test::TempDir journalFolder_;
    std::string journalPath_ = journalFolder_ / "journal.sqlite";
    EngineWorld world_{Journal::open(journalPath_, Clock::system())};
    std::vector<Content> precious_;
    bool alone_;
    std::vector<OffloadRecord> restores_;
    std::vector<OffloadRecord> moves_;
    int asides_ = 0;
};

TEST(PowerCutRecoveryTest, NothingIsLostWhereverThePowerGoesInsideGroupedCommits) {
    ScratchOnTmpfs scratch;
    for (bool alone : {false, true}) {
        SCOPED_TRACE(alone ? "a set-aside file alone" : "every road");
        const int points = GroupedRecoveryPlay(alone).play(0).first;
        ASSERT_GT(points, 0) << "recovery made nothing durable";
        int insideGroups = 0;
        for (int point = 1; point <= points; ++point) {
            SCOPED_TRACE("power cut at flush or commit " + std::to_string(point) + " of " + std::to_string(points));
            if (GroupedRecoveryPlay(alone).play(point).second) ++insideGroups;
            if (testing::Test::HasFatalFailure()) return;
        }
        if (!alone) {
            EXPECT_GT(insideGroups, 0) << "no cut fell inside a group of commits";
        }
    }
}

}  // namespace
}  // namespace keldwick
