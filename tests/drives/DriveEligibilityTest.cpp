#include <gtest/gtest.h>

#include "drives/DriveEligibility.h"
#include "drives/FileSystemFormats.h"
#include "support/TempDir.h"

using namespace keldwick;
using Kind = DriveProblem::Kind;

namespace {

VolumeInfo volume(std::string fileSystem, std::string mountPath = "/nonexistent/volume") {
    VolumeInfo v;
    v.mountPath = std::move(mountPath);
    v.name = "Drive";
    v.fileSystem = std::move(fileSystem);
    v.isLocal = true;
    return v;
}

std::vector<Kind> kinds(const std::vector<DriveProblem>& problems) {
    std::vector<Kind> out;
    for (const auto& p : problems) out.push_back(p.kind);
    return out;
}

}  // namespace

TEST(DriveEligibilityTest, UsableFormatsPass) {
    for (auto format : {"exfat", "ext4", "ext3", "ext2", "btrfs", "xfs", "f2fs", "bcachefs"}) {
        EXPECT_TRUE(DriveEligibility::problems(volume(format), std::nullopt).empty()) << format;
    }
}

TEST(DriveEligibilityTest, HfsPlusAndApfsAreRefusedAndNamedAsTheDriveHasThem) {
    // Linux can't write APFS and writes HFS+ only without its journal.
    for (auto format : {"hfs", "apfs", "hfs-standard"}) {
        EXPECT_EQ(DriveEligibility::problems(volume(format), std::nullopt),
                  (std::vector<DriveProblem>{DriveProblem::unsupportedFormat(format)}))
            << format;
        EXPECT_FALSE(FileSystemFormats::storesMetadataNatively(format)) << format;
    }
    EXPECT_EQ(DriveProblem::unsupportedFormat("hfs").explanation(),
              "This drive is formatted as Mac OS Extended (HFS+), which Linux writes only with its journal turned "
              "off. Use a different drive, or erase it as ext4 or exFAT in the Disks utility \u2014 erasing deletes "
              "everything on it.");
    EXPECT_EQ(DriveProblem::unsupportedFormat("apfs").explanation(),
              "This drive is formatted as APFS, so your computer can't save files to it. Use a different drive, or "
              "erase it as ext4 or exFAT in the Disks utility \u2014 erasing deletes everything on it.");
    EXPECT_EQ(DriveProblem::unsupportedFormat("hfs-standard").explanation(),
              "Keldwick can't use this drive's format (hfs-standard). Use a drive formatted as ext4, btrfs, XFS or "
              "exFAT.");
}

TEST(DriveEligibilityTest, ChecksRunInOrderAndTheFixableOneIsShown) {
    auto stick = volume("msdos");
    stick.isReadOnly = true;
    auto found = DriveEligibility::problems(stick, std::nullopt);
    EXPECT_EQ(kinds(found), (std::vector<Kind>{Kind::readOnly, Kind::fat32}));
    EXPECT_EQ(DriveProblem::mostHelpful(found)->kind, Kind::fat32);

    auto internal = volume("ext4");
    internal.isInternal = true;
    EXPECT_EQ(kinds(DriveEligibility::problems(internal, std::nullopt)), (std::vector<Kind>{Kind::internalDisk}));

    auto startup = volume("ext4");
    startup.isRootFileSystem = true;
    startup.isInternal = true;
    EXPECT_EQ(kinds(DriveEligibility::problems(startup, std::nullopt)), (std::vector<Kind>{Kind::startupDisk}));

    DriveHardware image{DriveHardware::Medium::unknown, "Virtual Interface"};
    EXPECT_EQ(kinds(DriveEligibility::problems(internal, image)), (std::vector<Kind>{Kind::diskImage}));
    DriveHardware usb{DriveHardware::Medium::solidState, "USB", "External"};
    EXPECT_EQ(kinds(DriveEligibility::problems(internal, usb)), (std::vector<Kind>{Kind::internalDisk}));

    auto share = volume("smbfs");
    share.isLocal = false;
    EXPECT_EQ(kinds(DriveEligibility::problems(share, std::nullopt)), (std::vector<Kind>{Kind::networkVolume}));
    auto fatShare = volume("msdos");
    fatShare.isLocal = false;
    found = DriveEligibility::problems(fatShare, std::nullopt);
    EXPECT_EQ(kinds(found), (std::vector<Kind>{Kind::networkVolume, Kind::fat32}));
    EXPECT_EQ(DriveProblem::mostHelpful(found)->kind, Kind::fat32);

    auto windows = volume("ntfs");
    windows.isReadOnly = true;
    found = DriveEligibility::problems(windows, std::nullopt);
    EXPECT_EQ(found, (std::vector<DriveProblem>{DriveProblem::readOnly(), DriveProblem::unsupportedFormat("ntfs")}));
    EXPECT_EQ(DriveProblem::mostHelpful(found)->explanation(),
              "This drive is formatted for Windows, so your computer can't save files to it. Use a different drive, or "
              "erase it as ext4 or exFAT in the Disks utility \u2014 erasing deletes everything on it.");

    EXPECT_FALSE(DriveProblem::mostHelpful({}));
    EXPECT_EQ(DriveProblem::mostHelpful({DriveProblem::readOnly(), DriveProblem::networkVolume()})->kind,
              Kind::readOnly);
}

