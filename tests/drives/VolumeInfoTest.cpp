#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "drives/VolumeInfo.h"
#include "platform/BlockDevices.h"
#include "support/RealMounts.h"
#include "support/SysfsFixture.h"
#include "support/TempDir.h"

using namespace keldwick;

namespace {

std::string escaped(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == ' ') out += "\\040";
        else out.push_back(c);
    }
    return out;
}

// A machine with an NVMe startup disk, a USB exFAT SSD through FUSE, a FAT stick, a btrfs
// USB disk, a loop-mounted image, network shares and the usual pseudo file systems.
class VolumeFixtureTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string nvme = fixture.nvmeDisk("nvme0n1", "259:0");
        fixture.partition(nvme, "nvme0n1p2", "259:2");
        fixture.partition(fixture.usbDisk("sdb", "8:16", "10000"), "sdb1", "8:17");
        fixture.partition(fixture.usbDisk("sdc", "8:32", "480", "1-3"), "sdc1", "8:33");
        fixture.partition(fixture.usbDisk("sdd", "8:48", "5000", "2-2"), "sdd1", "8:49");
        fixture.loopDevice("loop3", "7:3");
        test::writeFile(fixture.root() + "/udev/b8:17",
                        "S:disk/by-uuid/6FF9-F22B\nE:ID_FS_TYPE=exfat\nE:ID_FS_UUID=6FF9-F22B\n"
                        "E:ID_FS_LABEL=SANDISK_SSD\nE:ID_FS_LABEL_ENC=SANDISK\\x20SSD\n");
        test::writeFile(fixture.root() + "/udev/b8:33", "E:ID_FS_TYPE=vfat\nE:ID_FS_UUID=22B2-160F\n");
        test::writeFile(fixture.root() + "/udev/b259:2",
                        "E:ID_FS_TYPE=ext4\nE:ID_FS_UUID=0b7c2a1e-5d1f-4c55-9a43-6d1f2b9e8c10\nE:ID_FS_LABEL=root\n");
        test::writeFile(fixture.root() + "/udev/b8:49",
                        "E:ID_FS_TYPE=btrfs\nE:ID_FS_UUID=9f1c0c52-2f4e-4b8e-9d3a-1a2b3c4d5e6f\nE:ID_FS_LABEL=Archive\n");

        for (auto folder : {"media/ann/SANDISK SSD/Projects/deep", "stick", "btrfs", "image", "share", "sshfs",
                            "bind-sub", "bind-root", "over"}) {
            test::makeDirs(temp / folder);
        }
        std::string t = escaped(temp.path());
        test::writeFile(fixture.roots().mountinfo,
                        "20 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n"
                        "21 20 0:5 / /proc rw,nosuid - proc proc rw\n"
                        "22 20 8:17 / " + t + "/media/ann/SANDISK\\040SSD rw,nosuid,nodev shared:5 - fuseblk "
                        "/dev/sdb1 rw,user_id=0,group_id=0,allow_other,blksize=4096\n"
                        "23 20 259:2 /home/ann/shared " + t + "/bind-sub rw - ext4 /dev/nvme0n1p2 rw\n"
                        "24 20 259:2 / " + t + "/bind-root rw - ext4 /dev/nvme0n1p2 rw\n"
                        "25 20 0:44 / " + t + "/share rw - nfs4 server:/export rw\n"
                        "26 20 7:3 / " + t + "/image ro - ext4 /dev/loop3 ro\n"
                        "27 20 0:50 / /run/user/1000 rw - tmpfs tmpfs rw\n"
                        "29 20 0:52 / " + t + "/sshfs rw - fuse.sshfs ann@host: rw\n"
                        "30 20 8:33 / " + t + "/stick rw - vfat /dev/sdc1 rw\n"
                        "31 20 0:60 / " + t + "/btrfs rw - btrfs /dev/sdd1 rw\n"
                        "32 20 0:61 / " + t + "/over rw - tmpfs first rw\n"
                        "33 20 0:62 / " + t + "/over ro - tmpfs second ro\n"
                        "34 20 0:63 / " + t + "/gone rw - ext4 /dev/sdz1 rw\n"
                        "35 20 0:64 / " + t + "/dead\\040share rw - cifs //server/dead rw\n");
    }

    std::vector<std::string> mountPaths(const std::vector<VolumeInfo>& volumes) {
        std::vector<std::string> out;
        for (const auto& v : volumes) out.push_back(v.mountPath);
        return out;
    }

    test::TempDir temp;
    test::SysfsFixture fixture{temp.path() + "/system"};
};

}  // namespace

