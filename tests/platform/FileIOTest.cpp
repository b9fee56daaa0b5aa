#include "platform/FileIO.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>

#include "drives/DriveLayout.h"
#include "engine/FileCopier.h"
#include "foundation/AtomicFile.h"
#include "foundation/DriveManifest.h"
#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/PathUtil.h"
#include "foundation/InstanceLock.h"
#include "foundation/PrivateFolder.h"
#include "platform/Metadata.h"
#include "platform/OpenBeneath.h"
#include "platform/POSIXFailure.h"
#include "platform/Statx.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

using namespace keldwick;

namespace {

// Passes every call to the system, noting its kind, and fails the one kind asked for.
class RecordingCalls : public platform::FileSystemCalls {
public:
    explicit RecordingCalls(std::string failing = "") : failing_(std::move(failing)) {}

    std::vector<std::string> seen;

    int openAt(int dirFd, const char* path, int flags, mode_t mode) override {
        if ((flags & O_CREAT) && refuses("create")) return -1;
        return FileSystemCalls::openAt(dirFd, path, flags, mode);
    }
    ssize_t write(int fd, const void* data, std::size_t size) override {
        if (refuses("write")) return -1;
        return FileSystemCalls::write(fd, data, size);
    }
    ssize_t pwrite(int fd, const void* data, std::size_t size, off_t offset) override {
        if (refuses("write")) return -1;
        return FileSystemCalls::pwrite(fd, data, size, offset);
    }
    int fsync(int fd) override {
        if (refuses("fsync")) return -1;
        return FileSystemCalls::fsync(fd);
    }
    int syncfs(int fd) override {
        if (refuses("syncfs")) return -1;
        return FileSystemCalls::syncfs(fd);
    }
    int syncFileRange(int fd, off_t offset, off_t count, unsigned flags) override {
        if (refuses("write-back")) return -1;
        return FileSystemCalls::syncFileRange(fd, offset, count, flags);
    }
    int renameAt(int fromDirFd, const char* from, int toDirFd, const char* to, unsigned flags) override {
        if (refuses("rename")) return -1;
        return FileSystemCalls::renameAt(fromDirFd, from, toDirFd, to, flags);
    }
    int unlinkAt(int dirFd, const char* path, int flags) override {
        if (refuses(flags & AT_REMOVEDIR ? "rmdir" : "unlink")) return -1;
        return FileSystemCalls::unlinkAt(dirFd, path, flags);
    }
    int mkdirAt(int dirFd, const char* path, mode_t mode) override {
        if (refuses("mkdir")) return -1;
        return FileSystemCalls::mkdirAt(dirFd, path, mode);
    }

    int symlinkAt(const char* target, int dirFd, const char* path) override {
        if (refuses("symlink")) return -1;
        return FileSystemCalls::symlinkAt(target, dirFd, path);
    }

    int fchmod(int fd, mode_t mode) override {
        if (refuses("chmod")) return -1;
        return FileSystemCalls::fchmod(fd, mode);
    }
    int fchmodAt(int dirFd, const char* path, mode_t mode, int flags) override {
        if (refuses("chmod")) return -1;
        return FileSystemCalls::fchmodAt(dirFd, path, mode, flags);
    }
    int fchownAt(int dirFd, const char* path, uid_t owner, gid_t group, int flags) override {
        if (refuses("chown")) return -1;
        return FileSystemCalls::fchownAt(dirFd, path, owner, group, flags);
    }
    int utimensAt(int dirFd, const char* path, const struct timespec times[2], int flags) override {
        if (refuses("utimens")) return -1;
        return FileSystemCalls::utimensAt(dirFd, path, times, flags);
    }
    int lsetxattr(const char* path, const char* name, const void* value, std::size_t size, int flags) override {
        if (refuses("setxattr")) return -1;
        return FileSystemCalls::lsetxattr(path, name, value, size, flags);
    }
    int lremovexattr(const char* path, const char* name) override {
        if (refuses("removexattr")) return -1;
        return FileSystemCalls::lremovexattr(path, name);
    }
    int flock(int fd, int operation) override {
        if (refuses("lock")) return -1;
        return FileSystemCalls::flock(fd, operation);
    }

