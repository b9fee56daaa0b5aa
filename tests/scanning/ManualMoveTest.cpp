#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/FileStat.h"
#include "scanning/ManualMove.h"
#include "support/TempDir.h"

using namespace keldwick;
using keldwick::test::TempDir;

namespace {

const Date now{1'800'000'000};

struct Home {
    TempDir dir;
    std::string home = dir / "home";
    std::string operator/(const std::string& relative) const { return home + "/" + relative; }
    Home() { test::makeDirs(home); }

    ManualMove::Result choose(const std::vector<std::string>& relative, bool nativeFormat = true) const {
        std::vector<std::string> paths;
        for (const auto& r : relative) paths.push_back(r.empty() ? home : r[0] == '/' ? r : *this / r);
        return ManualMove::candidates(paths, home, {*this / "Documents", *this / "Desktop"}, nativeFormat, now);
    }
};

std::vector<std::string> candidatePaths(const ManualMove::Result& r) {
    std::vector<std::string> result;
    for (const auto& c : r.candidates) result.push_back(c.path);
    return result;
}

int64_t expectedSize(const std::string& path) {
    return ExtraStat::read(path).privateSize.value_or(FileStat::read(path)->allocatedSize);
}

}  // namespace

TEST(ManualMoveTest, FilesBecomeCandidatesOnceEach) {
    Home h;
    const std::string file = test::writeFile(h / "Downloads/film.mkv", std::string(10'000, 'x'));
    ASSERT_EQ(::symlink((h / "Downloads").c_str(), (h / "DL").c_str()), 0);

    auto r = h.choose({"Downloads/film.mkv", "DL/film.mkv", "Downloads/./film.mkv"});
    ASSERT_EQ(candidatePaths(r), std::vector<std::string>{file});
    EXPECT_TRUE(r.refusals.empty());
    const Candidate& c = r.candidates[0];
    EXPECT_FALSE(c.isDirectory);
    EXPECT_EQ(c.size, expectedSize(file));
    EXPECT_EQ(c.driveSize, std::max<int64_t>(c.size, 10'000));
    EXPECT_EQ(c.fileCount, 1);
    EXPECT_EQ(c.lastUsed, now);
    EXPECT_EQ(c.lastUsedSource, LastUsedSource::modificationDate);
    EXPECT_EQ(c.score, 0);
    EXPECT_FALSE(c.isRecent);
    EXPECT_FALSE(c.whole);
    EXPECT_TRUE(c.parts.empty());
}

TEST(ManualMoveTest, RefusalsCarryTheirReasonsInInputOrder) {
    Home h;
    test::writeFile(h.dir / "outside.txt", "x");
    test::makeDirs(h / "Documents/Letters");
    test::writeFile(h / "Documents/Letters/one.txt", "1");
    test::writeFile(h / "target.txt", "t");
    ASSERT_EQ(::symlink("target.txt", (h / "shortcut").c_str()), 0);
    ASSERT_EQ(::mkfifo((h / "pipe").c_str(), 0600), 0);
    test::writeFile(h / std::string("bad\xff.txt"), "b");

    auto r = h.choose({"gone.txt", h.dir / "outside.txt", "Documents", "shortcut", "pipe", std::string("bad\xff.txt"),
                       "Documents/Letters"});
    std::vector<ManualMove::Refusal> expected{
        {h / "gone.txt", "It isn't there anymore"},
        {h.dir / "outside.txt", "Only what's in your home folder can move"},
        {h / "Documents", "Your computer keeps this folder where it is; what's inside it can move"},
        {h / "shortcut", "It's a shortcut"},
        {h / "pipe", "It's a special file"},
        {h / std::string("bad\xff.txt"), "Name has characters that can't be recorded"},
    };
    EXPECT_EQ(r.refusals, expected);
    EXPECT_EQ(candidatePaths(r), std::vector<std::string>{h / "Documents/Letters"});
    EXPECT_EQ(r.candidates[0].whole, WholeKind::chosen);
    EXPECT_EQ(r.candidates[0].fileCount, 1);

    // A folder spelled with "." or ".." is still the folder kept in place.
    auto dotted = h.choose({"Documents/.", "Documents/Letters/.."});
    EXPECT_EQ(dotted.refusals, (std::vector<ManualMove::Refusal>{
                                   {h / "Documents", "Your computer keeps this folder where it is; what's inside it can move"},
                               }));
    EXPECT_TRUE(dotted.candidates.empty());
}

TEST(ManualMoveTest, ItemsInsideAChosenFolderGoWithIt) {
    Home h;
    test::writeFile(h / "Projects/notes/a.txt", "a");
    test::writeFile(h / "Projects/notes/b.txt", "bb");
    ASSERT_EQ(::symlink("a.txt", (h / "Projects/notes/link").c_str()), 0);

    auto r = h.choose({"Projects/notes/a.txt", "Projects/notes", "Projects/notes/link", "Projects/notes/gone"});
    EXPECT_EQ(candidatePaths(r), std::vector<std::string>{h / "Projects/notes"});
    EXPECT_TRUE(r.refusals.empty());
    EXPECT_EQ(r.candidates[0].fileCount, 3);  // two files and the link

    // The home folder itself passes the home test.
    Home small;
    test::writeFile(small / "only.txt", "x");
    auto whole = small.choose({""});
    EXPECT_EQ(candidatePaths(whole), std::vector<std::string>{small.home});
}

TEST(ManualMoveTest, ProjectsAndDriveFormat) {
    Home h;
    test::writeFile(h / "Code/app/Makefile", "all:");
    test::writeFile(h / "Code/app/main.c", "int main;");
    test::writeFile(h / "Plain/readme.txt", "r");
    test::writeFile(h / "Linked/data.txt", "d");
    ASSERT_EQ(::symlink("data.txt", (h / "Linked/alias").c_str()), 0);

    auto onComputer = h.choose({"Code/app"});
    ASSERT_EQ(onComputer.candidates.size(), 1u);
    EXPECT_EQ(onComputer.candidates[0].whole, WholeKind::project);

    auto other = h.choose({"Code/app", "Plain", "Linked"}, false);
    EXPECT_EQ(other.refusals, (std::vector<ManualMove::Refusal>{
                                  {h / "Code/app", "Only moves to a drive formatted for Linux"},
                                  {h / "Linked", "A shortcut, which this drive's format can't hold (“alias”)"},
                              }));
    ASSERT_EQ(candidatePaths(other), std::vector<std::string>{h / "Plain"});
    EXPECT_EQ(other.candidates[0].whole, WholeKind::chosen);
}

TEST(ManualMoveTest, PackagesMoveAsOneItemWithSummedSizes) {
    Home h;
    const std::string a = test::writeFile(h / "Apps/Tool.app/Contents/MacOS/tool", std::string(5000, 't'));
    const std::string b = test::writeFile(h / "Apps/Tool.app/Contents/Info.plist", std::string(300, 'p'));
    ASSERT_EQ(::symlink("MacOS/tool", (h / "Apps/Tool.app/Contents/alias").c_str()), 0);

    auto r = h.choose({"Apps/Tool.app"});
    ASSERT_EQ(r.candidates.size(), 1u);
    const Candidate& c = r.candidates[0];
    EXPECT_TRUE(c.isDirectory);
    EXPECT_FALSE(c.whole);
    EXPECT_EQ(c.fileCount, 1);
    EXPECT_EQ(c.size, expectedSize(a) + expectedSize(b));
    EXPECT_EQ(c.driveSize, std::max<int64_t>(c.size, 5300));
}
