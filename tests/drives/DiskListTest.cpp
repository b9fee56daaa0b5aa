#include <gtest/gtest.h>

#include "drives/DiskList.h"

using namespace keldwick;

TEST(DiskListTest, UpdateStoresReplacesAndRemoves) {
    DiskList list;
    list.update("sdb1", std::nullopt);
    EXPECT_EQ(list, DiskList{});

    list.update("sdb1", DiskVolume{"A-1", "Archive", std::nullopt});
    list.update("sdb1", DiskVolume{"A-1", "Archive", "/media/ann/Archive"});
    ASSERT_EQ(list.volumes.size(), 1u);
    EXPECT_EQ(list.volumes["sdb1"].mountPath, "/media/ann/Archive");

    list.update("sdb1", std::nullopt);
    EXPECT_TRUE(list.volumes.empty());
}

TEST(DiskListTest, UuidDecidesAloneAndNameOnlyWithoutOne) {
    DiskList list;
    list.update("sdc1", DiskVolume{std::nullopt, "Archive", "/media/b"});
    list.update("sdb1", DiskVolume{"A-1", "Archive", "/media/a"});
    list.update("sdd1", DiskVolume{"B-2", "Other", std::nullopt});

    EXPECT_EQ(list.volume(std::string("A-1"), std::string("Other"))->mountPath, "/media/a");
    EXPECT_FALSE(list.volume(std::string("Z-9"), std::string("Archive")));
    // Several disks carry the name: the first by device name answers, every time.
    EXPECT_EQ(list.volume(std::nullopt, std::string("Archive"))->mountPath, "/media/a");
    EXPECT_FALSE(list.volume(std::nullopt, std::nullopt));
    EXPECT_FALSE(list.volume(std::nullopt, std::string("archive")));
}

TEST(DiskListTest, MountingMeansKnownWithoutAMountPath) {
    DiskList list;
    EXPECT_FALSE(list.isMounting(std::string("A-1"), std::nullopt));
    list.update("sdb1", DiskVolume{"A-1", "Archive", std::nullopt});
    EXPECT_TRUE(list.isMounting(std::string("A-1"), std::nullopt));
    list.update("sdb1", DiskVolume{"A-1", "Archive", "/media/a"});
    EXPECT_FALSE(list.isMounting(std::string("A-1"), std::nullopt));
}

TEST(DiskListTest, UuidByMountPathComparesExactly) {
    DiskList list;
    list.update("sdb1", DiskVolume{"A-1", "Archive", "/media/a"});
    list.update("sdc1", DiskVolume{std::nullopt, "NoUUID", "/media/c"});
    EXPECT_EQ(list.uuid("/media/a"), "A-1");
    EXPECT_FALSE(list.uuid("/media/a/"));
    EXPECT_FALSE(list.uuid("/media/c"));
    EXPECT_FALSE(list.uuid("/media/z"));
}