    bool saw(const std::string& kind) const { return std::find(seen.begin(), seen.end(), kind) != seen.end(); }

private:
    bool refuses(const char* kind) {
        seen.emplace_back(kind);
        if (failing_ != kind) return false;
        errno = EIO;
        return true;
    }
    std::string failing_;
};

struct Operation {
    const char* label;
    std::function<void(const test::TempDir&)> prepare;
    std::function<void(const test::TempDir&)> run;
    // Each call the operation must make through the layer; failing any one fails it.
    std::vector<std::string> calls;
    // What must still hold after a failed call.
    std::function<void(const test::TempDir&)> afterFailure;
};

DriveManifest::Entry manifestEntry() {
    DriveManifest::Entry entry;
    entry.machine = "MAC-A";
    entry.event = DriveManifest::Entry::Event::offloaded;
    entry.originalPath = "/home/ann/a.txt";
    entry.relativePath = "Keldwick/Mac (12345678)/home/ann/a.txt";
    entry.size = 10;
    entry.date = Date{1740821400};
    return entry;
}

const std::vector<Operation>& operations() {
    static const std::vector<Operation> table{
        {"atomic write",
         [](const test::TempDir& dir) { test::writeFile(dir / "settings.json", "old"); },
         [](const test::TempDir& dir) { AtomicFile::write(dir / "settings.json", "new"); },
         {"create", "chmod", "write", "fsync", "rename"},
         [](const test::TempDir& dir) {
             // The old contents stand and no temporary is left behind.
             EXPECT_EQ(test::readFile(dir / "settings.json"), "old");
             EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{"settings.json"});
         }},
        {"private folder",
         [](const test::TempDir& dir) {
             test::writeFile(dir / "support/settings.json", "kept");
             ::chmod((dir / "support").c_str(), 0755);
             ::chmod((dir / "support/settings.json").c_str(), 0644);
         },
         [](const test::TempDir& dir) { PrivateFolder::secure(dir / "support"); },
         {"mkdir", "chmod"},
         [](const test::TempDir& dir) { EXPECT_EQ(test::readFile(dir / "support/settings.json"), "kept"); }},
        {"tree removal",
         [](const test::TempDir& dir) { test::writeFile(dir / "tree/inner/file", "x"); },
         [](const test::TempDir& dir) { PathUtil::removeTree(dir / "tree"); },
         {"unlink", "rmdir"},
         [](const test::TempDir& dir) { EXPECT_TRUE(FileStat::peek(dir / "tree")); }},
        {"file removal",
         [](const test::TempDir& dir) { test::writeFile(dir / "file", "x"); },
         [](const test::TempDir& dir) {
             removeFile(dir / "file");
             removeFile(dir / "file");  // gone already: nothing to do
         },
         {"unlink"},
         [](const test::TempDir& dir) { EXPECT_TRUE(FileStat::peek(dir / "file")); }},
        {"folder creation",
         [](const test::TempDir&) {},
         [](const test::TempDir& dir) { createDirectory(dir / "a/b/c"); },
         {"mkdir"},
         [](const test::TempDir& dir) { EXPECT_FALSE(FileStat::peek(dir / "a/b/c")); }},
        {"rename",
         [](const test::TempDir& dir) { test::writeFile(dir / "from", "x"); },
         [](const test::TempDir& dir) { renameItem(dir / "from", dir / "to"); },
         {"rename"},
         [](const test::TempDir& dir) { EXPECT_TRUE(FileStat::peek(dir / "from")); }},
        {"exclusive rename",
         [](const test::TempDir& dir) { test::writeFile(dir / "from", "x"); },
         [](const test::TempDir& dir) { renameExclusive(dir / "from", dir / "to"); },
         {"rename"},
         [](const test::TempDir& dir) { EXPECT_FALSE(FileStat::peek(dir / "to")); }},
        {"swap",
         [](const test::TempDir& dir) {
             test::writeFile(dir / "one", "1");
             test::writeFile(dir / "two", "2");
         },
         [](const test::TempDir& dir) { ASSERT_TRUE(swapItems(dir / "one", dir / "two")); },
         {"rename"},
         [](const test::TempDir& dir) { EXPECT_EQ(test::readFile(dir / "one"), "1"); }},
        {"manifest append",
         [](const test::TempDir&) {},
         [](const test::TempDir& dir) { DriveManifest(DriveLayout::appFolder(dir.path())).append(manifestEntry()); },
         {"mkdir", "create", "write", "fsync"},
         [](const test::TempDir&) {}},
        {"file copy",
         [](const test::TempDir& dir) { test::writeFile(dir / "source", "bytes"); },
         [](const test::TempDir& dir) { FileCopier(4096).copyFile(dir / "source", dir / "copy", true, nullptr); },
         // syncfs only where fsync can't be trusted, which a test folder's file system can.
         {"create", "write", "fsync"},
         [](const test::TempDir& dir) { EXPECT_EQ(test::readFile(dir / "source"), "bytes"); }},
        {"tree copy",
         [](const test::TempDir& dir) {
             test::writeFile(dir / "source/inner/file", "bytes");
             ASSERT_EQ(::symlink("inner/file", (dir / "source/link").c_str()), 0);
         },
         [](const test::TempDir& dir) { FileCopier(4096).copyTree(dir / "source", dir / "copy", {}); },
         // One volume flush for the whole tree, where fsync can be trusted.
         {"mkdir", "create", "write", "symlink", "syncfs"},
         [](const test::TempDir& dir) { EXPECT_EQ(test::readFile(dir / "source/inner/file"), "bytes"); }},
        {"folder flush",
         [](const test::TempDir&) {},
         [](const test::TempDir& dir) { platform::flushFolder(dir.path()); },
         {"fsync"},
         [](const test::TempDir&) {}},
    };
    return table;
}

}  // namespace

