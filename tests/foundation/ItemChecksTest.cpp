#include "foundation/ItemChecks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Statx.h"
#include "support/TempDir.h"

using namespace keldwick;
using keldwick::test::TempDir;

TEST(ItemChecksTest, FindsDatabaseCompanionsInSuffixOrder) {
    TempDir tmp;
    test::writeFile(tmp / "x.db", "");
    EXPECT_FALSE(databaseCompanion(tmp / "x.db"));
    test::writeFile(tmp / "x.db-journal", "");
    EXPECT_EQ(databaseCompanion(tmp / "x.db"), tmp / "x.db-journal");
    test::writeFile(tmp / "x.db-wal", "");
    EXPECT_EQ(databaseCompanion(tmp / "x.db"), tmp / "x.db-wal");  // "-wal" is tried first
    EXPECT_EQ(databaseCompanion(tmp / "x.db-journal"), tmp / "x.db");
    EXPECT_EQ(databaseCompanion(tmp / "x.db-wal"), tmp / "x.db");

    test::writeFile(tmp / "a-shm", "");
    EXPECT_FALSE(databaseCompanion(tmp / "a-shm"));
    EXPECT_FALSE(databaseCompanion("-wal"));
    EXPECT_FALSE(databaseCompanion(tmp / "missing/x.db"));
}

TEST(ItemChecksTest, GivesTheFirstReasonThatHolds) {
    FileStat file;
    file.kind = FileStat::Kind::file;
    file.ownerID = getuid();
    file.linkCount = 1;
    EXPECT_FALSE(reasonNotMovable(file, "notes.txt"));

    FileStat hardLinked = file;
    hardLinked.linkCount = 2;
    EXPECT_EQ(reasonNotMovable(hardLinked, "notes.txt"), "Has multiple hard links");

    FileStat foreign = hardLinked;
    foreign.ownerID = getuid() + 1;
    foreign.flags = platform::kSystemImmutable;
    EXPECT_EQ(reasonNotMovable(foreign, "notes.txt"), "Owned by another user");

    FileStat locked = hardLinked;
    locked.flags = platform::kSystemAppend;
    EXPECT_EQ(reasonNotMovable(locked, "notes.txt"), "Locked");

    FileStat folder = file;
    folder.kind = FileStat::Kind::directory;
    folder.linkCount = 3;
    EXPECT_FALSE(reasonNotMovable(folder, "Projects"));
    EXPECT_EQ(reasonNotMovable(folder, "X.APP"), "App or app component");
    EXPECT_EQ(reasonNotMovable(folder, "/Applications/Tool.app/"), "App or app component");
    EXPECT_FALSE(reasonNotMovable(folder, ".app"));
    EXPECT_FALSE(reasonNotMovable(file, "X.APP"));

    FileStat link = hardLinked;
    link.kind = FileStat::Kind::symlink;
    EXPECT_FALSE(reasonNotMovable(link, "l.app"));
    FileStat fifo = hardLinked;
    fifo.kind = FileStat::Kind::other;
    EXPECT_FALSE(reasonNotMovable(fifo, "pipe"));
}
