#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <iostream>
#include <filesystem>
#include <thread>

#include "foundation/Clock.h"
#include "drives/DriveMarker.h"
#include "drives/FolderDriveLocator.h"
#include "drives/DriveProblem.h"
#include "drives/VolumeDriveLocator.h"
#include "platform/FileSystemKinds.h"
#include "drives/VolumeInfo.h"
#include "platform/FileIO.h"
#include "platform/Statx.h"
#include "support/AsUser.h"
#include "support/RealMounts.h"
#include "support/SysfsFixture.h"
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

// Volumes as plain folders with real markers judged for `user`; mounts, their identities
// and their kinds are made up.
class FakeSource : public VolumeSource {
public:
    std::vector<VolumeCandidate> volumes;
    std::map<std::string, MountIdentity> mounts;
    DriveTrust::User user = DriveTrust::User::current();
    std::map<std::string, platform::MountModes> modes;  // per volume; kept per file when absent
    mutable std::atomic<int> searches{0};
    mutable std::atomic<int> markerReads{0};

    std::vector<VolumeCandidate> candidates() const override {
        ++searches;
        return volumes;
    }
    std::optional<MountIdentity> identity(const std::string& path) const override {
        auto found = mounts.find(path);
        if (found == mounts.end()) return std::nullopt;
        return found->second;
    }
    DriveTrust::Examined marker(const std::string& root, const std::string& wantedID) const override {
        ++markerReads;
        auto found = modes.find(root);
        return DriveTrust::examine(root, user, wantedID, found == modes.end() ? platform::MountModes{} : found->second);
    }
};

MountIdentity mount(uint64_t id) { return MountIdentity{id, true, id, 0}; }