TEST_F(VolumeFixtureTest, CandidateListsKeepTableOrder) {
    auto roots = fixture.roots();
    std::string t = temp.path();
    // Pseudo, system and subfolder mounts are hidden; the startup volume and a bind mount
    // of it are left out; a mount point that no longer exists (gone) can't be read. What
    // can never be a drive (tmpfs) is not offered. Network shares are, so the chooser can
    // say why they can't serve, from the table alone: the share whose server is gone (its
    // mount point can't even be reached) is listed all the same.
    const auto offered = VolumeInfo::externalCandidates(roots);
    EXPECT_EQ(mountPaths(offered), (std::vector<std::string>{t + "/media/ann/SANDISK SSD", t + "/share", t + "/image",
                                                             t + "/sshfs", t + "/stick", t + "/btrfs",
                                                             t + "/dead share"}));
    const VolumeInfo& dead = offered.back();
    EXPECT_EQ(dead.name, "dead share");
    EXPECT_EQ(dead.fileSystem, "cifs");
    EXPECT_FALSE(dead.isLocal);
    EXPECT_EQ(dead.totalBytes, 0);
    EXPECT_FALSE(dead.kernelName);
    EXPECT_EQ(VolumeInfo::localExternalMountPaths(roots),
              (std::vector<std::string>{t + "/media/ann/SANDISK SSD", t + "/image", t + "/stick", t + "/btrfs",
                                        t + "/over", t + "/gone"}));
    EXPECT_EQ(mountPaths(VolumeInfo::localExternalCandidates(roots)),
              (std::vector<std::string>{t + "/media/ann/SANDISK SSD", t + "/image", t + "/stick", t + "/btrfs",
                                        t + "/over"}));
}

TEST_F(VolumeFixtureTest, FactsOfEachKind) {
    auto roots = fixture.roots();
    std::map<std::string, VolumeInfo> byName;
    for (auto& v : VolumeInfo::externalCandidates(roots)) byName[v.mountPath.substr(temp.path().size() + 1)] = v;
    for (auto name : {"share", "sshfs", "over"}) byName[name] = VolumeInfo::read(temp / name, roots).value_or(VolumeInfo{});

    const auto& ssd = byName["media/ann/SANDISK SSD"];
    EXPECT_EQ(ssd.name, "SANDISK SSD");
    EXPECT_EQ(ssd.volumeUUID, "6FF9-F22B");
    EXPECT_EQ(ssd.fileSystem, "exfat");  // seen through fuseblk
    EXPECT_EQ(ssd.kernelName, "sdb1");
    EXPECT_FALSE(ssd.isInternal);
    EXPECT_TRUE(ssd.isLocal);
    EXPECT_FALSE(ssd.isReadOnly);
    EXPECT_FALSE(ssd.isRootFileSystem);
    EXPECT_GT(ssd.totalBytes, 0);

    EXPECT_EQ(byName["stick"].fileSystem, "msdos");
    EXPECT_EQ(byName["stick"].name, "stick");  // no label
    EXPECT_EQ(byName["stick"].volumeUUID, "22B2-160F");

    EXPECT_EQ(byName["btrfs"].kernelName, "sdd1");  // from the source: btrfs shows an anonymous device
    EXPECT_EQ(byName["btrfs"].name, "Archive");

    EXPECT_EQ(byName["image"].kernelName, "loop3");
    EXPECT_TRUE(byName["image"].isReadOnly);
    EXPECT_FALSE(byName["image"].volumeUUID);  // no udev data, and the fixture's node holds nothing

    EXPECT_FALSE(byName["share"].isLocal);
    EXPECT_EQ(byName["share"].fileSystem, "nfs4");
    EXPECT_FALSE(byName["share"].kernelName);
    EXPECT_FALSE(byName["sshfs"].isLocal);

    EXPECT_TRUE(byName["over"].isReadOnly);  // the covering mount
}

