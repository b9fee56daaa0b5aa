#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "drives/DriveBrowser.h"
#include "platform/POSIXFailure.h"
#include "support/TempDir.h"

using namespace keldwick;
using keldwick::test::TempDir;

namespace {

std::vector<std::string> names(const std::vector<DriveItem>& items) {
    std::vector<std::string> result;
    for (const auto& item : items) result.push_back(item.name());
    return result;
}

const DriveItem& named(const std::vector<DriveItem>& items, const std::string& name) {
    for (const auto& item : items)
        if (item.name() == name) return item;
    throw std::runtime_error("no item named " + name);
}

}  // namespace

TEST(DriveBrowserTest, LeavesOutWhatTheUserShouldNotSee) {
    TempDir drive;
    test::writeFile(drive / ".keldwick-drive.json", "{}");
    test::writeFile(drive / ".keldwick-manifest.jsonl", "");
    test::makeDirs(drive / ".Trashes");
    test::makeDirs(drive / "$RECYCLE.BIN");
    test::makeDirs(drive / "System Volume Information");
    test::makeDirs(drive / "lost+found");
    test::writeFile(drive / "Icon\r", "");
    test::writeFile(drive / "icon\r", "");
    test::writeFile(drive / "$recycle.bin", "");
    test::writeFile(drive / "notes.txt", "hello");
    ASSERT_EQ(::mkfifo((drive / "pipe").c_str(), 0600), 0);

    EXPECT_EQ(names(DriveBrowser::items(drive.path())),
              (std::vector<std::string>{"$recycle.bin", "icon\r", "notes.txt"}));
}

TEST(DriveBrowserTest, KindsSizesAndDates) {
    TempDir drive;
    test::writeFile(drive / "big.bin", std::string(100'000, 'x'));
    test::writeFile(drive / "Tool.app/Contents/Info.plist", "<plist/>");
    test::makeDirs(drive / "Photos");
    ASSERT_EQ(::symlink((drive / "big.bin").c_str(), (drive / "to-big").c_str()), 0);
    ASSERT_EQ(::symlink("Photos", (drive / "to-folder").c_str()), 0);
    struct timespec times[2] = {{0, UTIME_OMIT}, {1'600'000'000, 500'000'000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (drive / "big.bin").c_str(), times, 0), 0);

    auto items = DriveBrowser::items(drive.path());
    const DriveItem& big = named(items, "big.bin");
    EXPECT_EQ(big.path, drive / "big.bin");
    EXPECT_EQ(big.id(), big.path);
    EXPECT_FALSE(big.isFolder);
    EXPECT_EQ(big.size, 100'000);
    EXPECT_DOUBLE_EQ(big.modified.secondsSince1970, 1'600'000'000.5);

    const DriveItem& app = named(items, "Tool.app");
    EXPECT_FALSE(app.isFolder);
    EXPECT_FALSE(app.size);

    const DriveItem& photos = named(items, "Photos");
    EXPECT_TRUE(photos.isFolder);
    EXPECT_FALSE(photos.size);

    // Links show their own length and are never folders.
    EXPECT_EQ(named(items, "to-big").size, static_cast<int64_t>((drive / "big.bin").size()));
    EXPECT_FALSE(named(items, "to-big").isFolder);
    EXPECT_EQ(named(items, "to-folder").size, 6);
    EXPECT_FALSE(named(items, "to-folder").isFolder);
}

TEST(DriveBrowserTest, SortsLikeAFileManager) {
    TempDir drive;
    for (const char* name : {"file10", "file9", "file2", "Banana", "apple", "a", "Zebra", "élan", "eclair"})
        test::writeFile(drive / name, "");
    test::makeDirs(drive / "b");
    EXPECT_EQ(names(DriveBrowser::items(drive.path())),
              (std::vector<std::string>{"a", "apple", "b", "Banana", "eclair", "élan", "file2", "file9", "file10",
                                        "Zebra"}));
    EXPECT_TRUE(DriveBrowser::comesBefore("file9", "file10"));
    EXPECT_FALSE(DriveBrowser::comesBefore("file10", "file9"));
}

TEST(DriveBrowserTest, EmptyAndMissingFolders) {
    TempDir drive;
    EXPECT_TRUE(DriveBrowser::items(drive.path()).empty());
    try {
        DriveBrowser::items(drive / "missing");
        FAIL() << "expected a failure";
    } catch (const POSIXFailure& failure) {
        EXPECT_EQ(failure.operation(), "opendir");
    }
}
