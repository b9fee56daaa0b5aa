#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "foundation/Clock.h"
#include "foundation/FileStat.h"
#include "scanning/WholeFolderInspector.h"
#include "support/TempDir.h"

using namespace keldwick;

namespace {

using Result = WholeFolderInspector::Result;

void symlinkAt(const std::string& target, const std::string& path) { ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0); }
void fifoAt(const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }

int64_t ownSize(const std::string& path) {
    auto stat = FileStat::read(path);
    return ExtraStat::read(path).privateSize.value_or(stat->allocatedSize);
}

// Far enough ahead that nothing made by the test counts as too recent.
Date later() { return Clock::system()->now().adding(3600); }

}  // namespace

TEST(WholeFolderInspectorTest, EmptyFolderTakesItsOwnDates) {
    test::TempDir dir;
    test::makeDirs(dir / "empty");
    WholeFolderInspector inspector;
    auto result = inspector.inspect(dir / "empty");
    ASSERT_EQ(result.kind, Result::Kind::movable);
    EXPECT_EQ(result.summary.size, 0);
    EXPECT_EQ(result.summary.driveSize, 0);
    EXPECT_EQ(result.summary.fileCount, 0);
    EXPECT_EQ(result.summary.lastUsed, *ExtraStat::read(dir / "empty").added);
    EXPECT_EQ(result.summary.source, LastUsedSource::addedDate);

    inspector.alsoUsed = later();
    result = inspector.inspect(dir / "empty");
    EXPECT_EQ(result.summary.lastUsed, *inspector.alsoUsed);
    EXPECT_EQ(result.summary.source, LastUsedSource::modificationDate);

    // Already past the stop date at the root: no walk at all.
    test::makeDirs(dir / "root-recent");
    fifoAt(dir / "root-recent/pipe");
    inspector.stopIfUsedAfter = Clock::system()->now().adding(-60);
    EXPECT_EQ(inspector.inspect(dir / "root-recent"), Result::usedRecently());
}

