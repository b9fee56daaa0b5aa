#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

#include "engine/FileCopier.h"
#include "foundation/Checksum.h"
#include "foundation/EngineError.h"
#include "foundation/FileStat.h"
#include "foundation/PathUtil.h"
#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

using namespace keldwick;
using test::readFile;
using test::writeFile;

namespace {

constexpr int64_t kChunk = 4096;

std::string randomBytes(size_t size, unsigned seed = 7) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (auto& c : bytes) c = static_cast<char>(generator());
    return bytes;
}

std::string sha(const std::string& bytes) { return Checksum::sha256(bytes); }

template <typename Fn>
EngineError::Kind engineErrorOf(Fn&& fn) {
    try {
        fn();
    } catch (const EngineError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "no engine error";
    return EngineError::Kind::invalidState;
}

bool onTmpfs(const std::string& path) {
    struct statfs info {};
    return ::statfs(path.c_str(), &info) == 0 && info.f_type == TMPFS_MAGIC;
}

// Pages of the file in the page cache.
size_t residentPages(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return SIZE_MAX;
    struct stat st {};
    ::fstat(fd, &st);
    size_t length = static_cast<size_t>(st.st_size);
    void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED) return SIZE_MAX;
    size_t pageSize = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> pages((length + pageSize - 1) / pageSize);
    ::mincore(map, length, pages.data());
    ::munmap(map, length);
    size_t resident = 0;
    for (auto p : pages) resident += p & 1;
    return resident;
}

// A file system mounted for one test; skipped by the caller when mounting isn't allowed.
class ScopedMount {
public:
    ScopedMount(const std::string& type, const std::string& at, const std::string& options) : at_(at) {
        mounted_ = ::mount(type.c_str(), at.c_str(), type.c_str(), 0, options.empty() ? nullptr : options.c_str()) == 0;
    }
    ~ScopedMount() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    std::string at_;
    bool mounted_ = false;
};

struct Tree {
    test::TempDir dir;
    std::string source = dir / "src";
    std::string copy = dir / "copy";

    Tree() {
        writeFile(source + "/a.txt", "alpha");
        writeFile(source + "/empty", "");
        writeFile(source + "/sub/big.bin", randomBytes(3 * kChunk + 17));
        writeFile(source + "/sub/deeper/c", "c");
        test::makeDirs(source + "/hollow");
        ::symlink(std::string(3000, 'x').c_str(), (source + "/sub/long-link").c_str());
        ::symlink("a.txt", (source + "/link").c_str());
    }
};

}  // namespace

// ---- single files

TEST(FileCopierFileTest, DigestAndBytesForEveryChunkBoundary) {
    test::TempDir dir;
    FileCopier copier(kChunk);
    for (int64_t size : {int64_t{0}, int64_t{1}, kChunk - 1, kChunk, kChunk + 1, 3 * kChunk + 17}) {
        std::string bytes = randomBytes(static_cast<size_t>(size), static_cast<unsigned>(size));
        std::string source = writeFile(dir / ("s" + std::to_string(size)), bytes);
        std::string destination = dir / ("d" + std::to_string(size));
        std::vector<int64_t> reports;
        auto digest = copier.copyFile(source, destination, true, [&](int64_t done) { reports.push_back(done); });
        EXPECT_EQ(digest, sha(bytes)) << size;
        EXPECT_EQ(readFile(destination), bytes) << size;
        EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
        if (size > 0) {
            EXPECT_EQ(reports.back(), size);
        }
        copier.verify(destination, {{"", TreeEntry::Kind::file, size, digest, std::nullopt}});
    }
}

TEST(FileCopierFileTest, ExclusiveCreateLeavesAnExistingFileAlone) {
    test::TempDir dir;
    auto source = writeFile(dir / "s", "new");
    auto destination = writeFile(dir / "d", "old");
    try {
        FileCopier(kChunk).copyFile(source, destination, true, nullptr);
        FAIL();
    } catch (const POSIXFailure& e) {
        EXPECT_EQ(e.operation(), "create");
        EXPECT_EQ(e.code(), EEXIST);
    }
    EXPECT_EQ(readFile(destination), "old");
    // Nor is a link at the destination followed.
    ::symlink((dir / "elsewhere").c_str(), (dir / "l").c_str());
    EXPECT_THROW(FileCopier(kChunk).copyFile(source, dir / "l", true, nullptr), POSIXFailure);
    EXPECT_FALSE(FileStat::read(dir / "elsewhere"));
}