TEST(FileIOTest, ChangesGoThroughTheLayerAndItsFailuresAreReported) {
    for (const Operation& operation : operations()) {
        SCOPED_TRACE(operation.label);
        {
            test::TempDir dir;
            operation.prepare(dir);
            RecordingCalls recording;
            platform::ScopedFileSystemCalls scope(recording);
            operation.run(dir);
            for (const std::string& call : operation.calls) EXPECT_TRUE(recording.saw(call)) << call;
        }
        for (const std::string& call : operation.calls) {
            SCOPED_TRACE("failing " + call);
            test::TempDir dir;
            operation.prepare(dir);
            {
                RecordingCalls failing(call);
                platform::ScopedFileSystemCalls scope(failing);
                EXPECT_THROW(operation.run(dir), POSIXFailure);
            }
            operation.afterFailure(dir);
        }
    }
}

// Changes whose failure the caller may pass over still go through the layer, so a test
// sees them: the modes and ACLs a tree removal clears, a link's own metadata, the lock.
TEST(FileIOTest, ChangesByPathAndLocksGoThroughTheLayer) {
    test::TempDir dir;
    test::writeFile(dir / "tree/inner/file", "x");
    ASSERT_EQ(::symlink("inner/file", (dir / "link").c_str()), 0);
    RecordingCalls recording;
    {
        platform::ScopedFileSystemCalls scope(recording);
        PathUtil::removeTree(dir / "tree");
        struct statx source;
        ASSERT_EQ(platform::statxNoFollow(AT_FDCWD, (dir / "link").c_str(), source), 0);
        const platform::MetadataTarget link{-1, dir / "link"};
        platform::copyOwner(source, link);
        platform::copyTimes(source, link);
        {
            auto lock = InstanceLock::acquire(dir / "keldwick.lock");
            EXPECT_TRUE(lock);
        }
    }
    for (const char* call : {"chmod", "removexattr", "chown", "utimens", "lock"})
        EXPECT_TRUE(recording.saw(call)) << call;
    EXPECT_EQ(std::count(recording.seen.begin(), recording.seen.end(), "lock"), 2);  // taken and given back

    RecordingCalls refusing("lock");
    platform::ScopedFileSystemCalls scope(refusing);
    EXPECT_FALSE(InstanceLock::acquire(dir / "keldwick.lock"));
}

