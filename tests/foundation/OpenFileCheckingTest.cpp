#include "foundation/OpenFileChecking.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "platform/FileLease.h"
#include "support/TempDir.h"

using namespace keldwick;
using keldwick::platform::ProcFS;

namespace {

std::vector<std::string> pathsOf(const std::vector<OpenFileUsage>& usages, int32_t pid) {
    std::vector<std::string> paths;
    for (const auto& u : usages) {
        if (u.pid == pid) paths.push_back(u.path);
    }
    return paths;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

struct FD {
    int fd;
    ~FD() {
        if (fd >= 0) ::close(fd);
    }
};

// A child process that sits in `cwd`, holds `open` on a descriptor and `mapped` only as a
// memory mapping, until it is released.
class Holder {
public:
    Holder(const std::string& cwd, const std::string& open, const std::string& mapped) {
        int ready[2], go[2];
        if (::pipe(ready) != 0 || ::pipe(go) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(go[1]);
            if (::chdir(cwd.c_str()) != 0) ::_exit(2);
            int held = open.empty() ? -1 : ::open(open.c_str(), O_RDONLY);
            if (!open.empty() && held < 0) ::_exit(3);
            if (!mapped.empty()) {
                int fd = ::open(mapped.c_str(), O_RDONLY);
                if (fd < 0 || ::mmap(nullptr, 1, PROT_READ, MAP_PRIVATE, fd, 0) == MAP_FAILED) ::_exit(4);
                ::close(fd);
            }
            char c = 1;
            if (::write(ready[1], &c, 1) != 1) ::_exit(5);
            ssize_t ignored = ::read(go[0], &c, 1);
            (void)ignored;
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(go[0]);
        release_ = go[1];
        char c = 0;
        ok_ = ::read(ready[0], &c, 1) == 1;
        ::close(ready[0]);
    }
    ~Holder() {
        ::close(release_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    pid_t pid() const { return pid_; }
    bool ok() const { return ok_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool ok_ = false;
};

}  // namespace

TEST(OpenFileCheckingTest, OwnOpenFileIsSeenUnderEachAncestorButNotASiblingPrefix) {
    test::TempDir dir;
    auto file = test::writeFile(dir / "docs/a/report.txt", "x");
    test::writeFile(dir / "docs/ab/other.txt", "y");
    FD held{::open(file.c_str(), O_RDONLY)};
    ASSERT_GE(held.fd, 0);

    ProcessOpenFileChecker checker;
    const int32_t me = ::getpid();
    for (const std::string& folder : {dir / "docs/a", dir / "docs/a/", dir / "docs/a//", dir / "docs", dir.path(),
                                     std::string("/"), file}) {
        auto usages = checker.usage(folder);
        EXPECT_TRUE(contains(pathsOf(usages, me), file)) << folder;
    }
    EXPECT_FALSE(contains(pathsOf(checker.usage(dir / "docs/ab"), me), file));
    EXPECT_FALSE(contains(pathsOf(checker.usage(dir / "docs/a/report"), me), file));

    auto usages = checker.usage(dir / "docs/a");
    auto mine = std::find_if(usages.begin(), usages.end(), [&](const auto& u) { return u.pid == me; });
    ASSERT_NE(mine, usages.end());
    EXPECT_EQ(mine->processName, ProcFS().shortName(me).value_or(""));
}

TEST(OpenFileCheckingTest, OwnFoldersUnlinkedFilesAndTheRootFolderAsWorkingDirectoryAreNotUses) {
    test::TempDir dir;
    test::makeDirs(dir / "tree/sub");
    auto gone = test::writeFile(dir / "tree/gone.txt", "x");
    FD folderFD{::open((dir / "tree/sub").c_str(), O_RDONLY | O_DIRECTORY)};
    FD goneFD{::open(gone.c_str(), O_RDONLY)};
    ASSERT_EQ(::unlink(gone.c_str()), 0);

    ProcessOpenFileChecker checker;
    EXPECT_TRUE(pathsOf(checker.usage(dir / "tree"), ::getpid()).empty());

    Holder atRoot("/", "", "");
    ASSERT_TRUE(atRoot.ok());
    EXPECT_FALSE(contains(pathsOf(checker.usage("/"), atRoot.pid()), "/"));
}

TEST(OpenFileCheckingTest, ChildProcessHoldingADescriptorAMappingAndItsWorkingDirectory) {
    test::TempDir dir;
    auto open = test::writeFile(dir / "work/open.dat", "open");
    auto mapped = test::writeFile(dir / "work/lib/mapped.so", "mapped");
    Holder child(dir / "work", open, mapped);
    ASSERT_TRUE(child.ok());

    ProcessOpenFileChecker checker;
    std::vector<std::string> expected{open, mapped, dir / "work"};
    EXPECT_EQ(pathsOf(checker.usage(dir / "work"), child.pid()), expected);
    EXPECT_EQ(pathsOf(checker.usage(dir / "work/"), child.pid()), expected);
    EXPECT_EQ(pathsOf(checker.usage(dir / "work/lib"), child.pid()), std::vector<std::string>{mapped});
    EXPECT_TRUE(pathsOf(checker.usage(dir / "elsewhere"), child.pid()).empty());
}

// A file asked about by itself: the kernel's count answers for a file that nothing holds,
// and the process table still names whoever holds one, by descriptor or mapping alone.
TEST(OpenFileCheckingTest, AFileAskedAboutByItselfIsFoundWhoeverHoldsIt) {
    test::TempDir dir;
    auto open = test::writeFile(dir / "open.dat", "open");
    auto mapped = test::writeFile(dir / "mapped.so", "mapped");
    auto free = test::writeFile(dir / "free.txt", "free");
    EXPECT_EQ(platform::FileLease::isHeldOpen(free), std::optional<bool>(false));
    EXPECT_EQ(platform::FileLease::isHeldOpen(dir.path()), std::nullopt);  // not a regular file
    EXPECT_EQ(platform::FileLease::isHeldOpen(dir / "missing"), std::nullopt);

    ProcessOpenFileChecker checker;
    {
        Holder child(dir.path(), open, mapped);
        ASSERT_TRUE(child.ok());
        EXPECT_EQ(pathsOf(checker.usage(open), child.pid()), std::vector<std::string>{open});
        EXPECT_EQ(pathsOf(checker.usage(mapped), child.pid()), std::vector<std::string>{mapped});
        EXPECT_TRUE(checker.usage(free).empty());
        EXPECT_EQ(platform::FileLease::isHeldOpen(open), std::optional<bool>(true));
    }
    FD mine{::open(free.c_str(), O_RDONLY)};
    ASSERT_GE(mine.fd, 0);
    EXPECT_EQ(pathsOf(checker.usage(free), ::getpid()), std::vector<std::string>{free});
}

// A fixture process table: links and files laid out as procfs shows them.
class FixtureProc : public ::testing::Test {
protected:
    void process(int pid, int parent, const std::string& comm, const std::string& exe) {
        const std::string base = proc() + "/" + std::to_string(pid);
        test::makeDirs(base + "/fd");
        test::writeFile(base + "/comm", comm + "\n");
        test::writeFile(base + "/stat", std::to_string(pid) + " (" + comm + ") S " + std::to_string(parent) +
                                            " 1 1 0 -1 4194560 0 0\n");
        if (!exe.empty()) {
            ASSERT_EQ(::symlink(exe.c_str(), (base + "/exe").c_str()), 0);
        }
    }
    void fd(int pid, int n, const std::string& target) {
        auto link = proc() + "/" + std::to_string(pid) + "/fd/" + std::to_string(n);
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    }
    void cwd(int pid, const std::string& target) {
        ASSERT_EQ(::symlink(target.c_str(), (proc() + "/" + std::to_string(pid) + "/cwd").c_str()), 0);
    }
    std::string mapsLine(const std::string& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return "7f0000000000-7f0000001000 r--p 00000000 00:00 0 \n";
        char line[256];
        std::snprintf(line, sizeof line, "7f0000000000-7f0000001000 r--p 00000000 %02x:%02x %lu                      ",
                      major(st.st_dev), minor(st.st_dev), static_cast<unsigned long>(st.st_ino));
        return line + path + "\n";
    }
    std::string proc() const { return dir.path() + "/proc"; }
    std::string tree() const { return dir.path() + "/tree"; }

    test::TempDir dir;
};

TEST_F(FixtureProc, OrderNamesAndFiltersFollowTheProcessTable) {
    auto a = test::writeFile(tree() + "/a.txt", "a");
    auto b = test::writeFile(tree() + "/b.txt", "b");
    auto lib = test::writeFile(tree() + "/lib.so", "l");
    auto tool = test::writeFile(tree() + "/bin/tool", "t");
    test::makeDirs(tree() + "/folder");
    test::makeDirs(proc() + "/self");
    test::writeFile(proc() + "/uptime", "1 1\n");

    process(42, 1, "tool", tool);
    fd(42, 10, b);
    fd(42, 2, a);
    fd(42, 3, a);  // the same file twice stays twice
    fd(42, 4, "socket:[1234]");
    fd(42, 5, tree() + "/folder");  // a folder held open counts: files can be made through it
    fd(42, 6, tree() + "/missing");
    cwd(42, tree() + "/folder");
    test::writeFile(proc() + "/42/maps", mapsLine(tool) + mapsLine(lib) + mapsLine(lib) + mapsLine(a) +
                                             "7ffd0000-7ffd1000 rw-p 00000000 00:00 0                          [stack]\n" +
                                             "7ffe0000-7ffe1000 rw-s 00000000 00:01 99    /memfd:x (deleted)\n");
    process(7, 1, "bystander", "/usr/bin/bystander");
    cwd(7, "/");
    process(300, 1, "other", "");
    cwd(300, tree() + "x");  // shares a prefix only

    ProcessOpenFileChecker checker(proc());
    auto usages = checker.usage(tree() + "/");
    std::vector<OpenFileUsage> expected{
        {a, 42, "tool"},    {a, 42, "tool"},   {tree() + "/folder", 42, "tool"}, {b, 42, "tool"},
        {tool, 42, "tool"}, {lib, 42, "tool"}, {tree() + "/folder", 42, "tool"},
    };
    EXPECT_EQ(usages, expected);
    auto everything = checker.usage("/");
    EXPECT_EQ(everything.size(), expected.size() + 1);
    EXPECT_EQ(pathsOf(everything, 300), std::vector<std::string>{tree() + "x"});
    EXPECT_TRUE(pathsOf(everything, 7).empty());  // "/" as a working directory never counts
    EXPECT_EQ(pathsOf(checker.usage(tree() + "/folder"), 42),
              (std::vector<std::string>{tree() + "/folder", tree() + "/folder"}));
    EXPECT_TRUE(checker.usage(tree() + "/bin/tool/x").empty());
}

TEST_F(FixtureProc, AppOwnerWalksUpToEightProcesses) {
    process(1, 0, "init", "/sbin/init");
    process(200, 1, "Photo Studio", "/opt/Photo Studio.app/Contents/Tools.app/bin/studio");
    process(201, 200, "helper", "/usr/libexec/helper");
    process(202, 201, "worker", "/usr/bin/worker");
    // A chain of nine processes without an app: the app at the top is out of reach.
    process(300, 1, "top", "/Applications/Far.app/far");
    for (int pid = 301; pid <= 308; ++pid) process(pid, pid - 1, "step", "/usr/bin/step");
    process(400, 400, "self-parent", "/usr/bin/loop");
    process(500, 1, "gone", "");

    ProcFS proc(this->proc());
    EXPECT_EQ(AppOwner::name(200, proc), "Photo Studio");
    EXPECT_EQ(AppOwner::name(202, proc), "Photo Studio");
    EXPECT_EQ(AppOwner::name(307, proc), "Far");
    EXPECT_EQ(AppOwner::name(308, proc), std::nullopt);
    EXPECT_EQ(AppOwner::name(400, proc), std::nullopt);
    EXPECT_EQ(AppOwner::name(500, proc), std::nullopt);
    EXPECT_EQ(AppOwner::name(1, proc), std::nullopt);
    EXPECT_EQ(AppOwner::name(999, proc), std::nullopt);

    // A named process in use reports its app; an unnamed one its short name.
    auto file = test::writeFile(tree() + "/held", "h");
    fd(202, 3, file);
    fd(500, 3, file);
    ProcessOpenFileChecker checker(this->proc());
    std::vector<OpenFileUsage> expected{{file, 202, "Photo Studio"}, {file, 500, "gone"}};
    EXPECT_EQ(checker.usage(tree()), expected);
}

TEST(ProcFSTest, ParsesStatAndMapsLines) {
    EXPECT_EQ(ProcFS::parseParentID("1234 (a) (b) c) S 77 1234 1234 0 -1"), 77);
    EXPECT_EQ(ProcFS::parseParentID("5 (x)\nR 0 0"), 0);
    EXPECT_EQ(ProcFS::parseParentID("5 (x) S"), std::nullopt);
    EXPECT_EQ(ProcFS::parseParentID("garbage"), std::nullopt);

    auto m = ProcFS::parseMapsLine("7f12-7f13 r-xp 00001000 fd:01 393245                     /usr/lib/my lib.so");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->path, "/usr/lib/my lib.so");
    EXPECT_EQ(m->deviceMajor, 0xfdu);
    EXPECT_EQ(m->inode, 393245u);
    EXPECT_FALSE(ProcFS::parseMapsLine("7f12-7f13 rw-p 00000000 00:00 0 "));
    EXPECT_FALSE(ProcFS::parseMapsLine("7f12-7f13 rw-p 00000000 00:00 0                  [heap]"));
    EXPECT_FALSE(ProcFS::parseMapsLine("7f12-7f13 rw-s 00000000 00:01 8  /dev/shm/x (deleted)"));
    EXPECT_FALSE(ProcFS::parseMapsLine("7f12-7f13 r-xp"));
}
