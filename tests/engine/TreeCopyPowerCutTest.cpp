// A tree copy starts each file's write-back as it goes and flushes the files together at
// the end. Whatever the order, once copyTree returns a power cut must leave every file's
// bytes, mode, dates and tags, and every folder's entries, mode, dates and tags, as copied.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/FileCopier.h"
#include "foundation/FileOps.h"
#include "platform/FileIO.h"
#include "support/PowerCutSimulator.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

using test::PowerCutSimulator;
using test::TempDir;
using test::writeFile;
using Snapshot = std::map<std::string, std::string>;

// Each entry under `root` (the root as "."): its bytes or link target, with the mode,
// modification time and tags of files and folders.
Snapshot snapshotOf(const std::string& root) {
    std::vector<std::string> relative{"."};
    collectRelativePaths("", root, relative);
    Snapshot snapshot;
    for (const auto& entry : relative) {
        const std::string path = entry == "." ? root : root + "/" + entry;
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0) continue;
        std::string& out = snapshot[entry];
        if (S_ISLNK(status.st_mode)) {
            out = "-> " + readLink(path).value_or("?");
            continue;
        }
        char tags[64] = "";
        const ssize_t tagged = ::getxattr(path.c_str(), "user.xdg.tags", tags, sizeof tags);
        out = std::to_string(status.st_mode) + " " + std::to_string(status.st_mtim.tv_sec) + "." +
              std::to_string(status.st_mtim.tv_nsec) + " " + (tagged > 0 ? std::string(tags, size_t(tagged)) : "");
        if (S_ISREG(status.st_mode)) out += " " + test::readFile(path);
    }
    return snapshot;
}

// Modes, dates and tags no flush would give by chance, deepest entries first so that
// giving them doesn't move their folders' dates afterwards.
void giveMetadata(const std::string& root) {
    std::vector<std::string> relative;
    collectRelativePaths("", root, relative);
    relative.insert(relative.begin(), ".");
    int step = 0;
    for (auto entry = relative.rbegin(); entry != relative.rend(); ++entry) {
        const std::string path = *entry == "." ? root : root + "/" + *entry;
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || S_ISLNK(status.st_mode)) continue;
        ::chmod(path.c_str(), S_ISDIR(status.st_mode) ? 0751 : 0640);
        ::setxattr(path.c_str(), "user.xdg.tags", "kept", 4, 0);
        const struct timespec times[2] = {{1'500'000'000 + step, 0}, {1'400'000'000 + step, 987'654'321}};
        ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
        ++step;
    }
}

// How many files the regular names under `root` stand for: names of one file count once.
size_t distinctFiles(const std::string& root) {
    std::vector<std::string> relative;
    collectRelativePaths("", root, relative);
    std::set<ino_t> inodes;
    for (const auto& entry : relative) {
        struct stat status {};
        if (::lstat((root + "/" + entry).c_str(), &status) == 0 && S_ISREG(status.st_mode)) inodes.insert(status.st_ino);
    }
    return inodes.size();
}

struct TreeCase {
    const char* label;
    std::function<void(const std::string&)> make;
};

TEST(TreeCopyPowerCutTest, EverythingCopiedSurvivesACutRightAfterTheCopy) {
    const std::vector<TreeCase> table{
        {"many files in one folder",
         [](const std::string& root) {
             for (int i = 0; i < 40; ++i) writeFile(root + "/photo-" + std::to_string(i) + ".jpg", std::string(300 + i, 'p'));
         }},
        {"files at every depth, empty ones and an empty folder",
         [](const std::string& root) {
             writeFile(root + "/top.txt", "top");
             writeFile(root + "/empty", "");
             writeFile(root + "/a/one.txt", std::string(70'000, '1'));
             writeFile(root + "/a/b/two.txt", "two");
             writeFile(root + "/a/b/c/three.txt", "three");
             writeFile(root + "/d/four.txt", "four");
             test::makeDirs(root + "/a/hollow");
             ::symlink("top.txt", (root + "/a/link").c_str());
         }},
        {"one file under a name in each of several folders",
         [](const std::string& root) {
             writeFile(root + "/snap1/archive.bin", std::string(70'000, 'a'));
             for (const char* other : {"/snap2", "/snap3"}) {
                 test::makeDirs(root + other);
                 ::link((root + "/snap1/archive.bin").c_str(), (root + other + "/archive.bin").c_str());
                 writeFile(root + other + "/notes.txt", other);
             }
         }},
    };
    for (const auto& treeCase : table) {
        SCOPED_TRACE(treeCase.label);
        TempDir dir;
        const std::string source = dir / "home/Album";
        const std::string drive = dir / "drive";
        test::makeDirs(source);
        test::makeDirs(drive);
        treeCase.make(source);
        giveMetadata(source);
        const Snapshot expected = snapshotOf(source);

        PowerCutSimulator simulator({dir / "home", drive}, dir / "kept by the simulator");
        {
            platform::ScopedFileSystemCalls installed(simulator);
            FileCopier(4096).copyTree(source, drive + "/Album", {});
            platform::flushFolder(drive);  // the caller's part: the copy's own entry
        }
        simulator.cutPower();
        EXPECT_EQ(snapshotOf(drive + "/Album"), expected);
        EXPECT_EQ(distinctFiles(drive + "/Album"), distinctFiles(source));
    }
}

}  // namespace
}  // namespace keldwick
