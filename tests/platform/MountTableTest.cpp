#include <gtest/gtest.h>

#include "platform/MountFacts.h"
#include "platform/MountTable.h"

using namespace keldwick::platform;

TEST(MountTableTest, ParsesFieldsOptionalFieldsAndEscapes) {
    auto table = MountTable::parse(
        "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue\n"
        "40 27 8:17 / /media/ann/My\\040Drive rw,nosuid,nodev shared:5 master:2 propagate_from:1 - fuseblk "
        "/dev/sdb1 rw,user_id=0,group_id=0\n"
        "41 27 0:50 / /tmp/tab\\011and\\134back\\012line rw - tmpfs tmp\\040fs ro,size=1024k\n"
        "42 27 0:51 / /no/options rw - tmpfs none\n");
    ASSERT_EQ(table.size(), 4u);

    EXPECT_EQ(table[0].mountId, 36);
    EXPECT_EQ(table[0].parentId, 35);
    EXPECT_EQ(table[0].major, 98u);
    EXPECT_EQ(table[0].minor, 0u);
    EXPECT_EQ(table[0].root, "/mnt1");
    EXPECT_EQ(table[0].mountPoint, "/mnt2");
    EXPECT_EQ(table[0].fsType, "ext3");
    EXPECT_EQ(table[0].source, "/dev/root");
    EXPECT_EQ(table[0].superOptions, "rw,errors=continue");

    EXPECT_EQ(table[1].mountPoint, "/media/ann/My Drive");
    EXPECT_EQ(table[1].fsType, "fuseblk");
    EXPECT_EQ(table[1].source, "/dev/sdb1");
    EXPECT_FALSE(table[1].isReadOnly());

    EXPECT_EQ(table[2].mountPoint, "/tmp/tab\tand\\back\nline");
    EXPECT_EQ(table[2].source, "tmp fs");
    EXPECT_TRUE(table[2].isReadOnly());  // read-only super block
    EXPECT_TRUE(table[2].hasOption("size=1024k"));
    EXPECT_FALSE(table[2].hasOption("size"));

    EXPECT_EQ(table[3].superOptions, "");
}

TEST(MountTableTest, SkipsMalformedLinesAndKeepsTheRest) {
    auto table = MountTable::parse(
        "garbage\n"
        "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 ext3 /dev/root rw\n"  // no separator
        "x 35 98:0 / /a rw - ext4 /dev/sda1 rw\n"                          // bad id
        "37 35 98 / /b rw - ext4 /dev/sda1 rw\n"                           // bad device number
        "38 35 8:1 / relative rw - ext4 /dev/sda1 rw\n"                    // not an absolute mount point
        "39 35 8:1 / /c rw -\n"                                            // nothing after the separator
        "\n"
        "40 35 8:1 / /ok rw - ext4 /dev/sda1 rw");  // no final line break
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].mountPoint, "/ok");
    EXPECT_TRUE(MountTable::read("/nonexistent/mountinfo").empty());
    EXPECT_EQ(MountTable::unescape("a\\040b\\0\\999\\"), "a b\\0\\999\\");
}

TEST(MountFactsTest, FileSystemNamesSpeakOneVocabulary) {
    EXPECT_EQ(MountFacts::fileSystemName("vfat", std::nullopt), "msdos");
    EXPECT_EQ(MountFacts::fileSystemName("fuse.fusefat", std::nullopt), "msdos");
    EXPECT_EQ(MountFacts::fileSystemName("fuseblk", std::string("exfat")), "exfat");
    EXPECT_EQ(MountFacts::fileSystemName("fuseblk", std::string("ntfs")), "ntfs");
    EXPECT_EQ(MountFacts::fileSystemName("fuseblk", std::string("vfat")), "msdos");
    EXPECT_EQ(MountFacts::fileSystemName("fuseblk", std::nullopt), "fuseblk");
    EXPECT_EQ(MountFacts::fileSystemName("ntfs3", std::nullopt), "ntfs");
    EXPECT_EQ(MountFacts::fileSystemName("hfsplus", std::nullopt), "hfs");
    EXPECT_EQ(MountFacts::fileSystemName("hfs", std::nullopt), "hfs-standard");
    EXPECT_EQ(MountFacts::fileSystemName("ext4", std::string("ext4")), "ext4");
    // Only FUSE types defer to the probe: a kernel type is what is mounted.
    EXPECT_EQ(MountFacts::fileSystemName("btrfs", std::string("vfat")), "btrfs");

    EXPECT_TRUE(MountFacts::isNetwork("nfs4"));
    EXPECT_TRUE(MountFacts::isNetwork("cifs"));
    EXPECT_TRUE(MountFacts::isNetwork("fuse.sshfs"));
    EXPECT_FALSE(MountFacts::isNetwork("fuseblk"));
    EXPECT_FALSE(MountFacts::isNetwork("ext4"));
}

