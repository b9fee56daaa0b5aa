// Files of a moved folder that are names of one file (snapshots made with `cp -al`) stay
// one file: on the drive, in the room counted both ways, and back home. A drive that
// can't hold such links refuses the folder before anything is written.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>

#include "engine/OffloadEngine.h"
#include "engine/RestoreExecutor.h"
#include "foundation/EngineError.h"
#include "platform/FileIO.h"
#include "support/EngineWorld.h"
#include "support/RealMounts.h"

namespace keldwick {
namespace {

using test::candidateFor;
using test::contentOf;
using test::engineOver;
using test::EngineWorld;
namespace fs = std::filesystem;

constexpr int kSnapshots = 5;
constexpr size_t kArchiveSize = 1 << 20;

struct stat statusOf(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) ADD_FAILURE() << "lstat " << path;
    return status;
}

// The blocks a tree takes, each file once however many names it has.
int64_t allocatedOnce(const std::string& folder) {
    std::map<ino_t, int64_t> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const struct stat status = statusOf(entry.path());
        if (S_ISREG(status.st_mode)) files[status.st_ino] = status.st_blocks * 512;
    }
    int64_t total = 0;
    for (const auto& [inode, bytes] : files) total += bytes;
    return total;
}

std::set<ino_t> archiveInodes(const std::string& folder) {
    std::set<ino_t> inodes;
    for (int i = 1; i <= kSnapshots; ++i)
        inodes.insert(statusOf(folder + "/snap" + std::to_string(i) + "/archive.bin").st_ino);
    return inodes;
}

// Reports every volume as exFAT.
class ExFATCalls final : public platform::FileSystemCalls {
public:
    int fstatfs(int fd, struct statfs* into) override {
        const int result = FileSystemCalls::fstatfs(fd, into);
        if (result == 0) into->f_type = 0x2011BAB0;
        return result;
    }
};

// Takes no further name for any file, as a file with the most names a volume allows.
class NoMoreNames final : public platform::FileSystemCalls {
public:
    int linkAt(int, const char*, int, const char*, int) override {
        errno = EMLINK;
        return -1;
    }
};

class HardLinksTest : public ::testing::Test {
protected:
    EngineWorld world;

    // "Backups": five snapshot folders, each with the same 1 MB archive (one file, five
    // names) and a note of its own.
    std::string makeSnapshots() {
        const std::string folder = world.home + "/Documents/Backups";
        std::string archive(kArchiveSize, '\0');
        for (size_t i = 0; i < archive.size(); ++i) archive[i] = static_cast<char>((i * 31) % 251);
        test::writeFile(folder + "/snap1/archive.bin", archive);
        for (int i = 1; i <= kSnapshots; ++i) {
            const std::string snapshot = folder + "/snap" + std::to_string(i);
            if (i > 1) {
                fs::create_directories(snapshot);
                fs::create_hard_link(folder + "/snap1/archive.bin", snapshot + "/archive.bin");
            }
            test::writeFile(snapshot + "/notes.txt", "snapshot " + std::to_string(i) + "\n");
        }
        return folder;
    }

    OffloadRecord move(const std::string& path) {
        return engineOver(world)->offload(candidateFor(path), false).record;
    }

    void expectRefusedUntouched(const std::string& folder, const std::map<std::string, std::string>& content) {
        try {
            move(folder);
            ADD_FAILURE() << "moved to a drive that can't hold hard links";
        } catch (const EngineError& error) {
            EXPECT_EQ(error.kind(), EngineError::Kind::notEligible);
            EXPECT_EQ(std::string(error.what()),
                      "\u201CBackups\u201D stays on your computer (Has files that are hard links of each other, which "
                      "this drive's format can't keep as links).");
        }
        EXPECT_TRUE(world.journal->allRecords().empty());
        EXPECT_FALSE(fs::exists(world.drivePathFor(folder)));
        EXPECT_EQ(contentOf(folder), content);
        EXPECT_EQ(archiveInodes(folder).size(), 1u);
    }
};