class VolumeLocatorTest : public ::testing::Test {
protected:
    std::string volume(const std::string& name, uint64_t mountID, const std::string& type = "ext4") {
        std::string path = temp / name;
        test::makeDirs(path);
        source->volumes.push_back({path, DriveTrust::volumeRefusal(path, type, type != "tmpfs")});
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
    DriveMarker::adopt(temp / "Other", "Other", *Clock::system());
    Drive drive = DriveMarker::adopt(a, "Archive", *Clock::system());

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
    Drive drive = DriveMarker::adopt(first, "Drive", *Clock::system());
    EXPECT_EQ(locator.mountPoint(drive.id), first);

    // Unplugged and plugged in again at another path; the old path is now an empty folder.
    std::string second = volume("Drive 1", 21);
    std::filesystem::rename(first + "/Keldwick", second + "/Keldwick");
    source->mounts.erase(first);
    EXPECT_EQ(locator.mountPoint(drive.id), second);

    // Another volume mounted where the drive was: a new mount, so the drive is searched for.
    std::filesystem::rename(second + "/Keldwick", temp / "away");
    source->mounts[second] = mount(22);
    DriveMarker::adopt(second, "Stranger", *Clock::system());
    EXPECT_FALSE(locator.mountPoint(drive.id));
}

// A copied drive (or a copied marker) makes two candidates: neither is the drive. The
// same file system mounted twice is one drive, and a path that is not a mount point of
// its own is no candidate.
TEST_F(VolumeLocatorTest, TwoVolumesWithOneMarkerAreNeitherTaken) {
    std::string a = volume("A", 30);
    std::string b = volume("B", 31);
    Drive drive = DriveMarker::adopt(a, "A", *Clock::system());
    std::filesystem::copy(a + "/Keldwick", b + "/Keldwick", std::filesystem::copy_options::recursive);
    EXPECT_FALSE(locator.mountPoint(drive.id));
    EXPECT_EQ(locator.refusals(drive.id), (std::vector<DriveRefusal>{{a, DriveRefusal::Kind::duplicate, b},
                                                                      {b, DriveRefusal::Kind::duplicate, a}}));
    EXPECT_EQ(locator.refusals(drive.id)[0].explanation(),
              "Another volume, at " + b + ", holds the same marker. Unplug the one that isn't your drive.");

    source->mounts[b] = MountIdentity{31, true, 30, 0};  // a second mount of A's file system
    EXPECT_EQ(locator.mountPoint(drive.id), a);
    EXPECT_TRUE(locator.refusals(drive.id).empty());

    source->mounts[b] = mount(31);
    source->mounts.erase(a);  // no longer a mount point of its own
    EXPECT_EQ(locator.mountPoint(drive.id), b);
}

TEST_F(VolumeLocatorTest, WeakIdentitiesAreConfirmedByTheMarker) {
    std::string a = volume("Fuse", 40);
    source->mounts[a] = MountIdentity{40, false, 7 << 8, 0};
    Drive drive = DriveMarker::adopt(a, "Fuse", *Clock::system());
    EXPECT_EQ(locator.mountPoint(drive.id), a);
    int reads = source->markerReads;
    EXPECT_EQ(locator.mountPoint(drive.id), a);
    EXPECT_EQ(source->markerReads, reads + 1);

    // Same old-style identity, different volume behind it.
    std::filesystem::remove_all(a + "/Keldwick");
    DriveMarker::adopt(a, "Stranger", *Clock::system());
    EXPECT_FALSE(locator.mountPoint(drive.id));
}

TEST_F(VolumeLocatorTest, ConcurrentLookupsSearchOnce) {
    std::string a = volume("Drive", 50);
    Drive drive = DriveMarker::adopt(a, "Drive", *Clock::system());
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

namespace {

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

}  // namespace

// Another user copies the drive's marker onto a volume of theirs, mounted before the real
// drive: the copy is refused and named, and the real drive is found. The user here is a
// made-up uid 1000 whose private group is 1000; the test runs as root, so it can hand
// files to any owner.
TEST_F(VolumeLocatorTest, AMarkerOnAVolumeOfAnotherUserIsRefusedAndNamed) {
    if (::geteuid() != 0) GTEST_SKIP() << "handing files to other owners needs root";
    source->user = DriveTrust::User{1000, 1000, {}};
    using Kind = DriveRefusal::Kind;
    struct Case {
        const char* name;
        std::string type;
        std::function<void(const std::string& folder)> plant;
        std::optional<DriveRefusal::Kind> refused;
        std::string detail;
        mode_t folderModeAfter;
    };
    auto own = [](uid_t uid, gid_t gid, mode_t mode) {
        return [=](const std::string& folder) {
            test::chownTree(folder, uid);
            ::chown(folder.c_str(), uid, gid);
            ::chmod(folder.c_str(), mode);
        };
    };
    const std::vector<Case> cases = {
        {"tmpfs", "tmpfs", own(1000, 1000, 0755), Kind::notADisk, "tmpfs", 0755},
        {"fuse", "fuse.sshfs", own(1000, 1000, 0755), Kind::notADisk, "fuse.sshfs", 0755},
        {"stranger's folder", "ext4", own(1001, 1001, 0755), Kind::anotherOwner, "Keldwick folder", 0755},
        {"stranger's marker", "ext4",
         [](const std::string& folder) {
             test::chownTree(folder, 1000);
             ::chown((folder + "/.keldwick-drive.json").c_str(), 1001, 1001);
         },
         Kind::anotherOwner, "drive marker", 0755},
        {"root's open folder", "ext4", own(0, 0, 0777), Kind::othersCanChange, "Keldwick folder", 0777},
        {"root's folder", "ext4", own(0, 0, 0755), std::nullopt, "", 0755},
        // The user's own loose folder is narrowed, not refused: to 0711, so others can
        // reach their own computer's folder but can't list it.
        {"own, shared group", "ext4", own(1000, 100, 0777), std::nullopt, "", 0711},
        {"own, private group", "ext4", own(1000, 1000, 0777), std::nullopt, "", 0711},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        source->volumes.clear();
        source->mounts.clear();
        std::filesystem::remove_all(temp.path() + "/planted");
        std::filesystem::remove_all(temp.path() + "/drive");
        const std::string planted = volume("planted", 60, c.type);
        const std::string real = volume("drive", 61);
        Drive drive = DriveMarker::adopt(real, "Archive", *Clock::system());
        test::chownTree(real + "/Keldwick", 1000);
        std::filesystem::copy(real + "/Keldwick", planted + "/Keldwick", std::filesystem::copy_options::recursive);
        c.plant(planted + "/Keldwick");
        VolumeDriveLocator fresh{source};

        if (c.refused) {
            EXPECT_EQ(fresh.mountPoint(drive.id), real);
            EXPECT_EQ(fresh.refusals(drive.id), (std::vector<DriveRefusal>{{planted, *c.refused, c.detail}}));
        } else {
            // Trusted as well: two drives with one marker, so neither.
            EXPECT_FALSE(fresh.mountPoint(drive.id));
            ASSERT_EQ(fresh.refusals(drive.id).size(), 2u);
            EXPECT_EQ(fresh.refusals(drive.id)[0].kind, Kind::duplicate);
        }
        EXPECT_EQ(modeOf(planted + "/Keldwick"), c.folderModeAfter);
    }
}

// Every kind of volume the locator meets, judged by the drive chooser (no id, so nothing
// is narrowed) and then searched for by the locator (which narrows the user's own folder):
// a volume the chooser offers is exactly one the locator takes. Each volume holds a real
// marker and folders with the owners and modes of its row; the mount's kind is made up.
// The user is a made-up uid 1000 whose private group is 1000.
TEST_F(VolumeLocatorTest, TheChooserOffersExactlyWhatTheLocatorTakes) {
    if (::geteuid() != 0) GTEST_SKIP() << "handing files to other owners needs root";
    const DriveTrust::User user{1000, 1000, {}};
    source->user = user;
    using Kind = DriveRefusal::Kind;
    using Source = platform::MountModes::Source;
    const platform::MountModes files;
    const platform::MountModes fat022{Source::kernelMount, 0022, 0022, false, false};
    const platform::MountModes fat000{Source::kernelMount, 0, 0, false, false};
    const platform::MountModes fuseChecked{Source::fuse, {}, {}, true, true};
    const platform::MountModes fuseUnchecked{Source::fuse, {}, {}, true, false};
    const platform::MountModes fuseOwn{Source::fuse, {}, {}, false, false};
    struct Case {
        const char* name;
        platform::MountModes modes;
        uid_t folderOwner;
        gid_t folderGroup;
        mode_t folderMode;
        uid_t markerOwner;
        mode_t markerMode;
        uid_t topOwner;
        gid_t topGroup;
        mode_t topMode;
        std::optional<Kind> refused;
        std::string detail;
        mode_t folderModeAfter;
        mode_t markerModeAfter;
    };
    const std::vector<Case> cases = {
        {"own, kept modes", files, 1000, 1000, 0755, 1000, 0644, 0, 0, 0755, {}, "", 0711, 0644},
        {"own and open to all, narrowed", files, 1000, 100, 0777, 1000, 0666, 0, 0, 0755, {}, "", 0711, 0644},
        {"root's, kept as it is", files, 0, 0, 0755, 0, 0644, 0, 0, 0755, {}, "", 0755, 0644},
        {"root's and open to all", files, 0, 0, 0777, 0, 0644, 0, 0, 0755, Kind::othersCanChange, "Keldwick folder",
         0777, 0644},
        {"another account's and open to all", files, 1001, 1001, 0777, 1001, 0666, 0, 0, 0755, Kind::anotherOwner,
         "Keldwick folder", 0777, 0666},
        {"another account's marker", files, 1000, 1000, 0755, 1001, 0644, 0, 0, 0755, Kind::anotherOwner,
         "drive marker", 0755, 0644},
        {"top folder open to all", files, 1000, 1000, 0755, 1000, 0644, 0, 0, 0777, Kind::othersCanReplace,
         "Keldwick folder", 0755, 0644},
        {"top folder open to all, sticky", files, 1000, 1000, 0755, 1000, 0644, 0, 0, 01777, {}, "", 0711, 0644},
        {"top folder of the private group", files, 1000, 1000, 0755, 1000, 0644, 1000, 1000, 0775, {}, "", 0711,
         0644},
        {"top folder of a shared group", files, 1000, 1000, 0755, 1000, 0644, 1000, 100, 0775,
         Kind::othersCanReplace, "Keldwick folder", 0755, 0644},
        {"top folder of another account", files, 1000, 1000, 0755, 1000, 0644, 1001, 1001, 0755, Kind::anotherOwner,
         "top folder", 0755, 0644},
        {"FAT mounted umask=022", fat022, 1000, 1000, 0755, 1000, 0644, 1000, 1000, 0755, {}, "", 0755, 0644},
        {"FAT mounted umask=000", fat000, 1000, 1000, 0777, 1000, 0666, 1000, 1000, 0777, Kind::modesFromMount,
         "Keldwick folder", 0777, 0666},
        {"FAT mounted umask=000, modes shown narrow", fat000, 1000, 1000, 0755, 1000, 0644, 1000, 1000, 0755,
         Kind::modesFromMount, "Keldwick folder", 0755, 0644},
        {"FUSE with permissions checked, umask 022", fuseChecked, 1000, 1000, 0755, 1000, 0644, 1000, 1000, 0755, {},
         "", 0755, 0644},
        {"FUSE with permissions checked, umask 0", fuseChecked, 1000, 1000, 0777, 1000, 0666, 1000, 1000, 0777,
         Kind::modesFromMount, "Keldwick folder", 0777, 0666},
        {"FUSE unchecked", fuseUnchecked, 1000, 1000, 0755, 1000, 0644, 1000, 1000, 0755, Kind::noPermissionChecks,
         "FUSE", 0755, 0644},
        {"FUSE for the user alone", fuseOwn, 1000, 1000, 0777, 1000, 0666, 1000, 1000, 0777, {}, "", 0777, 0666},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        source->volumes.clear();
        source->mounts.clear();
        std::filesystem::remove_all(temp.path() + "/v");
        const std::string root = volume("v", 80);
        source->modes[root] = c.modes;
        Drive drive = DriveMarker::adopt(root, "Archive", *Clock::system());
        const std::string folder = root + "/Keldwick";
        const std::string marker = folder + "/.keldwick-drive.json";
        test::chownTree(folder, c.folderOwner);
        ASSERT_EQ(::chown(folder.c_str(), c.folderOwner, c.folderGroup), 0);
        ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);
        ASSERT_EQ(::chown(marker.c_str(), c.markerOwner, c.markerOwner), 0);
        ASSERT_EQ(::chmod(marker.c_str(), c.markerMode), 0);
        ASSERT_EQ(::chown(root.c_str(), c.topOwner, c.topGroup), 0);
        ASSERT_EQ(::chmod(root.c_str(), c.topMode), 0);

        const auto chosen = DriveTrust::examine(root, user, std::nullopt, c.modes);
        EXPECT_EQ(chosen.drive, drive);
        EXPECT_EQ(modeOf(folder), c.folderMode);  // the chooser changes nothing
        VolumeDriveLocator fresh{source};
        const bool found = fresh.mountPoint(drive.id) == root;
        EXPECT_EQ(!chosen.refusal, found);
        EXPECT_EQ(chosen.refusal, fresh.refusals(drive.id).empty() ? std::nullopt
                                                                   : std::optional(fresh.refusals(drive.id).front()));
        if (c.refused) {
            EXPECT_EQ(chosen.refusal, (DriveRefusal{root, *c.refused, c.detail}));
        } else {
            EXPECT_EQ(chosen.refusal, std::nullopt);
        }
        EXPECT_EQ(modeOf(folder), c.folderModeAfter);
        EXPECT_EQ(modeOf(marker), c.markerModeAfter);
    }
}

// On a read-only volume the user's loose folder can't be narrowed, so the chooser judges
// it as the locator will see it: refused by both, and unchanged.
TEST_F(VolumeLocatorTest, AReadOnlyVolumeIsJudgedAsItWillBeSeen) {
    if (auto reason = test::mountSkipReason()) GTEST_SKIP() << *reason;
    const DriveTrust::User user{1000, 1000, {}};
    source->user = user;
    const std::string root = temp / "ro";
    test::TmpfsMount mounted(root, "size=1m,mode=0755");
    if (!mounted.mounted()) GTEST_SKIP() << "tmpfs could not be mounted";
    source->volumes.push_back({root, std::nullopt});
    source->mounts[root] = mount(90);
    Drive drive = DriveMarker::adopt(root, "Archive", *Clock::system());
    test::chownTree(root + "/Keldwick", 1000);
    ::chmod((root + "/Keldwick").c_str(), 0777);
    ASSERT_TRUE(test::run("mount -o remount,ro '" + root + "'"));

    const DriveRefusal refused{root, DriveRefusal::Kind::othersCanChange, "Keldwick folder"};
    EXPECT_EQ(DriveTrust::examine(root, user, std::nullopt, {}).refusal, refused);
    EXPECT_FALSE(locator.mountPoint(drive.id));
    EXPECT_EQ(locator.refusals(drive.id), std::vector<DriveRefusal>{refused});
    EXPECT_EQ(modeOf(root + "/Keldwick"), 0777u);
}

// A volume not yet used is judged as a Keldwick folder made on it would be.
TEST(DriveTrustTest, AVolumeWithoutAFolderIsJudgedAsItsNewFolderWouldBe) {
    if (::geteuid() != 0) GTEST_SKIP() << "handing files to other owners needs root";
    const DriveTrust::User user{1000, 1000, {}};
    using Kind = DriveRefusal::Kind;
    using Source = platform::MountModes::Source;
    struct Case {
        const char* name;
        platform::MountModes modes;
        mode_t topMode;
        std::optional<Kind> refused;
    };
    const Case cases[] = {
        {"kept modes", {}, 0755, {}},
        {"kept modes, top folder open to all", {}, 0777, Kind::othersCanReplace},
        {"FAT umask=022", {Source::kernelMount, 0022, 0022, false, false}, 0755, {}},
        {"FAT umask=000", {Source::kernelMount, 0, 0, false, false}, 0755, Kind::modesFromMount},
        {"FUSE showing 0777", {Source::fuse, {}, {}, true, true}, 0777, Kind::modesFromMount},
        {"FUSE unchecked", {Source::fuse, {}, {}, true, false}, 0755, Kind::noPermissionChecks},
    };
    test::TempDir temp;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string root = temp / c.name;
        test::makeDirs(root);
        ASSERT_EQ(::chown(root.c_str(), 1000, 1000), 0);
        ASSERT_EQ(::chmod(root.c_str(), c.topMode), 0);
        const auto examined = DriveTrust::examine(root, user, std::nullopt, c.modes);
        EXPECT_FALSE(examined.drive);
        EXPECT_EQ(examined.refusal ? std::optional(examined.refusal->kind) : std::nullopt, c.refused);
    }
}