TEST(MountFactsTest, HiddenAndStartupMounts) {
    auto entry = [](std::string point, std::string type = "ext4", std::string root = "/") {
        MountEntry e;
        e.mountPoint = std::move(point);
        e.fsType = std::move(type);
        e.root = std::move(root);
        return e;
    };
    for (auto hidden : {entry("/proc", "proc"), entry("/sys/fs/cgroup", "cgroup2"), entry("/snap/core/1", "squashfs"),
                        entry("/boot/efi", "vfat"), entry("/run/user/1000", "tmpfs"), entry("/dev/shm", "tmpfs"),
                        entry("/mnt/sub", "ext4", "/home/ann/shared"), entry("/data", "btrfs", "/@data"),
                        entry("/var/lib/docker/overlay2/x", "ext4")}) {
        EXPECT_TRUE(MountFacts::isHidden(hidden)) << hidden.mountPoint;
    }
    for (auto shown : {entry("/"), entry("/run/media/ann/Stick", "vfat"), entry("/media/ann/Drive"),
                       entry("/mnt/backup"), entry("/tmp/scratch", "tmpfs"), entry("/home/ann/usb", "fuseblk"),
                       entry("/runner"), entry("/bootleg")}) {
        EXPECT_FALSE(MountFacts::isHidden(shown)) << shown.mountPoint;
    }

    auto table = MountTable::parse(
        "20 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n"
        "24 20 259:2 / /mnt/rootbind rw - ext4 /dev/nvme0n1p2 rw\n"
        "25 20 8:17 / /media/usb rw - ext4 /dev/sdb1 rw\n"
        "26 20 8:17 / /media/usb rw - ext4 /dev/sdb1 ro\n");
    EXPECT_TRUE(MountFacts::isRootFileSystem(table[0], table));
    EXPECT_TRUE(MountFacts::isRootFileSystem(table[1], table));
    EXPECT_FALSE(MountFacts::isRootFileSystem(table[2], table));
    auto visible = MountFacts::visibleEntries(table);
    ASSERT_EQ(visible.size(), 3u);
    EXPECT_TRUE(visible[2].isReadOnly());  // the later mount covers the earlier one
}

// Where owner and modes come from, read from real mount-table lines of each kind.
TEST(MountFactsTest, ModesComeFromTheMountWhereTheFileSystemKeepsNone) {
    using Source = MountModes::Source;
    struct Row {
        const char* name;
        std::string line;
        Source source;
        std::optional<mode_t> fileMask, folderMask;
        bool allowOther, defaultPermissions;
    };
    const std::string head = "40 27 8:17 / /media/ann/Stick rw,nosuid,nodev,relatime shared:5 - ";
    const std::vector<Row> rows = {
        {"ext4", head + "ext4 /dev/sdb1 rw", Source::files, {}, {}, false, false},
        {"kernel exfat by udisks2",
         head + "exfat /dev/sdb1 rw,uid=1000,gid=1000,fmask=0022,dmask=0022,iocharset=utf8,errors=remount-ro",
         Source::kernelMount, 0022, 0022, false, false},
        {"vfat by udisks2",
         head + "vfat /dev/sdb1 rw,uid=1000,gid=1000,fmask=0022,dmask=0022,codepage=437,shortname=mixed,utf8",
         Source::kernelMount, 0022, 0022, false, false},
        {"fstab umask=000", head + "vfat /dev/sdb1 rw,umask=000", Source::kernelMount, 0, 0, false, false},
        {"umask with fmask over it", head + "ntfs3 /dev/sdb1 rw,uid=1000,umask=027,fmask=0137", Source::kernelMount,
         0137, 027, false, false},
        {"malformed masks", head + "exfat /dev/sdb1 rw,fmask=9,dmask=", Source::kernelMount, {}, {}, false, false},
        {"exfat-fuse by udisks2",
         head + "fuseblk /dev/sdb1 rw,user_id=0,group_id=0,default_permissions,allow_other,blksize=4096",
         Source::fuse, {}, {}, true, true},
        {"fuse open to all unchecked", head + "fuseblk /dev/sdb1 rw,user_id=0,group_id=0,allow_other",
         Source::fuse, {}, {}, true, false},
        {"fuse for its user alone", head + "fuse.exfat /dev/sdb1 rw,user_id=1000,group_id=1000", Source::fuse, {},
         {}, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto table = MountTable::parse(row.line + "\n");
        ASSERT_EQ(table.size(), 1u);
        const MountModes modes = MountFacts::modesOf(table.front());
        EXPECT_EQ(modes.source, row.source);
        EXPECT_EQ(modes.fileMask, row.fileMask);
        EXPECT_EQ(modes.folderMask, row.folderMask);
        EXPECT_EQ(modes.allowOther, row.allowOther);
        EXPECT_EQ(modes.defaultPermissions, row.defaultPermissions);
        EXPECT_EQ(modes.checksNothing(), row.allowOther && !row.defaultPermissions);
    }
    // Only a whole "name=" is a value, and the last one given is in force.
    const auto entry = MountTable::parse(head + "vfat /dev/sdb1 rw,xuid=5,uid=7,uid=8\n").front();
    EXPECT_EQ(entry.superOptionValue("uid"), "8");
    EXPECT_EQ(entry.superOptionValue("gid"), std::nullopt);
}
