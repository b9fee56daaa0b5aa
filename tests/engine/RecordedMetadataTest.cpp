// What comes home from a drive is what was moved: content the checksums vouch for, modes
// and owner from the journal's record, attributes and ACLs only as its digest vouches for
// them, and no link or set-ID bit that someone who held the drive put there.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "foundation/Clock.h"
#include "drives/DriveLayout.h"
#include "engine/AddedLinks.h"
#include "engine/ItemMetadata.h"
#include "engine/OffloadEngine.h"
#include "engine/RestoreExecutor.h"
#include "foundation/DriveManifest.h"
#include "foundation/EngineError.h"
#include "platform/ProcFS.h"
#include "support/EngineWorld.h"
#include "support/FaultActions.h"
#include "support/RealMounts.h"

namespace keldwick {
namespace {

using test::candidateFor;
using test::contentOf;
using test::engineOver;
using test::modeOf;
using test::EngineWorld;
namespace fs = std::filesystem;

void require(int result, const char* what) {
    if (result != 0) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// An access (or default) ACL granting `uid` everything, in the kernel's own encoding.
void grantACL(const std::string& path, uid_t uid, bool asDefault = false) {
    struct Entry {
        uint16_t tag, perm;
        uint32_t id;
    };
    constexpr uint32_t noID = 0xffffffff;
    const Entry entries[] = {{0x01, 7, noID}, {0x02, 7, uid}, {0x04, 0, noID}, {0x10, 7, noID}, {0x20, 0, noID}};
    std::string value(4, '\0');
    const uint32_t version = 2;
    std::memcpy(value.data(), &version, 4);
    value.append(reinterpret_cast<const char*>(entries), sizeof entries);
    require(::setxattr(path.c_str(), asDefault ? "system.posix_acl_default" : "system.posix_acl_access", value.data(),
                       value.size(), 0),
            "setxattr");
}

bool hasAttribute(const std::string& path, const char* name) { return ::lgetxattr(path.c_str(), name, nullptr, 0) >= 0; }

class RecordedMetadataTest : public ::testing::Test {
protected:
    EngineWorld world;

    // Moved as the scan proposes it, or as a folder chosen whole, links and all.
    std::string move(const std::string& path, std::optional<WholeKind> whole = std::nullopt) {
        const auto outcome = engineOver(world)->offload(candidateFor(path, Clock::system()->now().adding(60), whole), false);
        EXPECT_EQ(outcome.record.phase, Phase::offloaded);
        return world.drivePathFor(path);
    }
    OffloadRecord restore(const std::string& path) {
        for (const auto& record : world.journal->allRecords())
            if (record.originalPath == path) return RestoreExecutor(world.context()).restore(record.id, std::nullopt);
        throw std::runtime_error("no record of " + path);
    }
    // A private folder: 0700 with 0600 files, a 0750 sub-folder and an executable.
    std::string makeTaxes() {
        const std::string folder = world.makeFolder("Taxes", false);
        require(::chmod((folder + "/one.txt").c_str(), 0600), "chmod");
        require(::chmod((folder + "/sub/two.txt").c_str(), 0640), "chmod");
        require(::chmod((folder + "/sub/deeper/three.bin").c_str(), 04711), "chmod");
        require(::chmod((folder + "/sub").c_str(), 0750), "chmod");
        require(::chmod(folder.c_str(), 0700), "chmod");
        return folder;
    }
};

TEST_F(RecordedMetadataTest, ModesAttributesAndACLsComeBackAsTheyWereMoved) {
    const std::string folder = makeTaxes();
    grantACL(folder + "/one.txt", 4242);
    require(::setxattr((folder + "/sub").c_str(), "user.xdg.comment", "kept", 4, 0), "setxattr");
    const mode_t withACL = modeOf(folder + "/one.txt");
    const std::string file = world.makeFile("sync-photos");
    require(::chmod(file.c_str(), 04755), "chmod");
    const auto folderContent = contentOf(folder);
    move(folder);
    move(file);

    EXPECT_EQ(restore(folder).phase, Phase::restored);
    EXPECT_EQ(restore(file).phase, Phase::restored);

    EXPECT_EQ(contentOf(folder), folderContent);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(folder + "/sub"), 0750u);
    EXPECT_EQ(modeOf(folder + "/one.txt"), withACL);
    EXPECT_EQ(modeOf(folder + "/sub/two.txt"), 0640u);
    EXPECT_EQ(modeOf(folder + "/sub/deeper/three.bin"), 04711u) << "a set-ID bit that was there comes back";
    EXPECT_EQ(modeOf(file), 04755u);
    EXPECT_TRUE(hasAttribute(folder + "/one.txt", "system.posix_acl_access"));
    EXPECT_TRUE(hasAttribute(folder + "/sub", "user.xdg.comment"));
}

// Someone who held the drive adds ACLs for himself to a private folder's copy and makes
// the copy of a program his own set-ID one, dated after the move as a save would be.
// User attributes grant nothing: from a drive only the user could write they come along.
TEST_F(RecordedMetadataTest, PlantedACLsAndSetIDBitsStayOnTheDrive) {
    const std::string folder = makeTaxes();
    const std::string program = world.makeFile("backup-now");
    require(::chmod(program.c_str(), 0755), "chmod");
    const std::string folderCopy = move(folder);
    const std::string programCopy = move(program);
    grantACL(folderCopy, 65534);
    grantACL(folderCopy, 65534, true);
    grantACL(folderCopy + "/one.txt", 65534);
    require(::setxattr((folderCopy + "/sub").c_str(), "user.planted", "x", 1, 0), "setxattr");
    require(::chmod((folderCopy + "/sub/two.txt").c_str(), 06777), "chmod");
    test::writeFile(programCopy, "#!/bin/sh\nid\n");
    require(::chmod(programCopy.c_str(), 04755), "chmod");
    // Saved into the folder through its link after the move, as far as anyone can tell.
    test::writeFile(folderCopy + "/sub/new.sh", "echo new\n");
    require(::chmod((folderCopy + "/sub/new.sh").c_str(), 06777), "chmod");
    require(::setxattr((folderCopy + "/sub/new.sh").c_str(), "user.planted", "x", 1, 0), "setxattr");

    EXPECT_EQ(restore(folder).phase, Phase::restored);
    restore(program);

    for (const char* name : {"system.posix_acl_access", "system.posix_acl_default"}) {
        EXPECT_FALSE(hasAttribute(folder, name)) << name;
        EXPECT_FALSE(hasAttribute(folder + "/one.txt", name)) << name;
    }
    EXPECT_TRUE(hasAttribute(folder + "/sub", "user.planted"));
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(folder + "/one.txt"), 0600u);
    EXPECT_EQ(modeOf(folder + "/sub/two.txt"), 0640u);
    const mode_t mask = platform::ProcFS().ownUmask().value_or(077);
    EXPECT_EQ(modeOf(folder + "/sub/new.sh"), 0777u & ~mask) << "what the record doesn't hold comes as a plain file";
    EXPECT_TRUE(hasAttribute(folder + "/sub/new.sh", "user.planted"));
    EXPECT_EQ(test::readFile(program), "#!/bin/sh\nid\n") << "content saved through the link comes home";
    EXPECT_EQ(modeOf(program), 0755u) << "but never with a set-ID bit it didn't have";
    EXPECT_TRUE(world.logged("\u201CTaxes\u201D comes back without the ACLs its copy on the drive has now: they changed "
                             "on the drive since it was moved."));
}

TEST_F(RecordedMetadataTest, ARecordedEntryOfAnotherShapeKeepsTheItemThere) {
    struct Case {
        const char* what;
        std::function<void(const std::string& copy)> change;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"a folder swapped for a link",
         [&](const std::string& copy) {
             fs::remove_all(copy + "/sub");
             fs::create_directory_symlink(world.tmp.path(), copy + "/sub");
         },
         "\u201Csub\u201D in \u201CTaxes\u201D was a folder when it was moved and is now a link, so \u201CTaxes\u201D "
         "stays on the drive, and nothing of it came back."},
        {"a recorded link re-pointed",
         [](const std::string& copy) {
             fs::remove(copy + "/link-to-one");
             fs::create_symlink("sub/two.txt", copy + "/link-to-one");
         },
         "\u201Clink-to-one\u201D in \u201CTaxes\u201D was a link to \u201Cone.txt\u201D when it was moved and is now a "
         "link to \u201Csub/two.txt\u201D, so"},
        {"a file become a folder",
         [](const std::string& copy) {
             fs::remove(copy + "/one.txt");
             fs::create_directory(copy + "/one.txt");
         },
         "\u201Cone.txt\u201D in \u201CTaxes\u201D was a file when it was moved and is now a folder, so"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EngineWorld fresh;
        std::swap(world.journal, fresh.journal);
        const std::string folder = makeTaxes();
        fs::create_symlink("one.txt", folder + "/link-to-one");
        const std::string copy = move(folder, WholeKind::chosen);
        c.change(copy);

        const RunSummary summary = engineOver(world)->restoreAll();

        ASSERT_EQ(summary.failures.size(), 1u);
        EXPECT_NE(summary.failures[0].message.find(c.text), std::string::npos) << summary.failures[0].message;
        EXPECT_TRUE(FileStat::read(folder)->isSymlink()) << "the link still leads to the drive";
        EXPECT_EQ(world.journal->allRecords().front().phase, Phase::offloaded);
        EXPECT_TRUE(test::workingNamesUnder(world.home).empty());
        fs::remove(folder);
        fs::remove_all(copy);
    }
}

// A virtual environment made through the item's link: links into the item and to a system
// file come home; one into a folder others can write stays on the drive, named once.
TEST_F(RecordedMetadataTest, LinksSavedThroughTheLinkComeHomeWhereTheyLeadSomewhereSafe) {
    const std::string shared = world.tmp / "shared";
    fs::create_directories(shared);
    require(::chmod(shared.c_str(), 01777), "chmod");
    for (const bool withUnsafe : {false, true}) {
        SCOPED_TRACE(withUnsafe ? "with a link into a folder others write" : "only safe links");
        EngineWorld fresh;
        std::swap(world.journal, fresh.journal);
        const std::string folder = world.makeFolder("oldproject", false);
        const std::string copy = move(folder);
        test::writeFile(copy + "/.venv/bin/python3.11", "#!python\n");
        test::writeFile(copy + "/.venv/lib/site.py", "import os\n");
        fs::create_symlink("python3.11", copy + "/.venv/bin/python3");
        fs::create_symlink("python3", copy + "/.venv/bin/python");
        fs::create_symlink("lib", copy + "/.venv/lib64");
        fs::create_symlink("../lib64/site.py", copy + "/.venv/bin/site");
        fs::create_symlink(folder + "/one.txt", copy + "/.venv/first");
        fs::create_symlink("/etc/passwd", copy + "/.venv/bin/accounts");
        if (withUnsafe) fs::create_symlink(shared, copy + "/.venv/bin/x");

        const OffloadRecord done = restore(folder);

        EXPECT_EQ(test::readFile(folder + "/.venv/bin/python"), "#!python\n");
        EXPECT_EQ(fs::read_symlink(folder + "/.venv/bin/python3"), "python3.11");
        EXPECT_EQ(fs::read_symlink(folder + "/.venv/lib64"), "lib");
        EXPECT_EQ(test::readFile(folder + "/.venv/bin/site"), "import os\n");
        EXPECT_EQ(fs::read_symlink(folder + "/.venv/first"), folder + "/one.txt");
        EXPECT_EQ(fs::read_symlink(folder + "/.venv/bin/accounts"), "/etc/passwd");
        EXPECT_FALSE(FileStat::peek(folder + "/.venv/bin/x"));
        if (withUnsafe) {
            const std::string text = "\u201C.venv/bin/x\u201D in \u201Coldproject\u201D points to a folder another user "
                                     "can change, so it was left on your drive. The rest of \u201Coldproject\u201D is "
                                     "back on your computer.";
            EXPECT_EQ(done.phase, Phase::returned);
            EXPECT_EQ(done.error, text);
            EXPECT_TRUE(world.logged(text));
            EXPECT_TRUE(FileStat::read(copy + "/.venv/bin/x")->isSymlink()) << "it stays on the drive";

            // Brought back again as a copy: the same rules, and an absolute link into the
            // item names what stands at its place now, here under the temporary folder.
            const OffloadRecord again = RestoreExecutor(world.context()).restore(done.id, " (from the drive)");
            const std::string beside = folder + " (from the drive)";
            EXPECT_EQ(again.phase, Phase::returned);
            EXPECT_EQ(again.error, "Links in \u201Coldproject\u201D that point to places another user can change, or "
                                   "that aren't on this computer, were left on your drive: \u201C.venv/bin/x\u201D and "
                                   "\u201C.venv/first\u201D. The rest of \u201Coldproject\u201D is back on your "
                                   "computer.");
            EXPECT_EQ(fs::read_symlink(beside + "/.venv/bin/python3"), "python3.11");
            EXPECT_FALSE(FileStat::peek(beside + "/.venv/first"));
            fs::remove_all(beside);
        } else {
            EXPECT_EQ(done.phase, Phase::restored);
            EXPECT_FALSE(FileStat::peek(copy));
        }
        fs::remove_all(folder);
        fs::remove_all(copy);
    }
}

// The links are judged before the copy and again on it: one re-pointed in between keeps
// the item on the drive, and nothing of it stays at home.
TEST_F(RecordedMetadataTest, ALinkRepointedAfterItWasJudgedKeepsTheItemOnTheDrive) {
    const std::string folder = world.makeFolder("proj", false);
    const std::string copy = move(folder);
    test::writeFile(copy + "/bin/python3.11", "#!python\n");
    fs::create_symlink("python3.11", copy + "/bin/python3");
    auto actions = std::make_shared<test::FaultActions>();
    actions->onceAt(FaultPoint::restoreRecorded, [&](const FaultContext&) {
        fs::remove(copy + "/bin/python3");
        fs::create_symlink(world.tmp.path(), copy + "/bin/python3");
    });
    world.faults->inner = actions;

    try {
        restore(folder);
        ADD_FAILURE() << "brought back";
    } catch (const EngineError& error) {
        EXPECT_EQ(std::string(error.what()), "\u201Cbin/python3\u201D in \u201Cproj\u201D changed on the drive while it "
                                             "was being brought back, so \u201Cproj\u201D stays on the drive, and "
                                             "nothing of it came back.");
    }
    EXPECT_TRUE(FileStat::read(folder)->isSymlink());
    EXPECT_EQ(world.journal->allRecords().front().phase, Phase::offloaded);
    EXPECT_TRUE(test::workingNamesUnder(world.home).empty());
}

TEST_F(RecordedMetadataTest, ARecordWithoutModesStripsSetIDBitsAndCapsToTheUmask) {
    const std::string path = world.makeFile("old-tool");
    require(::chmod(path.c_str(), 06777), "chmod");
    const std::string folder = world.makeFolder("Old", false);
    require(::chmod((folder + "/one.txt").c_str(), 04777), "chmod");
    // Moved by a version that kept no modes: the drive copies keep theirs.
    const OffloadRecord file = world.offloadByHand(path);
    const OffloadRecord tree = world.offloadByHand(folder);
    grantACL(world.drivePath(file), 65534);
    const mode_t fileMode = modeOf(world.drivePath(file));
    ASSERT_NE(fileMode & 06000, 0u);
    ASSERT_FALSE(world.journal->recordedMetadata(file.id));

    RestoreExecutor(world.context()).restore(file.id, std::nullopt);
    RestoreExecutor(world.context()).restore(tree.id, std::nullopt);

    const mode_t mask = platform::ProcFS().ownUmask().value_or(077);
    EXPECT_EQ(modeOf(path), fileMode & 0777 & ~mask);
    EXPECT_EQ(modeOf(folder + "/one.txt"), 0777u & ~mask);
    EXPECT_FALSE(hasAttribute(path, "system.posix_acl_access"));
    EXPECT_TRUE(world.logged("\u201Cold-tool\u201D comes back with its tags and other attributes but no set-ID bit or "
                             "ACL from the drive, and with permissions no wider than your umask allows: Keldwick has "
                             "no record of what they were."));
}

// A volume that keeps no modes gives every file the mount's: the record brings back
// what the item had.
TEST_F(RecordedMetadataTest, PrivateItemsComeBackPrivateFromExFAT) {
    if (auto reason = test::mountSkipReason("mount.exfat-fuse")) GTEST_SKIP() << *reason;
    const std::string mountPoint = world.tmp / "exfat";
    fs::create_directories(mountPoint);
    test::LoopVolume volume(world.tmp / "exfat.img", 16, "mkfs.exfat -L Travel", "mount.exfat-fuse -o umask=022", mountPoint);
    if (!volume.mounted()) GTEST_SKIP() << "can't mount: " << volume.error();
    world.root = mountPoint;
    world.locator->mounts[world.drive.id] = mountPoint;

    const std::string file = world.makeFile("diary.txt");
    require(::chmod(file.c_str(), 0600), "chmod");
    const std::string folder = world.makeFolder("Letters", false);
    for (const char* inner : {"/one.txt", "/sub/two.txt", "/sub/deeper/three.bin"})
        require(::chmod((folder + inner).c_str(), 0600), "chmod");
    require(::chmod(folder.c_str(), 0700), "chmod");
    const auto content = contentOf(folder);
    EXPECT_NE(modeOf(move(file)), 0600u) << "the volume gives the mount's modes";
    move(folder);

    EXPECT_EQ(restore(file).phase, Phase::restored);
    EXPECT_EQ(restore(folder).phase, Phase::restored);

    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(folder + "/sub/two.txt"), 0600u);
    EXPECT_EQ(contentOf(folder), content);
}

