#include "foundation/FileStat.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/InodeFlags.h"
#include "platform/POSIXFailure.h"
#include "platform/Statx.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

using namespace keldwick;
using keldwick::test::TempDir;

class FileStatTest : public ::testing::Test {
protected:
    TempDir tmp;
};

TEST_F(FileStatTest, ReportsKindsWithoutFollowingLinks) {
    test::writeFile(tmp / "file", "hello");
    test::makeDirs(tmp / "dir");
    ASSERT_EQ(mkfifo((tmp / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink((tmp / "dir").c_str(), (tmp / "link").c_str()), 0);

    auto file = FileStat::read(tmp / "file");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->kind, FileStat::Kind::file);
    EXPECT_EQ(file->size, 5);
    EXPECT_EQ(file->ownerID, getuid());
    EXPECT_EQ(file->linkCount, 1u);
    EXPECT_TRUE(S_ISREG(file->mode));

    struct stat plain;
    ASSERT_EQ(lstat((tmp / "file").c_str(), &plain), 0);
    EXPECT_EQ(file->inode, plain.st_ino);
    EXPECT_EQ(file->device, plain.st_dev);
    EXPECT_EQ(file->modificationTime, (Timespec{plain.st_mtim.tv_sec, plain.st_mtim.tv_nsec}));
    EXPECT_EQ(file->changeTime, (Timespec{plain.st_ctim.tv_sec, plain.st_ctim.tv_nsec}));
    EXPECT_LE(file->creationTime, file->changeTime);

    EXPECT_EQ(FileStat::read(tmp / "dir")->kind, FileStat::Kind::directory);
    EXPECT_EQ(FileStat::read(tmp / "fifo")->kind, FileStat::Kind::other);
    auto link = FileStat::read(tmp / "link");
    EXPECT_EQ(link->kind, FileStat::Kind::symlink);
    EXPECT_EQ(link->size, static_cast<int64_t>((tmp / "dir").size()));
}

TEST_F(FileStatTest, TellsAbsentItemsFromUnreadableOnes) {
    test::writeFile(tmp / "file", "x");
    EXPECT_FALSE(FileStat::read(tmp / "missing"));
    EXPECT_FALSE(FileStat::read(tmp / "file/through"));  // ENOTDIR
    EXPECT_FALSE(FileStat::peek(tmp / "missing"));
    ASSERT_EQ(symlink("loop", (tmp / "loop").c_str()), 0);
    EXPECT_THROW(FileStat::read(tmp / "loop/x"), POSIXFailure);  // ELOOP
    EXPECT_FALSE(FileStat::peek(tmp / "loop/x"));

    if (!test::canDropPrivileges()) GTEST_SKIP() << "needs root to act as another user";
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    test::writeFile(tmp / "closed/inner", "x");
    ASSERT_EQ(chmod((tmp / "closed").c_str(), 0700), 0);
    std::string path = tmp / "closed/inner";
    int status = test::runAsNobody([&] {
        try {
            FileStat::read(path);
        } catch (const POSIXFailure& failure) {
            return failure.operation() == "lstat" && failure.code() == EACCES && failure.path() == path ? 0 : 2;
        }
        return 1;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(FileStatTest, AllocatedSizeCountsBlocks) {
    test::writeFile(tmp / "empty", "");
    EXPECT_EQ(FileStat::read(tmp / "empty")->allocatedSize, 0);

    int fd = open((tmp / "sparse").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 64 << 20), 0);
    ASSERT_EQ(pwrite(fd, "x", 1, 32 << 20), 1);
    close(fd);
    auto sparse = FileStat::read(tmp / "sparse");
    EXPECT_EQ(sparse->size, 64 << 20);
    EXPECT_LT(sparse->allocatedSize, sparse->size);
    EXPECT_EQ(sparse->allocatedSize % 512, 0);
}

TEST_F(FileStatTest, LockBitsComeFromTheInodeAttributes) {
    std::string file = test::writeFile(tmp / "file", "x");
    auto plain = FileStat::read(file);
    EXPECT_FALSE(plain->isLocked());
    if (platform::changeLockBits(AT_FDCWD, file.c_str(), platform::kSystemImmutable, 0) != 0) {
        GTEST_SKIP() << "this file system or process can't set the immutable attribute";
    }
    auto locked = FileStat::read(file);
    EXPECT_TRUE(locked->isLocked());
    EXPECT_EQ(locked->flags, platform::kSystemImmutable);

    // Other inode flags (such as ext4's extents flag) survive a lock round trip.
    int fd = open(file.c_str(), O_RDONLY);
    long before = 0, after = 0;
    ASSERT_EQ(ioctl(fd, FS_IOC_GETFLAGS, &before), 0);
    EXPECT_EQ(platform::changeLockBits(AT_FDCWD, file.c_str(), 0, platform::kLockMask), 0);
    ASSERT_EQ(ioctl(fd, FS_IOC_GETFLAGS, &after), 0);
    close(fd);
    EXPECT_EQ(after, before & ~static_cast<long>(FS_IMMUTABLE_FL));
    EXPECT_FALSE(FileStat::read(file)->isLocked());

    ASSERT_EQ(symlink(file.c_str(), (tmp / "link").c_str()), 0);
    EXPECT_EQ(platform::changeLockBits(AT_FDCWD, (tmp / "link").c_str(), platform::kSystemImmutable, 0), EINVAL);
    EXPECT_FALSE(FileStat::read(file)->isLocked());  // the target was not touched
}

TEST_F(FileStatTest, ExtraStatStandsInWhereLinuxKeepsNothing) {
    ExtraStat missing = ExtraStat::read(tmp / "missing");
    EXPECT_FALSE(missing.added);
    EXPECT_FALSE(missing.privateSize);

    std::string file = test::writeFile(tmp / "file", std::string(8192, 'x'));
    ExtraStat extra = ExtraStat::read(file);
    ASSERT_TRUE(extra.added);
    EXPECT_EQ(*extra.added, FileStat::read(file)->changeDate());
    // Only file systems that share extents report a private size; this is not one of them
    // unless it says so.
    if (extra.privateSize) {
        EXPECT_GE(*extra.privateSize, 0);
    }
    EXPECT_FALSE(ExtraStat::read(tmp.path()).privateSize);  // folders never have one
}

namespace {

// A small btrfs volume on a loop device, for the shared-extent cases; unmounted when done.
class BtrfsVolume {
public:
    explicit BtrfsVolume(const TempDir& tmp) : image_(tmp / "btrfs.img"), mountPoint_(tmp / "btrfs") {
        test::makeDirs(mountPoint_);
        std::string make = "truncate -s 128M '" + image_ + "' && mkfs.btrfs -q '" + image_ + "' >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) return;
        std::string attach = "mount -o loop '" + image_ + "' '" + mountPoint_ + "' >/dev/null 2>&1";
        mounted_ = std::system(attach.c_str()) == 0;
    }
    ~BtrfsVolume() {
        if (mounted_) umount2(mountPoint_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    std::string operator/(const std::string& name) const { return mountPoint_ + "/" + name; }

private:
    std::string image_;
    std::string mountPoint_;
    bool mounted_ = false;
};

}  // namespace

TEST_F(FileStatTest, PrivateSizeLeavesOutExtentsSharedWithClones) {
    BtrfsVolume volume(tmp);
    if (!volume.mounted()) GTEST_SKIP() << "needs mkfs.btrfs and loop mounts";
    constexpr int64_t kSize = 1 << 20;
    std::string bytes(kSize, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    std::string original = test::writeFile(volume / "original", bytes);
    EXPECT_EQ(ExtraStat::read(original).privateSize, kSize);

    int source = open(original.c_str(), O_RDONLY);
    int clone = open((volume / "clone").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(source, 0);
    ASSERT_GE(clone, 0);
    ASSERT_EQ(ioctl(clone, FICLONE, source), 0);
    close(source);
    EXPECT_EQ(ExtraStat::read(original).privateSize, 0);
    EXPECT_EQ(ExtraStat::read(volume / "clone").privateSize, 0);

    // Rewriting part of the clone gives it a private extent of its own.
    std::string patch(65536, 'p');
    ASSERT_EQ(pwrite(clone, patch.data(), patch.size(), 0), static_cast<ssize_t>(patch.size()));
    ASSERT_EQ(fsync(clone), 0);
    close(clone);
    auto clonePrivate = ExtraStat::read(volume / "clone").privateSize;
    ASSERT_TRUE(clonePrivate);
    EXPECT_GE(*clonePrivate, 65536);
    EXPECT_LT(*clonePrivate, kSize);
}
