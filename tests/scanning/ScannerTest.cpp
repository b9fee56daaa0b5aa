#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <mutex>

#include "foundation/Clock.h"
#include "foundation/EngineError.h"
#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/ItemChecks.h"
#include "foundation/PathUtil.h"
#include "platform/NameMatching.h"
#include "scanning/DevelopmentRule.h"
#include "scanning/ManualMove.h"
#include "scanning/NeverTouch.h"
#include "scanning/Scanner.h"
#include "scanning/ScannerChecks.h"
#include "scanning/RecentlyUsed.h"
#include "support/AsUser.h"
#include "support/FakeOpenFiles.h"
#include "support/RealMounts.h"
#include "support/TempDir.h"

using namespace keldwick;
using test::writeFile;

namespace {

constexpr double kDay = 86'400;

// Refuses every item whose name begins with the given text.
class RefuseNamed final : public ScanRule {
public:
    explicit RefuseNamed(std::string prefix, std::string reason = "Refused by test")
        : prefix_(std::move(prefix)), reason_(std::move(reason)) {}
    std::optional<std::string> skipReason(const std::string& path, const FileStat&, bool) const override {
        if (PathUtil::name(path).starts_with(prefix_)) return reason_;
        return std::nullopt;
    }

private:
    std::string prefix_, reason_;
};

void setTimes(const std::string& path, Date accessed, Date modified) {
    struct timespec times[2] = {{static_cast<time_t>(accessed.secondsSince1970), 0},
                                {static_cast<time_t>(modified.secondsSince1970), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

const Candidate* find(const std::vector<Candidate>& list, const std::string& path) {
    for (const auto& candidate : list) {
        if (candidate.path == path) return &candidate;
    }
    return nullptr;
}

std::vector<std::string> paths(const std::vector<Candidate>& list) {
    std::vector<std::string> out;
    for (const auto& candidate : list) out.push_back(candidate.path);
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<std::string> reasonFor(const ScanReport& report, const std::string& path) {
    for (const auto& skipped : report.skipped) {
        if (skipped.path == path) return skipped.reason;
    }
    return std::nullopt;
}

// Every file date on Linux includes the change time, which a test can't set back, so
// the scans here take place 1,000 days from now: freshly made files are old, and a
// file is made recent by dating it shortly before that moment.
class ScannerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = *PathUtil::canonical(dir.path()) + "/home";
        test::makeDirs(root);
        policy.minimumAge = 30 * kDay;
        policy.minimumItemSize = 1;
        policy.folderInactivity = 90 * kDay;
    }

    Scanner scanner(RuleList rules = {}) const { return Scanner(policy, std::move(rules), {}, {}, now); }
    std::string file(const std::string& relative, const std::string& bytes = "data") const {
        return writeFile(root + "/" + relative, bytes);
    }
    std::string folder(const std::string& relative) const {
        test::makeDirs(root + "/" + relative);
        return root + "/" + relative;
    }
    // Rules as an automatic scan has them, with this test's home and no system folders
    // (the temporary folder is one of them).
    RuleList standardRules(const std::vector<std::string>& pinned = {}) const {
        return NeverTouch::rules(root, pinned, {}, {}, {"/usr"});
    }

    test::TempDir dir;
    std::string root;
    OffloadPolicy policy;
    Date now = Clock::system()->now().adding(1000 * kDay);
};

// Records the folders named "folder …" the rules are asked about, in the order asked
// (the roots are asked about before the walk begins).
class RecordFolders final : public ScanRule {
public:
    std::optional<std::string> skipReason(const std::string& path, const FileStat& stat, bool) const override {
        std::lock_guard guard(lock_);
        if (stat.isDirectory() && PathUtil::name(path).starts_with("folder ") &&
            std::find(folders.begin(), folders.end(), path) == folders.end())
            folders.push_back(path);
        return std::nullopt;
    }
    mutable std::mutex lock_;
    mutable std::vector<std::string> folders;
};

// The names of a folder by inode number.
std::vector<std::string> byInode(const std::string& folder) {
    std::vector<std::pair<ino_t, std::string>> entries;
    DIR* stream = ::opendir(folder.c_str());
    if (!stream) return {};
    while (const dirent* entry = ::readdir(stream)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") entries.emplace_back(entry->d_ino, name);
    }
    ::closedir(stream);
    std::sort(entries.begin(), entries.end());
    std::vector<std::string> names;
    for (auto& [inode, name] : entries) names.push_back(std::move(name));
    return names;
}

// A walk on one thread goes the way the disk laid the folders down: the roots in the
// order given, each folder's subfolders by inode (neither by name nor last to first).
TEST_F(ScannerTest, OneThreadWalksRootsAndSubfoldersInOrder) {
    std::vector<std::string> expected;
    for (const std::string top : {"Documents", "Pictures"}) {
        for (int i = 0; i < 12; ++i) file(top + "/folder " + std::to_string(i) + "/f");
        for (const auto& sub : byInode(root + "/" + top)) expected.push_back(root + "/" + top + "/" + sub);
    }
    auto rule = std::make_shared<RecordFolders>();
    Scanner scan = scanner({rule});
    scan.threads = 1;
    scan.scan({root + "/Documents", root + "/Pictures"});
    EXPECT_EQ(rule->folders, expected);
}

TEST_F(ScannerTest, OutermostQualifyingFolderHoldsInnerProposalsAsParts) {
    file("A/a1");
    file("A/a2");
    file("A/B/b1");
    // A folder with a link can't move whole; its other files still move one by one.
    file("L/f");
    ASSERT_EQ(symlink("f", (root + "/L/link").c_str()), 0);
    // Used 60 days ago: old enough for a file, too recent for a whole folder.
    setTimes(file("M/m1"), now.adding(-60 * kDay), now.adding(-60 * kDay));
    // A folder with more files than allowed.
    policy.maxFolderFileCount = 3;
    file("N/n1");
    file("N/n2");
    file("N/n3");
    file("N/n4");

    const auto report = scanner().scan({root});
    EXPECT_EQ(paths(report.candidates),
              (std::vector<std::string>{root + "/A", root + "/L/f", root + "/M/m1", root + "/N/n1", root + "/N/n2",
                                        root + "/N/n3", root + "/N/n4"}));
    const Candidate* a = find(report.candidates, root + "/A");
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->isDirectory);
    EXPECT_EQ(a->fileCount, 3);
    EXPECT_EQ(paths(a->parts), (std::vector<std::string>{root + "/A/B", root + "/A/a1", root + "/A/a2"}));
    EXPECT_EQ(paths(find(a->parts, root + "/A/B")->parts), (std::vector<std::string>{root + "/A/B/b1"}));
    EXPECT_EQ(a->size, find(a->parts, root + "/A/a1")->size * 3);
    EXPECT_EQ(a->driveSize, a->size);  // never less than the blocks it frees
    EXPECT_GT(a->score, 0);
    EXPECT_EQ(report.skippedCount, 0);
    // root, A, a1, a2, B, b1, L, f, link, M, m1, N, n1, n2, n3, n4
    EXPECT_EQ(report.itemsVisited, 16);

    // Equal inputs and an unchanged disk give equal reports.
    auto again = scanner().scan({root});
    again.duration = report.duration;
    EXPECT_EQ(again, report);
}

// A scan reads every folder: under relatime that would date each one as used now.
TEST_F(ScannerTest, AScanLeavesFoldersAccessTimesAsTheyWere) {
    file("Pictures/set1/a.jpg");
    file("Pictures/b.jpg");
    const Date accessed = Clock::system()->now().adding(-400 * kDay);
    for (const std::string& folder : {root + "/Pictures/set1", root + "/Pictures"})
        setTimes(folder, accessed, accessed.adding(kDay));

    scanner().scan({root});
    for (const std::string& folder : {root + "/Pictures/set1", root + "/Pictures"})
        EXPECT_EQ(FileStat::read(folder)->accessTime.seconds, static_cast<int64_t>(accessed.secondsSince1970)) << folder;
    EXPECT_EQ(listDirectory(root + "/Pictures").size(), 2u);
    EXPECT_EQ(FileStat::read(root + "/Pictures")->accessTime.seconds, static_cast<int64_t>(accessed.secondsSince1970));
    // Weighing a folder picked by hand walks it the same way.
    EXPECT_EQ(ManualMove::candidates({root + "/Pictures"}, root, {}, true, now).candidates.size(), 1u);
    for (const std::string& folder : {root + "/Pictures/set1", root + "/Pictures"})
        EXPECT_EQ(FileStat::read(folder)->accessTime.seconds, static_cast<int64_t>(accessed.secondsSince1970)) << folder;
}

TEST_F(ScannerTest, DeepTreesAreWalkedWhole) {
    // Deeper than the walk keeps folders open: the lower levels are read by path.
    std::string deep = "top";
    for (int level = 0; level < 200; ++level) deep += "/d";
    file(deep + "/bottom.txt");
    file("top/side.txt");
    const auto report = scanner().scan({root});
    ASSERT_EQ(report.candidates.size(), 1u);
    EXPECT_EQ(report.candidates[0].path, root + "/top");
    EXPECT_EQ(report.candidates[0].fileCount, 2);
    EXPECT_EQ(report.itemsVisited, 204);  // root, top, side.txt, 200 folders, bottom.txt
}

TEST_F(ScannerTest, EntriesTooLongToNameByPathAreLeftOut) {
    // A folder whose path just fits, holding a project file whose path doesn't: an lstat
    // can't see that file, so the folder is no project, and its other file moves alone.
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::string folderPath = root;
    while (folderPath.size() < PATH_MAX - 10) {
        const size_t room = PATH_MAX - 10 - folderPath.size() - 1;
        const std::string name(std::min<size_t>(room, 250), 'n');
        ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
        const int inner = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        ASSERT_GE(inner, 0);
        fd = inner;
        folderPath += "/" + name;
    }
    for (const char* name : {"CMakeLists.txt", "d"}) {
        const int file = openat(fd, name, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(file, 0);
        ASSERT_EQ(write(file, "data", 4), 4);
        close(file);
    }
    close(fd);
    ASSERT_LT(folderPath.size() + 2, size_t{PATH_MAX});
    ASSERT_GE(folderPath.size() + 15, size_t{PATH_MAX});

    const auto report = scanner(standardRules()).scan({root});
    ASSERT_EQ(report.candidates.size(), 1u);
    EXPECT_TRUE(report.candidates[0].path == folderPath + "/d");  // not the folder, as a project or whole
    PathUtil::removeTree(root + "/" + std::string(250, 'n'));
}

TEST_F(ScannerTest, ProjectMarkersAreFoundAsLookupsFindThemOnCaseInsensitiveVolumes) {
    if (auto reason = test::mountSkipReason("mount.exfat-fuse")) GTEST_SKIP() << *reason;
    test::LoopVolume volume(dir / "exfat.img", 16, "mkfs.exfat", "mount.exfat-fuse", root);
    if (!volume.mounted()) GTEST_SKIP() << volume.error();
    // exFAT finds "Makefile" where the folder lists "makefile": the folder is a project.
    file("app/makefile", "all:");
    file("app/main.c", "int main;");
    const auto report = scanner(standardRules()).scan({root});
    volume.unmount();
    ASSERT_EQ(report.candidates.size(), 1u);
    EXPECT_EQ(report.candidates[0].path, root + "/app");
    EXPECT_EQ(report.candidates[0].whole, WholeKind::project);
}

namespace {

// The report as paths relative to `top`: candidates with their parts, then skips.
std::vector<std::string> outline(const ScanReport& report, const std::string& top) {
    std::vector<std::string> lines;
    std::function<void(const Candidate&, const std::string&)> add = [&](const Candidate& c, const std::string& in) {
        lines.push_back(in + c.path.substr(top.size()) + (c.isDirectory ? " folder" : "") +
                        (c.whole ? " " + std::string(toString(*c.whole)) : ""));
        for (const auto& part : c.parts) add(part, in + "  ");
    };
    for (const auto& candidate : report.candidates) add(candidate, "");
    for (const auto& skipped : report.skipped) lines.push_back(skipped.path.substr(top.size()) + ": " + skipped.reason);
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace

TEST_F(ScannerTest, ListingHintsNeverChangeTheReport) {
    // Here the walk answers the rules' probes from each folder's listing; on a FUSE
    // volume it asks the file system each time. The same tree must give the same report.
    if (platform::volumeNameMatching(root.c_str()) == platform::NameMatching::unknown) {
        GTEST_SKIP() << "the temporary folder's volume doesn't let listings answer lookups";
    }
    if (auto reason = test::mountSkipReason("ntfs-3g")) GTEST_SKIP() << *reason;
    if (auto reason = test::mountSkipReason("mkntfs")) GTEST_SKIP() << *reason;
    const std::string fuseHome = dir / "fuse";
    test::LoopVolume volume(dir / "ntfs.img", 32, "mkntfs -q -F -f", "ntfs-3g", fuseHome);
    if (!volume.mounted()) GTEST_SKIP() << volume.error();
    ASSERT_EQ(platform::volumeNameMatching(fuseHome.c_str()), platform::NameMatching::unknown);

    const std::vector<std::string> tree = {
        "Makefile", "build/out.o", "dist/app.js", "target/x", "docs/notes.txt",
        "cmake/CMakeLists.txt", "cmake/main.c", "cargo/Cargo.toml", "node/node_modules/x/index.js",
        "node/index.js", "xcode/App.xcodeproj/project.pbxproj", "xcode/main.swift", "git/.git/HEAD",
        "git/readme.txt", "deps/Pods/p.txt", "venv/pyvenv.cfg", "venv/lib.py", "plain/env/pyvenv.cfg",
        "plain/venv/x.py", "plain/__pycache__/c.pyc", "plain/.config/tool/x", "plain/a/b.txt",
        "plain/a/build/keep.txt", "plain/data.sqlite", "plain/data.sqlite-wal", "plain/log", "plain/log-journal",
        "plain/solo-shm", "synced/.stfolder/x", "synced/a.txt", "boxed/inner/.dropbox", "boxed/inner/b.txt",
        "Makefile.bak/x", "pkg.app/Contents/x",
    };
    for (const auto& home : {root, fuseHome}) {
        for (const auto& relative : tree) writeFile(home + "/t/" + relative, "data");
    }
    policy.minimumItemSize = 0;  // NTFS keeps small files in its records: sizes differ, choices mustn't
    const auto local = scanner(NeverTouch::rules(root, {}, {}, {}, {})).scan({root + "/t"});
    const auto fuse = scanner(NeverTouch::rules(fuseHome, {}, {}, {}, {})).scan({fuseHome + "/t"});
    volume.unmount();
    EXPECT_EQ(outline(local, root), outline(fuse, fuseHome));
    EXPECT_EQ(local.itemsVisited, fuse.itemsVisited);
    EXPECT_GE(local.skippedCount, 8);
}

TEST_F(ScannerTest, AgeSizeTypeAndRecentLightFiles) {
    setTimes(file("young.pdf"), now.adding(-10 * kDay), now.adding(-10 * kDay));
    file("old.txt", "x");
    policy.minimumItemSize = 8192;
    EXPECT_TRUE(scanner().scan({root}).candidates.empty());  // one 4 KiB block each

    policy.minimumItemSize = 1;
    policy.recentLightFiles = RecentLightFiles{7 * kDay, 1};
    const auto report = scanner().scan({root});
    ASSERT_EQ(report.candidates.size(), 2u);
    EXPECT_EQ(report.candidates[0].path, root + "/old.txt");  // recent items rank last
    EXPECT_FALSE(report.candidates[0].isRecent);
    EXPECT_EQ(report.candidates[1].path, root + "/young.pdf");
    EXPECT_TRUE(report.candidates[1].isRecent);

    // Scripts are not among the light types.
    setTimes(file("young.py"), now.adding(-10 * kDay), now.adding(-10 * kDay));
    EXPECT_FALSE(find(scanner().scan({root}).candidates, root + "/young.py"));
}

TEST_F(ScannerTest, RefusalsAreReportedAndKeepTheirFolderInPlace) {
    test::FakeOpenFiles checker;
    checker.uses = {{file("O/open.txt"), 7, "Editor"}, {folder("Busy"), 8, "Shell"}};
    file("O/closed.txt");
    file("Busy/inner.txt");
    file("D/x.db");
    file("D/x.db-wal");
    file("T/.draft.keldwick-partial-3");
    file("T/kept.txt");
    const std::string badName = file("U/bad\xff.txt");
    file("U/fine.txt");
    const std::string linked = file("H/linked");
    ASSERT_EQ(link(linked.c_str(), (root + "/H2").c_str()), 0);
    folder("P/Tool.app");
    file("P/Tool.app/Contents/binary");
    file("R/refused.txt");

    Scanner scan(policy, {std::make_shared<RefuseNamed>("refused")}, {}, checker.usage(root), now);
    const auto report = scan.scan({root});

    EXPECT_EQ(reasonFor(report, root + "/O/open.txt"), "Open in Editor");
    EXPECT_EQ(reasonFor(report, root + "/D/x.db"), "Part of a database (with “x.db-wal”)");
    EXPECT_EQ(reasonFor(report, root + "/D/x.db-wal"), "Part of a database (with “x.db”)");
    EXPECT_EQ(reasonFor(report, badName), kUnrecordableNameReason);
    EXPECT_EQ(reasonFor(report, linked), "Has multiple hard links");
    EXPECT_EQ(reasonFor(report, root + "/P/Tool.app"), "App or app component");
    EXPECT_EQ(reasonFor(report, root + "/R/refused.txt"), "Refused by test");
    EXPECT_FALSE(reasonFor(report, root + "/T/.draft.keldwick-partial-3"));  // never looked at
    EXPECT_EQ(report.skippedCount, static_cast<int64_t>(report.skipped.size()));

    // A database's files count in their folder and don't keep it from moving whole.
    EXPECT_EQ(paths(report.candidates),
              (std::vector<std::string>{root + "/Busy/inner.txt", root + "/D", root + "/O/closed.txt",
                                        root + "/T/kept.txt", root + "/U/fine.txt"}));
    EXPECT_TRUE(find(report.candidates, root + "/D")->parts.empty());
}

TEST_F(ScannerTest, SkipListKeepsTheFirstTwoThousand) {
    for (int i = 0; i < 2500; ++i) file("many/r" + std::to_string(10000 + i));
    Scanner scan = scanner({std::make_shared<RefuseNamed>("r")});
    const auto report = scan.scan({root});
    EXPECT_EQ(report.skipped.size(), 2000u);
    EXPECT_EQ(report.skippedCount, 2500);
    // The first by name, in name order, whatever order they were visited in.
    EXPECT_EQ(report.skipped.front().path, root + "/many/r10000");
    EXPECT_EQ(report.skipped.back().path, root + "/many/r11999");
    EXPECT_TRUE(std::is_sorted(report.skipped.begin(), report.skipped.end(),
                               [](const SkippedItem& a, const SkippedItem& b) { return a.path < b.path; }));
    scan.skippedReportLimit = 7;
    const auto few = scan.scan({root});
    ASSERT_EQ(few.skipped.size(), 7u);
    EXPECT_EQ(few.skipped.back().path, root + "/many/r10006");
    scan.skippedReportLimit = 0;
    EXPECT_TRUE(scan.scan({root}).skipped.empty());

    const auto nothing = scanner().scan({});
    EXPECT_TRUE(nothing.candidates.empty());
    EXPECT_EQ(nothing.itemsVisited, 0);
}

// Entries are visited by inode, but what a whole folder holds keeps the
// order of its names, subfolders among the files.
TEST_F(ScannerTest, AWholeFolderKeepsItsPartsInNameOrder) {
    std::vector<std::string> expected;
    for (int i = 10; i < 40; ++i) expected.push_back(file("W/p" + std::to_string(i)));
    file("W/p20x/q");
    expected.push_back(root + "/W/p20x");
    std::sort(expected.begin(), expected.end());
    const auto report = scanner().scan({root});
    const Candidate* whole = find(report.candidates, root + "/W");
    ASSERT_TRUE(whole);
    std::vector<std::string> parts;
    for (const auto& part : whole->parts) parts.push_back(part.path);
    EXPECT_EQ(parts, expected);
}

TEST_F(ScannerTest, RootsAreResolvedAndWalkedOnce) {
    file("sub/f");
    const std::string sibling = root + "-2";
    writeFile(sibling + "/g", "g");
    ASSERT_EQ(symlink(root.c_str(), (dir.path() + "/alias").c_str()), 0);

    const auto roots = canonicalRoots({root, root + "/sub", dir.path() + "/alias", sibling, root + "/missing"});
    EXPECT_EQ(roots, (std::vector<std::string>{root, sibling}));
    EXPECT_EQ(canonicalRoots({"/", root}), std::vector<std::string>{"/"});

    // Every given folder is walked but never proposed whole, nested ones included.
    const auto report = scanner().scan({root + "/sub", root, dir.path() + "/alias", root + "/missing"});
    EXPECT_EQ(paths(report.candidates), (std::vector<std::string>{root + "/sub/f"}));
    EXPECT_EQ(paths(scanner().scan({root}).candidates), (std::vector<std::string>{root + "/sub"}));
    EXPECT_EQ(report.skippedCount, 0);

    // A root that is a file offers nothing; a refused root is reported.
    EXPECT_TRUE(scanner().scan({root + "/sub/f"}).candidates.empty());
    const auto pinned = scanner(standardRules({root + "/sub"})).scan({root + "/sub"});
    ASSERT_EQ(pinned.skipped.size(), 1u);
    EXPECT_EQ(pinned.skipped[0], (SkippedItem{root + "/sub", "Kept on this computer"}));
    EXPECT_EQ(Scanner::reasonToSkip(root + "/missing", {}), "Folder not found");
}

TEST_F(ScannerTest, RulesOfAnAutomaticScanAndTheWholeFolderRoad) {
    file("Documents/report.txt");
    file("Documents/.hidden/cache");
    file("work/app/package.json", "{}");
    file("work/app/src/main.js");
    file("pinned/keep.txt");

    // Projects refused before they are looked into.
    policy.moveProjects = false;
    auto report = scanner(standardRules({root + "/pinned"})).scan({root});
    EXPECT_EQ(reasonFor(report, root + "/work/app"), "Code project");
    EXPECT_EQ(reasonFor(report, root + "/Documents/.hidden"), "Hidden folder (app or tool data)");
    EXPECT_EQ(reasonFor(report, root + "/pinned"), "Kept on this computer");
    EXPECT_FALSE(find(report.candidates, root + "/work/app/src/main.js"));
    EXPECT_FALSE(find(report.candidates, root + "/work"));  // holds a refused project
    EXPECT_TRUE(find(report.candidates, root + "/Documents/report.txt"));

    policy.moveProjects = true;
    policy.driveIsNativeFormat = false;
    report = scanner(standardRules()).scan({root});
    EXPECT_EQ(reasonFor(report, root + "/work/app"), "Only moves to a drive formatted for Linux");

    policy.driveIsNativeFormat = true;
    test::FakeOpenFiles checker;
    checker.uses = {{root + "/work/app/src/main.js", 9, "node"}};
    Scanner scan(policy, standardRules(), {}, checker.usage(root), now);
    EXPECT_EQ(reasonFor(scan.scan({root}), root + "/work/app"), "In use by node");
}

TEST_F(ScannerTest, ProjectsMoveWholeWhenIdleAndLargeEnough) {
    file("work/old/Makefile", "all:");
    file("work/old/src/main.c", "int main;");
    file("work/young/Cargo.toml", "[package]");
    setTimes(file("work/young/src/lib.rs"), now.adding(-2 * kDay), now.adding(-2 * kDay));
    file("small/tiny/go.mod", "module x");
    file("small/other.txt");

    policy.minimumItemSize = 8192;
    const auto report = scanner(standardRules()).scan({root});
    const Candidate* old = find(report.candidates, root + "/work/old");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->whole, WholeKind::project);
    EXPECT_EQ(old->fileCount, 2);
    EXPECT_TRUE(old->parts.empty());
    EXPECT_FALSE(old->isRecent);
    EXPECT_EQ(reasonFor(report, root + "/work/young"), "Code you're working on");
    // One block is below the size threshold: no candidate, no skip, and the folder above
    // can't move whole either.
    EXPECT_FALSE(reasonFor(report, root + "/small/tiny"));
    EXPECT_FALSE(find(report.candidates, root + "/small"));
    EXPECT_TRUE(find(report.candidates, root + "/small/other.txt") == nullptr);  // below the size too
    EXPECT_FALSE(find(report.candidates, root + "/work"));
}

TEST_F(ScannerTest, LastUsedDatesFromBookmarksAndFileTimes) {
    const std::string opened = file("opened.pdf");
    const std::string read = file("read.pdf");
    const std::string both = file("both.pdf");
    setTimes(read, now.adding(-kDay), Clock::system()->now().adding(-100 * kDay));
    setTimes(both, now.adding(-kDay), Clock::system()->now().adding(-100 * kDay));
    const auto stamp = [](Date date) { return date.iso8601(); };
    const std::string xbel = writeFile(
        dir.path() + "/recently-used.xbel",
        "<?xml version=\"1.0\"?><xbel version=\"1.0\">"
        "<bookmark href=\"file://" + opened + "\" modified=\"" + stamp(now.adding(-2 * kDay)) + "\"/>"
        "<bookmark href=\"file://" + both + "\" modified=\"" + stamp(Clock::system()->now().adding(-50 * kDay)) + "\"/>"
        "</xbel>");

    Scanner scan = scanner();
    scan.lastUsedDates = RecentlyUsed::lastUsedDates({root}, {xbel});
    auto report = scan.scan({root});
    // A bookmark makes the untouched file recent; the access time makes the read one recent;
    // the bookmark stands in for the access time even when that is later.
    EXPECT_EQ(paths(report.candidates), std::vector<std::string>{both});
    EXPECT_NE(report.candidates[0].lastUsedSource, LastUsedSource::accessDate);

    // A damaged bookmark file gives no dates: the access times decide.
    writeFile(xbel, "<xbel><bookmark href=\"file://" + opened + "\"");
    scan.lastUsedDates = RecentlyUsed::lastUsedDates({root}, {xbel});
    EXPECT_TRUE(scan.lastUsedDates.empty());
    report = scan.scan({root});
    EXPECT_EQ(paths(report.candidates), std::vector<std::string>{opened});
}

TEST_F(ScannerTest, FileHeldOpenByAChildProcessThroughALinkedManagedFolder) {
    const std::string held = file("held.txt");
    file("free.txt");
    const std::string alias = dir.path() + "/alias";
    ASSERT_EQ(symlink(root.c_str(), alias.c_str()), 0);

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = open((alias + "/held.txt").c_str(), O_RDONLY);
        char byte = fd >= 0 ? 'y' : 'n';
        if (write(ready[1], &byte, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    close(ready[1]);

    // Processes name the file by its resolved path, as the walk does.
    ProcessOpenFileChecker checker;
    Scanner scan(policy, {}, {}, checker.usage(root), now);
    const auto report = scan.scan({alias});
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    ASSERT_EQ(byte, 'y');
    auto reason = reasonFor(report, held);
    ASSERT_TRUE(reason);
    EXPECT_TRUE(reason->starts_with("Open in ")) << *reason;
    EXPECT_EQ(paths(report.candidates), std::vector<std::string>{root + "/free.txt"});
}

TEST_F(ScannerTest, ItemsOfOtherUsersLockedItemsAndOtherDisks) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give files away, lock them and mount";
    const std::string theirs = file("theirs.txt");
    ASSERT_EQ(chown(theirs.c_str(), test::kNobody, test::kNobody), 0);
    const std::string locked = file("locked.txt");
    restoreLockFlags(locked, 0x20000);
    const bool lockWorks = FileStat::read(locked)->isLocked();
    const std::string mounted = folder("mounted");
    const bool mountWorks = mount("tmpfs", mounted.c_str(), "tmpfs", 0, "size=1m") == 0;
    if (mountWorks) writeFile(mounted + "/inside", "x");

    const auto report = scanner().scan({root});
    if (mountWorks) umount2(mounted.c_str(), MNT_DETACH);
    clearLockFlags(locked);

    EXPECT_EQ(reasonFor(report, theirs), "Owned by another user");
    if (lockWorks) {
        EXPECT_EQ(reasonFor(report, locked), "Locked");
    }
    if (mountWorks) {
        EXPECT_EQ(reasonFor(report, mounted), "On another disk");
    }
}

TEST_F(ScannerTest, RecheckRefusesWhatChangedSinceTheScan) {
    const std::string item = file("docs/sub/paper.txt");
    const std::string folderItem = root + "/docs";
    ASSERT_TRUE(find(scanner(standardRules()).scan({root}).candidates, folderItem));

    // Nothing objects while nothing changed; no rules, no objection.
    EXPECT_FALSE(recheckItem(folderItem, standardRules(), std::nullopt));
    EXPECT_FALSE(recheckItem(folderItem, {}, std::nullopt));
    EXPECT_FALSE(recheckItem(root + "/gone", standardRules({root + "/gone"}), std::nullopt));

    // The user pins a file inside after the scan.
    EXPECT_EQ(recheckItem(folderItem, standardRules({item}), std::nullopt), "Kept on this computer (“sub/paper.txt”)");
    EXPECT_EQ(recheckItem(item, standardRules({item}), std::nullopt), "Kept on this computer");
    EXPECT_EQ(recheckItem(item, standardRules({folderItem}), std::nullopt), "Inside a folder kept on this computer");
    // A whole item is judged by the rules' whole-item reasons only.
    EXPECT_EQ(recheckItem(folderItem, standardRules({item}), WholeKind::chosen), "Holds something kept on this computer");
    EXPECT_FALSE(recheckItem(folderItem, {std::make_shared<RefuseNamed>("paper")}, WholeKind::chosen));
    EXPECT_EQ(recheckItem(folderItem, {std::make_shared<RefuseNamed>("paper")}, std::nullopt),
              "Refused by test (“sub/paper.txt”)");
}

TEST_F(ScannerTest, FoldersThatCantBeSearchedOrListed) {
    if (!test::canDropPrivileges()) GTEST_SKIP() << "needs root to act as another user";
    file("locked/project/Makefile", "all:");
    file("locked/project/main.c", "int main;");
    file("outer/f.txt");
    folder("outer/closed");
    test::chownTree(root);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    // Readable but not searchable: its names can be listed, its entries can't be looked at.
    ASSERT_EQ(chmod((root + "/locked/project").c_str(), 0444), 0);
    // Not readable: what it holds is unknown, so the folder around it can't move whole.
    ASSERT_EQ(chmod((root + "/outer/closed").c_str(), 0300), 0);
    policy.moveProjects = false;
    const Scanner scan = scanner();
    const std::string project = root + "/locked/project";
    const int status = test::runAsNobody([&] {
        const auto report = scan.scan({root});
        // home, locked, project and its two names, outer, closed, f.txt
        if (report.itemsVisited != 8) return 2;
        if (paths(report.candidates) != std::vector<std::string>{root + "/outer/f.txt"}) return 3;
        // A project would be refused as one; unexamined, it is only kept in place.
        return reasonFor(report, project) ? 1 : 0;
    });
    EXPECT_EQ(status, 0);
}

TEST(FolderListingHintTest, ProbesOfTheListedFolderAreAnsweredFromItsNames) {
    test::TempDir dir;
    writeFile(dir / "real", "x");
    const std::string folder = dir.path();
    // As a walk reads them: in no particular order.
    const std::vector<std::string> names = {"zeta", "listed", "Makefile", "a"};
    const std::vector<uint32_t> byName = nameOrder(names);
    EXPECT_EQ(byName, (std::vector<uint32_t>{2, 3, 1, 0}));
    EXPECT_TRUE(pathExists(dir / "real"));
    EXPECT_FALSE(pathExists(dir / "listed"));
    {
        FolderListingHint hint(folder, names, byName);
        for (const auto& name : names) EXPECT_TRUE(pathExists(dir / name)) << name;
        EXPECT_FALSE(pathExists(dir / "real"));
        EXPECT_FALSE(pathExists(dir / "b"));
        EXPECT_FALSE(pathExists(dir / "zz"));
        EXPECT_EQ(folderNames(folder), names);
        EXPECT_TRUE(pathExists(folder));  // not inside the hinted folder: asked of the file system
        EXPECT_TRUE(DevelopmentRule::isProject(folder));
    }
    EXPECT_FALSE(pathExists(dir / "listed"));
    EXPECT_EQ(folderNames(folder), std::vector<std::string>{"real"});
}

TEST(ScannerChecksTest, PackagesAndUniquePaths) {
    test::TempDir dir;
    test::makeDirs(dir / "Movie.RTFD");
    writeFile(dir / "file.rtfd", "x");
    test::makeDirs(dir / "plain.folder");
    EXPECT_TRUE(isPackage(dir / "Movie.RTFD"));
    EXPECT_FALSE(isPackage(dir / "file.rtfd"));
    EXPECT_FALSE(isPackage(dir / "plain.folder"));
    EXPECT_FALSE(isPackage(dir / "missing.app"));

    std::vector<Candidate> list{Candidate("/a", false, 1, 1, Date{}, LastUsedSource::recentlyUsed),
                                Candidate("/b", false, 2, 1, Date{}, LastUsedSource::recentlyUsed),
                                Candidate("/a", false, 3, 1, Date{}, LastUsedSource::recentlyUsed)};
    auto unique = uniqueByPath(list);
    ASSERT_EQ(unique.size(), 2u);
    EXPECT_EQ(unique[0], list[0]);
    EXPECT_EQ(unique[1], list[1]);
}

TEST(ScannerChecksTest, ManagedFolderReasonsGoRuleByRule) {
    test::TempDir dir;
    const std::string home = *PathUtil::canonical(dir.path());
    test::makeDirs(home + "/proj/.git");
    test::makeDirs(home + "/proj/sub");
    // The development rule's reason for the folder above comes before the pin's item reason.
    auto rules = NeverTouch::rules(home + "/x", {home + "/proj/sub"}, {}, {}, {"/usr"});
    EXPECT_EQ(Scanner::reasonToSkip(home + "/proj/sub", rules), "Git repository (inside “proj”)");
    rules = NeverTouch::rules(home + "/x", {home + "/proj"}, {}, {}, {"/usr"});
    EXPECT_EQ(Scanner::reasonToSkip(home + "/proj", rules), "Git repository");
    EXPECT_FALSE(Scanner::reasonToSkip(home, {}));
}

}  // namespace

namespace {

// Cancels a scan from inside the walk, when it meets the named item.
class CancelAt final : public ScanRule {
public:
    CancelAt(std::string name, std::shared_ptr<CancellationFlag> flag) : name_(std::move(name)), flag_(std::move(flag)) {}
    std::optional<std::string> skipReason(const std::string& path, const FileStat&, bool) const override {
        if (PathUtil::name(path) == name_) flag_->cancel();
        return std::nullopt;
    }

private:
    std::string name_;
    std::shared_ptr<CancellationFlag> flag_;
};

int openDescriptors() {
    int count = 0;
    for (const auto& name : listDirectory("/proc/self/fd")) count += name.empty() ? 0 : 1;
    return count;
}

class ScannerThreadsTest : public ScannerTest {
protected:
    // A home with something of every kind the walk meets, spread over enough folders
    // that the threads share them out. `portable`: only what any volume can hold.
    void richTree(bool portable) {
        for (int d = 0; d < 6; ++d) {
            for (int s = 0; s < 6; ++s) {
                const std::string at = "Documents/" + std::to_string(d) + "/" + std::to_string(s) + "/";
                for (int f = 0; f < 5; ++f) {
                    const std::string path = file(at + "f" + std::to_string(f) + ".txt", std::string(1 + d * 7 + s + f, 'x'));
                    if ((d + s + f) % 7 == 0) setTimes(path, now.adding(-3 * kDay), now.adding(-3 * kDay));
                    if ((d + s + f) % 11 == 0) setTimes(path, now.adding(-60 * kDay), now.adding(-60 * kDay));
                }
                if ((d + s) % 5 == 0) file(at + "refused-" + std::to_string(s) + ".txt");
            }
        }
        file("Documents/db/notes.sqlite");
        file("Documents/db/notes.sqlite-wal");
        file("Documents/Letter.pages/Index.xml");
        file("Documents/Deck.key/Data/slide.jpg");
        file("Documents/Tool.app/Contents/tool");
        file("Documents/.config/tool/settings");
        file("Documents/links/plain.txt");
        file("Documents/.x.keldwick-partial-1");
        file("Projects/old/Makefile", "all:");
        file("Projects/old/src/main.c", "int main;");
        file("Projects/web/package.json", "{}");
        file("Projects/web/node_modules/x/index.js");
        file("Projects/web/.git/HEAD");
        file("Projects/young/Cargo.toml", "[package]");
        setTimes(file("Projects/young/src/lib.rs"), now.adding(-2 * kDay), now.adding(-2 * kDay));
        file("Projects/loose/build/out.o");
        const std::string devices = folder("Sim/avd");
        writeFile(devices + "/Pad.ini", "path=Pad.avd");
        writeFile(devices + "/Pad.avd/userdata-qemu.img", "x");
        writeFile(devices + "/Phone.ini", "path=Phone.avd");
        writeFile(devices + "/Phone.avd/multiinstance.lock", "");
        if (portable) return;
        ASSERT_EQ(symlink("../0/0/f0.txt", (root + "/Documents/links/to-file").c_str()), 0);
        const std::string first = file("Documents/hard/a.txt");
        ASSERT_EQ(link(first.c_str(), (root + "/Documents/hard/b.txt").c_str()), 0);
        file("Documents/bad/caf\xe9.txt");
    }

    Scanner richScanner(int threads) const {
        test::FakeOpenFiles checker;
        checker.uses = {{root + "/Documents/0/0/f1.txt", 7, "Editor"}, {root + "/Documents/1/2", 8, "Shell"}};
        RuleList rules = standardRules();
        rules.push_back(std::make_shared<RefuseNamed>("refused"));
        Scanner scan(policy, std::move(rules), {}, checker.usage(root), now);
        scan.emulatorDevices = root + "/Sim/avd";
        scan.fixedFolders = {root + "/Documents/2"};
        scan.threads = threads;
        return scan;
    }

    // The managed folders as a user might give them: nested, repeated, one missing.
    std::vector<std::string> richRoots() const {
        return {root + "/Documents", root + "/Projects", root + "/Documents/3", root + "/Projects", root + "/Sim",
                root + "/missing"};
    }
};

ScanReport withoutDuration(ScanReport report) {
    report.duration = 0;
    return report;
}

TEST_F(ScannerThreadsTest, ReportsMatchOneThreadWhateverTheCountOrTiming) {
    richTree(false);
    struct Case {
        const char* name;
        int64_t limit;
        int64_t minimumItemSize;
        int64_t maxFolderFileCount;
    };
    const Case cases[] = {
        {"every kind of item", 2000, 1, 20'000},
        {"more refusals than the report keeps", 3, 1, 20'000},
        {"every file, no whole folders", 2000, 0, 0},
        {"small folders only", 2000, 1, 4},
    };
    for (const auto& c : cases) {
        policy.minimumItemSize = c.minimumItemSize;
        policy.maxFolderFileCount = c.maxFolderFileCount;
        Scanner one = richScanner(1);
        one.skippedReportLimit = c.limit;
        const ScanReport expected = withoutDuration(one.scan(richRoots()));
        ASSERT_FALSE(expected.candidates.empty()) << c.name;
        ASSERT_GE(expected.skippedCount, 8) << c.name;
        for (int threads : {2, 3, 8}) {
            for (int round = 0; round < 4; ++round) {
                Scanner many = richScanner(threads);
                many.skippedReportLimit = c.limit;
                EXPECT_EQ(withoutDuration(many.scan(richRoots())), expected) << c.name << ", " << threads << " threads";
            }
        }
    }
}

TEST_F(ScannerThreadsTest, UnreadableFoldersGiveTheSameReportOnAnyNumberOfThreads) {
    if (!test::canDropPrivileges()) GTEST_SKIP() << "needs root to act as another user";
    richTree(true);
    file("Documents/4/closed/inner.txt");
    file("Documents/5/sealed/project/Makefile", "all:");
    test::chownTree(root);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod((root + "/Documents/4/closed").c_str(), 0300), 0);         // can't be listed
    ASSERT_EQ(chmod((root + "/Documents/5/sealed/project").c_str(), 0444), 0);  // can't be searched
    ASSERT_EQ(chmod((root + "/Documents/1").c_str(), 0000), 0);                // neither
    const Scanner one = richScanner(1);
    const Scanner many = richScanner(6);
    const int status = test::runAsNobody([&] {
        const ScanReport expected = withoutDuration(one.scan(richRoots()));
        for (int round = 0; round < 5; ++round) {
            if (withoutDuration(many.scan(richRoots())) != expected) return 1;
        }
        return expected.candidates.empty() ? 2 : 0;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(ScannerThreadsTest, AFuseVolumeGivesTheSameReportOnAnyNumberOfThreads) {
    if (auto reason = test::mountSkipReason("ntfs-3g")) GTEST_SKIP() << *reason;
    if (auto reason = test::mountSkipReason("mkntfs")) GTEST_SKIP() << *reason;
    const std::string home = root;
    root = *PathUtil::canonical(dir.path()) + "/fuse";
    test::LoopVolume volume(dir / "ntfs.img", 32, "mkntfs -q -F -f", "ntfs-3g", root);
    if (!volume.mounted()) GTEST_SKIP() << volume.error();
    richTree(true);
    policy.minimumItemSize = 0;
    const ScanReport expected = withoutDuration(richScanner(1).scan(richRoots()));
    std::vector<ScanReport> reports;
    for (int round = 0; round < 3; ++round) reports.push_back(withoutDuration(richScanner(5).scan(richRoots())));
    volume.unmount();
    EXPECT_FALSE(expected.candidates.empty());
    for (const auto& report : reports) EXPECT_EQ(report, expected);
    root = home;
}

TEST_F(ScannerThreadsTest, CancellationStopsTheWalkAndLeavesNoDescriptorOpen) {
    richTree(false);
    struct Case {
        int threads;
        const char* cancelAt;  // nothing: cancelled before the scan starts; "": never
    };
    const Case cases[] = {{1, nullptr}, {4, nullptr}, {1, "f3.txt"}, {4, "f3.txt"}, {8, "notes.sqlite"}, {1, ""}, {8, ""}};
    for (const auto& c : cases) {
        const int before = openDescriptors();
        auto flag = std::make_shared<CancellationFlag>();
        Scanner scan = richScanner(c.threads);
        scan.cancel = flag;
        if (!c.cancelAt) {
            flag->cancel();
        } else if (*c.cancelAt) {
            scan.rules.push_back(std::make_shared<CancelAt>(c.cancelAt, flag));
        }
        const std::string label = std::to_string(c.threads) + " threads, cancelled at " +
                                  (c.cancelAt ? std::string(c.cancelAt) : std::string("the start"));
        if (c.cancelAt && !*c.cancelAt) {
            EXPECT_EQ(withoutDuration(scan.scan(richRoots())), withoutDuration(richScanner(1).scan(richRoots())))
                << label;
        } else {
            EXPECT_THROW(scan.scan(richRoots()), CancellationError) << label;
        }
        EXPECT_EQ(openDescriptors(), before) << label;
    }
}

TEST_F(ScannerThreadsTest, DeepAndWideTreesOnManyThreads) {
    // Deeper than the threads keep folders open, and wide enough that all take part.
    std::string deep = "deep";
    for (int level = 0; level < 150; ++level) deep += "/d";
    file(deep + "/bottom.txt");
    for (int i = 0; i < 200; ++i) file("wide/" + std::to_string(i) + "/x/f.txt");
    const int before = openDescriptors();
    Scanner one = scanner();
    const ScanReport expected = withoutDuration(one.scan({root}));
    EXPECT_EQ(expected.itemsVisited, 1 + 151 + 1 + 1 + 200 * 3);  // root, deep folders, bottom.txt, wide, its trees
    Scanner many = scanner();
    many.threads = 8;
    EXPECT_EQ(withoutDuration(many.scan({root})), expected);
    EXPECT_EQ(openDescriptors(), before);

    many.threads = 0;
    EXPECT_THROW(many.scan({root}), std::invalid_argument);
}

}  // namespace