// A line in this computer's folder on a drive is no proof the item left this home: only
// the link the move left in its place is.
TEST_F(RecordedMetadataTest, AManifestLineIsAdoptedOnlyWhereItsLinkStandsInTheHome) {
    DriveManifest manifest{DriveLayout::appFolder(world.root)};
    auto lineFor = [&](const std::string& original) {
        DriveManifest::Entry entry;
        entry.machine = world.configuration.machineID;
        entry.originalPath = original;
        entry.relativePath = world.relativeFor(original);
        entry.size = 5;
        entry.checksum = Checksum::sha256("tool\n");
        entry.date = Date{1'700'000'000};
        const std::string copy = PathUtil::join(world.root, entry.relativePath);
        test::writeFile(copy, "tool\n");
        require(::chmod(copy.c_str(), 04755), "chmod");
        manifest.append(entry);
        return copy;
    };
    const std::string planted = world.home + "/Documents/Scripts/backup-now";
    lineFor(planted);
    const std::string ours = world.home + "/Documents/Scripts/sync";
    fs::create_directories(world.home + "/Documents/Scripts");
    fs::create_symlink(lineFor(ours), ours);

    auto results = world.manager().adoptManifestEntries(EngineWorld::driveID);

    ASSERT_EQ(world.journal->allRecords().size(), 1u);
    const OffloadRecord adopted = world.journal->allRecords().front();
    EXPECT_EQ(adopted.originalPath, ours);
    EXPECT_FALSE(FileStat::peek(planted));
    EXPECT_TRUE(world.logged("Left on the drive, not added to Keldwick's list, because no shortcut in your home folder "
                             "leads to them, so nothing shows they were moved from this computer: \u201C" +
                             planted + "\u201D. They stay on the drive, with everything else on it."));
    // Adopted, it has no recorded modes: it comes home without the drive's set-ID bit.
    EXPECT_EQ(RestoreExecutor(world.context()).restore(adopted.id, std::nullopt).phase, Phase::restored);
    EXPECT_EQ(modeOf(ours) & 07000, 0u);
}

std::string attribute(const std::string& path, const char* name) {
    std::string value(256, '\0');
    const ssize_t n = ::lgetxattr(path.c_str(), name, value.data(), value.size());
    value.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return value;
}

void setAttribute(const std::string& path, const char* name, const std::string& value) {
    require(::setxattr(path.c_str(), name, value.data(), value.size(), 0), "setxattr");
}

// Tags and comments are the user's: they come home from the drive copy whatever record
// the item has, and a tag set through the link doesn't cost the ACLs that didn't change.
TEST_F(RecordedMetadataTest, TagsAndCommentsSavedThroughTheLinkComeHome) {
    const std::string url = "https://example.org/report.pdf";
    {
        SCOPED_TRACE("a file moved with the journal's record, tagged through its link");
        const std::string file = world.makeFile("report.pdf");
        setAttribute(file, "user.xdg.origin.url", url);
        const std::string copy = move(file);
        setAttribute(copy, "user.xdg.tags", "taxes,2026");
        EXPECT_EQ(restore(file).phase, Phase::restored);
        EXPECT_EQ(attribute(file, "user.xdg.origin.url"), url);
        EXPECT_EQ(attribute(file, "user.xdg.tags"), "taxes,2026");
    }
    {
        SCOPED_TRACE("a folder with an ACL, a file in it tagged through the link");
        const std::string folder = makeTaxes();
        grantACL(folder + "/one.txt", 4242);
        const std::string copy = move(folder);
        setAttribute(copy + "/one.txt", "user.xdg.tags", "keep");
        test::writeFile(copy + "/added.txt", "new");
        setAttribute(copy + "/added.txt", "user.xdg.comment", "saved later");
        EXPECT_EQ(restore(folder).phase, Phase::restored);
        EXPECT_EQ(attribute(folder + "/one.txt", "user.xdg.tags"), "keep");
        EXPECT_EQ(attribute(folder + "/added.txt", "user.xdg.comment"), "saved later");
        EXPECT_TRUE(hasAttribute(folder + "/one.txt", "system.posix_acl_access")) << "the ACL didn't change";
        EXPECT_FALSE(world.logged("\u201CTaxes\u201D comes back without the ACLs"));
    }
    {
        SCOPED_TRACE("moved by a version that kept no record of metadata");
        const std::string folder = world.makeFolder("Old", false);
        setAttribute(folder + "/one.txt", "user.xdg.comment", "from before");
        const OffloadRecord old = world.offloadByHand(folder);
        grantACL(world.drivePath(old) + "/one.txt", 65534);
        ASSERT_FALSE(world.journal->recordedMetadata(old.id));
        RestoreExecutor(world.context()).restore(old.id, std::nullopt);
        EXPECT_EQ(attribute(folder + "/one.txt", "user.xdg.comment"), "from before");
        EXPECT_FALSE(hasAttribute(folder + "/one.txt", "system.posix_acl_access")) << "an ACL never comes unrecorded";
        EXPECT_TRUE(world.logged("\u201COld\u201D comes back with its tags and other attributes but no set-ID bit or ACL "
                                 "from the drive, and with permissions no wider than your umask allows: Keldwick has "
                                 "no record of what they were."));
    }
}

TEST_F(RecordedMetadataTest, AnAdoptedItemComesHomeWithItsComment) {
    DriveManifest manifest{DriveLayout::appFolder(world.root)};
    const std::string original = world.home + "/Documents/notes.txt";
    DriveManifest::Entry entry;
    entry.machine = world.configuration.machineID;
    entry.originalPath = original;
    entry.relativePath = world.relativeFor(original);
    entry.size = 6;
    entry.checksum = Checksum::sha256("notes\n");
    entry.date = Date{1'700'000'000};
    const std::string copy = PathUtil::join(world.root, entry.relativePath);
    test::writeFile(copy, "notes\n");
    setAttribute(copy, "user.xdg.comment", "kept on the drive");
    manifest.append(entry);
    fs::create_directories(world.home + "/Documents");
    fs::create_symlink(copy, original);

    world.manager().adoptManifestEntries(EngineWorld::driveID);
    ASSERT_EQ(world.journal->allRecords().size(), 1u);

    EXPECT_EQ(RestoreExecutor(world.context()).restore(world.journal->allRecords().front().id, std::nullopt).phase,
              Phase::restored);
    EXPECT_EQ(attribute(original, "user.xdg.comment"), "kept on the drive");
}

TEST(ItemMetadataTest, TheDigestCoversKindsTargetsAndCarriedAttributesOnly) {
    test::TempDir dir;
    const std::string root = dir / "item";
    test::writeFile(root + "/a.txt", "a");
    fs::create_symlink("a.txt", root + "/link");
    const std::vector<TreeEntry> entries = {{"", TreeEntry::Kind::directory, 0, {}, {}},
                                            {"a.txt", TreeEntry::Kind::file, 1, {}, {}},
                                            {"link", TreeEntry::Kind::symlink, 0, {}, std::string("a.txt")}};
    const std::string first = ItemMetadata::digest(root, entries);
    require(::chmod((root + "/a.txt").c_str(), 0604), "chmod");
    require(::setxattr((root + "/a.txt").c_str(), "trusted.other", "x", 1, 0) == 0 || errno == EPERM ? 0 : -1,
            "setxattr");
    EXPECT_EQ(ItemMetadata::digest(root, entries), first) << "modes and other namespaces are not its business";
    require(::setxattr((root + "/a.txt").c_str(), "user.tag", "x", 1, 0), "setxattr");
    const std::string tagged = ItemMetadata::digest(root, entries);
    EXPECT_NE(tagged, first);
    fs::remove(root + "/link");
    fs::create_symlink("elsewhere", root + "/link");
    EXPECT_NE(ItemMetadata::digest(root, entries), tagged);

    // Shapes: only the record's own entries count; links added are listed apart.
    const std::vector<TreeEntry> recorded = entries;
    auto with = [&](TreeEntry extra) {
        auto found = entries;
        found.push_back(std::move(extra));
        return ItemMetadata::firstChangedShape(found, recorded);
    };
    using Shape = ItemMetadata::ChangedShape;
    EXPECT_EQ(ItemMetadata::firstChangedShape(entries, recorded), std::nullopt);
    EXPECT_EQ(with({"new.txt", TreeEntry::Kind::file, 1, {}, {}}), std::nullopt);
    EXPECT_EQ(with({"new", TreeEntry::Kind::symlink, 0, {}, std::string("/etc")}), std::nullopt);
    EXPECT_EQ(with({"link", TreeEntry::Kind::symlink, 0, {}, std::string("/etc")}),
              (Shape{"link", "a link to \u201Ca.txt\u201D", "a link to \u201C/etc\u201D"}));
    EXPECT_EQ(with({"a.txt", TreeEntry::Kind::directory, 0, {}, {}}), (Shape{"a.txt", "a file", "a folder"}));
    auto found = entries;
    found.push_back({"new", TreeEntry::Kind::symlink, 0, {}, std::string("/etc")});
    found.push_back({"new.txt", TreeEntry::Kind::file, 1, {}, {}});
    const auto added = ItemMetadata::addedLinks(found, recorded);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].path, "new");
}