TEST(FileCopierFileTest, RefusesLinksAndSpecialFilesAsSources) {
    test::TempDir dir;
    writeFile(dir / "real", "x");
    ::symlink("real", (dir / "link").c_str());
    ::mkfifo((dir / "fifo").c_str(), 0600);
    try {
        FileCopier(kChunk).copyFile(dir / "link", dir / "d1", true, nullptr);
        FAIL();
    } catch (const POSIXFailure& e) {
        EXPECT_EQ(e.operation(), "open");
        EXPECT_EQ(e.code(), ELOOP);
    }
    EXPECT_EQ(engineErrorOf([&] { FileCopier(kChunk).copyFile(dir / "fifo", dir / "d2", true, nullptr); }),
              EngineError::Kind::unsupportedItem);
}

TEST(FileCopierFileTest, KeepsModeTimesOwnerAndAttributes) {
    test::TempDir dir;
    auto source = writeFile(dir / "s", "content");
    ::chmod(source.c_str(), 0641);
    ASSERT_EQ(::setxattr(source.c_str(), "user.xdg.tags", "red,blue", 8, 0), 0);
    ASSERT_EQ(::setxattr(source.c_str(), "user.xdg.comment", "note", 4, 0), 0);
    ASSERT_EQ(::setxattr(source.c_str(), "user.other", "", 0, 0), 0);
    struct timespec times[2] = {{1'000'000'000, 123'456'789}, {1'200'000'000, 987'654'321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(source.c_str(), 65534, 65534), 0);
    }

    auto destination = dir / "d";
    FileCopier(kChunk).copyFile(source, destination, true, nullptr);
    auto s = *FileStat::read(source);
    auto d = *FileStat::read(destination);
    EXPECT_EQ(d.mode, s.mode);
    EXPECT_EQ(d.modificationTime, (Timespec{1'200'000'000, 987'654'321}));
    EXPECT_EQ(d.accessTime, (Timespec{1'000'000'000, 123'456'789}));
    if (root) {
        EXPECT_EQ(d.ownerID, 65534u);
    }
    char value[32] = {};
    EXPECT_EQ(::getxattr(destination.c_str(), "user.xdg.tags", value, sizeof value), 8);
    EXPECT_EQ(std::string(value, 8), "red,blue");
    EXPECT_EQ(::getxattr(destination.c_str(), "user.xdg.comment", value, sizeof value), 4);
    EXPECT_EQ(::getxattr(destination.c_str(), "user.other", value, sizeof value), 0);
}

TEST(FileCopierFileTest, KeepsPosixAcls) {
    test::TempDir dir;
    auto source = writeFile(dir / "s", "x");
    test::makeDirs(dir / "folder");
    if (std::system(("setfacl -m u:65534:r '" + source + "' && setfacl -d -m u:65534:rx '" + dir / "folder" + "'")
                        .c_str()) != 0)
        GTEST_SKIP() << "setfacl is missing or the file system has no ACLs";
    FileCopier copier(kChunk);
    copier.copyFile(source, dir / "d", true, nullptr);
    test::makeDirs(dir / "dfolder");
    copier.copyMetadata(dir / "folder", dir / "dfolder", std::nullopt);
    char value[256];
    ssize_t original = ::getxattr(source.c_str(), "system.posix_acl_access", value, sizeof value);
    ASSERT_GT(original, 0);
    EXPECT_EQ(::getxattr((dir / "d").c_str(), "system.posix_acl_access", value, sizeof value), original);
    EXPECT_GT(::getxattr((dir / "dfolder").c_str(), "system.posix_acl_default", value, sizeof value), 0);
}

TEST(FileCopierFileTest, TagsTheDriveCantStoreFailTheCopy) {
    test::TempDir dir;
    test::makeDirs(dir / "ram");
    ScopedMount ram("ramfs", dir / "ram", "");
    if (!ram.mounted()) GTEST_SKIP() << "needs to mount a ramfs (root)";
    auto plain = writeFile(dir / "plain", "x");
    FileCopier(kChunk).copyFile(plain, dir / "ram/plain", true, nullptr);  // nothing to lose

    auto tagged = writeFile(dir / "tagged", "x");
    ASSERT_EQ(::setxattr(tagged.c_str(), "user.xdg.comment", "keep me", 7, 0), 0);
    try {
        FileCopier(kChunk).copyFile(tagged, dir / "ram/tagged", true, nullptr);
        FAIL();
    } catch (const EngineError& e) {
        EXPECT_EQ(e, EngineError::metadataNotCopied(tagged));
    }
}

TEST(FileCopierFileTest, FileChangedWhileCopiedIsDetected) {
    test::TempDir dir;
    auto source = writeFile(dir / "s", randomBytes(4 * kChunk));
    bool edited = false;
    auto edit = [&](int64_t) {
        if (edited) return;
        edited = true;
        int fd = ::open(source.c_str(), O_WRONLY | O_APPEND);
        ASSERT_EQ(::write(fd, "more", 4), 4);
        ::close(fd);
    };
    try {
        FileCopier(kChunk).copyFile(source, dir / "d", true, edit);
        FAIL();
    } catch (const EngineError& e) {
        EXPECT_EQ(e, EngineError::sourceChanged(source));
    }
}

TEST(FileCopierFileTest, ThrowingProgressStopsBetweenChunks) {
    test::TempDir dir;
    auto source = writeFile(dir / "s", randomBytes(8 * kChunk));
    int64_t lastReport = 0;
    auto cancel = [&](int64_t done) {
        lastReport = done;
        if (done >= 2 * kChunk) throw CancellationError();
    };
    EXPECT_THROW(FileCopier(kChunk).copyFile(source, dir / "d", true, cancel), CancellationError);
    EXPECT_EQ(lastReport, 2 * kChunk);
    // What was written is the caller's to remove; it is never a whole copy.
    auto partial = FileStat::read(dir / "d");
    ASSERT_TRUE(partial);
    EXPECT_LT(partial->size, 8 * kChunk);
}

TEST(FileCopierFileTest, SparseFilesStaySparse) {
    test::TempDir dir;
    auto source = dir / "sparse";
    int fd = ::open(source.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_EQ(::ftruncate(fd, 64 * kChunk), 0);
    ASSERT_EQ(::pwrite(fd, "data", 4, 10 * kChunk), 4);
    ::close(fd);
    auto s = *FileStat::read(source);
    if (s.allocatedSize >= s.size) GTEST_SKIP() << "the file system doesn't keep holes";
    auto digest = FileCopier(kChunk).copyFile(source, dir / "d", true, nullptr);
    EXPECT_EQ(digest, sha(readFile(source)));
    EXPECT_EQ(readFile(dir / "d"), readFile(source));
    auto d = *FileStat::read(dir / "d");
    EXPECT_EQ(d.size, 64 * kChunk);
    EXPECT_LT(d.allocatedSize, d.size);
}

TEST(FileCopierFileTest, CopyLeavesNoCachedPagesSoVerifyReadsTheMedium) {
    test::TempDir dir;
    if (onTmpfs(dir.path())) GTEST_SKIP() << "tmpfs keeps its files in the page cache";
    auto source = writeFile(dir / "s", randomBytes(64 * kChunk));
    auto destination = dir / "d";
    auto digest = FileCopier(kChunk).copyFile(source, destination, true, nullptr);
    EXPECT_EQ(residentPages(destination), 0u);

    // A copy read back into the cache is dropped again before (and after) verification.
    (void)readFile(destination);
    ASSERT_GT(residentPages(destination), 0u);
    FileCopier(kChunk).verify(destination, {{"", TreeEntry::Kind::file, 64 * kChunk, digest, std::nullopt}});
    EXPECT_EQ(residentPages(destination), 0u);
}

TEST(FileCopierFileTest, FullDriveFailsWithTheWriteError) {
    test::TempDir dir;
    test::makeDirs(dir / "small");
    ScopedMount small("tmpfs", dir / "small", "size=256k");
    if (!small.mounted()) GTEST_SKIP() << "needs to mount a small tmpfs (root)";
    auto source = writeFile(dir / "s", randomBytes(1024 * 1024));
    try {
        FileCopier(64 * 1024).copyFile(source, dir / "small/d", true, nullptr);
        FAIL();
    } catch (const POSIXFailure& e) {
        EXPECT_EQ(e.operation(), "write");
        EXPECT_EQ(e.code(), ENOSPC);
        EXPECT_EQ(e.path(), dir / "small/d");
    }
}

// ---- trees

TEST(FileCopierTreeTest, CopiesAndListsTheTreeInWalkOrder) {
    Tree t;
    FileCopier copier(kChunk);
    struct timespec times[2] = {{1'100'000'000, 5}, {1'100'000'000, 7}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (t.source + "/sub").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, (t.source + "/link").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    ::chmod((t.source + "/sub/deeper").c_str(), 0750);

    int64_t last = 0;
    auto entries = copier.copyTree(t.source, t.copy, [&](int64_t done) { last = done; });
    std::vector<std::string> paths;
    for (const auto& e : entries) paths.push_back(e.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"a.txt", "empty", "hollow", "link", "sub", "sub/big.bin",
                                               "sub/deeper", "sub/deeper/c", "sub/long-link"}));
    EXPECT_EQ(entries[0], (TreeEntry{"a.txt", TreeEntry::Kind::file, 5, sha("alpha"), std::nullopt}));
    EXPECT_EQ(entries[1].sha256, sha(""));
    EXPECT_EQ(entries[3], (TreeEntry{"link", TreeEntry::Kind::symlink, 0, std::nullopt, "a.txt"}));
    EXPECT_EQ(entries[8].target, std::string(3000, 'x'));
    EXPECT_EQ(last, 5 + 3 * kChunk + 17 + 1);

    EXPECT_EQ(readFile(t.copy + "/sub/big.bin"), readFile(t.source + "/sub/big.bin"));
    // Folder dates survive the files created inside them; links keep theirs.
    EXPECT_EQ(FileStat::read(t.copy + "/sub")->modificationTime, (Timespec{1'100'000'000, 7}));
    EXPECT_EQ(FileStat::read(t.copy + "/link")->modificationTime, (Timespec{1'100'000'000, 7}));
    EXPECT_EQ(FileStat::read(t.copy)->modificationTime, FileStat::read(t.source)->modificationTime);
    EXPECT_EQ(FileStat::read(t.copy + "/sub/deeper")->mode & 07777, 0750);
    copier.verify(t.copy, entries);

    // The walk of the original gives the same entries without digests.
    auto walked = copier.walk(t.source);
    ASSERT_EQ(walked.size(), entries.size());
    for (size_t i = 0; i < walked.size(); ++i) {
        EXPECT_EQ(walked[i].path, entries[i].path);
        EXPECT_EQ(walked[i].size, entries[i].size);
        EXPECT_FALSE(walked[i].sha256);
    }
    // And the hashed listing of the copy gives them with digests.
    EXPECT_EQ(copier.hashedEntries(t.copy, {}), entries);
    auto some = copier.hashedEntries(t.copy, {"a.txt", "sub/big.bin"});
    EXPECT_EQ(some.size(), entries.size() - 2);
    // Hashing entries already walked gives the same as walking again.
    EXPECT_EQ(copier.hashedEntries(t.copy, copier.walk(t.copy, FileCopier::SpecialFiles::skip),
                                   {"a.txt", "sub/big.bin"}),
              some);
}

// Another user's file readable only through its "others" bits gives a copy its owner
// can't open again; the copy is still flushed and the tree copied.
TEST(FileCopierTreeTest, ACopyItsOwnerCantReopenIsStillCopied) {
    if (!test::canDropPrivileges()) GTEST_SKIP() << "needs root to act as another user";
    test::TempDir dir;
    const std::string source = dir / "src";
    writeFile(source + "/sub/others-only.txt", "readable by others");
    ASSERT_EQ(::chmod((source + "/sub/others-only.txt").c_str(), 0004), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    const int status = test::runAsNobody([&] {
        try {
            FileCopier(kChunk).copyTree(source, dir / "copy", {});
            return 0;
        } catch (const std::exception&) {
            return 1;
        }
    });
    EXPECT_EQ(status, 0);
    struct stat copied {};
    ASSERT_EQ(::stat((dir / "copy/sub/others-only.txt").c_str(), &copied), 0);
    EXPECT_EQ(copied.st_mode & 07777, 0004u);
    EXPECT_EQ(readFile(dir / "copy/sub/others-only.txt"), "readable by others");
}

TEST(FileCopierTreeTest, VerifyCatchesEveryKindOfDifference) {
    Tree t;
    FileCopier copier(kChunk);
    auto entries = copier.copyTree(t.source, t.copy, nullptr);
    auto mismatchAt = [&](const std::string& expected) {
        try {
            copier.verify(t.copy, entries);
            ADD_FAILURE() << "verified";
        } catch (const EngineError& e) {
            EXPECT_EQ(e, EngineError::checksumMismatch(expected));
        }
    };
    // A flipped byte, same size.
    std::string big = readFile(t.copy + "/sub/big.bin");
    big[kChunk + 3] ^= 1;
    writeFile(t.copy + "/sub/big.bin", big);
    mismatchAt(t.copy + "/sub/big.bin");
    big[kChunk + 3] ^= 1;
    writeFile(t.copy + "/sub/big.bin", big);
    copier.verify(t.copy, entries);

    writeFile(t.copy + "/a.txt", "alphabet");
    mismatchAt(t.copy + "/a.txt");
    writeFile(t.copy + "/a.txt", "alpha");

    ::unlink((t.copy + "/link").c_str());
    ::symlink("elsewhere", (t.copy + "/link").c_str());
    mismatchAt(t.copy + "/link");
    ::unlink((t.copy + "/link").c_str());
    ::symlink("a.txt", (t.copy + "/link").c_str());

    ::unlink((t.copy + "/sub/deeper/c").c_str());
    mismatchAt(t.copy + "/sub/deeper/c");
    ::mkdir((t.copy + "/sub/deeper/c").c_str(), 0700);
    mismatchAt(t.copy + "/sub/deeper/c");

    copier.verify(t.copy, {});
}

TEST(FileCopierTreeTest, ChangesDuringTheCopyAreRefused) {
    {
        Tree t;  // a link re-pointed after the walk
        bool done = false;
        auto repoint = [&](int64_t) {
            if (done) return;
            done = true;
            ::unlink((t.source + "/link").c_str());
            ::symlink("empty", (t.source + "/link").c_str());
        };
        EXPECT_EQ(engineErrorOf([&] { FileCopier(kChunk).copyTree(t.source, t.copy, repoint); }),
                  EngineError::Kind::sourceChanged);
    }
    {
        Tree t;  // a file replaced by a folder of the same name
        bool done = false;
        auto replace = [&](int64_t) {
            if (done) return;
            done = true;
            ::unlink((t.source + "/sub/deeper/c").c_str());
            ::mkdir((t.source + "/sub/deeper/c").c_str(), 0700);
        };
        try {
            FileCopier(kChunk).copyTree(t.source, t.copy, replace);
            FAIL();
        } catch (const EngineError& e) {
            EXPECT_EQ(e, EngineError::unsupportedItem(t.source + "/sub/deeper/c"));
        }
    }
    {
        Tree t;  // an entry that vanished
        bool done = false;
        auto remove = [&](int64_t) {
            if (done) return;
            done = true;
            ::unlink((t.source + "/sub/deeper/c").c_str());
        };
        EXPECT_EQ(engineErrorOf([&] { FileCopier(kChunk).copyTree(t.source, t.copy, remove); }),
                  EngineError::Kind::sourceChanged);
    }
    {
        Tree t;  // cancelled in the middle of a file
        auto cancel = [&](int64_t done) {
            if (done > 5 + kChunk) throw CancellationError();
        };
        EXPECT_THROW(FileCopier(kChunk).copyTree(t.source, t.copy, cancel), CancellationError);
        // The partial copy is left for the caller, who can remove it whole.
        ASSERT_TRUE(FileStat::read(t.copy + "/sub/big.bin"));
        PathUtil::removeTree(t.copy);
        EXPECT_FALSE(FileStat::read(t.copy));
    }
}

// Each file of a tree is opened once and checked from the open descriptor: whatever
// took its name after the walk is refused as the check by name refused it, unread.
TEST(FileCopierTreeTest, AFileSwappedAfterTheWalkIsRefusedUnread) {
    const std::string swapped = "/sub/deeper/c";
    for (const std::string what : {"link", "pipe"}) {
        SCOPED_TRACE(what);
        Tree t;
        bool done = false;
        auto swap = [&](int64_t) {
            if (done) return;
            done = true;
            const std::string path = t.source + swapped;
            ::unlink(path.c_str());
            if (what == "link")
                ASSERT_EQ(::symlink("../a.txt", path.c_str()), 0);
            else
                ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);  // read, it would block the copy
        };
        try {
            FileCopier(kChunk).copyTree(t.source, t.copy, swap);
            FAIL();
        } catch (const EngineError& e) {
            EXPECT_EQ(e, EngineError::unsupportedItem(t.source + swapped));
        }
        EXPECT_FALSE(FileStat::read(t.copy + swapped));
    }
}

TEST(FileCopierTreeTest, WalkRefusesWhatCantBeCopiedSafely) {
    Tree t;
    FileCopier copier(kChunk);
    ASSERT_EQ(::mkfifo((t.source + "/sub/pipe").c_str(), 0600), 0);
    try {
        copier.copyTree(t.source, t.copy, nullptr);
        FAIL();
    } catch (const EngineError& e) {
        EXPECT_EQ(e, EngineError::unsupportedItem(t.source + "/sub/pipe"));
    }
    auto skipped = copier.walk(t.source, FileCopier::SpecialFiles::skip);
    for (const auto& e : skipped) EXPECT_NE(e.path, "sub/pipe");
    ::unlink((t.source + "/sub/pipe").c_str());

    // A name that is not UTF-8 can't be recorded.
    writeFile(t.source + "/bad\xff", "x");
    EXPECT_EQ(engineErrorOf([&] { copier.walk(t.source); }), EngineError::Kind::unsupportedItem);
    ::unlink((t.source + "/bad\xff").c_str());

    // A source that is not a folder.
    EXPECT_EQ(engineErrorOf([&] { copier.copyTree(t.source + "/a.txt", t.copy, nullptr); }),
              EngineError::Kind::unsupportedItem);
}

TEST(FileCopierTreeTest, AFolderThatCantBeReadIsAnErrorNotAnEmptyFolder) {
    Tree t;
    ::chmod(t.dir.path().c_str(), 0755);
    ::chmod(t.source.c_str(), 0755);
    ::chmod((t.source + "/sub").c_str(), 0);
    // Permissions bind only an unprivileged user: walk as nobody in a child process.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
        try {
            FileCopier(kChunk).walk(t.source);
        } catch (const POSIXFailure& e) {
            ::_exit(e.operation() == "opendir" && e.code() == EACCES ? 0 : 3);
        } catch (...) {
            ::_exit(4);
        }
        ::_exit(5);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::chmod((t.source + "/sub").c_str(), 0700);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(FileCopierTreeTest, AMountInsideTheTreeIsAnotherDisk) {
    Tree t;
    ScopedMount inner("tmpfs", t.source + "/hollow", "size=64k");
    if (!inner.mounted()) GTEST_SKIP() << "needs to mount a tmpfs (root)";
    writeFile(t.source + "/hollow/inside", "x");
    try {
        FileCopier(kChunk).walk(t.source);
        FAIL();
    } catch (const EngineError& e) {
        EXPECT_EQ(e, EngineError::notEligible(t.source, "\u201Chollow\u201D: On another disk"));
    }
}

TEST(FileCopierTreeTest, AnExistingDestinationIsNeverMergedInto) {
    Tree t;
    test::makeDirs(t.copy);
    try {
        FileCopier(kChunk).copyTree(t.source, t.copy, nullptr);
        FAIL();
    } catch (const POSIXFailure& e) {
        EXPECT_EQ(e.operation(), "mkdir");
        EXPECT_EQ(e.code(), EEXIST);
    }
}

// ---- what already lies on the drive

TEST(FileCopierDriveTest, HoldsOnlyPartsOf) {
    Tree t;
    FileCopier copier(kChunk);
    std::string root = t.dir / "drive";
    std::string item = root + "/Keldwick/m/src";
    test::makeDirs(item);
    EXPECT_TRUE(copier.holdsOnlyPartsOf(t.source, item, root));  // empty drive folder

    writeFile(item + "/a.txt", "alpha");
    writeFile(item + "/sub/deeper/c", "c");
    ::symlink("a.txt", (item + "/link").c_str());
    EXPECT_TRUE(copier.holdsOnlyPartsOf(t.source, item, root));  // a partial copy

    writeFile(item + "/sub/deeper/c", "d");
    EXPECT_FALSE(copier.holdsOnlyPartsOf(t.source, item, root));  // same size, other bytes
    // A dry run compares sizes only and hashes nothing.
    EXPECT_TRUE(copier.holdsOnlyPartsOf(t.source, item, root, FileCopier::Compare::sizes));
    writeFile(item + "/sub/deeper/c", "c");

    writeFile(item + "/extra", "e");
    EXPECT_FALSE(copier.holdsOnlyPartsOf(t.source, item, root));
    // "._extra" beside "extra" is a sidecar only on drives without native metadata.
    ::unlink((item + "/extra").c_str());
    writeFile(item + "/._a.txt", "sidecar");
    EXPECT_FALSE(copier.holdsOnlyPartsOf(t.source, item, root));
    ::unlink((item + "/._a.txt").c_str());

    // Files: equal bytes; a drive file where the original is a folder never counts.
    writeFile(root + "/f", "alpha");
    EXPECT_TRUE(copier.holdsOnlyPartsOf(t.source + "/a.txt", root + "/f", root));
    EXPECT_FALSE(copier.holdsOnlyPartsOf(t.source, root + "/f", root));
    EXPECT_FALSE(copier.holdsOnlyPartsOf(t.source + "/missing", item, root));

    // Nothing outside the drive's root, or reached through a link on the drive, counts.
    EXPECT_FALSE(copier.holdsOnlyPartsOf(t.source, root + "/../src", root));
    ::symlink(t.source.c_str(), (root + "/Keldwick/m/linked").c_str());
    EXPECT_FALSE(copier.holdsOnlyPartsOf(t.source, root + "/Keldwick/m/linked/sub", root));
}

TEST(FileCopierDriveTest, SidecarsCountOnlyBesideTheirCompanion) {
    test::TempDir dir;
    std::vector<TreeEntry> entries{
        {"a.txt", TreeEntry::Kind::file, 1, std::nullopt, std::nullopt},
        {"._a.txt", TreeEntry::Kind::file, 1, std::nullopt, std::nullopt},
        {"._lonely", TreeEntry::Kind::file, 1, std::nullopt, std::nullopt},
        {"sub", TreeEntry::Kind::directory, 0, std::nullopt, std::nullopt},
        {"sub/._sub", TreeEntry::Kind::file, 1, std::nullopt, std::nullopt},
        {"sub/x", TreeEntry::Kind::symlink, 0, std::nullopt, "y"},
        {"sub/._x", TreeEntry::Kind::file, 1, std::nullopt, std::nullopt},
        {"._sub", TreeEntry::Kind::directory, 0, std::nullopt, std::nullopt},
    };
    EXPECT_EQ(FileCopier::sidecarsAmong(entries), (std::set<std::string>{"._a.txt", "sub/._x"}));
    // This machine's test folders keep metadata natively: no sidecars.
    EXPECT_TRUE(FileCopier().sidecarPaths(entries, dir.path()).empty());
}

namespace {

// A drive whose modes come from its mount, as FAT and exFAT answer: set-ID and sticky
// bits and other owners refused with EPERM, every other change taken silently and not
// kept. `foreign` false plays the same refusals on a file system that keeps modes.
class MountModesCalls final : public platform::FileSystemCalls {
public:
    explicit MountModesCalls(bool foreign) : foreign_(foreign) {}

    int fchmod(int fd, mode_t mode) override {
        if ((mode & 07000) != 0) return refuse();
        return foreign_ ? 0 : FileSystemCalls::fchmod(fd, mode);
    }
    int fchown(int fd, uid_t owner, gid_t group) override {
        if (owner != ::geteuid() || group != ::getegid()) return refuse();
        return foreign_ ? 0 : FileSystemCalls::fchown(fd, owner, group);
    }
    int fstatfs(int fd, struct statfs* into) override {
        const int result = FileSystemCalls::fstatfs(fd, into);
        if (result == 0 && foreign_) into->f_type = EXFAT_SUPER_MAGIC;
        return result;
    }

private:
    static int refuse() {
        errno = EPERM;
        return -1;
    }
    bool foreign_;
};

}  // namespace

TEST(FileCopierModesTest, ModesAndOwnersTheDriveRefusesFailTheCopyOnlyWhereItKeepsModes) {
    test::TempDir dir;
    const std::string source = dir / "Group";
    writeFile(source + "/shared/tool", "#!/bin/sh\n");
    writeFile(source + "/plain.txt", "text");
    ASSERT_EQ(::chmod((source + "/shared/tool").c_str(), 04755), 0);
    ASSERT_EQ(::chmod((source + "/shared").c_str(), 01777), 0);
    ASSERT_EQ(::chmod(source.c_str(), 02775), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown((source + "/plain.txt").c_str(), 65534, 65534), 0);
    }

    {
        MountModesCalls exfat(true);
        platform::ScopedFileSystemCalls installed(exfat);
        FileCopier copier(kChunk);
        EXPECT_NO_THROW(copier.copyTree(source, dir / "on-exfat", nullptr));
        EXPECT_NO_THROW(copier.copyFile(source + "/shared/tool", dir / "tool-on-exfat", true, nullptr));
    }
    EXPECT_EQ(readFile(dir / "on-exfat/shared/tool"), "#!/bin/sh\n");

    MountModesCalls ext4(false);
    platform::ScopedFileSystemCalls installed(ext4);
    FileCopier copier(kChunk);
    EXPECT_THROW(copier.copyTree(source, dir / "on-ext4", nullptr), POSIXFailure);
    EXPECT_THROW(copier.copyFile(source + "/shared/tool", dir / "tool-on-ext4", true, nullptr), POSIXFailure);
}

// Folders dated long ago, read before they were changed: a listing under relatime would
// date them now.
TEST(FileCopierTimesTest, WalksAndCopiesLeaveFoldersAccessTimesAndCopiesKeepThem) {
    test::TempDir dir;
    const std::string source = dir / "Pictures";
    writeFile(source + "/set1/a.jpg", "first");
    writeFile(source + "/b.jpg", "second");
    const struct timespec times[2] = {{1'700'000'000, 11}, {1'750'000'000, 22}};
    for (const std::string& folder : {source + "/set1", source})
        ASSERT_EQ(::utimensat(AT_FDCWD, folder.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);

    FileCopier copier(kChunk);
    copier.walk(source);
    copier.copyTree(source, dir / "copy", nullptr);
    for (const char* relative : {"/set1", ""}) {
        EXPECT_EQ(FileStat::read(source + relative)->accessTime, (Timespec{1'700'000'000, 11})) << relative;
        const auto copied = *FileStat::read(dir / "copy" + relative);
        EXPECT_EQ(copied.accessTime, (Timespec{1'700'000'000, 11})) << relative;
        EXPECT_EQ(copied.modificationTime, (Timespec{1'750'000'000, 22})) << relative;
    }
}

namespace {

// Clones refused, or counted: what a volume that can't share blocks answers.
class CloneCalls final : public platform::FileSystemCalls {
public:
    bool refuse = true;
    int clones = 0;
    int cloneFile(int destination, int source) override {
        ++clones;
        if (!refuse) return platform::FileSystemCalls::cloneFile(destination, source);
        errno = EOPNOTSUPP;
        return -1;
    }
};

}  // namespace

// Files expected to repeat an earlier content are hashed first: a clone is tried only
// where the content read matches, and a refused one is written as any other file.
TEST(FileCopierTreeTest, FilesOfAContentAlreadyCopiedAreClonedOrWrittenWhereTheVolumeCant) {
    test::TempDir dir;
    const std::string source = dir / "Footage";
    writeFile(source + "/a.mov", std::string(50'000, 'a'));
    writeFile(source + "/b.mov", std::string(50'000, 'a'));
    writeFile(source + "/c.mov", std::string(50'000, 'c'));
    writeFile(source + "/d.mov", std::string(50'000, 'a'));
    const std::string same = Checksum::sha256(std::string(50'000, 'a'));
    CloneCalls calls;
    platform::ScopedFileSystemCalls scoped(calls);
    FileCopier copier(4096);
    // "c" was expected to repeat "a" but doesn't any more.
    copier.cloneCandidates = {{"b.mov", same}, {"c.mov", same}, {"d.mov", same}};

    const auto entries = copier.copyTree(source, dir / "copy", {});

    ASSERT_EQ(entries.size(), 4u);
    for (const char* name : {"a.mov", "b.mov", "d.mov"})
        EXPECT_EQ(readFile(dir / "copy" + "/" + name), std::string(50'000, 'a')) << name;
    EXPECT_EQ(readFile(dir / "copy/c.mov"), std::string(50'000, 'c'));
    EXPECT_EQ(entries[2].sha256, Checksum::sha256(std::string(50'000, 'c')));
    EXPECT_EQ(calls.clones, 1) << "one refusal is enough to know the volume can't";
    copier.verify(dir / "copy", entries);

    // Counted as clones, the written ones may take no more than the allowance.
    copier.cloneAllowance = 60'000;
    try {
        copier.copyTree(source, dir / "again", {});
        ADD_FAILURE() << "copied";
    } catch (const EngineError& error) {
        EXPECT_EQ(error, EngineError::notEnoughSpaceOnComputer(100'000, 60'000));
    }
}