TEST_F(VolumeFixtureTest, ALabelInADosCodePageIsShownAsText) {
    // FAT labels are raw bytes in the stick's code page ("CLÉ" in CP850); udev escapes them.
    test::writeFile(fixture.root() + "/udev/b8:33",
                    "E:ID_FS_TYPE=vfat\nE:ID_FS_UUID=22B2-160F\nE:ID_FS_LABEL_ENC=CL\\x90\n");
    auto stick = VolumeInfo::read(temp / "stick", fixture.roots());
    ASSERT_TRUE(stick);
    EXPECT_EQ(stick->name, "CL\xEF\xBF\xBD");
    EXPECT_NO_THROW(nlohmann::json(*stick).dump());
}

TEST_F(VolumeFixtureTest, ReadFindsTheVolumeHoldingAPath) {
    auto roots = fixture.roots();
    auto inside = VolumeInfo::read(temp / "media/ann/SANDISK SSD/Projects/deep", roots);
    ASSERT_TRUE(inside);
    EXPECT_EQ(inside->mountPath, temp / "media/ann/SANDISK SSD");
    EXPECT_EQ(inside->fileSystem, "exfat");

    auto bound = VolumeInfo::read(temp / "bind-root", roots);
    ASSERT_TRUE(bound);
    EXPECT_TRUE(bound->isRootFileSystem);
    EXPECT_TRUE(bound->isInternal);
    EXPECT_EQ(bound->name, "root");

    EXPECT_FALSE(VolumeInfo::read(temp / "missing", roots));
    EXPECT_FALSE(VolumeInfo::read("", roots));

    EXPECT_FALSE(VolumeInfo::storesMetadataNatively(temp / "media/ann/SANDISK SSD/Projects", roots));
    EXPECT_FALSE(VolumeInfo::storesMetadataNatively(temp / "stick", roots));
    EXPECT_TRUE(VolumeInfo::storesMetadataNatively(temp / "btrfs", roots));
    EXPECT_TRUE(VolumeInfo::storesMetadataNatively(temp / "missing", roots));  // can't tell
}

// The answer is kept while the mount table reads the same (a changed probe isn't seen),
// and worked out again after a remount or another mount at the same place.
TEST_F(VolumeFixtureTest, MetadataAnswerFollowsTheMountTableNotEachCall) {
    const auto roots = fixture.roots();
    const std::string table = test::readFile(roots.mountinfo);
    const size_t at = table.find("22 20 ");
    const std::string ssdLine = table.substr(at, table.find('\n', at) - at + 1);
    const std::string ssd = escaped(temp.path()) + "/media/ann/SANDISK\\040SSD";
    struct Step {
        const char* label;
        std::string mountLine;  // the SSD's line in the table
        const char* probedType;  // what its block device holds
        bool native;
    };
    const std::vector<Step> steps{
        {"the exFAT SSD through FUSE", ssdLine, "exfat", false},
        {"the same table after its device changed", ssdLine, "ext4", false},
        {"remounted read-only", "22 20 8:17 / " + ssd + " ro,nosuid - fuseblk /dev/sdb1 ro\n", "ext4", true},
        {"another mount at the same place", "40 20 8:33 / " + ssd + " rw - vfat /dev/sdc1 rw\n", "ext4", false},
        {"and another", "41 20 8:49 / " + ssd + " rw - btrfs /dev/sdd1 rw\n", "ext4", true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.label);
        std::string changed = table;
        changed.replace(changed.find(ssdLine), ssdLine.size(), step.mountLine);
        test::writeFile(roots.mountinfo, changed);
        test::writeFile(fixture.root() + "/udev/b8:17", std::string("E:ID_FS_TYPE=") + step.probedType + "\n");
        EXPECT_EQ(VolumeInfo::storesMetadataNatively(temp / "media/ann/SANDISK SSD/Projects", roots), step.native);
    }
}