// The folder an operation holds open is judged as it is, never changed; a rename
// door opened above it after it was opened is seen.
TEST(DriveTrustTest, AnOpenFolderIsJudgedAsItIsAndNeverChanged) {
    if (::geteuid() != 0) GTEST_SKIP() << "handing files to other owners needs root";
    const DriveTrust::User user{1000, 1000, {}};
    test::TempDir temp;
    const std::string root = temp / "drive";
    test::makeDirs(root);
    DriveMarker::adopt(root, "Archive", *Clock::system());
    const std::string folder = root + "/Keldwick";
    test::chownTree(folder, 1000);
    ::chmod(folder.c_str(), 0711);
    const platform::Fd open = platform::openDirectory(AT_FDCWD, folder, O_NOFOLLOW);
    ASSERT_TRUE(open);
    EXPECT_EQ(DriveTrust::judgeOpenFolder(root, open.get(), user, {}), std::nullopt);

    ::chmod(root.c_str(), 0777);
    EXPECT_EQ(DriveTrust::judgeOpenFolder(root, open.get(), user, {}),
              (DriveRefusal{root, DriveRefusal::Kind::othersCanReplace, "Keldwick folder"}));
    ::chmod(root.c_str(), 0755);
    ::chmod(folder.c_str(), 0777);  // the user's own, but not narrowed here
    EXPECT_EQ(DriveTrust::judgeOpenFolder(root, open.get(), user, {}),
              (DriveRefusal{root, DriveRefusal::Kind::othersCanChange, "Keldwick folder"}));
    EXPECT_EQ(modeOf(folder), 0777u);
    ::chown(folder.c_str(), 1001, 1001);
    EXPECT_EQ(DriveTrust::judgeOpenFolder(root, open.get(), user, {}),
              (DriveRefusal{root, DriveRefusal::Kind::anotherOwner, "Keldwick folder"}));
}

