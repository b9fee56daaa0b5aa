#include "foundation/FileOps.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

#include "foundation/FileStat.h"
#include "platform/InodeFlags.h"
#include "platform/POSIXFailure.h"
#include "platform/Rename.h"
#include "platform/Statx.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

using namespace keldwick;
using keldwick::test::TempDir;

namespace {
uint64_t inodeOf(const std::string& path) { return FileStat::read(path).value().inode; }
}  // namespace

TEST(TemporaryNameTest, CutsNamesToWholeCharactersWithin180Bytes) {
    EXPECT_EQ(truncatedToUTF8Bytes(std::string(200, 'a'), 180), std::string(180, 'a'));
    std::string twoByte;
    for (int i = 0; i < 100; ++i) twoByte += "\xC3\xA9";  // é
    EXPECT_EQ(truncatedToUTF8Bytes(twoByte, 180).size(), 180u);
    // 179 letters, then "e" + combining acute (3 bytes): the cluster would cross 180.
    std::string straddling = std::string(179, 'a') + "e\xCC\x81" + "z";
    EXPECT_EQ(truncatedToUTF8Bytes(straddling, 180), std::string(179, 'a'));
    EXPECT_EQ(truncatedToUTF8Bytes("short", 180), "short");
}

TEST(TemporaryNameTest, BuildsAndRecognisesTemporaryNames) {
    EXPECT_EQ(temporaryPath("/x/name", TemporaryKind::trash, 7), "/x/.name.keldwick-trash-7");
    EXPECT_EQ(temporaryPath("/Users/a/Movies/Trip.mov", TemporaryKind::link, 42),
              "/Users/a/Movies/.Trip.mov.keldwick-link-42");
    EXPECT_EQ(temporaryPath("/x/f/", TemporaryKind::partial, -3), "/x/.f.keldwick-partial--3");
    EXPECT_EQ(temporaryPath("/x/" + std::string(250, 'n'), TemporaryKind::restore, 1),
              "/x/." + std::string(180, 'n') + ".keldwick-restore-1");

    EXPECT_TRUE(isTemporaryName(".report.pdf.keldwick-partial-3"));
    EXPECT_TRUE(isTemporaryName(".a.keldwick-restore-9"));
    EXPECT_FALSE(isTemporaryName("report.pdf.keldwick-partial-3"));
    EXPECT_FALSE(isTemporaryName(".report.keldwick-backup-3"));
    EXPECT_FALSE(isTemporaryName(".report.KELDWICK-partial-3"));
    EXPECT_FALSE(isTemporaryName(".report.keldwick-partial"));
    EXPECT_EQ(std::string(toString(TemporaryKind::restore)), "restore");
}

TEST(TimespecTest, FloorsSecondsAndKeepsNanosecondsPositive) {
    EXPECT_EQ(keldwick::timespec(Date{-1.5}), (Timespec{-2, 500000000}));
    EXPECT_EQ(keldwick::timespec(Date{1.25}), (Timespec{1, 250000000}));
    EXPECT_EQ(keldwick::timespec(Date{0}), (Timespec{0, 0}));
    EXPECT_EQ(keldwick::timespec(Date{std::nan("")}), (Timespec{0, 0}));
    EXPECT_EQ(keldwick::timespec(Date{1e300}).seconds, INT64_MAX);
    Timespec t = keldwick::timespec(Date{1700000000.999999});
    EXPECT_EQ(t.seconds, 1700000000);
    EXPECT_GE(t.nanoseconds, 999990000);
    EXPECT_LE(t.nanoseconds, 999999999);
}

class FileOpsTest : public ::testing::Test {
protected:
    TempDir tmp;
};

TEST_F(FileOpsTest, ListsByBytesAndCollectsDepthFirstWithoutFollowingLinks) {
    for (const char* name : {"b", "a", "B", ".hidden"}) test::writeFile(tmp / ("list/" + std::string(name)), "");
    EXPECT_EQ(listDirectory(tmp / "list"), (std::vector<std::string>{".hidden", "B", "a", "b"}));
    // Names are bytes: one that isn't UTF-8 comes back unchanged, so it still names the file,
    // and byte order puts the non-ASCII bytes last.
    std::string raw = "caf\xE9";
    test::writeFile(tmp / ("list/" + raw), "");
    EXPECT_EQ(listDirectory(tmp / "list").back(), raw);
    EXPECT_TRUE(FileStat::read(tmp / ("list/" + listDirectory(tmp / "list").back())));

    test::writeFile(tmp / "root/f/x", "");
    test::writeFile(tmp / "root/g", "");
    test::writeFile(tmp / "elsewhere/inside", "");
    ASSERT_EQ(symlink((tmp / "elsewhere").c_str(), (tmp / "root/link").c_str()), 0);
    std::vector<std::string> found;
    collectRelativePaths("", tmp / "root", found);
    EXPECT_EQ(found, (std::vector<std::string>{"f", "f/x", "g", "link"}));

    std::vector<std::string> sub;
    collectRelativePaths("f", tmp / "root", sub);
    EXPECT_EQ(sub, (std::vector<std::string>{"f/x"}));
}