// Write-back a file system can't start is no failure; one it starts and fails is.
TEST(FileIOTest, WriteBackReportsOnlyFailedWrites) {
    struct RefusedWriteBack final : platform::FileSystemCalls {
        int error = 0;
        int syncFileRange(int, off_t, off_t, unsigned) override {
            errno = error;
            return -1;
        }
    };
    const std::vector<std::pair<int, bool>> table{
        {EINVAL, false}, {ESPIPE, false}, {ENOSYS, false}, {EIO, true}, {ENOSPC, true}, {EBADF, true}};
    test::TempDir dir;
    test::writeFile(dir / "file", "bytes");
    platform::Fd file = platform::openRead(dir / "file");
    ASSERT_TRUE(file);
    for (const auto& [error, reported] : table) {
        SCOPED_TRACE(error);
        RefusedWriteBack refusing;
        refusing.error = error;
        platform::ScopedFileSystemCalls scope(refusing);
        if (reported) EXPECT_THROW(platform::startWriteBack(file.get(), dir / "file"), POSIXFailure);
        else EXPECT_NO_THROW(platform::startWriteBack(file.get(), dir / "file"));
    }
}

TEST(FileIOTest, BestEffortFolderFlushReportsInsteadOfThrowing) {
    test::TempDir dir;
    EXPECT_TRUE(platform::flushFolderBestEffort(dir.path()));
    EXPECT_FALSE(platform::flushFolderBestEffort(dir / "missing"));
    RecordingCalls failing("fsync");
    platform::ScopedFileSystemCalls scope(failing);
    EXPECT_FALSE(platform::flushFolderBestEffort(dir.path()));
}

TEST(FileIOTest, ScopedCallsRestoreThePreviousOnes) {
    RecordingCalls outer;
    platform::ScopedFileSystemCalls outerScope(outer);
    {
        RecordingCalls inner;
        platform::ScopedFileSystemCalls innerScope(inner);
        EXPECT_EQ(&platform::calls(), &inner);
    }
    EXPECT_EQ(&platform::calls(), &outer);
}

TEST(FileIOTest, MountStatusNamesTheMountHoldingAnItem) {
    test::TempDir dir;
    test::writeFile(dir / "file", "x");
    ASSERT_EQ(::symlink("file", (dir / "link").c_str()), 0);

    platform::MountStatus folder, file, link, followed, root;
    ASSERT_EQ(platform::statxWithMount(dir.path().c_str(), AT_SYMLINK_NOFOLLOW, false, folder), 0);
    ASSERT_EQ(platform::statxWithMount((dir / "file").c_str(), AT_SYMLINK_NOFOLLOW, true, file), 0);
    ASSERT_EQ(platform::statxWithMount((dir / "link").c_str(), AT_SYMLINK_NOFOLLOW, false, link), 0);
    ASSERT_EQ(platform::statxWithMount((dir / "link").c_str(), 0, false, followed), 0);
    ASSERT_EQ(platform::statxWithMount("/", 0, false, root), 0);

    ASSERT_TRUE(folder.mountID);
    EXPECT_FALSE(folder.mountIDIsUnique);  // not asked for
    EXPECT_EQ(link.mountID, folder.mountID);
    EXPECT_TRUE(S_ISLNK(link.record.stx_mode));
    EXPECT_TRUE(S_ISREG(followed.record.stx_mode));
    EXPECT_EQ(followed.record.stx_ino, file.record.stx_ino);
    if (!file.mountIDIsUnique) {
        EXPECT_EQ(file.mountID, folder.mountID);  // the same kind of id
    }
    if (root.mountRoot) {
        EXPECT_TRUE(*root.mountRoot);
    }
    if (file.mountRoot) {
        EXPECT_FALSE(*file.mountRoot);
    }

    EXPECT_EQ(platform::statxWithMount((dir / "missing").c_str(), 0, false, link), ENOENT);
}