// Every folder below the Keldwick folder is judged as the user's own or not at all: the
// owner must be the user, and nobody but the user (and their private group) may write.
TEST(DriveTrustTest, InnerFoldersAreTheUsersAndClosedToOthers) {
    const DriveTrust::User user{1000, 1000, {}};
    using Kind = DriveRefusal::Kind;
    platform::MountModes fromMount;
    fromMount.source = platform::MountModes::Source::kernelMount;
    struct Case {
        const char* name;
        uid_t owner;
        gid_t group;
        mode_t mode;
        bool narrowable;
        platform::MountModes modes;
        std::optional<Kind> refused;
    };
    const Case cases[] = {
        {"private", 1000, 1000, S_IFDIR | 0700, false, {}, std::nullopt},
        {"readable by all", 1000, 1000, S_IFDIR | 0755, false, {}, std::nullopt},
        {"private group writes", 1000, 1000, S_IFDIR | 0775, false, {}, std::nullopt},
        {"another group writes", 1000, 100, S_IFDIR | 0775, false, {}, Kind::innerFolderOpen},
        {"everyone writes", 1000, 1000, S_IFDIR | 0777, false, {}, Kind::innerFolderOpen},
        {"sticky is no help", 1000, 1000, S_IFDIR | 01777, false, {}, Kind::innerFolderOpen},
        {"the user's, narrowed before use", 1000, 100, S_IFDIR | 0777, true, {}, std::nullopt},
        {"root's", 0, 0, S_IFDIR | 0755, true, {}, Kind::innerFolderForeign},
        {"another account's, open", 65534, 65534, S_IFDIR | 0777, true, {}, Kind::innerFolderForeign},
        {"a file in its place", 1000, 1000, S_IFREG | 0600, true, {}, Kind::innerFolderForeign},
        {"a link in its place", 1000, 1000, S_IFLNK | 0777, true, {}, Kind::innerFolderForeign},
        {"modes from the mount", 0, 0, S_IFDIR | 0777, false, fromMount, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        struct stat st {};
        st.st_uid = c.owner;
        st.st_gid = c.group;
        st.st_mode = c.mode;
        const auto refusal = DriveTrust::judgeInnerFolder(st, "/media/a/Drive", "Keldwick/PC (1A)/home", user, c.modes,
                                                          c.narrowable);
        ASSERT_EQ(refusal.has_value(), c.refused.has_value());
        if (!refusal) continue;
        EXPECT_EQ(refusal->kind, *c.refused);
        EXPECT_EQ(refusal->detail, "Keldwick/PC (1A)/home");
        const std::string text = refusal->explanation();
        EXPECT_NE(text.find("“Keldwick/PC (1A)/home”"), std::string::npos) << text;
        EXPECT_EQ(text.find('`'), std::string::npos) << text;
    }
}

namespace {

// Counts the mode changes made through the call table.
class CountingCalls : public platform::FileSystemCalls {
public:
    int fchmod(int fd, mode_t mode) override {
        ++changes;
        return platform::FileSystemCalls::fchmod(fd, mode);
    }
    int changes = 0;
};

}  // namespace

// Narrowing goes through the call table (a power-cut test sees it), and only the user's
// own folder is ever changed.
TEST(DriveTrustTest, NarrowingGoesThroughTheCallTableAndOnlyForTheUsersOwn) {
    if (::geteuid() != 0) GTEST_SKIP() << "handing files to other owners needs root";
    const DriveTrust::User user{1000, 1000, {}};
    test::TempDir temp;
    struct Case {
        const char* name;
        uid_t owner;
        int changes;
        mode_t after;
    };
    const Case cases[] = {{"own", 1000, 2, 0711}, {"another account's", 1001, 0, 0777}, {"root's", 0, 0, 0777}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string root = temp / c.name;
        test::makeDirs(root);
        Drive drive = DriveMarker::adopt(root, "Archive", *Clock::system());
        test::chownTree(root + "/Keldwick", c.owner);
        ::chmod((root + "/Keldwick").c_str(), 0777);
        ::chmod((root + "/Keldwick/.keldwick-drive.json").c_str(), 0666);
        CountingCalls counting;
        platform::ScopedFileSystemCalls installed(counting);
        DriveTrust::examine(root, user, drive.id, {});
        EXPECT_EQ(counting.changes, c.changes);
        EXPECT_EQ(modeOf(root + "/Keldwick"), c.after);
    }
}

// A refusal keeps every lookup searching, so it goes as soon as the copy does.
TEST_F(VolumeLocatorTest, RefusalsLastAsLongAsTheCopy) {
    const std::string planted = volume("planted", 70, "tmpfs");
    const std::string real = volume("drive", 71);
    Drive drive = DriveMarker::adopt(real, "Archive", *Clock::system());
    std::filesystem::copy(real + "/Keldwick", planted + "/Keldwick", std::filesystem::copy_options::recursive);
    EXPECT_EQ(locator.mountPoint(drive.id), real);
    EXPECT_EQ(locator.refusals(drive.id).size(), 1u);
    EXPECT_EQ(locator.refusals(drive.id)[0].explanation(),
              "It isn't a disk drive (tmpfs). Keldwick uses only a drive plugged into this computer.");
    std::filesystem::remove_all(planted + "/Keldwick");
    EXPECT_EQ(locator.mountPoint(drive.id), real);
    EXPECT_TRUE(locator.refusals(drive.id).empty());
    const int searches = source->searches;
    EXPECT_EQ(locator.mountPoint(drive.id), real);
    EXPECT_EQ(source->searches, searches);  // trusted from the cache again
}

// The same judgement made by a real other user (nobody, whose group is not private):
// root's folder is trusted and left as it is, nobody's own loose folder is narrowed by
// nobody, a third user's folder is refused and left as it is.
TEST(DriveTrustTest, JudgedAsAnotherUser) {
    if (!test::canDropPrivileges()) GTEST_SKIP() << "switching users needs root";
    test::TempDir temp;
    ::chmod(temp.path().c_str(), 0755);
    struct Case {
        const char* name;
        uid_t owner;
        mode_t mode;
        int expected;  // 0 trusted, 1 refused
        mode_t modeAfter;
    };
    const Case cases[] = {{"root", 0, 0755, 0, 0755}, {"nobody", test::kNobody, 0775, 0, 0711}, {"third", 1234, 0777, 1, 0777}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string root = temp / c.name;
        test::makeDirs(root);
        ::chmod(root.c_str(), 0755);
        Drive drive = DriveMarker::adopt(root, c.name, *Clock::system());
        test::chownTree(root + "/Keldwick", c.owner);
        ::chmod((root + "/Keldwick").c_str(), c.mode);
        const int status = test::runAsNobody([&] {
            auto examined = DriveTrust::examine(root, DriveTrust::User::current(), drive.id);
            if (!examined.drive || examined.drive->id != drive.id) return 2;
            return examined.refusal ? 1 : 0;
        });
        EXPECT_EQ(status, c.expected);
        EXPECT_EQ(modeOf(root + "/Keldwick"), c.modeAfter);
    }
}

// The real system: exFAT volumes through FUSE, whose statfs file-system id is 0 for every
// volume, so only the mount's own identity tells them apart. Their modes come from the
// mount: with exfat-fuse's default umask of 0 every user may change everything on the
// volume, and chmod can't change that, so such a volume is refused.
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
        test::LoopVolume a(temp / "a.img", 8, "mkfs.exfat -L A", "mount.exfat-fuse -o umask=022", p);
        if (!a.mounted()) GTEST_SKIP() << a.error();
        drive = DriveMarker::adopt(p, "A", *Clock::system());
        EXPECT_EQ(locator.mountPoint(drive.id), p);
        a.unmount();
        EXPECT_FALSE(locator.mountPoint(drive.id));

        ASSERT_TRUE(test::run("mount.exfat-fuse -o umask=022 " + a.device() + " '" + q + "'")) << "remount";
        EXPECT_EQ(locator.mountPoint(drive.id), q);
        test::run("umount '" + q + "'");
    }
    {
        test::LoopVolume b(temp / "b.img", 8, "mkfs.exfat -L B", "mount.exfat-fuse -o umask=022", q);
        if (!b.mounted()) GTEST_SKIP() << b.error();
        Drive stranger = DriveMarker::adopt(q, "B", *Clock::system());
        EXPECT_NE(stranger.id, drive.id);
        EXPECT_FALSE(locator.mountPoint(drive.id));
        EXPECT_EQ(locator.mountPoint(stranger.id), q);
    }
    {
        test::LoopVolume open(temp / "c.img", 8, "mkfs.exfat -L C", "mount.exfat-fuse", p);
        if (!open.mounted()) GTEST_SKIP() << open.error();
        Drive everyones = DriveMarker::adopt(p, "C", *Clock::system());
        EXPECT_FALSE(locator.mountPoint(everyones.id));
        EXPECT_EQ(locator.refusals(everyones.id),
                  (std::vector<DriveRefusal>{{p, DriveRefusal::Kind::modesFromMount, "Keldwick folder"}}));
    }
}