TEST_F(HardLinksTest, SnapshotsTakeTheirSpaceOnceOnTheDriveAndComeBackLinked) {
    const std::string folder = makeSnapshots();
    const auto content = contentOf(folder);
    const int64_t atHome = allocatedOnce(folder);

    const OffloadRecord moved = move(folder);
    ASSERT_EQ(moved.phase, Phase::offloaded);
    EXPECT_LT(moved.size, 2 * static_cast<int64_t>(kArchiveSize)) << "the item's size counts the archive once";
    const std::string onDrive = world.drivePathFor(folder);
    EXPECT_EQ(archiveInodes(onDrive).size(), 1u);
    EXPECT_EQ(statusOf(onDrive + "/snap1/archive.bin").st_nlink, static_cast<nlink_t>(kSnapshots));
    EXPECT_LE(allocatedOnce(onDrive), atHome + 64 * 1024);
    const auto recorded = world.journal->recordedMetadata(moved.id);
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->linkGroups.size(), static_cast<size_t>(kSnapshots));
    EXPECT_FALSE(recorded->linkGroups.count("snap1/notes.txt"));

    // This computer has room for the archive once, not five times.
    RestoreExecutor restore(world.context());
    restore.availableBytes = [](const std::string&) { return std::optional<int64_t>(3 * kArchiveSize); };
    EXPECT_EQ(restore.restore(moved.id, std::nullopt).phase, Phase::restored);
    EXPECT_EQ(contentOf(folder), content);
    EXPECT_EQ(archiveInodes(folder).size(), 1u);
    EXPECT_EQ(statusOf(folder + "/snap3/archive.bin").st_nlink, static_cast<nlink_t>(kSnapshots));
    EXPECT_NE(statusOf(folder + "/snap1/notes.txt").st_ino, statusOf(folder + "/snap2/notes.txt").st_ino);
}

// A drive with room for the archive once, never for its five names.
TEST_F(HardLinksTest, TheDriveNeedsRoomForEachFileOnce) {
    if (auto reason = test::mountSkipReason()) GTEST_SKIP() << *reason;
    const std::string mountPoint = world.tmp / "small";
    fs::create_directories(mountPoint);
    test::TmpfsMount small(mountPoint, "size=4m");
    if (!small.mounted()) GTEST_SKIP() << "can't mount a tmpfs";
    world.root = mountPoint;
    world.locator->mounts[world.drive.id] = mountPoint;

    const std::string folder = makeSnapshots();
    EXPECT_EQ(move(folder).phase, Phase::offloaded);
    EXPECT_EQ(archiveInodes(world.drivePathFor(folder)).size(), 1u);
}