TEST(AddedLinksTest, ALinkStaysInsideOnlyWhileItsResolutionDoes) {
    std::unordered_map<std::string, TreeEntry> entries;
    auto link = [&](const std::string& path, const std::string& target) {
        entries[path] = TreeEntry{path, TreeEntry::Kind::symlink, 0, {}, target};
    };
    link("lib64", "lib");
    link("out", "/usr");
    link("up", "..");
    const struct {
        const char* path;
        const char* target;
        bool inside;
    } cases[] = {
        {"bin/python3", "python3.11", true},  {"bin/site", "../lib64/site.py", true},
        {"bin/a", "../../elsewhere", false},  {"bin/b", "/usr/bin/python3", false},
        {"bin/c", "../out/lib", false},       {"bin/d", "../up/x", false},
        {"top", ".", true},                   {"bin/e", "./../bin/./python3", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AddedLinks::staysInside(entries, c.path, c.target), c.inside) << c.path << " -> " << c.target;
    link("loop", "loop");
    EXPECT_FALSE(AddedLinks::staysInside(entries, "x", "loop/y")) << "a loop never ends inside";
    EXPECT_EQ(AddedLinks::lexicallyNormal("/home/u/p/.venv/../x/./y"), "/home/u/p/x/y");
}

TEST(AddedLinksTest, APlaceIsSafeOnlyWhenNoOtherUserCanChangeAnythingOnTheWay) {
    test::TempDir dir;
    const uid_t me = ::geteuid();
    using R = AddedLinks::Refusal;
    EXPECT_EQ(AddedLinks::judgePlace("/etc/passwd", me), std::nullopt);
    EXPECT_EQ(AddedLinks::judgePlace("/etc/no-such-file-here", me), R::missing);
    // The temporary folder anyone may write (sticky or not) is on the way.
    EXPECT_EQ(AddedLinks::judgePlace(dir.path(), me), R::folderOthersCanChange);
    EXPECT_EQ(AddedLinks::judgePlace("/tmp", me), R::folderOthersCanChange);
    // Another account's system file, judged for someone else: root's still counts.
    EXPECT_EQ(AddedLinks::judgePlace("/etc/passwd", 4242), std::nullopt);
    EXPECT_EQ(AddedLinks::judgePlace("relative/path", me), R::missing);
}

}  // namespace
}  // namespace keldwick