// Real FUSE mounts of each kind, as root: what the chooser offers is what the locator
// takes, judged from the mount (the daemons' own options never reach the mount table).
TEST(VolumeLocatorRealTest, FuseMountsAreJudgedAsTheyAreMounted) {
    if (auto reason = test::mountSkipReason("mount.exfat-fuse")) GTEST_SKIP() << *reason;
    using Kind = DriveRefusal::Kind;
    struct Row {
        const char* name;
        std::string mkfs, tool, mount;
        std::optional<Kind> refused;
    };
    const Row rows[] = {
        {"exfat-fuse, umask 0", "mkfs.exfat", "mkfs.exfat", "mount.exfat-fuse -o umask=0", Kind::modesFromMount},
        {"exfat-fuse, umask=022", "mkfs.exfat", "mkfs.exfat", "mount.exfat-fuse -o umask=022", {}},
        {"ntfs-3g as mounted by default", "mkntfs -F -Q -q", "mkntfs", "ntfs-3g", Kind::noPermissionChecks},
        {"ntfs-3g, umask=022", "mkntfs -F -Q -q", "mkntfs", "ntfs-3g -o umask=022", {}},
    };
    test::TempDir temp;
    const auto user = DriveTrust::User::current();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (auto reason = test::mountSkipReason(row.tool)) {
            std::cerr << "skipped " << row.name << ": " << *reason << "\n";
            continue;
        }
        const std::string point = temp / "Drive";
        test::LoopVolume volume(temp / "drive.img", 8, row.mkfs, row.mount, point);
        if (!volume.mounted()) {
            std::cerr << "skipped " << row.name << ": " << volume.error() << "\n";
            continue;
        }
        const Drive drive = DriveMarker::adopt(point, "Drive", *Clock::system());
        const auto chosen = DriveTrust::judgeMountedAt(point, user, std::nullopt);
        VolumeDriveLocator locator;
        const bool found = locator.mountPoint(drive.id) == point;
        EXPECT_EQ(found, !row.refused);
        EXPECT_EQ(!chosen.refusal, found);
        if (row.refused) {
            ASSERT_EQ(locator.refusals(drive.id).size(), 1u);
            EXPECT_EQ(locator.refusals(drive.id).front().kind, *row.refused);
            EXPECT_EQ(chosen.refusal, locator.refusals(drive.id).front());
        }
    }
}

