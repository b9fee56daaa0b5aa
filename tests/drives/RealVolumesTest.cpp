// Facts of real mounted volumes: loop-mounted ext4, tmpfs, and exFAT and NTFS through FUSE.
// These need root, loop devices and the file-system tools; they skip with the reason otherwise.

#include <gtest/gtest.h>

#include <algorithm>

#include "drives/DriveEligibility.h"
#include "drives/DriveHardware.h"
#include "drives/VolumeInfo.h"
#include "support/RealMounts.h"
#include "support/TempDir.h"

using namespace keldwick;

namespace {

bool contains(const std::vector<std::string>& paths, const std::string& path) {
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

// The test volumes are a few megabytes, far too small to choose: what else is wrong.
std::vector<DriveProblem> besidesSize(const VolumeInfo& volume, const std::optional<DriveHardware>& hardware) {
    auto problems = DriveEligibility::problems(volume, hardware);
    std::erase(problems, DriveProblem::tooSmall());
    return problems;
}

}  // namespace

TEST(RealVolumesTest, TmpfsAtAPathWithASpace) {
    if (auto reason = test::mountSkipReason()) GTEST_SKIP() << *reason;
    test::TempDir temp;
    std::string point = temp / "My Volume";
    test::TmpfsMount mount(point, "size=16m");
    if (!mount.mounted()) GTEST_SKIP() << "tmpfs could not be mounted";

    auto volume = VolumeInfo::read(point + "/");
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->mountPath, point);
    EXPECT_EQ(volume->name, "My Volume");
    EXPECT_EQ(volume->fileSystem, "tmpfs");
    EXPECT_FALSE(volume->kernelName);
    EXPECT_FALSE(volume->volumeUUID);
    EXPECT_EQ(volume->totalBytes, 16 << 20);
    EXPECT_FALSE(volume->isRootFileSystem);
    EXPECT_TRUE(volume->isLocal);
    EXPECT_TRUE(contains(VolumeInfo::localExternalMountPaths(), point));
    EXPECT_FALSE(VolumeInfo::storesMetadataNatively(point));
    EXPECT_EQ(besidesSize(*volume, std::nullopt), (std::vector<DriveProblem>{DriveProblem::unsupportedFormat("tmpfs")}));
}

TEST(RealVolumesTest, BindMountOfTheStartupVolumeIsTheStartupDisk) {
    if (auto reason = test::mountSkipReason()) GTEST_SKIP() << *reason;
    test::TempDir temp;
    std::string point = temp / "rootbind";
    test::makeDirs(point);
    if (!test::run("mount --bind / '" + point + "'")) GTEST_SKIP() << "bind mount refused";
    auto volume = VolumeInfo::read(point);
    auto paths = VolumeInfo::localExternalMountPaths();
    test::run("umount '" + point + "'");
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->mountPath, point);
    EXPECT_TRUE(volume->isRootFileSystem);
    EXPECT_FALSE(contains(paths, point));
}

TEST(RealVolumesTest, LoopMountedExt4ReadWriteThenReadOnly) {
    if (auto reason = test::mountSkipReason("mkfs.ext4")) GTEST_SKIP() << *reason;
    test::TempDir temp;
    std::string point = temp / "Kel Drive";
    {
        test::LoopVolume ext4(temp / "ext4.img", 16,
                              "mkfs.ext4 -q -F -L 'Kel Drive' -U 3f1c2b4a-1111-4222-8333-444455556666", "mount",
                              point);
        if (!ext4.mounted()) GTEST_SKIP() << ext4.error();
        auto volume = VolumeInfo::read(point);
        ASSERT_TRUE(volume);
        EXPECT_EQ(volume->fileSystem, "ext4");
        EXPECT_EQ(volume->name, "Kel Drive");
        EXPECT_EQ(volume->volumeUUID, "3f1c2b4a-1111-4222-8333-444455556666");
        EXPECT_EQ("/dev/" + volume->kernelName.value_or(""), ext4.device());
        EXPECT_FALSE(volume->isReadOnly);
        EXPECT_FALSE(volume->isInternal);
        EXPECT_TRUE(VolumeInfo::storesMetadataNatively(point));

        auto hardware = DriveHardware::inspect(*volume->kernelName);
        ASSERT_TRUE(hardware);
        EXPECT_TRUE(hardware->isDiskImage());
        EXPECT_EQ(hardware->medium, DriveHardware::Medium::unknown);
        EXPECT_EQ(besidesSize(*volume, hardware), (std::vector<DriveProblem>{DriveProblem::diskImage()}));
        EXPECT_TRUE(besidesSize(*volume, std::nullopt).empty());

        ASSERT_TRUE(test::run("mount -o remount,ro '" + point + "'"));
        EXPECT_TRUE(VolumeInfo::read(point)->isReadOnly);
    }
}

TEST(RealVolumesTest, ExFatThroughFuseShowsItsRealFormat) {
    if (auto reason = test::mountSkipReason("mount.exfat-fuse")) GTEST_SKIP() << *reason;
    if (auto reason = test::mountSkipReason("mkfs.exfat")) GTEST_SKIP() << *reason;
    test::TempDir temp;
    std::string point = temp / "EXSTICK";
    test::LoopVolume exfat(temp / "exfat.img", 16, "mkfs.exfat -L EXSTICK", "mount.exfat-fuse", point);
    if (!exfat.mounted()) GTEST_SKIP() << exfat.error();
    auto volume = VolumeInfo::read(point);
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->fileSystem, "exfat");
    EXPECT_EQ(volume->name, "EXSTICK");
    EXPECT_TRUE(volume->volumeUUID);
    EXPECT_TRUE(volume->kernelName);
    EXPECT_FALSE(VolumeInfo::storesMetadataNatively(point));
    // Usable as exFAT, were it not a 16 MB stick.
    EXPECT_EQ(DriveEligibility::problems(*volume, std::nullopt), (std::vector<DriveProblem>{DriveProblem::tooSmall()}));
}

TEST(RealVolumesTest, NtfsThroughFuseIsRefusedWithTheWindowsText) {
    if (auto reason = test::mountSkipReason("ntfs-3g")) GTEST_SKIP() << *reason;
    if (auto reason = test::mountSkipReason("mkntfs")) GTEST_SKIP() << *reason;
    test::TempDir temp;
    std::string point = temp / "WIN";
    test::LoopVolume ntfs(temp / "ntfs.img", 16, "mkntfs -q -F -f -L WIN", "ntfs-3g", point);
    if (!ntfs.mounted()) GTEST_SKIP() << ntfs.error();
    auto volume = VolumeInfo::read(point);
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->fileSystem, "ntfs");
    EXPECT_EQ(volume->name, "WIN");
    EXPECT_EQ(besidesSize(*volume, std::nullopt), (std::vector<DriveProblem>{DriveProblem::unsupportedFormat("ntfs")}));
    EXPECT_FALSE(VolumeInfo::storesMetadataNatively(point));
}
