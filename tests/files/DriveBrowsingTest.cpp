#include <gtest/gtest.h>

#include "files/DriveBrowsing.h"

namespace keldwick {
namespace {

using Names = std::vector<std::string>;

DriveItem item(const std::string& path, bool folder = false) {
    DriveItem i;
    i.path = path;
    i.isFolder = folder;
    if (!folder) i.size = 0;
    return i;
}

TEST(DriveBrowsingTest, CrumbsAndNavigation) {
    struct Case {
        std::string root, shown;
        Names crumbs;
        std::optional<std::string> back;
    };
    for (const Case& c : std::vector<Case>{
             {"/media/u/Backup", "/media/u/Backup", {}, std::nullopt},
             {"/media/u/Backup", "/media/u/Backup/Photos", {"Photos"}, std::nullopt},
             {"/media/u/Backup", "/media/u/Backup/Photos/2024", {"Photos", "2024"}, "/media/u/Backup/Photos"},
             {"/media/u/Backup/", "/media/u/Backup/Photos/2024", {"Photos", "2024"}, "/media/u/Backup/Photos"},
             {"/", "/a/b", {"a", "b"}, "/a"},
             {"/media/u/Backup", "/media/u/BackupOther/x", {}, std::nullopt}}) {
        EXPECT_EQ(crumbs(c.root, c.shown), c.crumbs) << c.shown;
        EXPECT_EQ(backTarget(c.root, c.shown), c.back) << c.shown;
    }
    const Names path = {"Photos", "2024", "May"};
    EXPECT_EQ(crumbTarget("/media/u/Backup", path, 0), "/media/u/Backup/Photos");
    EXPECT_EQ(crumbTarget("/media/u/Backup", path, 1), "/media/u/Backup/Photos/2024");
    EXPECT_EQ(crumbTarget("/", path, 2), "/Photos/2024/May");
}

TEST(DriveBrowsingTest, SearchMatchesNamesOnly) {
    const std::vector<DriveItem> items = {item("/d/abc/ABC.txt"), item("/d/abc/my-abc"), item("/d/abc/other"),
                                          item("/d/abc/a b")};
    struct Case {
        std::string search;
        size_t count;
    };
    for (const Case& c : std::vector<Case>{{"", 4}, {"abc", 2}, {" ", 1}, {"zzz", 0}})
        EXPECT_EQ(visibleItems(items, c.search).size(), c.count) << c.search;
}

TEST(DriveBrowsingTest, AppFolderIsAnExactPrefix) {
    struct Case {
        std::string shown;
        bool inside;
    };
    for (const Case& c : std::vector<Case>{{"/m/Keldwick", true},
                                           {"/m/Keldwick/a/b", true},
                                           {"/m/KeldwickX", false},
                                           {"/m/keldwick", false},
                                           {"/m", false}})
        EXPECT_EQ(insideAppFolder(c.shown, "/m/Keldwick"), c.inside) << c.shown;
    EXPECT_TRUE(insideAppFolder("/m/Keldwick/x", "/m/Keldwick/"));
}

TEST(DriveBrowsingTest, OpenCountAndOverlay) {
    EXPECT_EQ(openChoice({}), OpenChoice{});
    EXPECT_EQ(openChoice({item("/d/F", true)}), (OpenChoice{"/d/F", {}}));
    EXPECT_EQ(openChoice({item("/d/f")}), (OpenChoice{std::nullopt, {"/d/f"}}));
    EXPECT_EQ(openChoice({item("/d/F", true), item("/d/G", true)}), (OpenChoice{std::nullopt, {"/d/F", "/d/G"}}));

    EXPECT_EQ(itemCountText(0), "0 items");
    EXPECT_EQ(itemCountText(1), "1 item");
    EXPECT_EQ(itemCountText(2), "2 items");

    struct Case {
        bool loading, failed;
        size_t items, visible;
        std::string search;
        BrowserOverlay overlay;
    };
    for (const Case& c : std::vector<Case>{{true, false, 0, 0, "", BrowserOverlay::loading},
                                           {true, false, 3, 3, "", BrowserOverlay::none},
                                           {false, true, 0, 0, "x", BrowserOverlay::failure},
                                           {false, false, 0, 0, "x", BrowserOverlay::noResults},
                                           {false, false, 0, 0, "", BrowserOverlay::empty},
                                           {false, false, 2, 0, "x", BrowserOverlay::noResults}})
        EXPECT_EQ(browserOverlay(c.loading, c.failed, c.items, c.visible, c.search), c.overlay);
}

}  // namespace
}  // namespace keldwick
