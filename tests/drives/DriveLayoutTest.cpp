#include "drives/DriveLayout.h"

#include <gtest/gtest.h>

#include <functional>
#include <unordered_set>
#include <unistd.h>

#include "foundation/DriveManifest.h"
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

// "Used before" rests on what this computer left on the drive, not on the marker alone.
TEST(DriveLayoutTest, RecordsAreThisComputersManifestLinesOrCopies) {
    const std::string us = "MAC-A";
    const std::string ours = "Studio (1A2B3C4D)";
    auto line = [](std::optional<std::string> machine) {
        DriveManifest::Entry e;
        e.machine = std::move(machine);
        e.originalPath = "/home/ann/big.iso";
        e.relativePath = "Keldwick/Studio (1A2B3C4D)/home/ann/big.iso";
        e.size = 10;
        e.date = Date{1740821400};
        return DriveManifest::encode(e) + "\n";
    };
    struct Row {
        const char* name;
        std::function<void(const std::string& root)> make;
        bool holds;
    };
    const Row rows[] = {
        {"nothing at all", [](const std::string&) {}, false},
        {"only a marker and the read-me",
         [](const std::string& r) {
             test::writeFile(r + "/Keldwick/.keldwick-drive.json", "{}");
             test::writeFile(r + "/Keldwick/About This Folder.txt", "x");
         },
         false},
        {"an empty manifest", [](const std::string& r) { test::writeFile(r + "/Keldwick/.keldwick-manifest.jsonl", ""); },
         false},
        {"a manifest line of ours",
         [&](const std::string& r) { test::writeFile(r + "/Keldwick/.keldwick-manifest.jsonl", line(us)); }, true},
        {"a line of no machine",
         [&](const std::string& r) { test::writeFile(r + "/Keldwick/.keldwick-manifest.jsonl", line(std::nullopt)); },
         true},
        {"only another computer's line",
         [&](const std::string& r) { test::writeFile(r + "/Keldwick/.keldwick-manifest.jsonl", line("MAC-B")); },
         false},
        {"an empty folder of ours", [&](const std::string& r) { test::makeDirs(r + "/Keldwick/" + ours); }, false},
        {"a copy in our folder",
         [&](const std::string& r) { test::writeFile(r + "/Keldwick/" + ours + "/home/ann/big.iso", "x"); }, true},
        {"a copy in another computer's folder",
         [&](const std::string& r) { test::writeFile(r + "/Keldwick/Laptop (99999999)/home/ann/a", "x"); }, false},
        {"our folder as a link to a full one",
         [&](const std::string& r) {
             test::writeFile(r + "/elsewhere/a", "x");
             test::makeDirs(r + "/Keldwick");
             ASSERT_EQ(::symlink((r + "/elsewhere").c_str(), (r + "/Keldwick/" + ours).c_str()), 0);
         },
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir root;
        row.make(root.path());
        EXPECT_EQ(DriveLayout::holdsRecords(root.path(), us, ours), row.holds);
    }
}
