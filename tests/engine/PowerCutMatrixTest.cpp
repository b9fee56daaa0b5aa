// The power goes at every flush, syncfs and journal commit of a move and of a restore, on
// a file and on a folder, on volumes that can and can't exchange names, and once more just
// after the operation ends; the computer and the drive then come back as a journaling file
// system could leave them, each holding only what was flushed on it: bytes, entries, and
// the modes, dates and tags the copies were given. The drive is attached
// or not at the next start. After recovery (and the drive's return) every version the user
// had must be visible at least once, no working name may remain, no record may be left in
// flight, and a further recovery must change nothing.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/EngineWorld.h"
#include "EngineWorldChecks.h"
#include "engine/OffloadEngine.h"
#include "platform/FileIO.h"
#include "platform/Rename.h"
#include "support/PowerCutSimulator.h"

namespace keldwick {
namespace {

using test::PowerCut;
using test::PowerCutSimulator;
using test::candidateFor;
using test::Content;
using test::contentOf;
using test::engineOver;
using test::EngineWorld;
using test::expectSettled;
using test::ScratchOnTmpfs;
using test::stateOf;

struct Case {
    bool restore;
    bool folder;
    bool exchange;
    bool driveAtRecovery;
    // The drive's folder for this computer was left open to others: the move narrows it.
    bool looseMachineFolder = false;

    std::string name() const {
        return std::string(restore ? "Restore" : "Move") + (folder ? "Folder" : "File") +
               (exchange ? "Exchange" : "Rename") + (driveAtRecovery ? "DrivePresent" : "DriveAbsent") +
               (looseMachineFolder ? "LooseMachineFolder" : "");
    }
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name(); }

// An item's content with the metadata its copies must keep: beside the bytes, each file's
// and folder's mode and modification time, and its tags.
std::optional<Content> contentAndMetadataOf(const std::string& path) {
    auto content = contentOf(path);
    if (!content) return content;
    Content all = *content;
    for (const auto& [entry, bytes] : *content) {
        const std::string full = entry.empty() || entry == "." ? path : path + "/" + entry;
        struct stat status {};
        if (::lstat(full.c_str(), &status) != 0 || S_ISLNK(status.st_mode)) continue;
        char tags[256] = "";
        const ssize_t tagged = ::lgetxattr(full.c_str(), "user.xdg.tags", tags, sizeof tags - 1);
        all[entry + " (metadata)"] = std::to_string(status.st_mode & 07777) + " " + std::to_string(status.st_mtim.tv_sec) +
                                    "." + std::to_string(status.st_mtim.tv_nsec) + " " +
                                    (tagged > 0 ? std::string(tags, static_cast<size_t>(tagged)) : "");
    }
    return all;
}

// Dates and modes no flush would set by chance, and tags, on every file and folder of the item.
void giveMetadata(const std::string& path) {
    int step = 0;
    auto give = [&](const std::string& item, bool folder) {
        const struct timespec times[2] = {{1'500'000'000 + step, 0}, {1'400'000'000 + step, 123'456'789}};
        ++step;
        ::chmod(item.c_str(), folder ? 0751 : 0640);
        ::utimensat(AT_FDCWD, item.c_str(), times, AT_SYMLINK_NOFOLLOW);
        ::lsetxattr(item.c_str(), "user.xdg.tags", "kept", 4, 0);
    };
    std::vector<std::string> relative;
    collectRelativePaths("", path, relative);
    // Deepest first, so that giving an entry its dates doesn't move its folder's.
    for (auto entry = relative.rbegin(); entry != relative.rend(); ++entry) {
        struct stat status {};
        const std::string full = path + "/" + *entry;
        if (::lstat(full.c_str(), &status) == 0 && !S_ISLNK(status.st_mode)) give(full, S_ISDIR(status.st_mode));
    }
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) give(path, S_ISDIR(status.st_mode));
}

// One operation with the power cut at one point (0: never), then the next start.
class PowerCutPlay {
public:
    PowerCutPlay(const Case& c, int cutAt) : case_(c), cutAt_(cutAt), support_({.exclusive = true, .exchange = c.exchange}) {}