TEST(FileIOTest, OpeningBeneathRefusesEveryWayOut) {
    test::TempDir dir;
    test::makeDirs(dir / "root/a/b");
    test::makeDirs(dir / "outside");
    test::writeFile(dir / "root/file", "x");
    ASSERT_EQ(::symlink("a", (dir / "root/link").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "root/away").c_str()), 0);
    platform::Fd root(::open((dir / "root").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(root);

    platform::Fd probe;
    if (platform::openFolderBeneath(root.get(), "a", probe) == ENOSYS) GTEST_SKIP() << "no openat2 here";

    const struct {
        const char* relative;
        int error;
    } cases[] = {
        {"a", 0},           {"a/b", 0},           {"link", ELOOP},       {"link/b", ELOOP}, {"away", ELOOP},
        {"../outside", EXDEV}, {"a/../../outside", EXDEV}, {"missing", ENOENT}, {"file", ENOTDIR},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.relative);
        platform::Fd opened;
        EXPECT_EQ(platform::openFolderBeneath(root.get(), row.relative, opened), row.error);
        EXPECT_EQ(opened.valid(), row.error == 0);
    }
}

// The one way in: close-on-exec always, the access time kept where this process may ask
// for that (and the open made without it where it may not), names sorted without "." and
// "..", and a folder that can't be opened reported as such, never listed as empty.
TEST(DescriptorTest, OpensListsAndRetriesWithoutKeepingTheAccessTime) {
    test::TempDir dir;
    ASSERT_EQ(::mkdir((dir / "c").c_str(), 0755), 0);
    for (const char* name : {"b", "a"}) AtomicFile::write(dir / name, "x", 0644);
    ASSERT_EQ(::symlink("c", (dir / "link").c_str()), 0);

    platform::Fd folder = platform::openDirectory(AT_FDCWD, dir.path(), O_NOFOLLOW);
    ASSERT_TRUE(folder);
    EXPECT_NE(::fcntl(folder.get(), F_GETFD) & FD_CLOEXEC, 0);
    const std::vector<std::string> expected{"a", "b", "c", "link"};
    EXPECT_EQ(platform::readNames(platform::openDirectory(folder.get(), "."), dir.path()), expected);
    EXPECT_EQ(platform::readNames(platform::duplicate(folder.get()), dir.path()), expected);
    EXPECT_EQ(platform::readNames(platform::duplicate(folder.get()), dir.path()), expected)
        << "a duplicate shares the offset the first listing moved, and is read from the start";
    std::vector<std::string> names;
    std::vector<bool> maybeFolder;
    ASSERT_TRUE(platform::readNamesAndKinds(platform::openDirectory(folder.get(), ".").get(), names, maybeFolder));
    ASSERT_EQ(maybeFolder.size(), 4u);
    // By inode, each kind beside its name.
    ino_t previous = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(maybeFolder[i], names[i] == "c") << names[i];
        struct stat status {};
        ASSERT_EQ(::lstat((dir / names[i]).c_str(), &status), 0);
        EXPECT_GT(status.st_ino, previous) << names[i];
        previous = status.st_ino;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, expected);

    EXPECT_FALSE(platform::openDirectory(folder.get(), "link", O_NOFOLLOW)) << "a link never stands in for a folder";
    EXPECT_TRUE(platform::openDirectory(folder.get(), "link"));
    try {
        platform::readNames(platform::openDirectory(AT_FDCWD, dir / "missing"), dir / "missing");
        FAIL() << "a folder that can't be opened must not list as empty";
    } catch (const POSIXFailure& failure) {
        EXPECT_EQ(failure.operation(), "opendir");
        EXPECT_EQ(failure.code(), ENOENT);
    }

    platform::Fd own = platform::openRead(dir / "a", O_NOATIME);
    ASSERT_TRUE(own);
    EXPECT_NE(::fcntl(own.get(), F_GETFL) & O_NOATIME, 0);
    if (!test::canDropPrivileges()) GTEST_SKIP() << "needs root to open another user's file";
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);  // reachable by the other user
    // Another user's file: O_NOATIME is refused (EPERM) and the open is made without it.
    const int status = test::runAsNobody([&] {
        platform::Fd other = platform::openRead(dir / "b", O_NOATIME | O_NOFOLLOW);
        if (!other) return 1;
        return (::fcntl(other.get(), F_GETFL) & O_NOATIME) == 0 ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
}
