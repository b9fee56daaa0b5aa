#include "foundation/PathUtil.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/InodeFlags.h"
#include "platform/POSIXFailure.h"
#include "platform/Statx.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

using namespace keldwick;
using keldwick::test::TempDir;

TEST(PathUtilTest, PureFunctionsFollowThePathRules) {
    EXPECT_EQ(PathUtil::join("/a/", "b"), "/a/b");
    EXPECT_EQ(PathUtil::join("/a", "b"), "/a/b");
    EXPECT_EQ(PathUtil::join("/a", ""), "/a");
    EXPECT_EQ(PathUtil::join("", "b"), "/b");
    EXPECT_EQ(PathUtil::join("/a", "/b"), "/a//b");

    EXPECT_EQ(PathUtil::name("/a/b/"), "b");
    EXPECT_EQ(PathUtil::name("/a/b"), "b");
    EXPECT_EQ(PathUtil::name("/"), "/");
    EXPECT_EQ(PathUtil::name("//"), "/");
    EXPECT_EQ(PathUtil::name("b"), "b");
    EXPECT_EQ(PathUtil::name(""), "");

    EXPECT_EQ(PathUtil::parent("/a/b"), "/a");
    EXPECT_EQ(PathUtil::parent("/a/b/"), "/a");
    EXPECT_EQ(PathUtil::parent("/a//b"), "/a");
    EXPECT_EQ(PathUtil::parent("/a"), "/");
    EXPECT_EQ(PathUtil::parent("/"), "/");
    EXPECT_EQ(PathUtil::parent("b"), "");
    EXPECT_EQ(PathUtil::parent("a/b"), "a");
}

TEST(PathUtilTest, InsideIsAByteTestOnWholeComponents) {
    EXPECT_TRUE(PathUtil::isInside("/a/b", "/a/b"));
    EXPECT_TRUE(PathUtil::isInside("/a/b/c", "/a/b/"));
    EXPECT_TRUE(PathUtil::isInside("/a/b/c", "/a/b"));
    EXPECT_FALSE(PathUtil::isInside("/a/bc", "/a/b"));
    EXPECT_FALSE(PathUtil::isInside("/a/b", "/a/b/"));  // pure string test, pinned
    EXPECT_TRUE(PathUtil::isInside("/anything", "/"));
    // Two spellings of one name are two files on Linux: NFC "é" is not NFD "é".
    EXPECT_FALSE(PathUtil::isInside("/caf\xC3\xA9/x", "/cafe\xCC\x81"));

    EXPECT_TRUE(PathUtil::isInsideIgnoringCase("/Users/X/Docs", "/users/x"));
    EXPECT_FALSE(PathUtil::isInside("/Users/X/Docs", "/users/x"));
    EXPECT_TRUE(PathUtil::isInsideIgnoringCase("/\xC3\x89T\xC3\x89/a", "/\xC3\xA9t\xC3\xA9"));  // ÉTÉ vs été
    EXPECT_FALSE(PathUtil::isInsideIgnoringCase("/Usersx", "/users"));
}

TEST(PathUtilTest, CanonicalResolvesLinksAndFailsOnMissing) {
    TempDir tmp;
    test::makeDirs(tmp / "real/sub");
    ASSERT_EQ(symlink((tmp / "real").c_str(), (tmp / "link").c_str()), 0);
    auto root = PathUtil::canonical(tmp.path());
    ASSERT_TRUE(root);
    EXPECT_EQ(PathUtil::canonical(tmp / "link/sub/.."), *root + "/real");
    EXPECT_FALSE(PathUtil::canonical(tmp / "missing"));
}

class RemoveTreeTest : public ::testing::Test {
protected:
    TempDir tmp;
};

