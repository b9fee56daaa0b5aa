#include <gtest/gtest.h>

#include <unistd.h>

#include "foundation/EngineError.h"
#include "foundation/ItemChecks.h"
#include "space/SpaceFixtures.h"
#include "support/FakeOpenFiles.h"
#include "support/TempDir.h"

using namespace keldwick;

using test::FakeOpenFiles;

TEST(InUseCheckTest, NamesEachProcessOnceInOrder) {
    FakeOpenFiles open;
    EXPECT_NO_THROW(checkNotInUse("/home/a/Project", open));
    EXPECT_EQ(open.asked.back(), "/home/a/Project");

    open.uses = {{"/home/a/Project/x", 40, "vim"},
                 {"/home/a/Project/y", 41, "Code"},
                 {"/home/a/Project/z", 42, "vim"},
                 {"/home/a/Project", 43, ""}};
    try {
        checkNotInUse("/home/a/Project", open);
        FAIL();
    } catch (const EngineError& e) {
        EXPECT_EQ(e, EngineError::inUse("/home/a/Project", {"Code", "process 43", "vim"}));
        EXPECT_EQ(e.message(), "\u201CProject\u201D is open in Code, process 43, vim. Close it and try again.");
    }
}

TEST(InUseCheckTest, SeesFilesOpenedThroughALinkOnTheWay) {
    // ~/Media is a link to another disk: the kernel reports the open file by its real path.
    test::TempDir dir;
    test::writeFile(dir / "disk/Videos/Trip.mov", "x");
    test::makeDirs(dir / "home");
    ASSERT_EQ(::symlink((dir / "disk").c_str(), (dir / "home/Media").c_str()), 0);
    test::OpenFileHolder holder(dir / "home/Media/Videos/Trip.mov");
    ASSERT_TRUE(holder.ok());
    ProcessOpenFileChecker checker;
    EXPECT_THROW(checkNotInUse(dir / "home/Media/Videos/Trip.mov", checker), EngineError);
    EXPECT_THROW(checkNotInUse(dir / "home/Media/Videos", checker), EngineError);
}

TEST(LinkCheckTest, RecognisesTheEnginesOwnLinkUnderAnyMountPoint) {
    test::TempDir dir;
    OffloadRecord record;
    record.driveRelativePath = "Keldwick/mac/home/a/Trip.mov";
    ASSERT_EQ(::symlink("/media/a/OtherName/Keldwick/mac/home/a/Trip.mov", (dir / "moved").c_str()), 0);
    EXPECT_TRUE(isLinkToDriveCopy(dir / "moved", record));

    ASSERT_EQ(::symlink("/media/a/X/Keldwick/mac/home/a/OtherTrip.mov", (dir / "other").c_str()), 0);
    EXPECT_FALSE(isLinkToDriveCopy(dir / "other", record));
    ASSERT_EQ(::symlink("Keldwick/mac/home/a/Trip.mov", (dir / "relative").c_str()), 0);
    EXPECT_FALSE(isLinkToDriveCopy(dir / "relative", record));  // no "/" before the path
    test::writeFile(dir / "file", "/Keldwick/mac/home/a/Trip.mov");
    EXPECT_FALSE(isLinkToDriveCopy(dir / "file", record));
    EXPECT_FALSE(isLinkToDriveCopy(dir / "missing", record));

    record.driveRelativePath.clear();
    EXPECT_FALSE(isLinkToDriveCopy(dir / "moved", record));
}