// The journal decides what comes home as one file; the drive's copies are checked: names
// the drive split keep their link only where their contents still match.
TEST_F(HardLinksTest, LinksComeBackFromTheRecordOnlyBetweenEqualContents) {
    const std::string folder = makeSnapshots();
    const OffloadRecord moved = move(folder);
    ASSERT_EQ(moved.phase, Phase::offloaded);
    const std::string onDrive = world.drivePathFor(folder);
    // Split by hand on the drive: the same bytes under a file of their own.
    const std::string split = onDrive + "/snap2/archive.bin";
    fs::copy_file(split, split + ".tmp");
    fs::rename(split + ".tmp", split);

    FileCopier copier(world.configuration.chunkSize);
    copier.untrustedUmask = 022;
    copier.recorded = world.journal->recordedMetadata(moved.id);
    ASSERT_TRUE(copier.recorded);
    const std::string back = world.tmp / "back";
    FileCopier::LinkGroups linked;
    copier.copyTree(onDrive, back, nullptr, &linked);
    EXPECT_EQ(archiveInodes(back).size(), 1u);
    EXPECT_EQ(linked.size(), static_cast<size_t>(kSnapshots));

    // Another content under a name recorded in the group stays a file of its own.
    copier.recorded->linkGroups["snap1/notes.txt"] = copier.recorded->linkGroups.at("snap1/archive.bin");
    const std::string again = world.tmp / "again";
    copier.copyTree(onDrive, again, nullptr, &linked);
    EXPECT_EQ(archiveInodes(again).size(), 1u);
    EXPECT_EQ(statusOf(again + "/snap1/notes.txt").st_nlink, 1u);
    EXPECT_FALSE(linked.count("snap1/notes.txt"));
    EXPECT_EQ(test::readFile(again + "/snap1/notes.txt"), "snapshot 1\n");

    // Without a record (an adopted item) nothing is linked, whatever the drive holds.
    copier.recorded.reset();
    const std::string adopted = world.tmp / "adopted";
    copier.copyTree(onDrive, adopted, nullptr, &linked);
    EXPECT_EQ(archiveInodes(adopted).size(), static_cast<size_t>(kSnapshots));
    EXPECT_TRUE(linked.empty());
}

// Where the volume takes no further name, each name is copied on its own: nothing lost.
TEST_F(HardLinksTest, NamesTheVolumeWontTakeAreCopiedOnTheirOwn) {
    const std::string folder = makeSnapshots();
    const std::string copy = world.tmp / "copy";
    FileCopier::LinkGroups linked{{"stale", 9}};
    {
        NoMoreNames calls;
        platform::ScopedFileSystemCalls scoped(calls);
        FileCopier(world.configuration.chunkSize).copyTree(folder, copy, nullptr, &linked);
    }
    EXPECT_TRUE(linked.empty());
    EXPECT_EQ(archiveInodes(copy).size(), static_cast<size_t>(kSnapshots));
    EXPECT_EQ(contentOf(copy), contentOf(folder));
}

// A name outside the folder keeps the whole folder home, as before.
TEST_F(HardLinksTest, ALinkReachingOutsideTheFolderKeepsItHome) {
    const std::string folder = makeSnapshots();
    fs::create_hard_link(folder + "/snap1/archive.bin", world.home + "/Documents/archive-elsewhere.bin");
    try {
        move(folder);
        ADD_FAILURE() << "moved a folder sharing a file with another";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.kind(), EngineError::Kind::notEligible);
        EXPECT_NE(std::string(error.what()).find("Has multiple hard links"), std::string::npos) << error.what();
    }
    EXPECT_TRUE(world.journal->allRecords().empty());
}

TEST_F(HardLinksTest, ADriveThatCantHoldLinksRefusesTheFolderBeforeWriting) {
    const std::string folder = makeSnapshots();
    const auto content = contentOf(folder);
    ExFATCalls exFAT;
    platform::ScopedFileSystemCalls scoped(exFAT);
    expectRefusedUntouched(folder, *content);
}

TEST_F(HardLinksTest, AnExFATDriveRefusesTheFolderBeforeWriting) {
    if (auto reason = test::mountSkipReason("mount.exfat-fuse")) GTEST_SKIP() << *reason;
    const std::string mountPoint = world.tmp / "exfat";
    fs::create_directories(mountPoint);
    test::LoopVolume volume(world.tmp / "exfat.img", 16, "mkfs.exfat -L Travel", "mount.exfat-fuse -o umask=022",
                            mountPoint);
    if (!volume.mounted()) GTEST_SKIP() << "can't mount: " << volume.error();
    world.root = mountPoint;
    world.locator->mounts[world.drive.id] = mountPoint;

    const std::string folder = makeSnapshots();
    const auto content = contentOf(folder);
    expectRefusedUntouched(folder, *content);
    EXPECT_FALSE(fs::exists(world.appFolder() + "/" + world.configuration.machineFolder));
}

}  // namespace
}  // namespace keldwick