TEST(DriveEligibilityTest, TimeshiftBackupsAreFoundThroughLinks) {
    test::TempDir temp;
    EXPECT_TRUE(DriveEligibility::problems(volume("ext4", temp.path()), std::nullopt).empty());
    test::makeDirs(temp / "real/snapshots");
    test::makeDirs(temp / "timeshift");
    ASSERT_EQ(symlink((temp / "real/snapshots").c_str(), (temp / "timeshift/snapshots").c_str()), 0);
    EXPECT_EQ(kinds(DriveEligibility::problems(volume("ext4", temp.path()), std::nullopt)),
              (std::vector<Kind>{Kind::backups}));
    ASSERT_EQ(unlink((temp / "timeshift/snapshots").c_str()), 0);
    ASSERT_EQ(symlink((temp / "missing").c_str(), (temp / "timeshift/snapshots").c_str()), 0);
    EXPECT_TRUE(DriveEligibility::problems(volume("ext4", temp.path()), std::nullopt).empty());
}

TEST(DriveEligibilityTest, ExplanationsWordForWord) {
    EXPECT_EQ(DriveProblem::unsupportedFormat("tmpfs").explanation(),
              "Keldwick can't use this drive's format (tmpfs). Use a drive formatted as ext4, btrfs, XFS or "
              "exFAT.");
    EXPECT_EQ(DriveProblem::unsupportedFormat("NTFS").explanation(),
              "Keldwick can't use this drive's format (NTFS). Use a drive formatted as ext4, btrfs, XFS or "
              "exFAT.");
    EXPECT_EQ(DriveProblem::startupDisk().explanation(), "This is your computer's own disk.");
    EXPECT_EQ(DriveProblem::internalDisk().explanation(),
              "This disk is inside your computer. Keldwick needs an external drive.");
    EXPECT_EQ(DriveProblem::networkVolume().explanation(),
              "Network drives can disappear without warning, so Keldwick doesn't use them.");
    EXPECT_EQ(DriveProblem::readOnly().explanation(), "Your computer can't save files to this drive (it's read-only).");
    EXPECT_EQ(DriveProblem::diskImage().explanation(), "This is a disk image, not a drive.");
    EXPECT_EQ(DriveProblem::backups().explanation(),
              "This drive holds your Timeshift backups. Use a different drive for Keldwick.");
    EXPECT_EQ(DriveProblem::fat32().explanation(),
              "This drive can't hold files bigger than 4 GB (it's formatted as FAT32). Use a different drive, or "
              "erase it as ext4 or exFAT in the Disks utility \u2014 erasing deletes everything on it.");
}
