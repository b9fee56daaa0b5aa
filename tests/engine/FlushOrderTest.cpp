// Nothing at home is linked, renamed or removed before the copy it gives way to was made
// durable and that flush was waited for, read from the call table's own record of the
// calls a move makes. A tree on a volume whose fsync can be trusted waits once (one
// syncfs), not once per file; where fsync can't be trusted each file and folder is
// flushed and the volume synced as well.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "OffloadFixture.h"
#include "platform/FileIO.h"

namespace keldwick {
namespace {

// One call as the table saw it: its name and the path it acted on, resolved through any
// descriptor it was given. Flushes are noted once they returned, changes before they run.
struct Call {
    std::string name;
    std::string path;
};

std::string linkTarget(const std::string& link) {
    char buffer[4096];
    const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : link;
}

// A path that names its folder through /proc/self/fd, as the engine's held folders do,
// with that folder's real path in its place.
std::string unmasked(const std::string& path) {
    const std::string prefix = "/proc/self/fd/";
    if (path.rfind(prefix, 0) != 0) return path;
    const auto slash = path.find('/', prefix.size());
    const std::string link = path.substr(0, slash);
    return linkTarget(link) + (slash == std::string::npos ? "" : path.substr(slash));
}

std::string pathAt(int dirFd, const char* path) {
    std::string full = path;
    if (full.empty() || full[0] != '/')
        full = (dirFd == AT_FDCWD ? linkTarget("/proc/self/cwd") : linkTarget("/proc/self/fd/" + std::to_string(dirFd))) +
               "/" + full;
    return unmasked(full);
}

std::string pathOf(int fd) { return linkTarget("/proc/self/fd/" + std::to_string(fd)); }

class RecordingCalls final : public platform::FileSystemCalls {
public:
    // `exfatRoot`: volumes under it are played as exFAT, whose fsync can't be trusted.
    explicit RecordingCalls(std::string exfatRoot = {}) : exfatRoot_(std::move(exfatRoot)) {}

    int fsync(int fd) override { return flushed("fsync", fd, FileSystemCalls::fsync(fd)); }
    int syncfs(int fd) override { return flushed("syncfs", fd, FileSystemCalls::syncfs(fd)); }
    int renameAt(int fromDirFd, const char* from, int toDirFd, const char* to, unsigned flags) override {
        note("rename", pathAt(fromDirFd, from));
        note("rename", pathAt(toDirFd, to));
        return FileSystemCalls::renameAt(fromDirFd, from, toDirFd, to, flags);
    }
    int unlinkAt(int dirFd, const char* path, int flags) override {
        note("unlink", pathAt(dirFd, path));
        return FileSystemCalls::unlinkAt(dirFd, path, flags);
    }
    int symlinkAt(const char* target, int dirFd, const char* path) override {
        note("symlink", pathAt(dirFd, path));
        return FileSystemCalls::symlinkAt(target, dirFd, path);
    }
    int fstatfs(int fd, struct statfs* into) override {
        const int result = FileSystemCalls::fstatfs(fd, into);
        if (result == 0 && !exfatRoot_.empty() && pathOf(fd).rfind(exfatRoot_, 0) == 0) into->f_type = 0x2011BAB0;
        return result;
    }

    std::vector<Call> calls() {
        std::lock_guard guard(lock_);
        return calls_;
    }

private:
    int flushed(const char* name, int fd, int result) {
        if (result == 0) note(name, pathOf(fd));
        return result;
    }
    void note(const char* name, std::string path) {
        std::lock_guard guard(lock_);
        calls_.push_back({name, std::move(path)});
    }

    std::string exfatRoot_;
    std::mutex lock_;
    std::vector<Call> calls_;
};

bool under(const std::string& path, const std::string& folder) {
    return path == folder || path.rfind(folder + "/", 0) == 0;
}

struct Case {
    const char* name;
    bool folder;
    bool exfatDrive;
};

class FlushOrderTest : public test::OffloadFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(FlushOrderTest, NothingAtHomeChangesBeforeItsCopyIsDurable) {
    const Case c = GetParam();
    const std::string item = home + "/Project";
    if (c.folder) {
        test::makeDirs(item + "/src/deep");
        for (int i = 0; i < 12; ++i) test::writeFile(item + "/src/file" + std::to_string(i), std::string(3000 + i, 'x'));
        test::writeFile(item + "/src/deep/leaf", "leaf");
    } else {
        test::writeFile(item, std::string(4096, 'p'));
    }
    // The recorded paths are the real ones.
    const std::string realHome = std::filesystem::canonical(home);
    const std::string drive = std::filesystem::canonical(root);
    RecordingCalls recording(c.exfatDrive ? root : std::string());
    std::vector<Call> calls;
    {
        platform::ScopedFileSystemCalls scoped(recording);
        ASSERT_EQ(move(item).kind, OffloadExecutor::Outcome::Kind::moved);
        calls = recording.calls();
    }

