// Reflinked copies on a real btrfs volume: copies of each other inside one item count
// once, and an item whose blocks another copy outside it keeps frees nothing, so a scan
// leaves it alone with the reason while a hand-picked move still takes it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <random>

#include "foundation/Clock.h"
#include "engine/OffloadEngine.h"
#include "engine/RestoreExecutor.h"
#include "foundation/EngineError.h"
#include "foundation/Formatting.h"
#include "foundation/PathUtil.h"
#include "platform/Extents.h"
#include "scanning/ManualMove.h"
#include "scanning/Scanner.h"
#include "scanning/WholeFolderInspector.h"
#include "support/EngineWorld.h"
#include "support/RealMounts.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

constexpr int64_t MB = 1024 * 1024;
constexpr double kDay = 86'400;

std::string randomFile(const std::string& path, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(MB, '\0');
    for (auto& byte : bytes) byte = static_cast<char>(generator());
    test::writeFile(path, bytes);
    return path;
}

void reflink(const std::string& from, const std::string& to) {
    const int source = ::open(from.c_str(), O_RDONLY);
    const int copy = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(source, 0);
    ASSERT_GE(copy, 0);
    EXPECT_EQ(::ioctl(copy, FICLONE, source), 0);
    ::close(source);
    ::close(copy);
}

class SharedExtentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto reason = test::mountSkipReason("mkfs.btrfs")) GTEST_SKIP() << *reason;
        volume_ = std::make_unique<test::LoopVolume>(dir.path() + "/btrfs.img", 256, "mkfs.btrfs -q -f", "mount",
                                                     dir.path() + "/btrfs");
        if (!volume_->mounted()) GTEST_SKIP() << "can't mount btrfs: " << volume_->error();
        home = dir.path() + "/btrfs/home";
        test::makeDirs(home + "/Footage");
        test::makeDirs(home + "/Clips");
        test::makeDirs(dir.path() + "/btrfs/elsewhere");
        // Three copies of one take inside Footage; Clips and "lone" hold copies of files
        // outside the home.
        randomFile(home + "/Footage/take1.mov", 1);
        reflink(home + "/Footage/take1.mov", home + "/Footage/take2.mov");
        reflink(home + "/Footage/take1.mov", home + "/Footage/take3.mov");
        reflink(randomFile(dir.path() + "/btrfs/elsewhere/clip.mov", 2), home + "/Clips/clip.mov");
        reflink(randomFile(dir.path() + "/btrfs/elsewhere/lone.mov", 3), home + "/lone.mov");
    }
    void TearDown() override {
        world.reset();
        volume_.reset();
    }

    test::TempDir dir;
    std::unique_ptr<test::LoopVolume> volume_;
    std::unique_ptr<test::EngineWorld> world;
    std::string home;
};

TEST_F(SharedExtentsTest, CopiesInsideTheItemCountOnceAndCopiesOfOutsideFilesFreeNothing) {
    OffloadPolicy policy;
    policy.minimumAge = 30 * kDay;
    policy.minimumItemSize = 1;
    policy.folderInactivity = 90 * kDay;
    const auto report = Scanner(policy, {}, {}, {}, Clock::system()->now().adding(1000 * kDay)).scan({home});

    const Candidate* footage = nullptr;
    for (const auto& candidate : report.candidates)
        if (candidate.path == home + "/Footage") footage = &candidate;
    ASSERT_TRUE(footage) << "three copies of one take free one";
    EXPECT_GE(footage->size, MB);
    EXPECT_LT(footage->size, 2 * MB);
    EXPECT_EQ(footage->driveSize, 3 * MB);

    std::map<std::string, std::string> reasons;
    for (const auto& skipped : report.skipped) reasons[skipped.path] = skipped.reason;
    EXPECT_EQ(reasons[home + "/lone.mov"], kSharedDataReason);
    EXPECT_EQ(reasons[home + "/Clips/clip.mov"], kSharedDataReason);
    EXPECT_EQ(reasons.count(home + "/Footage/take1.mov"), 0u) << "each take frees nothing alone, but goes with Footage";
    EXPECT_EQ(report.skippedCount, 2);
    for (const auto& candidate : report.candidates) {
        EXPECT_NE(candidate.path, home + "/lone.mov");
        EXPECT_NE(candidate.path, home + "/Clips");
    }

    // A folder judged whole counts the same way.
    const auto whole = WholeFolderInspector{}.inspect(home + "/Footage");
    ASSERT_EQ(whole.kind, WholeFolderInspector::Result::Kind::movable);
    EXPECT_EQ(whole.summary.size, footage->size);
    const auto clips = WholeFolderInspector{}.inspect(home + "/Clips");
    EXPECT_EQ(clips.summary.size, 0);
    EXPECT_EQ(clips.summary.keptElsewhere, MB);
}