TEST_F(FileOpsTest, ListingFailuresThrowButCollectingTreatsThemAsEmpty) {
    try {
        listDirectory(tmp / "missing");
        FAIL();
    } catch (const POSIXFailure& failure) {
        EXPECT_EQ(failure.operation(), "opendir");
        EXPECT_EQ(failure.code(), ENOENT);
    }
    std::vector<std::string> found;
    collectRelativePaths("", tmp / "missing", found);
    EXPECT_TRUE(found.empty());

    if (!test::canDropPrivileges()) GTEST_SKIP() << "needs root to act as another user";
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    test::writeFile(tmp / "t/closed/secret", "");
    test::writeFile(tmp / "t/open", "");
    ASSERT_EQ(chmod((tmp / "t/closed").c_str(), 0700), 0);  // root's, unreadable to nobody
    std::string root = tmp / "t";
    int status = test::runAsNobody([&] {
        std::vector<std::string> seen;
        collectRelativePaths("", root, seen);
        return seen == std::vector<std::string>{"closed", "open"} ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(FileOpsTest, AReadErrorIsNeverTakenForTheEndOfTheFolder) {
    test::writeFile(tmp / "dir/a", "");
    int fd = open((tmp / "dir").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(listDirectoryAt(fd, tmp / "dir"), (std::vector<std::string>{"a"}));
    EXPECT_EQ(listDirectoryAt(fd, tmp / "dir"), (std::vector<std::string>{"a"}));  // read again from the start
    close(fd);

    // A descriptor that can be opened as a folder stream but not read: every read fails
    // (EBADF), which must surface instead of passing for an empty folder.
    int pathOnly = open((tmp / "dir").c_str(), O_PATH | O_DIRECTORY);
    ASSERT_GE(pathOnly, 0);
    try {
        listDirectoryAt(pathOnly, tmp / "dir");
        ADD_FAILURE() << "a failed read passed for an empty folder";
    } catch (const POSIXFailure& failure) {
        EXPECT_EQ(failure.operation(), "readdir");
        EXPECT_EQ(failure.code(), EBADF);
    }
    close(pathOnly);
}

TEST_F(FileOpsTest, CreatesFolderChainsAndRefusesFiles) {
    createDirectory(tmp / "a/b/c");
    EXPECT_TRUE(FileStat::read(tmp / "a/b/c")->isDirectory());
    EXPECT_NO_THROW(createDirectory(tmp / "a/b/c"));
    ASSERT_EQ(symlink((tmp / "a").c_str(), (tmp / "link").c_str()), 0);
    EXPECT_NO_THROW(createDirectory(tmp / "link/b/d"));  // links in the way are followed
    EXPECT_TRUE(FileStat::read(tmp / "a/b/d")->isDirectory());
    test::writeFile(tmp / "file", "");
    EXPECT_THROW(createDirectory(tmp / "file"), POSIXFailure);
    try {
        createDirectory(tmp / "file/sub");
        FAIL();
    } catch (const POSIXFailure& failure) {
        EXPECT_EQ(failure.operation(), "mkdir");
        EXPECT_EQ(failure.code(), ENOTDIR);
    }
}

TEST_F(FileOpsTest, ReadsWholeLinkTargetsOfAnyLength) {
    std::string exact(1024, 't');
    std::string longer = "/" + std::string(250, 'a') + "/" + std::string(250, 'b') + "/" + std::string(3000, 'c');
    ASSERT_EQ(symlink(exact.c_str(), (tmp / "exact").c_str()), 0);
    ASSERT_EQ(symlink(longer.c_str(), (tmp / "long").c_str()), 0);
    EXPECT_EQ(readLink(tmp / "exact"), exact);
    EXPECT_EQ(readLink(tmp / "long"), longer);
    std::string odd = "caf\xE9 \xFF";  // not UTF-8: kept byte for byte
    ASSERT_EQ(symlink(odd.c_str(), (tmp / "odd").c_str()), 0);
    EXPECT_EQ(readLink(tmp / "odd"), odd);
    test::writeFile(tmp / "plain", "");
    EXPECT_FALSE(readLink(tmp / "plain"));
    EXPECT_FALSE(readLink(tmp / "missing"));
}

TEST_F(FileOpsTest, ExclusiveRenameNeverReplaces) {
    for (bool supported : {true, false}) {
        SCOPED_TRACE(supported ? "renameat2" : "fallback");
        platform::ScopedRenameSupport support({supported, true});
        test::writeFile(tmp / "from", "new");
        test::writeFile(tmp / "to", "old");
        try {
            renameExclusive(tmp / "from", tmp / "to");
            FAIL();
        } catch (const POSIXFailure& failure) {
            EXPECT_EQ(failure.operation(), "rename");
            EXPECT_EQ(failure.code(), EEXIST);
            EXPECT_EQ(failure.path(), tmp / "from" + " → " + tmp / "to");
        }
        EXPECT_EQ(test::readFile(tmp / "to"), "old");
        EXPECT_EQ(test::readFile(tmp / "from"), "new");
        renameExclusive(tmp / "from", tmp / "fresh");
        EXPECT_EQ(test::readFile(tmp / "fresh"), "new");
        unlink((tmp / "fresh").c_str());
        unlink((tmp / "to").c_str());
    }
    EXPECT_THROW(renameItem(tmp / "missing", tmp / "x"), POSIXFailure);
}

TEST_F(FileOpsTest, SwapExchangesItemsOrReportsUnsupported) {
    test::writeFile(tmp / "folder/inside", "f");
    ASSERT_EQ(symlink("/elsewhere", (tmp / "link").c_str()), 0);
    uint64_t folder = inodeOf(tmp / "folder"), link = inodeOf(tmp / "link");

    {
        platform::ScopedRenameSupport support({true, false});
        EXPECT_FALSE(swapItems(tmp / "folder", tmp / "link"));
        EXPECT_EQ(inodeOf(tmp / "folder"), folder);
        EXPECT_EQ(inodeOf(tmp / "link"), link);
    }
    EXPECT_TRUE(swapItems(tmp / "folder", tmp / "link"));
    EXPECT_EQ(inodeOf(tmp / "folder"), link);
    EXPECT_EQ(inodeOf(tmp / "link"), folder);
    EXPECT_EQ(readLink(tmp / "folder"), "/elsewhere");
    EXPECT_EQ(test::readFile(tmp / "link/inside"), "f");

    try {
        swapItems(tmp / "folder", tmp / "missing");
        FAIL();
    } catch (const POSIXFailure& failure) {
        EXPECT_EQ(failure.operation(), "swap");
        EXPECT_EQ(failure.code(), ENOENT);
        EXPECT_EQ(failure.path(), tmp / "folder" + " ⇄ " + tmp / "missing");
    }
}

TEST_F(FileOpsTest, RemovesEmptyParentsUpToButNeverTheTop) {
    test::makeDirs(tmp / "T/a/b/c");
    test::writeFile(tmp / "T/a/other", "");
    removeEmptyParents(tmp / "T/a/b/c", tmp / "T");
    EXPECT_FALSE(FileStat::read(tmp / "T/a/b"));
    EXPECT_TRUE(FileStat::read(tmp / "T/a"));

    unlink((tmp / "T/a/other").c_str());
    removeEmptyParents(tmp / "T/a", tmp / "T/");
    EXPECT_FALSE(FileStat::read(tmp / "T/a"));
    EXPECT_TRUE(FileStat::read(tmp / "T"));
    removeEmptyParents(tmp / "T/", tmp / "T");  // the top in another spelling
    removeEmptyParents(tmp / "T", tmp / "T");
    EXPECT_TRUE(FileStat::read(tmp / "T"));

    test::makeDirs(tmp / "outside");
    removeEmptyParents(tmp / "outside", tmp / "T");
    EXPECT_TRUE(FileStat::read(tmp / "outside"));
}

TEST_F(FileOpsTest, ClearsAndRestoresOnlyTheLockBits) {
    std::string file = test::writeFile(tmp / "f", "x");
    EXPECT_EQ(clearLockFlags(file), 0u);
    EXPECT_EQ(clearLockFlags(tmp / "missing"), 0u);
    if (platform::changeLockBits(AT_FDCWD, file.c_str(), platform::kSystemImmutable, 0) != 0) {
        GTEST_SKIP() << "this file system or process can't set the immutable attribute";
    }
    EXPECT_TRUE(FileStat::read(file)->isLocked());
    EXPECT_EQ(clearLockFlags(file), platform::kSystemImmutable);
    EXPECT_FALSE(FileStat::read(file)->isLocked());
    EXPECT_EQ(unlink(file.c_str()), 0) << "still immutable";
    test::writeFile(file, "x");
    restoreLockFlags(file, platform::kSystemImmutable | platform::kSystemAppend);
    EXPECT_EQ(FileStat::read(file)->flags, platform::kSystemImmutable | platform::kSystemAppend);
    EXPECT_NE(unlink(file.c_str()), 0);
    EXPECT_EQ(clearLockFlags(file), platform::kSystemImmutable | platform::kSystemAppend);
    EXPECT_EQ(FileStat::read(file)->flags, 0u);
}
