// The small doors the layers above read the system through: what they answer must be what
// the system call would, including where it fails.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/FileIO.h"
#include "platform/FileReading.h"
#include "platform/FileStatus.h"
#include "platform/ProcessFacts.h"
#include "platform/Processes.h"
#include "platform/Scheduling.h"
#include "platform/Users.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

using test::TempDir;
using test::writeFile;

// A file of one data block, a hole, and a data block at the end: where the file system
// keeps holes, the seeks find them; where it doesn't, the whole file is data.
TEST(FileReading, SeeksFindDataAndHolesOfASparseFile) {
    TempDir tmp;
    const std::string path = tmp / "sparse";
    platform::Fd file(platform::calls().openAt(AT_FDCWD, path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_TRUE(file);
    const std::string block(4096, 'x');
    constexpr off_t kSize = 1 << 20;
    ASSERT_EQ(platform::calls().pwrite(file.get(), block.data(), block.size(), 0), 4096);
    ASSERT_EQ(platform::calls().pwrite(file.get(), block.data(), block.size(), kSize - 4096), 4096);

    EXPECT_EQ(platform::seekData(file.get(), 0), 0);
    const off_t hole = platform::seekHole(file.get(), 0);
    EXPECT_TRUE(hole == 4096 || hole == kSize) << hole;
    if (hole == 4096) {
        EXPECT_EQ(platform::seekData(file.get(), hole), kSize - 4096);
    }
    errno = 0;
    EXPECT_EQ(platform::seekData(file.get(), kSize), -1);
    EXPECT_EQ(errno, ENXIO);

    char into[8] = {};
    EXPECT_EQ(platform::readAt(file.get(), into, sizeof into, kSize - 8), 8);
    EXPECT_EQ(std::string(into, 8), "xxxxxxxx");
    EXPECT_EQ(platform::readSome(file.get(), into, sizeof into), 8) << "reads from the position, which pread left at 0";
    // Advice changes nothing a reader sees, even for a range past the end.
    platform::adviseCache(file.get(), 0, 0, platform::CacheAdvice::dropPages);
    platform::adviseCache(file.get(), kSize * 2, 4096, platform::CacheAdvice::willNeed);
    EXPECT_EQ(platform::readAt(file.get(), into, 1, 0), 1);
}

TEST(FileReading, DirectIOGoesOnAndOffOrIsRefusedWhole) {
    TempDir tmp;
    writeFile(tmp / "file", "x");
    platform::Fd file = platform::openRead(tmp / "file");
    ASSERT_TRUE(file);
    if (platform::setDirectIO(file.get(), true)) {
        EXPECT_NE(::fcntl(file.get(), F_GETFL) & O_DIRECT, 0);
    } else {
        EXPECT_EQ(::fcntl(file.get(), F_GETFL) & O_DIRECT, 0) << "a refusal leaves the file as it was";
    }
    EXPECT_TRUE(platform::setDirectIO(file.get(), false));
    EXPECT_EQ(::fcntl(file.get(), F_GETFL) & O_DIRECT, 0);
    EXPECT_FALSE(platform::setDirectIO(-1, true));
}

TEST(FileReading, RandomNumbersStayBelowTheirBound) {
    for (int i = 0; i < 1000; ++i) EXPECT_LT(platform::randomBelow(7), 7u);
    EXPECT_EQ(platform::randomBelow(1), 0u);
    unsigned char bytes[64] = {};
    EXPECT_EQ(platform::randomBytes(bytes, sizeof bytes), 64);
}

TEST(FileStatus, LinksAreFollowedOrNotAsAsked) {
    TempDir tmp;
    writeFile(tmp / "target", "abc");
    ASSERT_EQ(::symlink("target", (tmp / "link").c_str()), 0);
    struct stat status {};
    ASSERT_EQ(platform::statusFollowing(tmp / "link", status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    ASSERT_EQ(platform::statusNoFollow(tmp / "link", status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    const platform::Fd folder = platform::openDirectory(AT_FDCWD, tmp.path());
    ASSERT_EQ(platform::statusAt(folder.get(), "link", status, AT_SYMLINK_NOFOLLOW), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    errno = 0;
    EXPECT_EQ(platform::statusNoFollow(tmp / "missing", status), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(platform::resolvedPath(tmp / "link"), platform::resolvedPath(tmp / "target"));
    EXPECT_FALSE(platform::resolvedPath(tmp / "missing"));
    char target[16] = {};
    EXPECT_EQ(platform::readLinkAt(folder.get(), "link", target, sizeof target), 6);
    EXPECT_EQ(std::string(target, 6), "target");
}

TEST(FileStatus, AccessIsJudgedAsTheSystemDoes) {
    TempDir tmp;
    writeFile(tmp / "file", "x");
    EXPECT_TRUE(platform::mayAccess(tmp / "file", platform::kMayRead));
    EXPECT_FALSE(platform::mayAccess(tmp / "missing", 0));
    const platform::Fd folder = platform::openDirectory(AT_FDCWD, tmp.path());
    EXPECT_TRUE(platform::mayAccessAt(folder.get(), ".", platform::kMayRun));
    EXPECT_EQ(platform::mayAccess(tmp / "file", platform::kMayRun), ::access((tmp / "file").c_str(), X_OK) == 0);
    const auto cwd = platform::workingFolder();
    ASSERT_TRUE(cwd);
    EXPECT_EQ(cwd->front(), '/');
}

// Nice belongs to one thread: raising it on a thread of its own leaves the test's thread
// as it was, goes up by the steps asked, stops at 19 and never comes back down.
TEST(Scheduling, NiceIsRaisedOnTheCallingThreadOnlyAndNeverLowered) {
    EXPECT_EQ(platform::currentThreadId(), ::getpid());  // the main thread's id is the process's
    errno = 0;
    const int mine = ::getpriority(PRIO_PROCESS, 0);
    ASSERT_EQ(errno, 0);
    pid_t other = 0;
    int start = 0, afterTwo = 0, afterMany = 0, afterLowering = 0;
    bool raised = false, capped = false, kept = false;
    std::thread([&] {
        other = platform::currentThreadId();
        start = ::getpriority(PRIO_PROCESS, static_cast<id_t>(other));
        raised = platform::raiseNice(other, 2);
        afterTwo = ::getpriority(PRIO_PROCESS, static_cast<id_t>(other));
        capped = platform::raiseNice(other, 100);
        afterMany = ::getpriority(PRIO_PROCESS, static_cast<id_t>(other));
        kept = platform::raiseNice(other, -5);
        afterLowering = ::getpriority(PRIO_PROCESS, static_cast<id_t>(other));
        platform::setIdleIoClass(other);  // may be refused in a container; must not throw
    }).join();
    EXPECT_NE(other, ::getpid());
    EXPECT_TRUE(raised && capped && kept);
    EXPECT_EQ(afterTwo, std::min(start + 2, 19));
    EXPECT_EQ(afterMany, 19);
    EXPECT_EQ(afterLowering, 19);
    EXPECT_EQ(::getpriority(PRIO_PROCESS, 0), mine);
    EXPECT_FALSE(platform::raiseNice(-1, 1));  // no such thread
}

TEST(Users, TheProcessIdentityAndEnvironmentAreThoseOfTheSystem) {
    EXPECT_EQ(platform::effectiveUserID(), ::geteuid());
    EXPECT_EQ(platform::realUserID(), ::getuid());
    EXPECT_EQ(platform::effectiveGroupID(), ::getegid());
    if (const auto root = platform::accountOf(0)) {
        EXPECT_EQ(root->name, "root");
    }
    ::setenv("KELDWICK_QUERY_TEST", "", 1);
    EXPECT_EQ(platform::environmentVariable("KELDWICK_QUERY_TEST"), std::string());
    ::unsetenv("KELDWICK_QUERY_TEST");
    EXPECT_FALSE(platform::environmentVariable("KELDWICK_QUERY_TEST"));
}

// The program gets only the environment given, and its exit status decides.
TEST(Processes, RunsAProgramWithOnlyTheEnvironmentGiven) {
    ::setenv("KELDWICK_LEAKED", "yes", 1);
    EXPECT_TRUE(platform::runQuietly("/bin/sh", {"sh", "-c", "test \"$GIVEN\" = here && test -z \"$KELDWICK_LEAKED\""},
                                     {"GIVEN=here"}));
    ::unsetenv("KELDWICK_LEAKED");
    EXPECT_FALSE(platform::runQuietly("/bin/sh", {"sh", "-c", "exit 3"}, {}));
    EXPECT_FALSE(platform::runQuietly("/nonexistent/program", {"program"}, {}));
    // Its output goes nowhere: a program writing much doesn't block on a full pipe.
    EXPECT_TRUE(platform::runQuietly("/bin/sh", {"sh", "-c", "head -c 1000000 /dev/zero; echo done >&2"},
                                     {"PATH=/usr/bin:/bin"}));
}

}  // namespace
}  // namespace keldwick
