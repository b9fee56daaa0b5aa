// Every list of file systems comes from the one table: each is derived here and pinned, so
// a row changed by mistake shows as the lists it changes.
#include "platform/FileSystemKinds.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "drives/DriveEligibility.h"
#include "drives/DriveProblem.h"
#include "drives/FileSystemFormats.h"
#include "platform/MountFacts.h"

namespace keldwick {
namespace {

using platform::FileSystemKind;
namespace Kinds = platform::FileSystemKinds;
using Names = std::vector<std::string>;

TEST(FileSystemKindsTest, TheDriveListsComeFromTheTable) {
    EXPECT_EQ(Kinds::names(&FileSystemKind::usable),
              (Names{"ext2", "ext3", "ext4", "btrfs", "xfs", "f2fs", "bcachefs", "exfat"}));
    EXPECT_EQ(Kinds::names(&FileSystemKind::native),
              (Names{"ext2", "ext3", "ext4", "btrfs", "xfs", "f2fs", "bcachefs"}));
    EXPECT_EQ(Kinds::names(&FileSystemKind::disk),
              (Names{"ext2", "ext3", "ext4", "btrfs", "xfs", "f2fs", "bcachefs", "jfs", "reiserfs", "nilfs2", "udf",
                     "msdos", "exfat", "ntfs", "hfs", "hfs-standard", "apfs", "fuseblk"}));
    for (const auto& kind : Kinds::all()) {
        const std::string name(kind.name);
        EXPECT_EQ(FileSystemFormats::isUsable(name), kind.usable) << name;
        EXPECT_EQ(FileSystemFormats::storesMetadataNatively(name), kind.native) << name;
        // A native kind is usable, and keeps what a native drive is trusted to keep.
        EXPECT_TRUE(!kind.native || (kind.usable && kind.disk && kind.storesMetadata && kind.fsyncTrusted)) << name;
        EXPECT_TRUE(!kind.usable || (kind.disk && !kind.network && !kind.hidden)) << name;
    }
    EXPECT_FALSE(FileSystemFormats::isUsable("zfs"));
    EXPECT_FALSE(FileSystemFormats::storesMetadataNatively(""));
}

TEST(FileSystemKindsTest, BcachefsIsAUsableNativeDriveThatSharesExtents) {
    const FileSystemKind* bcachefs = Kinds::named("bcachefs");
    ASSERT_NE(bcachefs, nullptr);
    EXPECT_EQ(Kinds::withMagic(0xca451a4e), bcachefs);
    EXPECT_EQ(Kinds::mounted("bcachefs"), bcachefs);
    EXPECT_TRUE(bcachefs->usable && bcachefs->native && bcachefs->disk && bcachefs->sharesExtents);
    EXPECT_EQ(bcachefs->names, platform::NamesMatch::perFolder);

    VolumeInfo volume;
    volume.fileSystem = "bcachefs";
    volume.mountPath = "/media/ann/BIG";
    volume.isLocal = true;
    volume.totalBytes = 4'000'000'000'000;
    EXPECT_TRUE(DriveEligibility::problems(volume, std::nullopt).empty());
}

TEST(FileSystemKindsTest, MountTypesNameTheDriveChecksVocabulary) {
    std::map<std::string, std::string> renamed;
    for (const auto& kind : Kinds::all()) {
        for (const auto& mountType : Kinds::mountNames(&FileSystemKind::disk)) {
            if (kind.hasMountName(mountType) && mountType != kind.name) renamed[mountType] = std::string(kind.name);
        }
    }
    EXPECT_EQ(renamed, (std::map<std::string, std::string>{{"vfat", "msdos"},
                                                           {"fat", "msdos"},
                                                           {"umsdos", "msdos"},
                                                           {"fuse.fusefat", "msdos"},
                                                           {"fuse.exfat", "exfat"},
                                                           {"ntfs3", "ntfs"},
                                                           {"fuse.ntfs-3g", "ntfs"},
                                                           {"fuse.ntfs", "ntfs"},
                                                           {"ntfs-3g", "ntfs"},
                                                           {"hfsplus", "hfs"},
                                                           {"hfs", "hfs-standard"},
                                                           {"fuse.apfs", "apfs"},
                                                           {"fuse.apfs-fuse", "apfs"}}));
    for (const auto& [mountType, name] : renamed) {
        EXPECT_EQ(platform::MountFacts::fileSystemName(mountType, std::nullopt), name) << mountType;
    }
    EXPECT_EQ(platform::MountFacts::fileSystemName("zfs", std::nullopt), "zfs");

    // Each mount type belongs to one kind, and each kind has one name.
    std::set<std::string> names;
    for (const auto& kind : Kinds::all()) {
        EXPECT_TRUE(names.insert(std::string(kind.name)).second) << kind.name;
        std::string words = std::string(kind.kernelNames) + " " + std::string(kind.fuseNames);
        for (size_t start = 0; start < words.size();) {
            size_t end = words.find(' ', start);
            if (end == std::string::npos) end = words.size();
            if (end > start) {
                EXPECT_EQ(Kinds::mounted(words.substr(start, end - start)), &kind) << words;
            }
            start = end + 1;
        }
    }
}

TEST(FileSystemKindsTest, TheMountListsComeFromTheTable) {
    const Names network = Kinds::mountNames(&FileSystemKind::network);
    EXPECT_EQ(std::set<std::string>(network.begin(), network.end()),
              (std::set<std::string>{"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "ncp", "9p", "ceph", "glusterfs",
                                     "afs", "lustre", "davfs", "coda", "ocfs2", "gfs2", "orangefs", "fuse.sshfs",
                                     "fuse.rclone", "fuse.s3fs", "fuse.gcsfuse", "fuse.curlftpfs", "fuse.gvfsd-fuse",
                                     "fuse.smbnetfs", "fuse.glusterfs", "fuse.davfs2", "fuse.afpfs-ng", "fuse.goofys",
                                     "fuse.ceph-fuse", "fuse.juicefs", "fuse.s3ql", "fuse.blobfuse2",
                                     "fuse.onedriver"}));
    for (const auto& type : network) EXPECT_TRUE(platform::MountFacts::isNetwork(type)) << type;
    for (const char* type : {"ext4", "fuseblk", "fuse.exfat", "tmpfs", "fuse"}) {
        EXPECT_FALSE(platform::MountFacts::isNetwork(type)) << type;
    }
    const Names hidden = Kinds::mountNames(&FileSystemKind::hidden);
    EXPECT_EQ(std::set<std::string>(hidden.begin(), hidden.end()),
              (std::set<std::string>{"proc", "sysfs", "cgroup", "cgroup2", "devtmpfs", "devpts", "mqueue", "debugfs",
                                     "tracefs", "securityfs", "bpf", "pstore", "hugetlbfs", "binfmt_misc", "configfs",
                                     "fusectl", "autofs", "efivarfs", "rpc_pipefs", "nsfs", "overlay", "squashfs",
                                     "ramfs", "selinuxfs", "nfsd", "fuse.portal", "fuse.gvfsd-fuse", "fuse.lxcfs",
                                     "fuse.snapfuse"}));
    platform::MountEntry entry;
    entry.mountPoint = "/media/ann/x";
    entry.root = "/";
    for (const auto& type : Kinds::mountNames(&FileSystemKind::hidden)) {
        entry.fsType = type;
        EXPECT_TRUE(platform::MountFacts::isHidden(entry)) << type;
    }
    // The kernel drivers that make owners and modes up from the mount's options.
    EXPECT_EQ(Kinds::kernelMountNames(&FileSystemKind::storesMetadata, false),
              (Names{"vfat", "msdos", "fat", "umsdos", "exfat", "ntfs", "ntfs3"}));
    for (const auto& type : Kinds::mountNames(&FileSystemKind::disk)) {
        entry.fsType = type;
        const auto source = platform::MountFacts::modesOf(entry).source;
        const bool kernel = Kinds::mounted(type)->hasKernelName(type) && !Kinds::mounted(type)->storesMetadata;
        EXPECT_EQ(source == platform::MountModes::Source::kernelMount, kernel) << type;
    }
}

TEST(FileSystemKindsTest, TheMagicListsComeFromTheTable) {
    using Magics = std::vector<uint32_t>;
    EXPECT_EQ(Kinds::magics(&FileSystemKind::fsyncTrusted, false),
              (Magics{0x4d44, 0x2011BAB0, 0x5346544e, 0x7366746e, 0x65735546}));
    EXPECT_EQ(Kinds::magics(&FileSystemKind::storesMetadata, false), Kinds::magics(&FileSystemKind::fsyncTrusted, false));
    EXPECT_EQ(Kinds::magics(&FileSystemKind::sharesExtents, true),
              (Magics{0x9123683E, 0x58465342, 0xca451a4e, 0x7461636f}));
    std::map<platform::NamesMatch, std::set<uint32_t>> byMatch;
    for (const auto& kind : Kinds::all()) {
        if (kind.magic) byMatch[kind.names].insert(kind.magic);
    }
    EXPECT_EQ(byMatch[platform::NamesMatch::exact], (std::set<uint32_t>{0x9123683E}));
    EXPECT_EQ(byMatch[platform::NamesMatch::byFormat], (std::set<uint32_t>{0x58465342}));
    EXPECT_EQ(byMatch[platform::NamesMatch::perFolder],
              (std::set<uint32_t>{0xEF53, 0xF2F52010, 0xca451a4e, 0x01021994, 0x794c7630}));

    // Kinds sharing a magic (ext2/3/4; fuse and fuseblk) agree on all a magic decides.
    for (const auto& kind : Kinds::all()) {
        const FileSystemKind* first = Kinds::withMagic(kind.magic);
        if (!kind.magic) continue;
        EXPECT_EQ(kind.fsyncTrusted, first->fsyncTrusted) << kind.name;
        EXPECT_EQ(kind.storesMetadata, first->storesMetadata) << kind.name;
        EXPECT_EQ(kind.sharesExtents, first->sharesExtents) << kind.name;
        EXPECT_EQ(kind.names, first->names) << kind.name;
    }
    EXPECT_EQ(Kinds::withMagic(0), nullptr);
    EXPECT_EQ(Kinds::withMagic(0x6969), nullptr);  // NFS: unknown, so fsync stays trusted
}

TEST(FileSystemKindsTest, RefusedFormatsAdviseFromTheTable) {
    EXPECT_EQ(FileSystemFormats::suggestedFormats(), "ext4, btrfs, XFS or exFAT");
    EXPECT_EQ(DriveProblem::unsupportedFormat("zfs").explanation(),
              "Keldwick can't use this drive's format (zfs). Use a drive formatted as ext4, btrfs, XFS or exFAT.");
    EXPECT_NE(DriveProblem::unsupportedFormat("ntfs").explanation().find("can't save files to it"), std::string::npos);
    VolumeInfo stick;
    stick.fileSystem = "msdos";
    stick.mountPath = "/media/ann/STICK";
    stick.isLocal = true;
    stick.totalBytes = 32'000'000'000;
    ASSERT_EQ(DriveEligibility::problems(stick, std::nullopt).size(), 1u);
    EXPECT_EQ(DriveEligibility::problems(stick, std::nullopt)[0].kind, DriveProblem::Kind::fat32);
}

}  // namespace
}  // namespace keldwick