// The attack itself on the real system: a tmpfs carrying a copy of the drive's marker,
// mounted before the real drive (an ext4 image on a loop device). The tmpfs is refused
// and named; the drive is found. The drive chooser doesn't offer the tmpfs either.
TEST(VolumeLocatorRealTest, ATmpfsCarryingTheMarkerIsRefusedBesideTheRealDrive) {
    if (auto reason = test::mountSkipReason("mkfs.ext4")) GTEST_SKIP() << *reason;
    test::TempDir temp;
    const std::string planted = temp / "Planted";
    const std::string real = temp / "Drive";
    test::TmpfsMount tmpfs(planted, "size=4m,mode=1777");
    if (!tmpfs.mounted()) GTEST_SKIP() << "tmpfs could not be mounted";
    test::LoopVolume ext4(temp / "drive.img", 16, "mkfs.ext4 -q -F -L Drive", "mount", real);
    if (!ext4.mounted()) GTEST_SKIP() << ext4.error();

    Drive drive = DriveMarker::adopt(real, "Drive", *Clock::system());
    std::filesystem::copy(real + "/Keldwick", planted + "/Keldwick", std::filesystem::copy_options::recursive);
    VolumeDriveLocator locator;
    EXPECT_EQ(locator.mountPoint(drive.id), real);
    EXPECT_EQ(locator.refusals(drive.id),
              (std::vector<DriveRefusal>{{planted, DriveRefusal::Kind::notADisk, "tmpfs"}}));

    std::vector<std::string> offered;
    for (const auto& volume : VolumeInfo::externalCandidates()) offered.push_back(volume.mountPath);
    EXPECT_NE(std::find(offered.begin(), offered.end(), real), offered.end());
    EXPECT_EQ(std::find(offered.begin(), offered.end(), planted), offered.end());
}

