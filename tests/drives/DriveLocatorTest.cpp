#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "drives/DriveMarker.h"
#include "drives/FolderDriveLocator.h"
#include "drives/VolumeDriveLocator.h"
#include "support/RealMounts.h"
#include "support/TempDir.h"

using namespace keldwick;

TEST(FolderDriveLocatorTest, AnswersOnlyForItsIdAndARealFolder) {
    test::TempDir temp;
    test::makeDirs(temp / "drive");
    EXPECT_EQ(FolderDriveLocator("A", temp / "drive").mountPoint("A"), temp / "drive");
    EXPECT_FALSE(FolderDriveLocator("A", temp / "drive").mountPoint("a"));
    EXPECT_FALSE(FolderDriveLocator("A", temp / "drive").mountPoint(""));
    EXPECT_FALSE(FolderDriveLocator("A", temp / "missing").mountPoint("A"));
    test::writeFile(temp / "file", "x");
    EXPECT_FALSE(FolderDriveLocator("A", temp / "file").mountPoint("A"));
    ASSERT_EQ(symlink((temp / "drive").c_str(), (temp / "link").c_str()), 0);
    EXPECT_FALSE(FolderDriveLocator("A", temp / "link").mountPoint("A"));
}

namespace {

// Volumes as plain folders with real markers; mounts and their identities are made up.
class FakeSource : public VolumeSource {
public:
    std::vector<std::string> paths;
    std::map<std::string, MountIdentity> mounts;
    mutable std::atomic<int> searches{0};
    mutable std::atomic<int> markerReads{0};

    std::vector<std::string> candidateMountPaths() const override {
        ++searches;
        return paths;
    }
    std::optional<MountIdentity> identity(const std::string& path) const override {
        auto found = mounts.find(path);
        if (found == mounts.end()) return std::nullopt;
        return found->second;
    }
    std::optional<Drive> marker(const std::string& root) const override {
        ++markerReads;
        return DriveMarker::read(root);
    }
};

MountIdentity mount(uint64_t id) { return MountIdentity{id, true, 7 << 8, 0}; }

class VolumeLocatorTest : public ::testing::Test {
protected:
    std::string volume(const std::string& name, uint64_t mountID) {
        std::string path = temp / name;
        test::makeDirs(path);
        source->paths.push_back(path);
        source->mounts[path] = mount(mountID);
        return path;
    }
    test::TempDir temp;
    std::shared_ptr<FakeSource> source = std::make_shared<FakeSource>();
    VolumeDriveLocator locator{source};
};

}  // namespace

TEST_F(VolumeLocatorTest, SearchesOnceThenTrustsTheSameMount) {
    volume("Other", 10);
    std::string a = volume("Archive", 11);
    DriveMarker::adopt(temp / "Other", "Other");
    Drive drive = DriveMarker::adopt(a, "Archive");

    EXPECT_FALSE(locator.mountPoint(""));
    EXPECT_EQ(source->searches, 0);

    EXPECT_EQ(locator.mountPoint(drive.id), a);
    EXPECT_EQ(source->searches, 1);
    int reads = source->markerReads;
    EXPECT_EQ(locator.mountPoint(drive.id), a);
    EXPECT_EQ(source->searches, 1);
    EXPECT_EQ(source->markerReads, reads);  // a hit reads no marker

    EXPECT_FALSE(locator.mountPoint("00000000-0000-0000-0000-000000000000"));
    locator.forgetLocations();
    EXPECT_EQ(locator.mountPoint(drive.id), a);
    EXPECT_EQ(source->searches, 3);
}

TEST_F(VolumeLocatorTest, RemountedElsewhereOrReplacedAtTheSamePath) {
    std::string first = volume("Drive", 20);
    Drive drive = DriveMarker::adopt(first, "Drive");
    EXPECT_EQ(locator.mountPoint(drive.id), first);

    // Unplugged and plugged in again at another path; the old path is now an empty folder.
    std::string second = volume("Drive 1", 21);
    std::filesystem::rename(first + "/Keldwick", second + "/Keldwick");
    source->mounts.erase(first);
    EXPECT_EQ(locator.mountPoint(drive.id), second);

    // Another volume mounted where the drive was: a new mount, so the drive is searched for.
    std::filesystem::rename(second + "/Keldwick", temp / "away");
    source->mounts[second] = mount(22);
    DriveMarker::adopt(second, "Stranger");
    EXPECT_FALSE(locator.mountPoint(drive.id));
}

