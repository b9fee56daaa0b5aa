#include "foundation/Clock.h"
#include "support/PowerCutSimulator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/PrivateFolder.h"
#include "foundation/SQLiteConnection.h"
#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

using platform::calls;
using platform::Fd;
using test::makeDirs;
using test::PowerCut;
using test::PowerCutSimulator;
using test::readFile;
using test::TempDir;
using test::writeFile;
using Tree = std::map<std::string, std::string>;

// Every entry under `root` by relative path: a file's bytes, "<dir>", or "-> target".
Tree treeOf(const std::string& root) {
    std::vector<std::string> relative;
    collectRelativePaths("", root, relative);
    Tree tree;
    for (const auto& entry : relative) {
        const std::string path = root + "/" + entry;
        auto status = FileStat::peek(path);
        if (status->isDirectory()) tree[entry] = "<dir>";
        else if (status->isSymlink()) tree[entry] = "-> " + readLink(path).value_or("");
        else tree[entry] = readFile(path);
    }
    return tree;
}

ino_t inodeOf(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

// The calls a core would make, through the layer.
struct Steps {
    std::string a, b;  // two volumes

    Fd open(const std::string& path, int flags) const {
        Fd fd(calls().openAt(AT_FDCWD, path.c_str(), flags | O_CLOEXEC, 0644));
        EXPECT_TRUE(fd) << path;
        return fd;
    }
    void create(const std::string& path, const std::string& bytes, bool flush = false) const {
        Fd fd = open(path, O_WRONLY | O_CREAT | O_EXCL);
        write(fd, bytes);
        if (flush) platform::flushFile(fd.get(), path);
    }
    void write(const Fd& fd, const std::string& bytes) const {
        EXPECT_EQ(calls().write(fd.get(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    void rename(const std::string& from, const std::string& to, unsigned flags = 0) const {
        EXPECT_EQ(calls().renameAt(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags), 0) << from;
    }
    void remove(const std::string& path, int flags = 0) const {
        EXPECT_EQ(calls().unlinkAt(AT_FDCWD, path.c_str(), flags), 0) << path;
    }
    void mkdir(const std::string& path) const { EXPECT_EQ(calls().mkdirAt(AT_FDCWD, path.c_str(), 0755), 0) << path; }
    void symlink(const std::string& target, const std::string& path) const {
        EXPECT_EQ(calls().symlinkAt(target.c_str(), AT_FDCWD, path.c_str()), 0) << path;
    }
    void flushFolder(const std::string& path) const { platform::flushFolder(path); }
    void syncVolume(const std::string& root) const {
        Fd fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        platform::syncVolume(fd.get(), root);
    }
};

struct Case {
    const char* name;
    std::function<void(const Steps&)> act;
    Tree a;                             // volume a after the cut ("f" = "old" and "g" = "two" before)
    Tree b = {{"h", "three"}};          // volume b after the cut ("h" = "three" before)
    std::vector<std::string> sameInode = {};  // names in a that must be the very inodes they were
    std::map<std::string, mode_t> modes = {};  // names in a ("." for a itself) and their modes after the cut
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class PowerCutReconstruction : public ::testing::TestWithParam<Case> {};

TEST_P(PowerCutReconstruction, LeavesWhatTheVolumesMadeDurable) {
    const Case& c = GetParam();
    TempDir tmp;
    Steps steps{tmp / "a", tmp / "b"};
    writeFile(steps.a + "/f", "old");
    writeFile(steps.a + "/g", "two");
    makeDirs(steps.a + "/sub");
    writeFile(steps.b + "/h", "three");
    for (const auto& [name, mode] : {std::pair{".", 0755}, {"f", 0644}, {"g", 0644}, {"sub", 0755}})
        ::chmod((steps.a + "/" + name).c_str(), mode);
    std::map<std::string, ino_t> inodes;
    for (const auto& name : c.sameInode) inodes[name] = inodeOf(steps.a + "/" + name);

    PowerCutSimulator simulator({steps.a, steps.b}, tmp / "keep");
    {
        platform::ScopedFileSystemCalls installed(simulator);
        c.act(steps);
        simulator.cutPower();
    }
    EXPECT_EQ(treeOf(steps.a), c.a);
    EXPECT_EQ(treeOf(steps.b), c.b);
    for (const auto& [name, inode] : inodes) EXPECT_EQ(inodeOf(steps.a + "/" + name), inode) << name;
    for (const auto& [name, mode] : c.modes) {
        struct stat status {};
        ASSERT_EQ(::lstat((steps.a + "/" + name).c_str(), &status), 0) << name;
        EXPECT_EQ(status.st_mode & 07777, mode) << name;
    }
}

const Tree before{{"f", "old"}, {"g", "two"}, {"sub", "<dir>"}};
// `before` with entries changed, added, or ("-") gone.
Tree with(Tree tree, const Tree& changes) {
    for (const auto& [name, value] : changes) {
        if (value == "-") tree.erase(name);
        else tree[name] = value;
    }
    return tree;
}

const Case cases[] = {
    {"UnflushedOverwriteReverts",
     [](const Steps& s) { s.write(s.open(s.a + "/f", O_WRONLY | O_TRUNC), "new"); }, before, {{"h", "three"}}, {"f"}},
    {"FlushedOverwriteStays",
     [](const Steps& s) {
         Fd fd = s.open(s.a + "/f", O_WRONLY | O_TRUNC);
         s.write(fd, "new");
         platform::flushFile(fd.get(), "f");
     },
     with(before, {{"f", "new"}})},
    {"AppendRevertsToTheFlushedLength",
     [](const Steps& s) {
         Fd fd = s.open(s.a + "/f", O_WRONLY | O_APPEND);
         s.write(fd, "1");
         platform::flushFile(fd.get(), "f");
         s.write(fd, "2");
     },
     with(before, {{"f", "old1"}})},
    {"NewFileVanishesWithoutItsFolderFlushedThoughItsBytesWere",
     [](const Steps& s) { s.create(s.a + "/new", "x", true); }, before},
    {"NewFileInAFlushedFolderIsEmptyWithoutItsBytesFlushed",
     [](const Steps& s) {
         s.create(s.a + "/new", "x");
         s.flushFolder(s.a);
     },
     with(before, {{"new", ""}})},
    {"AtomicReplaceWithoutTheFolderFlushLeavesTheOldFile",
     [](const Steps& s) {
         s.create(s.a + "/tmp", "new", true);
         s.rename(s.a + "/tmp", s.a + "/f");
     },
     before, {{"h", "three"}}, {"f"}},
    {"AtomicReplaceWithTheFolderFlushStays",
     [](const Steps& s) {
         s.create(s.a + "/tmp", "new", true);
         s.rename(s.a + "/tmp", s.a + "/f");
         s.flushFolder(s.a);
     },
     with(before, {{"f", "new"}})},
    {"RenameIntoAnotherFolderNeedsThatFolderFlushed",
     [](const Steps& s) {
         s.rename(s.a + "/f", s.a + "/sub/f");
         s.flushFolder(s.a);
     },
     before, {{"h", "three"}}, {"f"}},
    {"RenameIntoAFlushedFolderStays",
     [](const Steps& s) {
         s.rename(s.a + "/f", s.a + "/sub/f");
         s.flushFolder(s.a + "/sub");
     },
     with(before, {{"f", "-"}, {"sub/f", "old"}})},
    {"RemovedFileComesBackAsItself", [](const Steps& s) { s.remove(s.a + "/f"); }, before, {{"h", "three"}}, {"f"}},
    {"RemovalInAFlushedFolderStays",
     [](const Steps& s) {
         s.remove(s.a + "/f");
         s.flushFolder(s.a);
     },
     with(before, {{"f", "-"}})},
    {"RemovedFolderComesBackWithItsEntries",
     [](const Steps& s) {
         s.create(s.a + "/sub/x", "inner", true);
         s.flushFolder(s.a + "/sub");
         s.remove(s.a + "/sub/x");
         s.remove(s.a + "/sub", AT_REMOVEDIR);
     },
     with(before, {{"sub/x", "inner"}})},
    {"FolderMadeInAnUnflushedFolderGoesWithItsDurableEntries",
     [](const Steps& s) {
         s.mkdir(s.a + "/made");
         s.create(s.a + "/made/x", "inner", true);
         s.flushFolder(s.a + "/made");
     },
     before},
    {"ExchangeIsUndone",
     [](const Steps& s) {
         s.symlink("elsewhere", s.a + "/link");
         s.flushFolder(s.a);
         s.rename(s.a + "/link", s.a + "/f", RENAME_EXCHANGE);
     },
     with(before, {{"link", "-> elsewhere"}}), {{"h", "three"}}, {"f"}},
    {"UnflushedSymlinkVanishes", [](const Steps& s) { s.symlink("f", s.a + "/link"); }, before},
    {"SyncfsMakesTheWholeVolumeDurable",
     [](const Steps& s) {
         s.rename(s.a + "/f", s.a + "/sub/moved");
         s.create(s.a + "/sub/new", "x");
         s.write(s.open(s.a + "/g", O_WRONLY | O_TRUNC), "rewritten");
         s.remove(s.b + "/h");
         s.syncVolume(s.a);
     },
     with(before, {{"f", "-"}, {"sub/moved", "old"}, {"sub/new", "x"}, {"g", "rewritten"}}), {{"h", "three"}}},
    {"NarrowedModesComeBackWideWithoutAFlush",
     [](const Steps& s) { PrivateFolder::secure(s.a); }, before, {{"h", "three"}}, {},
     {{".", 0755}, {"f", 0644}, {"g", 0644}, {"sub", 0755}}},
    {"NarrowedModesLastOnceTheirItemsAreFlushed",
     [](const Steps& s) {
         PrivateFolder::secure(s.a);
         for (const char* name : {"f", ""}) {
             Fd fd(::open((s.a + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
             platform::flushFile(fd.get(), name);
         }
     },
     before, {{"h", "three"}}, {}, {{".", 0700}, {"f", 0600}, {"g", 0644}, {"sub", 0755}}},
    {"PrivateFolderVanishesWithoutItsParentFlushed",
     [](const Steps& s) { PrivateFolder::secure(s.a + "/sub/private"); }, before},
    {"PrivateFolderStaysPrivateOnceItsParentIsFlushed",
     [](const Steps& s) {
         PrivateFolder::secure(s.a + "/sub/private");
         s.flushFolder(s.a + "/sub");
     },
     with(before, {{"sub/private", "<dir>"}}), {{"h", "three"}}, {}, {{"sub/private", 0700}}},
    {"VolumesAreIndependent",
     [](const Steps& s) {
         s.create(s.b + "/new", "x", true);
         s.flushFolder(s.b);
         s.remove(s.a + "/g");
         s.syncVolume(s.b);
     },
     before, {{"h", "three"}, {"new", "x"}}, {"g"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, PowerCutReconstruction, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(PowerCutSimulator, CutsAtTheChosenFlushAndNothingMoreHappensUntilThePowerIsBack) {
    TempDir tmp;
    Steps steps{tmp / "a", tmp / "b"};
    makeDirs(steps.a);
    PowerCutSimulator simulator({steps.a}, tmp / "keep");
    platform::ScopedFileSystemCalls installed(simulator);
    simulator.cutAt(3);
    steps.create(steps.a + "/one", "1", true);  // flush 1
    steps.flushFolder(steps.a);                 // flush 2
    steps.create(steps.a + "/two", "2");
    EXPECT_THROW(steps.flushFolder(steps.a), POSIXFailure);
    EXPECT_TRUE(simulator.isOff());
    try {
        steps.remove(steps.a + "/one");
        ADD_FAILURE() << "a removal went through with the power off";
    } catch (const PowerCut& cut) {
        EXPECT_EQ(cut.event, 3);
    }
    EXPECT_EQ(simulator.events(), 3);

    simulator.cutPower();
    EXPECT_FALSE(simulator.isOff());
    EXPECT_EQ(treeOf(steps.a), (Tree{{"one", "1"}}));
    steps.create(steps.a + "/three", "3", true);  // power is back and no cut is armed
    EXPECT_EQ(simulator.events(), 1);
}

// A file's or folder's mode, dates and attributes: what the cut keeps is what was flushed.
TEST(PowerCutSimulator, MetadataLastsOnlyOnceItsItemIsFlushedOrItsVolumeSynced) {
    TempDir tmp;
    Steps steps{tmp / "a", tmp / "b"};
    for (const auto& name : {"kept", "lost"}) writeFile(steps.a + "/" + name, "x");
    writeFile(steps.b + "/synced", "x");
    makeDirs(steps.a + "/folder");
    auto metadataOf = [](const std::string& path) {
        struct stat status {};
        ::stat(path.c_str(), &status);
        char tag[16] = "";
        const ssize_t size = ::getxattr(path.c_str(), "user.xdg.tags", tag, sizeof tag);
        return std::to_string(status.st_mode & 07777) + " " + std::to_string(status.st_mtim.tv_sec) + " " +
               (size > 0 ? std::string(tag, static_cast<size_t>(size)) : "-");
    };
    std::map<std::string, std::string> before;
    for (const auto& path : {steps.a + "/kept", steps.a + "/lost", steps.a + "/folder", steps.b + "/synced"}) {
        ::chmod(path.c_str(), 0644);
        before[path] = metadataOf(path);
    }

    PowerCutSimulator simulator({steps.a, steps.b}, tmp / "keep");
    {
        platform::ScopedFileSystemCalls installed(simulator);
        auto change = [&](const std::string& path, bool flush) {
            Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
            const struct timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
            EXPECT_EQ(calls().fsetxattr(fd.get(), "user.xdg.tags", "red", 3, 0), 0);
            EXPECT_EQ(calls().fchmod(fd.get(), 0600), 0);
            EXPECT_EQ(calls().futimens(fd.get(), times), 0);
            if (flush) platform::flushFile(fd.get(), path);
        };
        change(steps.a + "/kept", true);
        change(steps.a + "/lost", false);
        change(steps.a + "/folder", true);
        change(steps.b + "/synced", false);
        steps.syncVolume(steps.b);
        simulator.cutPower();
    }
    const std::string changed = "384 1000000000 red";
    EXPECT_EQ(metadataOf(steps.a + "/kept"), changed);
    EXPECT_EQ(metadataOf(steps.a + "/folder"), changed);
    EXPECT_EQ(metadataOf(steps.b + "/synced"), changed);
    EXPECT_EQ(metadataOf(steps.a + "/lost"), before[steps.a + "/lost"]);
}

// A mode changed by name is metadata like one changed by descriptor; a lock changes
// nothing durable, but taking one stops with the power like every call.
TEST(PowerCutSimulator, AModeSetByNameLastsOnlyOnceFlushedAndLocksStopWithThePower) {
    TempDir tmp;
    const std::string kept = tmp / "a/kept", lost = tmp / "a/lost";
    for (const auto& path : {kept, lost}) {
        writeFile(path, "x");
        ::chmod(path.c_str(), 0644);
    }
    auto modeOf = [](const std::string& path) {
        struct stat status {};
        return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
    };
    PowerCutSimulator simulator({tmp / "a"}, tmp / "keep");
    {
        platform::ScopedFileSystemCalls installed(simulator);
        for (const auto& path : {kept, lost}) EXPECT_EQ(calls().fchmodAt(AT_FDCWD, path.c_str(), 0600, 0), 0);
        const Fd keptFd(::open(kept.c_str(), O_RDONLY | O_CLOEXEC));
        platform::flushFile(keptFd.get(), kept);
        EXPECT_EQ(calls().flock(keptFd.get(), LOCK_EX), 0);
        simulator.cutAt(simulator.events() + 1);
        EXPECT_THROW(platform::flushFolder(tmp / "a"), POSIXFailure);
        EXPECT_THROW(calls().flock(keptFd.get(), LOCK_EX | LOCK_NB), PowerCut);
        EXPECT_EQ(calls().flock(keptFd.get(), LOCK_UN), 0);  // letting go still works
        simulator.cutPower();
    }
    EXPECT_EQ(modeOf(kept), 0600u);
    EXPECT_EQ(modeOf(lost), 0644u);
}

// The same for changes made by path (a mode narrowed in a folder, a link's own metadata,
// attributes removed), for the owner and for the immutable and append-only flags.
TEST(PowerCutSimulator, ChangesByPathOwnersAndInodeFlagsLastOnlyOnceFlushed) {
    TempDir tmp;
    const std::string a = tmp / "a";
    for (const auto& name : {"kept", "lost"}) {
        writeFile(a + "/" + name, "x");
        ::chmod((a + "/" + name).c_str(), 0644);
        ::setxattr((a + "/" + name).c_str(), "user.old", "1", 1, 0);
    }
    auto metadataOf = [](const std::string& path) {
        struct stat status {};
        ::stat(path.c_str(), &status);
        char value[16] = "";
        const ssize_t tag = ::getxattr(path.c_str(), "user.xdg.tags", value, sizeof value);
        const bool old = ::getxattr(path.c_str(), "user.old", nullptr, 0) >= 0;
        return std::to_string(status.st_mode & 07777) + " " + std::to_string(status.st_mtim.tv_sec) + " " +
               (tag > 0 ? std::string(value, static_cast<size_t>(tag)) : "-") + (old ? " old" : "") + " " +
               std::to_string(status.st_uid);
    };
    const std::string before = metadataOf(a + "/lost");
    // Root may also hand a file to another owner and lock it.
    const bool privileged = ::geteuid() == 0;
    auto flagsOf = [](const std::string& path) {
        Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        int flags = 0;
        return fd && ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0 ? flags : -1;
    };

    PowerCutSimulator simulator({a}, tmp / "keep");
    bool flagsSet = false;
    {
        platform::ScopedFileSystemCalls installed(simulator);
        for (const std::string name : {"kept", "lost"}) {
            const std::string path = a + "/" + name;
            const struct timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
            EXPECT_EQ(calls().lsetxattr(path.c_str(), "user.xdg.tags", "red", 3, 0), 0);
            EXPECT_EQ(calls().lremovexattr(path.c_str(), "user.old"), 0);
            EXPECT_EQ(calls().fchmodAt(AT_FDCWD, path.c_str(), 0600, 0), 0);
            EXPECT_EQ(calls().utimensAt(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
            if (privileged) {
                EXPECT_EQ(calls().fchownAt(AT_FDCWD, path.c_str(), 65534, 65534, 0), 0);
            }
            Fd fd(calls().openAt(AT_FDCWD, path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC, 0));
            if (name == "lost") {
                EXPECT_EQ(calls().write(fd.get(), "y", 1), 1);
            }
            if (name == "lost" && flagsOf(path) >= 0)
                flagsSet = calls().setInodeFlags(fd.get(), flagsOf(path) | FS_APPEND_FL) == 0;
            if (name == "kept") platform::flushFile(fd.get(), path);
        }
        simulator.cutPower();
    }
    const std::string uid = privileged ? "65534" : std::to_string(::geteuid());
    EXPECT_EQ(metadataOf(a + "/kept"), "384 1000000000 red " + uid);
    EXPECT_EQ(metadataOf(a + "/lost"), before);
    if (flagsSet) {
        EXPECT_EQ(flagsOf(a + "/lost") & FS_APPEND_FL, 0);
    }
    // The file's bytes could be put back although it had become append-only.
    EXPECT_EQ(readFile(a + "/lost"), "x");
}

TEST(PowerCutSimulator, JournalCommitsAreCutPointsAndACutCommitIsLost) {
    TempDir tmp;
    auto journal = Journal::inMemory(Clock::system());
    NewRecord record;
    record.originalPath = "/home/a/Report.txt";
    record.driveID = "DRIVE-1";
    record.driveRelativePath = "Keldwick/Mac/home/a/Report.txt";
    record.phase = Phase::offloadCopying;
    PowerCutSimulator simulator({tmp.path()}, tmp / "keep");
    simulator.watch(journal);
    platform::ScopedFileSystemCalls installed(simulator);
    simulator.cutAt(2);

    const int64_t kept = journal->insert(record).id;
    EXPECT_THROW(journal->setPhase(kept, Phase::offloadVerified), SQLiteError);
    EXPECT_TRUE(simulator.isOff());
    EXPECT_THROW(journal->insert(record), SQLiteError);  // no commit while the power is off
    EXPECT_THROW((void)calls().mkdirAt(AT_FDCWD, (tmp / "x").c_str(), 0755), PowerCut);

    simulator.cutPower();
    auto records = journal->allRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].phase, Phase::offloadCopying);
    journal->setPhase(kept, Phase::offloadVerified);
    EXPECT_EQ(journal->record(kept)->phase, Phase::offloadVerified);
}

}  // namespace
}  // namespace keldwick