// Picked by hand, an item that frees nothing still moves, and the log says why no room came of it.
TEST_F(SharedExtentsTest, AHandPickedMoveThatFreesNothingGoesAndSaysSo) {
    const auto chosen = ManualMove::candidates({home + "/Clips", home + "/Footage"}, home, {}, true, Clock::system()->now());
    EXPECT_TRUE(chosen.refusals.empty());
    ASSERT_EQ(chosen.candidates.size(), 2u);
    EXPECT_EQ(chosen.candidates[0].size, 0);
    EXPECT_GE(chosen.candidates[1].size, MB);

    test::makeDirs(dir.path() + "/btrfs/world");
    world = std::make_unique<test::EngineWorld>(Journal::inMemory(Clock::system()), dir.path() + "/btrfs/world");
    const std::string clips = world->home + "/Clips";
    test::makeDirs(clips);
    reflink(home + "/Clips/clip.mov", clips + "/clip.mov");
    Candidate candidate = test::candidateFor(clips);
    candidate.size = 0;
    const auto outcome = test::engineOver(*world)->offload(candidate, false);
    EXPECT_EQ(outcome.record.phase, Phase::offloaded);
    const auto events = world->journal->events(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].message, "Moved \u201CClips\u201D to " + world->drive.name +
                                     ". It frees no space on this computer: its data is shared with a snapshot or "
                                     "another copy.");

    // A file of nothing but holes takes no room either, and shares nothing.
    const std::string holes = world->home + "/blank.img";
    test::writeFile(holes, "");
    ASSERT_EQ(::truncate(holes.c_str(), 64 * MB), 0);
    Candidate blank = test::candidateFor(holes);
    blank.size = 0;  // its allocated size, as a hand-picked file is weighed
    EXPECT_EQ(test::engineOver(*world)->offload(blank, false).record.phase, Phase::offloaded);
    EXPECT_EQ(world->journal->events(1)[0].message, "Moved \u201Cblank.img\u201D (0 bytes) to " + world->drive.name + ".");
}

// Ten reflinked copies of one take: moved by hand the folder frees one take and says what
// the drive holds; it comes back into a home with less room than its size, cloned again.
TEST_F(SharedExtentsTest, AReflinkedFolderComesBackClonedIntoAHomeWithLessRoomThanItsSize) {
    test::makeDirs(dir.path() + "/btrfs/world");
    world = std::make_unique<test::EngineWorld>(Journal::inMemory(Clock::system()), dir.path() + "/btrfs/world");
    const std::string footage = world->home + "/Footage";
    test::makeDirs(footage);
    randomFile(footage + "/take01.mov", 7);
    auto takeName = [&](int i) { return footage + "/take" + (i < 10 ? "0" : "") + std::to_string(i) + ".mov"; };
    for (int i = 2; i <= 10; ++i) reflink(takeName(1), takeName(i));
    test::writeFile(footage + "/notes.txt", "cut at 00:42\n");
    const std::string take = test::readFile(footage + "/take01.mov");

    const auto chosen = ManualMove::candidates({footage}, world->home, {}, true, Clock::system()->now());
    ASSERT_EQ(chosen.candidates.size(), 1u);
    const Candidate candidate = chosen.candidates[0];
    ASSERT_LT(candidate.size, 2 * MB);
    const auto moved = test::engineOver(*world)->offload(candidate, false);
    ASSERT_EQ(moved.record.phase, Phase::offloaded);
    EXPECT_EQ(world->journal->events(moved.record.id)[0].message,
              "Moved \u201CFootage\u201D to " + world->drive.name + ": frees " + byteCountText(candidate.size) + "; " +
                  byteCountText(10 * MB + 13) + " on the drive.");

    RestoreExecutor restorer(world->context());
    restorer.availableBytes = [](const std::string&) { return std::optional<int64_t>(MB / 2); };
    EXPECT_THROW(restorer.restore(moved.record.id, std::nullopt), EngineError) << "not even one take fits";
    EXPECT_EQ(world->phaseOf(moved.record.id), Phase::offloaded);

    restorer.availableBytes = [](const std::string&) { return std::optional<int64_t>(3 * MB); };
    EXPECT_EQ(restorer.restore(moved.record.id, std::nullopt).phase, Phase::restored);
    for (int i = 1; i <= 10; ++i) {
        const std::string path = takeName(i);
        EXPECT_EQ(test::readFile(path), take) << path;
        const auto extents = platform::extentMap(path.c_str());
        ASSERT_TRUE(extents) << path;
        for (const auto& extent : *extents) EXPECT_TRUE(extent.shared) << path << " was written, not cloned";
    }
    EXPECT_EQ(test::readFile(footage + "/notes.txt"), "cut at 00:42\n");
}

// Copies counted as one content that differ on the drive now take room of their own: the
// copy stops before the home fills, with the whole figures, and nothing stays at home.
TEST_F(SharedExtentsTest, CopiesThatDifferOnTheDriveNowStopTheCopyBeforeTheHomeFills) {
    test::makeDirs(dir.path() + "/btrfs/world");
    world = std::make_unique<test::EngineWorld>(Journal::inMemory(Clock::system()), dir.path() + "/btrfs/world");
    const std::string footage = world->home + "/Footage";
    test::makeDirs(footage);
    randomFile(footage + "/take1.mov", 11);
    for (int i = 2; i <= 6; ++i) reflink(footage + "/take1.mov", footage + "/take" + std::to_string(i) + ".mov");
    const auto chosen = ManualMove::candidates({footage}, world->home, {}, true, Clock::system()->now());
    ASSERT_EQ(chosen.candidates.size(), 1u);
    const auto moved = test::engineOver(*world)->offload(chosen.candidates[0], false);
    ASSERT_EQ(moved.record.phase, Phase::offloaded);
    const std::string copy = world->drivePath(moved.record);
    for (int i = 4; i <= 6; ++i) randomFile(copy + "/take" + std::to_string(i) + ".mov", 20 + i);

    RestoreExecutor restorer(world->context());
    restorer.availableBytes = [](const std::string&) { return std::optional<int64_t>(3 * MB); };
    try {
        restorer.restore(moved.record.id, std::nullopt);
        ADD_FAILURE() << "brought back";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.kind(), EngineError::Kind::notEnoughSpaceOnComputer);
        EXPECT_GT(error.needed(), 3 * MB);
        EXPECT_EQ(error.available(), 3 * MB);
    }
    EXPECT_EQ(world->phaseOf(moved.record.id), Phase::offloaded);
    EXPECT_TRUE(test::workingNamesUnder(world->home).empty());
}

}  // namespace
}  // namespace keldwick