TEST(WholeFolderInspectorTest, CountsSizesDatesAndHardLinksOnce) {
    test::TempDir dir;
    std::string root = dir / "project";
    test::writeFile(root + "/a.bin", std::string(10'000, 'a'));
    test::writeFile(root + "/sub/b.bin", std::string(5'000, 'b'));
    ASSERT_EQ(::link((root + "/a.bin").c_str(), (root + "/sub/a-link.bin").c_str()), 0);
    symlinkAt("../a.bin", root + "/sub/to-a");

    WholeFolderInspector inspector;
    inspector.stopIfUsedAfter = later();
    auto recentlyUsed = later().adding(-10);
    inspector.lastUsedDates[root + "/sub/b.bin"] = recentlyUsed;
    auto result = inspector.inspect(root);
    ASSERT_EQ(result.kind, Result::Kind::movable) << result.reason;
    EXPECT_EQ(result.summary.size, ownSize(root + "/a.bin") + ownSize(root + "/sub/b.bin"));
    EXPECT_EQ(result.summary.driveSize, 15'000);  // the drive keeps the link too
    EXPECT_EQ(result.summary.fileCount, 4);  // two links of a.bin, b.bin and the shortcut
    EXPECT_EQ(result.summary.lastUsed, recentlyUsed);
    EXPECT_EQ(result.summary.source, LastUsedSource::recentlyUsed);

    // One link outside the folder: the folder can't take all of the file with it.
    ASSERT_EQ(::link((root + "/a.bin").c_str(), (dir / "outside.bin").c_str()), 0);
    EXPECT_EQ(inspector.inspect(root), Result::blocked("Shares files with another folder (hard links)"));
}

TEST(WholeFolderInspectorTest, LinkTargets) {
    struct Case {
        std::string target, relative;
        std::optional<std::string> reason;
    } cases[] = {
        {"../shared/lib", "lib", "A shortcut to something outside it"},
        {"../shared/lib", "sub/lib", std::nullopt},
        {"../../x", "sub/lib", "A shortcut to something outside it"},
        {"./a/./../b", "lib", std::nullopt},
        {"a//..//..", "sub/lib", std::nullopt},
        {"a/../..", "lib", "A shortcut to something outside it"},
        {"/Volumes/Other/x", "lib", "A shortcut to another drive"},
        {"/media/ann/Drive/x", "lib", "A shortcut to another drive"},
        {"/mnt/backup", "lib", "A shortcut to another drive"},
        {"/run/media/ann/D/x", "lib", "A shortcut to another drive"},
        {"/mediaplayer/x", "lib", std::nullopt},
        {"/usr/lib", "lib", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WholeFolderInspector::linkReason(c.target, c.relative), c.reason) << c.target << " at " << c.relative;
    }

    test::TempDir dir;
    std::string root = dir / "f";
    test::makeDirs(root + "/sub");
    symlinkAt("../shared/lib", root + "/sub/lib");
    WholeFolderInspector inspector;
    EXPECT_EQ(inspector.inspect(root).kind, Result::Kind::movable);
    symlinkAt("../shared/lib", root + "/lib");
    EXPECT_EQ(inspector.inspect(root), Result::blocked("A shortcut to something outside it (“lib”)"));
    inspector.keepsSymlinks = false;
    EXPECT_EQ(inspector.inspect(root), Result::blocked("A shortcut, which this drive's format can't hold (“lib”)"));
}

TEST(WholeFolderInspectorTest, WalksRebuildableFoldersLast) {
    test::TempDir dir;
    std::string root = dir / "app";
    for (const char* sub : {"node_modules", ".git", "src", "docs"}) {
        test::makeDirs(root + "/" + sub);
        fifoAt(root + "/" + sub + "/pipe");
    }
    WholeFolderInspector inspector;
    for (const char* expected : {"docs", "src", ".git", "node_modules"}) {
        EXPECT_EQ(inspector.inspect(root), Result::blocked(std::string("A special file (“") + expected + "/pipe”)"));
        ASSERT_EQ(::unlink((root + "/" + expected + "/pipe").c_str()), 0);
    }
    EXPECT_EQ(inspector.inspect(root).kind, Result::Kind::movable);
}

TEST(WholeFolderInspectorTest, StopsAtTheFirstRecentUse) {
    test::TempDir dir;
    std::string root = dir / "f";
    test::writeFile(root + "/a.txt", "new");
    fifoAt(root + "/z-pipe");
    WholeFolderInspector inspector;
    inspector.stopIfUsedAfter = Clock::system()->now().adding(-3600);
    EXPECT_EQ(inspector.inspect(root), Result::usedRecently());
    inspector.stopIfUsedAfter = later();
    EXPECT_EQ(inspector.inspect(root), Result::blocked("A special file (“z-pipe”)"));
}

TEST(WholeFolderInspectorTest, RefusesOtherDevicesAndUnrecordableNames) {
    test::TempDir dir;
    std::string root = dir / "f";
    test::writeFile(root + "/a", "x");
    WholeFolderInspector inspector;
    inspector.device = FileStat::read(root)->device + 1;
    EXPECT_EQ(inspector.inspect(root), Result::blocked("On another disk (“a”)"));

    inspector.device.reset();
    test::writeFile(root + "/sub/bad\xFFname", "x");
    EXPECT_EQ(inspector.inspect(root), Result::blocked("Name has characters that can't be recorded (“sub/bad\xEF\xBF\xBDname”)"));
}

TEST(WholeFolderInspectorTest, RefusesAnotherOwnersFolderEvenWhenEmpty) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
    test::TempDir dir;
    std::string root = dir / "f";
    test::makeDirs(root + "/theirs");
    ASSERT_EQ(::chown((root + "/theirs").c_str(), 65534, 65534), 0);
    // The inspection runs as an ordinary user that owns the rest of the folder.
    ASSERT_EQ(::chown(root.c_str(), 1234, 1234), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    pid_t child = ::fork();
    if (child == 0) {
        if (::setuid(1234) != 0) _exit(2);
        auto result = WholeFolderInspector{}.inspect(root);
        _exit(result == Result::blocked("Owned by another user (“theirs”)") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