// Which mounts may be the drive is worked out once per state of the mount table: asked
// again with the table unchanged, the answer stands (sysfs isn't walked again), and any
// mount, unmount or remount brings a fresh one, never the last table's.
TEST(SystemVolumeSourceTest, CandidatesFollowEveryChangeOfTheMountTable) {
    test::TempDir temp;
    test::SysfsFixture fixture(temp / "system");
    fixture.partition(fixture.usbDisk("sdb", "8:16", "5000"), "sdb1", "8:17");
    const auto roots = fixture.roots();
    const std::string drive = temp / "Drive";
    test::makeDirs(drive);
    const std::string startup = "20 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n";
    test::writeFile(roots.mountinfo, startup + "22 20 8:17 / " + drive + " rw - ext4 /dev/sdb1 rw\n");
    SystemVolumeSource source(roots);
    auto refusalAt = [&] {
        auto candidates = source.candidates();
        EXPECT_EQ(candidates.size(), 1u);
        return candidates.empty() ? std::optional<DriveRefusal>{} : candidates.front().refusal;
    };
    EXPECT_EQ(refusalAt(), std::nullopt);

    // The device goes from sysfs while its mount stays listed as it was.
    std::filesystem::remove(roots.sys + "/dev/block/8:17");
    std::filesystem::remove(roots.sys + "/class/block/sdb1");
    EXPECT_EQ(refusalAt(), std::nullopt);

    // Remounted (a new mount id): looked at afresh, and no longer on a block device.
    test::writeFile(roots.mountinfo, startup + "23 20 8:17 / " + drive + " rw - ext4 /dev/sdb1 rw\n");
    EXPECT_EQ(refusalAt(), (DriveRefusal{drive, DriveRefusal::Kind::notADisk, "ext4"}));
    // Something else mounted in its place.
    test::writeFile(roots.mountinfo, startup + "24 20 0:61 / " + drive + " rw - tmpfs tmpfs rw\n");
    EXPECT_EQ(refusalAt(), (DriveRefusal{drive, DriveRefusal::Kind::notADisk, "tmpfs"}));
}

