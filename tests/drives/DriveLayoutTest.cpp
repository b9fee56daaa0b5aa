#include "drives/DriveLayout.h"

#include <gtest/gtest.h>

#include <unordered_set>
#include <unistd.h>

#include "foundation/FileOps.h"
#include "foundation/Utf8.h"
#include "support/TempDir.h"

using namespace keldwick;

TEST(DriveLayoutTest, AppFolderIsCurrentUnlessOnlyALegacyFolderHoldsAMarker) {
    test::TempDir root;
    EXPECT_EQ(DriveLayout::folderName(), "Keldwick");
    EXPECT_EQ(DriveLayout::folderName(root.path()), "Keldwick");
    EXPECT_EQ(DriveLayout::appFolder(root.path()), root / "Keldwick");

    test::makeDirs(root / "Marrowfen");
    EXPECT_EQ(DriveLayout::folderName(root.path()), "Keldwick");  // a legacy folder without a marker
    ASSERT_EQ(::symlink("nowhere", (root / "Marrowfen/.marrowfen-drive.json").c_str()), 0);
    EXPECT_EQ(DriveLayout::folderName(root.path()), "Marrowfen");  // even a dangling link counts
    EXPECT_EQ(DriveLayout::appFolder(root.path()), root / "Marrowfen");

    test::writeFile(root / "Keldwick", "a plain file hides the legacy marker");
    EXPECT_EQ(DriveLayout::folderName(root.path()), "Keldwick");

    test::TempDir other;
    test::writeFile(other / "Marrowfen/.keldwick-drive.json", "{}");
    EXPECT_EQ(DriveLayout::folderName(other.path() + "/"), "Marrowfen");
    EXPECT_EQ(DriveLayout::appFolder(other.path() + "/"), other / "Marrowfen");
}

TEST(DriveLayoutTest, RelativePathAndFirstExistingPath) {
    EXPECT_EQ(DriveLayout::relativePath("/Users/ann/Downloads/big.iso", "Studio (1A2B3C4D)", "Keldwick"),
              "Keldwick/Studio (1A2B3C4D)/Users/ann/Downloads/big.iso");

    test::TempDir dir;
    EXPECT_EQ(firstExistingPath({"a", "b"}, dir.path()), dir / "a");
    EXPECT_EQ(firstExistingPath({"", "b"}, dir.path()), dir.path());
    EXPECT_EQ(firstExistingPath({"a", "b"}, dir / "missing"), dir / "missing/a");
    ASSERT_EQ(::symlink("nowhere", (dir / "b").c_str()), 0);
    EXPECT_EQ(firstExistingPath({"a", "b"}, dir.path()), dir / "b");
    test::writeFile(dir / "a", "");
    EXPECT_EQ(firstExistingPath({"a", "b"}, dir.path()), dir / "a");
}

TEST(DriveLayoutTest, UniqueNamesGoBeforeTheExtension) {
    test::TempDir root;
    const std::string base = "Keldwick/Mac (12345678)/Users/ann";
    auto unique = [&](const std::string& name, bool isFolder, const std::unordered_set<std::string>& taken = {}) {
        return uniqueRelativePath(
            base + "/" + name, isFolder, [&](const std::string& path) { return taken.contains(path); }, root.path());
    };
    EXPECT_EQ(unique("report.pdf", false), base + "/report 2.pdf");
    EXPECT_EQ(unique("report.pdf", false, {Utf8::lowercased(base + "/Report 2.PDF")}), base + "/report 3.pdf");
    EXPECT_EQ(unique("My.Project", true), base + "/My.Project 2");
    EXPECT_EQ(unique("archive.tar.gz", false), base + "/archive.tar 2.gz");
    EXPECT_EQ(unique(".hidden", false), base + "/.hidden 2");
    EXPECT_EQ(unique("trailing.", false), base + "/trailing. 2");
    EXPECT_EQ(unique("Ärger.txt", false, {Utf8::lowercased(base + "/Ärger 2.txt")}), base + "/Ärger 3.txt");

    // Something already on the drive at the candidate (a dangling link too) is skipped.
    test::makeDirs(root / base);
    test::writeFile(root / (base + "/report 2.pdf"), "");
    ASSERT_EQ(::symlink("nowhere", (root / (base + "/report 3.pdf")).c_str()), 0);
    EXPECT_EQ(unique("report.pdf", false), base + "/report 4.pdf");

    std::unordered_set<std::string> all;
    for (int n = 2; n <= 9999; ++n) all.insert(Utf8::lowercased(base + "/notes " + std::to_string(n) + ".txt"));
    auto last = unique("notes.txt", false, all);
    ASSERT_EQ(last.size(), base.size() + 1 + 6 + 36);
    EXPECT_EQ(last.substr(0, base.size() + 7), base + "/notes ");
    EXPECT_EQ(last.find(".txt"), std::string::npos);
}