TEST_F(RemoveTreeTest, RemovesNestedTreesAndAcceptsMissingPaths) {
    test::writeFile(tmp / "t/not-utf8-\xFF/x", "");
    EXPECT_NO_THROW(PathUtil::removeTree(tmp / "missing"));
    EXPECT_NO_THROW(PathUtil::removeTree(tmp / "missing/deeper"));
    test::writeFile(tmp / "t/a/b/c.txt", "x");
    test::writeFile(tmp / "t/.hidden", "y");
    ASSERT_EQ(mkfifo((tmp / "t/a/fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/nonexistent", (tmp / "t/a/dangling").c_str()), 0);
    ASSERT_EQ(chmod((tmp / "t/a/b").c_str(), 0500), 0);
    PathUtil::removeTree(tmp / "t/");
    EXPECT_NE(access((tmp / "t").c_str(), F_OK), 0);
}

TEST_F(RemoveTreeTest, RemovesALinkAndLeavesItsTargetAlone) {
    test::writeFile(tmp / "target/keep.txt", "keep");
    test::makeDirs(tmp / "tree");
    ASSERT_EQ(symlink((tmp / "target").c_str(), (tmp / "tree/link").c_str()), 0);
    ASSERT_EQ(symlink((tmp / "target").c_str(), (tmp / "toplink").c_str()), 0);

    PathUtil::removeTree(tmp / "toplink/");  // a trailing slash must not resolve the link
    PathUtil::removeTree(tmp / "tree");
    EXPECT_NE(access((tmp / "toplink").c_str(), F_OK), 0);
    EXPECT_NE(access((tmp / "tree").c_str(), F_OK), 0);
    EXPECT_EQ(test::readFile(tmp / "target/keep.txt"), "keep");
}

TEST_F(RemoveTreeTest, RemovesLockedFiles) {
    test::writeFile(tmp / "t/locked", "x");
    test::writeFile(tmp / "t/sub/appendonly", "y");
    test::writeFile(tmp / "t/frozen/inside", "z");
    if (platform::changeLockBits(AT_FDCWD, (tmp / "t/locked").c_str(), platform::kSystemImmutable, 0) != 0 ||
        platform::changeLockBits(AT_FDCWD, (tmp / "t/sub/appendonly").c_str(), platform::kSystemAppend, 0) != 0 ||
        platform::changeLockBits(AT_FDCWD, (tmp / "t/frozen").c_str(), platform::kSystemImmutable, 0) != 0) {
        GTEST_SKIP() << "this file system or process can't set the immutable and append attributes";
    }
    PathUtil::removeTree(tmp / "t");
    EXPECT_NE(access((tmp / "t").c_str(), F_OK), 0);
}

TEST_F(RemoveTreeTest, MakesUnreadableFoldersOfTheOwnerRemovable) {
    if (!test::canDropPrivileges()) GTEST_SKIP() << "needs root to act as another user";
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    test::writeFile(tmp / "t/x/closed/inner/file", "x");
    test::writeFile(tmp / "t/x/readonly/file", "y");
    test::chownTree(tmp / "t");
    ASSERT_EQ(chmod((tmp / "t/x/closed/inner").c_str(), 0000), 0);
    ASSERT_EQ(chmod((tmp / "t/x/closed").c_str(), 0000), 0);
    ASSERT_EQ(chmod((tmp / "t/x/readonly").c_str(), 0500), 0);
    ASSERT_EQ(chmod((tmp / "t/x").c_str(), 0000), 0);
    std::string path = tmp / "t/x";
    int status = test::runAsNobody([&] {
        PathUtil::removeTree(path);
        return access(path.c_str(), F_OK) != 0 ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(RemoveTreeTest, StopsWithOpendirWhenAFolderCannotBeOpened) {
    if (!test::canDropPrivileges()) GTEST_SKIP() << "needs root to act as another user";
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    test::writeFile(tmp / "t/foreign/file", "x");
    test::chownTree(tmp / "t");
    ASSERT_EQ(chown((tmp / "t/foreign").c_str(), 0, 0), 0);  // not ours: chmod can't help
    ASSERT_EQ(chmod((tmp / "t/foreign").c_str(), 0000), 0);
    std::string path = tmp / "t";
    std::string expected = tmp / "t/foreign";
    int status = test::runAsNobody([&] {
        try {
            PathUtil::removeTree(path);
        } catch (const POSIXFailure& failure) {
            return failure.operation() == "opendir" && failure.path() == expected && failure.code() == EACCES ? 0 : 2;
        }
        return 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(test::readFile(tmp / "t/foreign/file"), "x");
}

TEST_F(RemoveTreeTest, NeverDescendsIntoAnotherMount) {
    test::makeDirs(tmp / "t/mnt");
    test::writeFile(tmp / "t/before", "x");
    if (mount("keldwick-test", (tmp / "t/mnt").c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "can't mount a tmpfs here";
    }
    test::writeFile(tmp / "t/mnt/other", "theirs");
    try {
        PathUtil::removeTree(tmp / "t");
        ADD_FAILURE() << "removed a mount point";
    } catch (const POSIXFailure& failure) {
        EXPECT_EQ(failure.operation(), "rmdir");
        EXPECT_EQ(failure.path(), tmp / "t/mnt");
        EXPECT_EQ(failure.code(), EBUSY);
    }
    EXPECT_EQ(test::readFile(tmp / "t/mnt/other"), "theirs");
    umount2((tmp / "t/mnt").c_str(), MNT_DETACH);
}

// What is read from a drive must be clean before any of it names a file: whole UTF-8
// components, none empty, "." or "..", no NUL.
TEST(PathUtilTest, DrivePathsAreCleanOnlyAsWholeComponentsOfValidText) {
    struct Case {
        std::string path;
        bool absolute;
        bool relative;
    };
    const std::vector<Case> cases = {
        {"/Users/a/b", true, false},    {"Keldwick/a b", false, true}, {"/caf\xc3\xa9", true, false},
        {"/", false, false},            {"", false, false},            {"/a//b", false, false},
        {"a/./b", false, false},        {"a/../b", false, false},      {"/a/", false, false},
        {"..", false, false},           {std::string("a\0b", 3), false, false},
        {"a/\xff" "b", false, false},   {"/\xc3", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PathUtil::isCleanAbsolute(c.path), c.absolute) << c.path;
        EXPECT_EQ(PathUtil::isCleanRelative(c.path), c.relative) << c.path;
    }
    EXPECT_EQ(PathUtil::withoutTrailingSlashes("/a/b//"), "/a/b");
    EXPECT_EQ(PathUtil::withoutTrailingSlashes("///"), "/");
    EXPECT_EQ(PathUtil::withoutTrailingSlashes("a"), "a");
    EXPECT_EQ(PathUtil::withoutTrailingSlashes(""), "");
}