    std::string seen;
    for (const auto& call : calls) seen += call.name + " " + call.path + "\n";
    SCOPED_TRACE(seen);

    // The first change at home: the original stepping aside or the link taking its place.
    size_t firstAtHome = calls.size();
    for (size_t i = 0; i < calls.size() && firstAtHome == calls.size(); ++i)
        if (calls[i].name != "fsync" && calls[i].name != "syncfs" && under(calls[i].path, realHome)) firstAtHome = i;
    ASSERT_LT(firstAtHome, calls.size()) << "the move changed nothing at home";

    // The copy got its final name on the drive, and that name's folder was flushed, before.
    size_t named = calls.size();
    for (size_t i = 0; i < firstAtHome; ++i)
        if (calls[i].name == "rename" && calls[i].path.find("/Project") != std::string::npos &&
            under(calls[i].path, drive) && calls[i].path.find(".keldwick") == std::string::npos)
            named = i;
    ASSERT_LT(named, firstAtHome) << "the copy was not named before the swap";
    bool nameFlushed = false;
    for (size_t i = named; i < firstAtHome; ++i)
        nameFlushed = nameFlushed || (calls[i].name == "fsync" && under(calls[i].path, drive));
    EXPECT_TRUE(nameFlushed) << "the copy's name was not durable before the swap";

    // The copy's content was durable before it was named.
    size_t syncs = 0, contentFlushes = 0;
    for (size_t i = 0; i < named; ++i) {
        if (calls[i].name == "syncfs" && under(calls[i].path, drive)) ++syncs;
        if (calls[i].name == "fsync" && calls[i].path.find(".keldwick-partial") != std::string::npos) ++contentFlushes;
    }
    if (c.folder && !c.exfatDrive) {
        // One wait for the whole tree, not one per file or folder.
        EXPECT_EQ(syncs, 1u);
        EXPECT_EQ(contentFlushes, 0u);
    } else if (c.folder) {
        EXPECT_GE(syncs, 1u);
        EXPECT_GE(contentFlushes, 13u + 3u);  // every file and every folder as well
    } else {
        EXPECT_EQ(contentFlushes, 1u);  // the file, once
        EXPECT_EQ(syncs, c.exfatDrive ? 1u : 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Moves, FlushOrderTest,
                         ::testing::Values(Case{"TreeOnTrustedVolume", true, false}, Case{"TreeOnExFAT", true, true},
                                           Case{"FileOnTrustedVolume", false, false},
                                           Case{"FileOnExFAT", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace keldwick

namespace keldwick {
namespace {

// What a single file's move waits for, once the drive's folders exist: its copy, the
// copy's name, the link's place at home and the drive manifest's line, whatever the
// file's size (a large file's write-back is started and awaited as it goes, never
// flushed). The journal's commits come on top.
class SingleFileFlushTest : public test::OffloadFixture {
protected:
    std::vector<std::string> flushesOfMoving(const std::string& name, size_t size) {
        const std::string item = home + "/" + name;
        test::writeFile(item, std::string(size, 'f'));
        RecordingCalls recording;
        {
            platform::ScopedFileSystemCalls scoped(recording);
            EXPECT_EQ(move(item).kind, OffloadExecutor::Outcome::Kind::moved);
        }
        const std::string drive = std::filesystem::canonical(root);
        const std::string realHome = std::filesystem::canonical(home);
        std::vector<std::string> flushes;
        for (const auto& call : recording.calls()) {
            if (call.name != "fsync" && call.name != "syncfs") continue;
            std::string what = call.path.find(".keldwick-partial") != std::string::npos ? "copy"
                               : call.path.find("manifest") != std::string::npos      ? "manifest"
                               : under(call.path, realHome)                            ? "home folder"
                               : under(call.path, drive)                               ? "drive folder"
                                                                                       : call.path;
            flushes.push_back(call.name + " " + what);
        }
        return flushes;
    }
};

TEST_F(SingleFileFlushTest, SmallAndLargeFilesWaitForTheSameFlushes) {
    flushesOfMoving("first.txt", 10);  // makes the drive's folders
    const std::vector<std::string> expected{"fsync copy", "fsync drive folder", "fsync home folder", "fsync manifest"};
    EXPECT_EQ(flushesOfMoving("small.txt", 4096), expected);
    EXPECT_EQ(flushesOfMoving("large.bin", 6 << 20), expected);
}

}  // namespace
}  // namespace keldwick