TEST_F(VolumeLocatorTest, FirstInTableOrderAndOnlyMountPoints) {
    std::string a = volume("A", 30);
    std::string b = volume("B", 31);
    Drive drive = DriveMarker::adopt(a, "A");
    std::filesystem::copy(a + "/Keldwick", b + "/Keldwick", std::filesystem::copy_options::recursive);
    EXPECT_EQ(locator.mountPoint(drive.id), a);

    VolumeDriveLocator other{source};
    source->mounts.erase(a);  // no longer a mount point of its own
    EXPECT_EQ(other.mountPoint(drive.id), b);
}

TEST_F(VolumeLocatorTest, WeakIdentitiesAreConfirmedByTheMarker) {
    std::string a = volume("Fuse", 40);
    source->mounts[a] = MountIdentity{40, false, 7 << 8, 0};
    Drive drive = DriveMarker::adopt(a, "Fuse");
    EXPECT_EQ(locator.mountPoint(drive.id), a);
    int reads = source->markerReads;
    EXPECT_EQ(locator.mountPoint(drive.id), a);
    EXPECT_EQ(source->markerReads, reads + 1);

    // Same old-style identity, different volume behind it.
    std::filesystem::remove_all(a + "/Keldwick");
    DriveMarker::adopt(a, "Stranger");
    EXPECT_FALSE(locator.mountPoint(drive.id));
}

TEST_F(VolumeLocatorTest, ConcurrentLookupsSearchOnce) {
    std::string a = volume("Drive", 50);
    Drive drive = DriveMarker::adopt(a, "Drive");
    std::vector<std::thread> threads;
    std::atomic<int> found{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            if (locator.mountPoint(drive.id) == a) ++found;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(found, 8);
    EXPECT_EQ(source->searches, 1);
}

// The real system: exFAT volumes through FUSE, whose statfs file-system id is 0 for every
// volume, so only the mount's own identity tells them apart.
TEST(VolumeLocatorRealTest, FindsTheDriveAfterARemountAndRefusesAStrangerAtItsOldPath) {
    if (auto reason = test::mountSkipReason("mount.exfat-fuse")) GTEST_SKIP() << *reason;
    if (auto reason = test::mountSkipReason("mkfs.exfat")) GTEST_SKIP() << *reason;
    test::TempDir temp;
    std::string p = temp / "Drive P";
    std::string q = temp / "Drive Q";
    test::makeDirs(q);
    VolumeDriveLocator locator;

    Drive drive;
    {
        test::LoopVolume a(temp / "a.img", 8, "mkfs.exfat -L A", "mount.exfat-fuse", p);
        if (!a.mounted()) GTEST_SKIP() << a.error();
        drive = DriveMarker::adopt(p, "A");
        EXPECT_EQ(locator.mountPoint(drive.id), p);
        a.unmount();
        EXPECT_FALSE(locator.mountPoint(drive.id));

        ASSERT_TRUE(test::run("mount.exfat-fuse " + a.device() + " '" + q + "'")) << "remount";
        EXPECT_EQ(locator.mountPoint(drive.id), q);
        test::run("umount '" + q + "'");
    }
    {
        test::LoopVolume b(temp / "b.img", 8, "mkfs.exfat -L B", "mount.exfat-fuse", q);
        if (!b.mounted()) GTEST_SKIP() << b.error();
        Drive stranger = DriveMarker::adopt(q, "B");
        EXPECT_NE(stranger.id, drive.id);
        EXPECT_FALSE(locator.mountPoint(drive.id));
        EXPECT_EQ(locator.mountPoint(stranger.id), q);
    }
}