    // Plays the operation under the simulator and returns the cut points it went through.
    int play() {
        const std::string path = case_.folder ? world_.makeFolder("Album", false) : world_.makeFile("Report.txt");
        if (case_.looseMachineFolder) {
            test::makeDirs(machineFolder());
            ::chmod(machineFolder().c_str(), 0755);
        }
        giveMetadata(path);
        precious_.push_back(*contentAndMetadataOf(path));
        int64_t id = 0;
        if (case_.restore) id = engineOver(world_)->offload(candidateFor(path), false).record.id;

        int events = 0;
        {
            PowerCutSimulator simulator({world_.home, world_.root}, world_.tmp / "kept by the simulator");
            simulator.watch(world_.journal);
            platform::ScopedFileSystemCalls installed(simulator);
            simulator.cutAt(cutAt_);
            bool failed = false;
            try {
                auto engine = engineOver(world_);
                if (case_.restore) engine->restore(id);
                else engine->offload(candidateFor(path), false);
            } catch (const PowerCut& cut) {
                EXPECT_EQ(cut.event, cutAt_);
            } catch (const std::exception& error) {
                // A refused commit reaches the core as a failed journal write.
                failed = true;
                EXPECT_TRUE(simulator.isOff()) << "the operation failed with the power on: " << error.what();
            }
            if (cutAt_ != 0) {
                EXPECT_TRUE(simulator.isOff()) << "the cut point was never reached";
            }
            if (failed && !simulator.isOff()) return 0;
            events = simulator.events();
            simulator.cutPower();
        }

        // The next start: the drive may be missing at first.
        world_.locator->present = case_.driveAtRecovery;
        engineOver(world_)->recover();
        world_.locator->present = true;
        engineOver(world_)->recover();

        expectSettled(world_, precious_, contentAndMetadataOf);
        const auto before = stateOf(world_);
        EXPECT_TRUE(engineOver(world_)->recover().empty()) << "a further recovery found work";
        EXPECT_EQ(stateOf(world_), before) << "a further recovery changed something";
        return events;
    }

    std::string machineFolder() const { return world_.appFolder() + "/" + world_.configuration.machineFolder; }
    mode_t machineFolderMode() const {
        struct stat status {};
        return ::lstat(machineFolder().c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
    }

private:
    Case case_;
    int cutAt_;
    EngineWorld world_;
    platform::ScopedRenameSupport support_;
    std::vector<Content> precious_;
};

class PowerCutMatrixTest : public ::testing::TestWithParam<Case> {};

TEST_P(PowerCutMatrixTest, NothingIsLostWhereverThePowerGoes) {
    ScratchOnTmpfs scratch;
    // A first play without a cut counts the points; the power then goes just after it ends.
    const int points = PowerCutPlay(GetParam(), 0).play();
    ASSERT_GT(points, 0) << "the operation made nothing durable";
    for (int point = 1; point <= points; ++point) {
        SCOPED_TRACE("power cut at flush or commit " + std::to_string(point) + " of " + std::to_string(points));
        PowerCutPlay(GetParam(), point).play();
        if (HasFatalFailure()) return;
    }
}

// The move narrows a loose folder of this computer's on the drive before it copies: a cut
// before that mode is flushed gives the looser one back, and nothing is lost either way.
TEST(PowerCutMatrixNarrowingTest, ACutAfterTheMachineFolderIsNarrowedLosesNothing) {
    ScratchOnTmpfs scratch;
    const Case move{false, false, true, true, true};
    PowerCutPlay uncut(move, 0);
    const int points = uncut.play();
    ASSERT_GT(points, 0) << "the operation made nothing durable";
    EXPECT_EQ(uncut.machineFolderMode(), 0700u) << "the narrowed mode was never flushed";
    std::set<mode_t> modes;
    for (int point = 1; point <= points; ++point) {
        SCOPED_TRACE("power cut at flush or commit " + std::to_string(point) + " of " + std::to_string(points));
        PowerCutPlay play(move, point);
        play.play();
        if (HasFatalFailure()) return;
        modes.insert(play.machineFolderMode());
    }
    modes.erase(0);  // recovery took the folder away, emptied when the copy was undone
    EXPECT_EQ(modes, (std::set<mode_t>{0700, 0755})) << "no cut came between the narrowing and its flush";
}

std::vector<Case> allCases() {
    std::vector<Case> all;
    for (bool restore : {false, true})
        for (bool folder : {false, true})
            for (bool exchange : {true, false})
                for (bool driveAtRecovery : {true, false}) all.push_back({restore, folder, exchange, driveAtRecovery});
    return all;
}

INSTANTIATE_TEST_SUITE_P(Everywhere, PowerCutMatrixTest, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name(); });

}  // namespace
}  // namespace keldwick