TEST(VolumeInfoTest, JsonOmitsAbsentOptionals) {
    VolumeInfo volume{"/media/ann/Drive", "Drive", std::nullopt, "exfat", "sdb1", false, true, false, false,
                      1000, 500};
    nlohmann::json json = volume;
    EXPECT_FALSE(json.contains("volumeUUID"));
    EXPECT_EQ(json["bsdName"], "sdb1");
    EXPECT_EQ(json.get<VolumeInfo>(), volume);
    json.erase("isLocal");
    EXPECT_ANY_THROW(json.get<VolumeInfo>());
}

TEST(BlockDevicesTest, UdevEscapesAndUnsafeNames) {
    EXPECT_EQ(platform::BlockDevices::decodeUdevEscapes("My\\x20Drive\\x2fx\\x2"), "My Drive/x\\x2");
    EXPECT_FALSE(platform::BlockDevices::isValidName("../sda"));
    EXPECT_FALSE(platform::BlockDevices::isValidName(".."));
    EXPECT_TRUE(platform::BlockDevices::isValidName("nvme0n1p2"));
}

TEST(VolumeInfoTest, ASubfolderOfTheTemporaryFolderBelongsToItsVolume) {
    test::TempDir temp;
    test::makeDirs(temp / "a/b");
    auto volume = VolumeInfo::read(temp / "a/b");
    ASSERT_TRUE(volume);
    auto holder = VolumeInfo::read(volume->mountPath);
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder->mountPath, volume->mountPath);
    if (volume->mountPath == "/") {
        EXPECT_TRUE(volume->isRootFileSystem);
        EXPECT_FALSE(volume->isRootFileSystem && VolumeInfo::externalCandidates().size() > 0 &&
                     VolumeInfo::externalCandidates().front().mountPath == "/");
    }
}

TEST(BlockDevicesTest, LibblkidReadsTheSuperBlockWithoutUdev) {
    test::TempDir temp;
    test::SysfsFixture fixture{temp.path()};
    // The device node is an image file: libblkid probes files as it probes devices.
    if (!test::run("command -v mkfs.vfat") ||
        !test::run("truncate -s 40M '" + fixture.root() + "/dev/sdx1' && mkfs.vfat -F 32 -n KELSTICK -i 22B2160F '" +
                   fixture.root() + "/dev/sdx1'")) {
        GTEST_SKIP() << "mkfs.vfat is not installed";
    }
    auto identity = platform::BlockDevices::identify("sdx1", fixture.roots());
    EXPECT_EQ(identity, (platform::BlockDevices::Identity{"vfat", "22B2-160F", "KELSTICK"}));
    EXPECT_EQ(platform::BlockDevices::identify("missing", fixture.roots()), platform::BlockDevices::Identity{});
}

// An exFAT stick through FUSE, for a user who can't read the device and has no udev
// record of it: the daemon serving the mount tells its format, and nothing else does.
TEST_F(VolumeFixtureTest, AFuseMountWithoutAnyRecordIsKnownByItsDaemon) {
    ASSERT_EQ(::unlink((fixture.root() + "/udev/b8:17").c_str()), 0);
    const std::string ssd = temp / "media/ann/SANDISK SSD";
    auto formatOf = [&] { return VolumeInfo::read(ssd, fixture.roots()).value().fileSystem; };
    EXPECT_EQ(formatOf(), "fuseblk");
    EXPECT_FALSE(VolumeInfo::storesMetadataNatively(ssd, fixture.roots()));

    auto process = [&](const std::string& pid, const std::string& arguments) {
        test::writeFile(fixture.root() + "/proc/" + pid + "/cmdline", arguments);
    };
    using namespace std::string_literals;
    process("880", "blkid\0/dev/sdb1\0"s);                                  // names the device, serves nothing
    process("881", "/usr/sbin/ntfs-3g\0/dev/sdc9\0/media/ann/Other\0"s);    // serves another device
    EXPECT_EQ(formatOf(), "fuseblk");
    process("900", "/sbin/mount.exfat-fuse\0-o\0rw\0/dev/sdb1\0"s + ssd + "\0"s);
    EXPECT_EQ(formatOf(), "exfat");
    ASSERT_EQ(::unlink((fixture.root() + "/proc/900/cmdline").c_str()), 0);
    process("901", "ntfs-3g\0/dev/sdb1\0"s + ssd + "\0"s);
    EXPECT_EQ(formatOf(), "ntfs");
}