// A drive whose format Keldwick can't use is refused for new moves with the chooser's own
// sentence, whichever way it is mounted; FAT32 (limited per file), usable formats, FUSE
// mounts whose real format only the volume tells, and non-disks pass this judgement.
TEST(SystemVolumeSourceTest, AFormatKeldwickCantUseIsRefused) {
    test::TempDir temp;
    test::SysfsFixture fixture(temp / "system");
    fixture.partition(fixture.usbDisk("sdb", "8:16", "5000"), "sdb1", "8:17");
    const auto roots = fixture.roots();
    const std::string drive = temp / "Drive";
    test::makeDirs(drive);
    const std::string startup = "20 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n";
    struct Case {
        const char* mountType;
        std::optional<std::string> refusedAs;  // the format as the drive checks name it
    };
    int mountID = 30;
    for (const Case& c : std::vector<Case>{{"hfsplus", "hfs"},
                                           {"apfs", "apfs"},
                                           {"ntfs3", "ntfs"},
                                           {"vfat", std::nullopt},
                                           {"exfat", std::nullopt},
                                           {"btrfs", std::nullopt},
                                           {"fuseblk", std::nullopt}}) {
        test::writeFile(roots.mountinfo, startup + std::to_string(++mountID) + " 20 8:17 / " + drive + " rw - " +
                                             c.mountType + " /dev/sdb1 rw\n");
        SystemVolumeSource source(roots);
        const auto candidates = source.candidates();
        ASSERT_EQ(candidates.size(), 1u) << c.mountType;
        if (!c.refusedAs) {
            EXPECT_EQ(candidates.front().refusal, std::nullopt) << c.mountType;
            continue;
        }
        ASSERT_TRUE(candidates.front().refusal) << c.mountType;
        const DriveRefusal& refusal = *candidates.front().refusal;
        EXPECT_EQ(refusal, (DriveRefusal{drive, DriveRefusal::Kind::formatNotUsable, *c.refusedAs})) << c.mountType;
        EXPECT_EQ(refusal.explanation(), DriveProblem::unsupportedFormat(*c.refusedAs).explanation()) << c.mountType;
    }
    EXPECT_EQ(DriveTrust::formatRefusal("/media/u/Old", platform::FileSystemKinds::named("hfs"))->explanation(),
              "This drive is formatted as Mac OS Extended (HFS+), which Linux writes only with its journal turned off. "
              "Use a different drive, or erase it as ext4 or exFAT in the Disks utility \u2014 erasing deletes "
              "everything on it.");
    EXPECT_EQ(DriveTrust::formatRefusal("/tmp", platform::FileSystemKinds::named("tmpfs")), std::nullopt);
    EXPECT_EQ(DriveTrust::formatRefusal("/x", nullptr), std::nullopt);
}

// The modes of the mount holding a path come from the mount table the roots name: a
// table that lists the path's mount as vfat with loose masks gives those masks, and one
// that doesn't list it at all gives the per-file kind.
TEST(DriveTrustTest, ModesAreReadFromTheGivenMountTable) {
    test::TempDir temp;
    platform::MountStatus status;
    ASSERT_EQ(platform::statxWithMount(temp.path().c_str(), 0, false, status), 0);
    if (!status.mountID) GTEST_SKIP() << "this kernel gives no mount id";
    platform::SystemRoots roots;
    roots.mountinfo = temp / "mountinfo";
    test::writeFile(roots.mountinfo, std::to_string(*status.mountID) +
                                         " 1 8:17 / /media/stick rw - vfat /dev/sdb1 rw,uid=1000,fmask=0000,dmask=0002\n");
    const auto modes = DriveTrust::modesAt(temp.path(), roots);
    EXPECT_EQ(modes.source, platform::MountModes::Source::kernelMount);
    EXPECT_EQ(modes.fileMask, mode_t{0});
    EXPECT_EQ(modes.folderMask, mode_t{02});

    test::writeFile(roots.mountinfo, std::to_string(*status.mountID + 1) +
                                         " 1 8:17 / /media/stick rw - vfat /dev/sdb1 rw,umask=0000\n");
    EXPECT_EQ(DriveTrust::modesAt(temp.path(), roots), platform::MountModes{});
}
