#include <gtest/gtest.h>

#include "drives/DriveEligibility.h"
#include "drives/DriveRefusal.h"
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
    v.totalBytes = 500'000'000'000;
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

// A volume that can hold nothing beside the reserve is refused by its size, whatever its
// format: erasing would not help, so the advice to erase never shows for it.
TEST(DriveEligibilityTest, AVolumeOfAtMostTheReservePlusAGigabyteIsTooSmall) {
    struct Row {
        const char* name;
        std::string format;
        int64_t total;
        bool local;
        std::vector<Kind> kinds;
        std::optional<Kind> shown;
    };
    const int64_t limit = DriveEligibility::kTooSmallBytes;
    const Row rows[] = {
        {"a 1.07 GB exFAT stick", "exfat", 1'073'741'824, true, {Kind::tooSmall}, Kind::tooSmall},
        {"a 511 MB ext4 drive", "ext4", 511'000'000, true, {Kind::tooSmall}, Kind::tooSmall},
        {"exactly the limit", "ext4", limit, true, {Kind::tooSmall}, Kind::tooSmall},
        {"a byte above it", "ext4", limit + 1, true, {}, std::nullopt},
        {"a small FAT32 stick", "msdos", 1'000'000'000, true, {Kind::fat32, Kind::tooSmall}, Kind::tooSmall},
        {"a small read-only stick", "exfat", 900'000'000, true, {Kind::readOnly, Kind::tooSmall}, Kind::readOnly},
        {"a share, whose size is never read", "nfs4", 0, false, {Kind::networkVolume}, Kind::networkVolume},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto v = volume(row.format);
        v.totalBytes = row.total;
        v.isLocal = row.local;
        v.isReadOnly = std::string(row.name).find("read-only") != std::string::npos;
        const auto found = DriveEligibility::problems(v, std::nullopt);
        EXPECT_EQ(kinds(found), row.kinds);
        const auto shown = DriveProblem::mostHelpful(found);
        EXPECT_EQ(shown ? std::optional(shown->kind) : std::nullopt, row.shown);
    }
    EXPECT_EQ(DriveProblem::tooSmall().explanation(),
              "This drive is too small: Keldwick keeps 1.07 GB free on it, so nothing would fit. Use a drive of at "
              "least 2.08 GB.");
}

// What the user reads is plain text: no Markdown, no backticks around commands.
TEST(DriveEligibilityTest, NoProblemOrRefusalTextCarriesMarkup) {
    auto plain = [](const std::string& text) {
        return text.find('`') == std::string::npos && text.find("**") == std::string::npos;
    };
    // Every kind, including ones added after this test: the enumerations count up from 0,
    // and only a value past the last kind explains nothing.
    int problems = 0;
    for (int raw = 0;; ++raw) {
        DriveProblem problem{static_cast<DriveProblem::Kind>(raw), "zfs", "a reason"};
        const std::string text = problem.explanation();
        if (text.empty()) break;
        ++problems;
        EXPECT_TRUE(plain(text)) << text;
    }
    EXPECT_GE(problems, 10);
    int refusals = 0;
    for (int raw = 0;; ++raw) {
        bool any = false;
        for (const char* detail : {"Keldwick folder", "drive marker", "top folder", "FUSE", "/media/ann/Other"}) {
            const std::string text = DriveRefusal{"/media/ann/Drive", static_cast<DriveRefusal::Kind>(raw), detail}.explanation();
            if (text.empty()) continue;
            any = true;
            EXPECT_TRUE(plain(text)) << text;
        }
        if (!any) break;
        ++refusals;
    }
    EXPECT_GE(refusals, 7);
}
