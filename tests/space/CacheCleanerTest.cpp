#include "space/CacheCleaner.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <limits>

#include "space/SpaceSizes.h"
#include "space/SpaceFixtures.h"

using namespace keldwick;
using namespace keldwick::test;

namespace {

const std::set<std::string> kOwnCaches = {"com.orvandel.Keldwick"};

const CacheLocation* find(const std::vector<CacheLocation>& list, const std::string& name) {
    auto it = std::find_if(list.begin(), list.end(), [&](const CacheLocation& l) { return l.name == name; });
    return it == list.end() ? nullptr : &*it;
}

std::vector<std::string> names(const std::vector<CacheLocation>& list) {
    std::vector<std::string> out;
    for (const auto& l : list) out.push_back(l.name);
    return out;
}

// Two identical entries with files of the given sizes in a cache folder.
void fillCache(const std::string& folder, size_t bytes) {
    writeSized(folder + "/a/one", bytes);
    writeSized(folder + "/a/deeper/two", bytes * 2);
    writeSized(folder + "/b", bytes);
}

// Runs `body` in a forked child and returns what it answered, or -1 when it answered
// nothing. `body` must not use gtest assertions: the parent checks the answer.
int answerOfChild(const std::function<char()>& body) {
    int results[2];
    if (::pipe(results) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(results[0]);
        const char c = body();
        ssize_t ignored = ::write(results[1], &c, 1);
        (void)ignored;
        ::_exit(0);
    }
    ::close(results[1]);
    char c = 0;
    const bool answered = ::read(results[0], &c, 1) == 1;
    ::close(results[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return answered ? c : -1;
}

}  // namespace

TEST(CacheCleanerTable, RowsInOrderWithTheirFoldersAndKeptNames) {
    auto rows = CacheCleaner::table("/h", kOwnCaches);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(names(rows), (std::vector<std::string>{"npm cache", "Gradle caches", "Rust downloads", "Bun cache",
                                                     "Yarn cache", "App and tool caches"}));
    EXPECT_EQ(rows[5].folders, std::vector<std::string>{"/h/.cache"});
    for (const char* kept : {"huggingface", "lm-studio", "Keldwick", "Marrowfen", "com.orvandel.Keldwick"}) {
        EXPECT_EQ(rows[5].keeping.count(kept), 1u) << kept;
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_TRUE(rows[i].selectedByDefault) << rows[i].name;
        EXPECT_EQ(rows[i].size, 0);
        if (i != 5) {
            EXPECT_TRUE(rows[i].keeping.empty()) << rows[i].name;
        }
    }
    // A home written with its trailing slash gives no double slash.
    EXPECT_EQ(CacheCleaner::table("/h/", {})[0].folders, std::vector<std::string>{"/h/.npm/_cacache"});
}

TEST(CacheCleanerTable, ToolCachesFollowTheXdgCacheFolderOnlyWhenItIsSafe) {
    auto toolFolder = [](std::optional<std::string> cacheHome) {
        return CacheCleaner::table("/h", {}, {cacheHome, std::nullopt})[5].folders;
    };
    EXPECT_EQ(toolFolder("/data/cache"), std::vector<std::string>{"/data/cache"});
    EXPECT_EQ(toolFolder("relative/cache"), std::vector<std::string>{"/h/.cache"});
    EXPECT_EQ(toolFolder(""), std::vector<std::string>{"/h/.cache"});
    EXPECT_EQ(toolFolder("/h"), std::vector<std::string>{"/h/.cache"});
    EXPECT_EQ(toolFolder("/h/"), std::vector<std::string>{"/h/.cache"});
    EXPECT_EQ(toolFolder("/"), std::vector<std::string>{"/h/.cache"});
    // Only the tool row moves; the others stay relative to the home folder.
    EXPECT_EQ(CacheCleaner::table("/h", {}, {"/data/cache", std::nullopt})[0].folders,
              std::vector<std::string>{"/h/.npm/_cacache"});
}

TEST(CacheCleanerTable, TheSupportFolderInsideACacheFolderIsKept) {
    auto rows = CacheCleaner::table("/h", {}, {std::nullopt, "/h/.cache/data"});
    EXPECT_EQ(rows[5].keeping.count("data"), 1u);
    rows = CacheCleaner::table("/h", {}, {"/h/.local", std::nullopt});
    EXPECT_EQ(rows[5].keeping.count("share"), 1u);
}

TEST(CacheCleanerLocations, NothingPresentListsNothing) {
    TempDir home;
    EXPECT_TRUE(CacheCleaner::locations(home.path(), kOwnCaches).empty());
    makeDirs(home / ".npm/_cacache");  // present but empty
    writeFile(home / ".cache/.DS_Store", "x");
    EXPECT_TRUE(CacheCleaner::locations(home.path(), kOwnCaches).empty());
}

TEST(CacheCleanerLocations, EveryKindIsMeasuredAndCleared) {
    TempDir home;
    for (const auto& location : CacheCleaner::table(home.path(), kOwnCaches)) {
        for (const auto& folder : location.folders) writeSized(folder + "/entry/blob", 4096);
    }
    auto found = CacheCleaner::locations(home.path(), kOwnCaches);
    ASSERT_EQ(found.size(), 6u);
    for (const auto& location : found) {
        auto result = CacheCleaner::clear(location, FakeOpenFiles());
        EXPECT_EQ(result.freed, location.size) << location.name;
        EXPECT_TRUE(result.kept.empty()) << location.name;
        for (const auto& folder : location.folders) {
            EXPECT_FALSE(exists(folder + "/entry")) << folder;
            EXPECT_TRUE(exists(folder)) << folder;
        }
    }
    EXPECT_TRUE(CacheCleaner::locations(home.path(), kOwnCaches).empty());
}

TEST(CacheCleanerLocations, MeasuresLargestFirstWithTiesInTableOrder) {
    TempDir home;
    fillCache(home / ".gradle/caches", 8192);
    fillCache(home / ".npm/_cacache", 8192);
    writeSized(home / ".cargo/registry/cache/big", 200000);

    auto found = CacheCleaner::locations(home.path(), kOwnCaches);
    ASSERT_EQ(names(found), (std::vector<std::string>{"Rust downloads", "npm cache", "Gradle caches"}));
    const int64_t npm = allocatedOf(home / ".npm/_cacache/a/one") + allocatedOf(home / ".npm/_cacache/a/deeper/two") +
                        allocatedOf(home / ".npm/_cacache/b");
    EXPECT_EQ(found[1].size, npm);
    EXPECT_EQ(found[2].size, npm);
    EXPECT_EQ(found[0].size, allocatedOf(home / ".cargo/registry/cache/big"));
}

TEST(CacheCleanerLocations, KeptNamesAreNeitherMeasuredNorCleared) {
    TempDir home;
    writeSized(home / ".cache/com.orvandel.Keldwick/x", 4096);
    writeSized(home / ".cache/huggingface/hub/model", 4096);
    writeSized(home / ".cache/lm-studio/models/m", 4096);
    writeSized(home / ".cache/Keldwick/state", 4096);
    writeSized(home / ".cache/pip/http/blob", 4096);
    // Data that lives only here: uploads not yet made, an IDE's history of edits.
    writeSized(home / ".cache/rclone/vfs/remote/report.odt", 4096);
    writeSized(home / ".cache/JetBrains/IntelliJIdea2024.1/LocalHistory/changes.storage", 4096);
    writeSized(home / ".cache/Google/AndroidStudio2024.1/LocalHistory/changes.storage", 4096);

    auto found = CacheCleaner::locations(home.path(), kOwnCaches);
    const CacheLocation* tools = find(found, "App and tool caches");
    ASSERT_TRUE(tools);
    EXPECT_EQ(tools->size, allocatedOf(home / ".cache/pip/http/blob"));

    FakeOpenFiles none;
    auto cleared = CacheCleaner::clear(*tools, none);
    EXPECT_EQ(cleared.freed, tools->size);
    EXPECT_TRUE(cleared.kept.empty());

    EXPECT_FALSE(exists(home / ".cache/pip"));
    for (const char* stays : {".cache/com.orvandel.Keldwick/x", ".cache/huggingface/hub/model",
                              ".cache/lm-studio/models/m", ".cache/Keldwick/state",
                              ".cache/rclone/vfs/remote/report.odt",
                              ".cache/JetBrains/IntelliJIdea2024.1/LocalHistory/changes.storage",
                              ".cache/Google/AndroidStudio2024.1/LocalHistory/changes.storage"}) {
        EXPECT_TRUE(exists(home / stays)) << stays;
    }
    EXPECT_TRUE(exists(home / ".cache"));  // the folders themselves stay
    EXPECT_TRUE(CacheCleaner::locations(home.path(), kOwnCaches).empty());
}

TEST(CacheCleanerLocations, XdgCacheFolderIsTheOneCleared) {
    TempDir root;
    const std::string home = root / "home";
    writeSized(home + "/.cache/pip/blob", 4096);
    writeSized(root / "xdg-cache/uv/blob", 4096);
    auto found = CacheCleaner::locations(home, kOwnCaches, {root / "xdg-cache", std::nullopt});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].folders, std::vector<std::string>{root / "xdg-cache"});
    CacheCleaner::clear(found[0], FakeOpenFiles());
    EXPECT_FALSE(exists(root / "xdg-cache/uv"));
    EXPECT_TRUE(exists(home + "/.cache/pip/blob"));
}

TEST(CacheCleanerClear, EntryHoldingOpenFilesStaysAndIsListedOnce) {
    TempDir home;
    const std::string cache = home / ".gradle/caches";
    writeSized(cache + "/busy/one", 4096);
    writeSized(cache + "/busy/two", 4096);
    writeSized(cache + "/busyness", 4096);  // a sibling whose name begins the same way
    writeSized(cache + "/idle", 4096);
    const int64_t freeable = allocatedOf(cache + "/busyness") + allocatedOf(cache + "/idle");

    FakeOpenFiles openFiles({{cache + "/busy/one", 10, "java"}, {cache + "/busy/two", 11, "java"}});
    auto location = *find(CacheCleaner::locations(home.path(), {}), "Gradle caches");
    auto result = CacheCleaner::clear(location, openFiles);
    EXPECT_EQ(result.kept, std::vector<std::string>{cache + "/busy"});
    EXPECT_EQ(result.freed, freeable);
    EXPECT_TRUE(exists(cache + "/busy/one"));
    EXPECT_TRUE(exists(cache + "/busy/two"));
    EXPECT_FALSE(exists(cache + "/busyness"));
    EXPECT_FALSE(exists(cache + "/idle"));
}

TEST(CacheCleanerClear, FileHeldOpenByARunningProcessIsLeftAlone) {
    TempDir home;
    const std::string cache = home / ".cache";
    writeSized(cache + "/tool/held", 4096);
    writeSized(cache + "/other/file", 4096);
    OpenFileHolder holder(cache + "/tool/held");
    ASSERT_TRUE(holder.ok());

    auto location = *find(CacheCleaner::locations(home.path(), {}), "App and tool caches");
    auto result = CacheCleaner::clear(location, ProcessOpenFileChecker());
    EXPECT_EQ(result.kept, std::vector<std::string>{cache + "/tool"});
    EXPECT_TRUE(exists(cache + "/tool/held"));
    EXPECT_FALSE(exists(cache + "/other"));
}

TEST(CacheCleanerClear, LinksOnTheWayToACacheStillProtectOpenFiles) {
    // ~/.yarn is a link to another disk; the kernel reports the open file by its real path.
    TempDir root;
    const std::string home = root / "home";
    const std::string real = root / "elsewhere/yarn";
    writeSized(real + "/berry/cache/pkg-a.zip", 4096);
    writeSized(real + "/berry/cache/pkg-b.zip", 4096);
    makeDirs(home);
    ASSERT_EQ(::symlink(real.c_str(), (home + "/.yarn").c_str()), 0);
    OpenFileHolder holder(home + "/.yarn/berry/cache/pkg-a.zip");
    ASSERT_TRUE(holder.ok());

    auto found = CacheCleaner::locations(home, {});
    ASSERT_EQ(names(found), std::vector<std::string>{"Yarn cache"});
    auto result = CacheCleaner::clear(found[0], ProcessOpenFileChecker());
    EXPECT_EQ(result.kept, std::vector<std::string>{home + "/.yarn/berry/cache/pkg-a.zip"});
    EXPECT_EQ(result.freed, found[0].size / 2);
    EXPECT_TRUE(exists(real + "/berry/cache/pkg-a.zip"));
    EXPECT_FALSE(exists(real + "/berry/cache/pkg-b.zip"));
    EXPECT_TRUE(exists(home + "/.yarn"));
}

TEST(CacheCleanerClear, HardLinkedFilesFreeNothingAndAreNotCounted) {
    TempDir home;
    const std::string cache = home / ".cache/uv/archive";
    writeSized(cache + "/linked", 65536);
    writeSized(cache + "/own", 4096);
    makeDirs(home / "project/.venv");
    ASSERT_EQ(::link((cache + "/linked").c_str(), (home / "project/.venv/linked").c_str()), 0);

    auto location = *find(CacheCleaner::locations(home.path(), {}), "App and tool caches");
    EXPECT_EQ(location.size, allocatedOf(cache + "/own"));
    auto result = CacheCleaner::clear(location, FakeOpenFiles());
    EXPECT_EQ(result.freed, location.size);
    EXPECT_TRUE(exists(home / "project/.venv/linked"));
    EXPECT_FALSE(exists(home / ".cache/uv"));
}

TEST(CacheCleanerClear, LinkEntriesGoWithoutTheirTargets) {
    TempDir home;
    writeSized(home / "precious/file", 4096);
    makeDirs(home / ".npm/_cacache");
    ASSERT_EQ(::symlink((home / "precious").c_str(), (home / ".npm/_cacache/link").c_str()), 0);
    CacheLocation location = CacheCleaner::table(home.path(), {})[0];
    auto result = CacheCleaner::clear(location, FakeOpenFiles());
    EXPECT_EQ(result.freed, 0);
    EXPECT_TRUE(result.kept.empty());
    EXPECT_FALSE(exists(home / ".npm/_cacache/link"));
    EXPECT_TRUE(exists(home / "precious/file"));
}

TEST(CacheCleanerClear, ACacheFolderLinkedToAFolderAboveItIsLeftAlone) {
    // ~/.cache -> ~ and Library/Caches -> ~/Library: clearing them would empty the home.
    TempDir home;
    writeSized(home / "Documents/thesis.tex", 4096);
    writeSized(home / "Library/notes", 4096);
    ASSERT_EQ(::symlink(home.path().c_str(), (home / ".cache").c_str()), 0);
    ASSERT_EQ(::symlink((home / "Library").c_str(), (home / "Library/Caches").c_str()), 0);
    EXPECT_TRUE(CacheCleaner::locations(home.path(), {}).empty());
    for (const auto& location : CacheCleaner::table(home.path(), {})) {
        auto result = CacheCleaner::clear(location, FakeOpenFiles());
        EXPECT_EQ(result.freed, 0) << location.name;
    }
    EXPECT_TRUE(exists(home / "Documents/thesis.tex"));
    EXPECT_TRUE(exists(home / "Library/notes"));

    // The home reached through a link (/home -> /var/home) and ~/.cache -> /var.
    TempDir root;
    writeSized(root / "var/home/u/Documents/thesis.tex", 4096);
    ASSERT_EQ(::symlink((root / "var/home").c_str(), (root / "home").c_str()), 0);
    ASSERT_EQ(::symlink((root / "var").c_str(), (root / "var/home/u/.cache").c_str()), 0);
    auto tools = CacheCleaner::table(root / "home/u", {})[5];
    EXPECT_EQ(CacheCleaner::clear(tools, FakeOpenFiles()).freed, 0);
    EXPECT_TRUE(exists(root / "var/home/u/Documents/thesis.tex"));
}

TEST(CacheCleanerClear, EntriesThatCantBeRemovedAreKeptAndCountNothing) {
    // As an unprivileged user, a cache folder holding another user's locked folder.
    if (::getuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    TempDir home;
    const std::string cache = home / ".npm/_cacache";
    writeSized(cache + "/theirs/blob", 4096);
    writeSized(cache + "/mine", 4096);
    const int64_t mine = allocatedOf(cache + "/mine");
    ASSERT_EQ(::chmod(home.path().c_str(), 0755), 0);
    for (const auto& path : {home / ".npm", cache, cache + "/mine"}) ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod((cache + "/theirs").c_str(), 0755), 0);

    const int answer = answerOfChild([&]() -> char {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 2;
        auto result = CacheCleaner::clear(CacheCleaner::table(home.path(), {})[0], FakeOpenFiles());
        return result.freed == mine && result.kept == std::vector<std::string>{cache + "/theirs"};
    });
    EXPECT_EQ(answer, 1);
    EXPECT_TRUE(exists(cache + "/theirs/blob"));
    EXPECT_FALSE(exists(cache + "/mine"));
}

TEST(CacheCleanerClear, AnotherMountInsideACacheIsNeverEntered) {
    TempDir home;
    const std::string cache = home / ".cargo/registry/cache";
    writeSized(cache + "/plain", 4096);
    makeDirs(cache + "/mounted");
    makeDirs(cache + "/holder/inner");

    const int answer = answerOfChild([&]() -> char {
        // 2: mounts are not possible here
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", (cache + "/mounted").c_str(), "tmpfs", 0, nullptr) != 0 ||
            ::mount("tmpfs", (cache + "/holder/inner").c_str(), "tmpfs", 0, nullptr) != 0)
            return 2;
        writeSized(cache + "/mounted/file", 4096);
        writeSized(cache + "/holder/inner/file", 4096);
        auto found = CacheCleaner::locations(home.path(), {});
        const bool measuredOnlyThisMount = found.size() == 1 && found[0].size == allocatedOf(cache + "/plain") &&
                                           CacheCleaner::entrySize(cache + "/holder") == 0;
        auto result = CacheCleaner::clear(CacheCleaner::table(home.path(), {})[2], FakeOpenFiles());
        return measuredOnlyThisMount && exists(cache + "/mounted/file") && exists(cache + "/holder/inner/file") &&
               !exists(cache + "/plain") &&
               std::find(result.kept.begin(), result.kept.end(), cache + "/mounted") != result.kept.end();
    });
    if (answer == 2) GTEST_SKIP() << "no private mount namespace here (needs CAP_SYS_ADMIN)";
    EXPECT_EQ(answer, 1);
}

TEST(SpaceSizes, SumsSaturateAtTheTop) {
    const int64_t max = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(SpaceSizes::add(max - 1, 5), max);
    EXPECT_EQ(SpaceSizes::add(max, max), max);
    EXPECT_EQ(SpaceSizes::add(40, 2), 42);
}

namespace {

// A Unix socket bound at `path`, listening while the object lives, as a program's would.
struct ListeningSocket {
    int fd = -1;
    explicit ListeningSocket(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) return;
        std::copy(path.begin(), path.end(), address.sun_path);
        fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0) return;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 1) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~ListeningSocket() {
        if (fd >= 0) ::close(fd);
    }
};

bool isKind(const std::string& path, mode_t kind) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
}

}  // namespace

// Clearing removes files, links and folders, never a socket, a FIFO or a device node: a
// folder holding a socket (listening or left behind) stays whole, one holding a FIFO loses
// everything else. What is measured first is what clearing frees.
TEST(CacheCleanerClear, SocketsFifosAndDevicesSurviveAndASocketsFolderStaysWhole) {
    TempDir home;
    const std::string cache = home / ".cache";
    writeSized(cache + "/at-spi/other", 4096);
    ListeningSocket bus(cache + "/at-spi/bus");
    if (bus.fd < 0) GTEST_SKIP() << "can't listen on a Unix socket here";
    writeSized(cache + "/app/run/state", 4096);
    {
        ListeningSocket stale(cache + "/app/run/sock");  // closed at once: only the name stays
    }
    writeSized(cache + "/pipes/deep/data", 4096);
    ASSERT_EQ(::mkfifo((cache + "/pipes/deep/fifo").c_str(), 0600), 0);
    writeSized(cache + "/pipes/plain", 4096);
    ASSERT_EQ(::mkfifo((cache + "/fifo").c_str(), 0600), 0);
    const bool device = ::geteuid() == 0 && ::mknod((cache + "/null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    writeSized(cache + "/old", 4096);
    const int64_t freeable =
        allocatedOf(cache + "/pipes/deep/data") + allocatedOf(cache + "/pipes/plain") + allocatedOf(cache + "/old");

    auto location = *find(CacheCleaner::locations(home.path(), {}), "App and tool caches");
    EXPECT_EQ(location.size, freeable);
    auto result = CacheCleaner::clear(location, FakeOpenFiles(std::vector<OpenFileUsage>{}));
    EXPECT_EQ(result.freed, freeable);
    std::sort(result.kept.begin(), result.kept.end());
    std::vector<std::string> kept = {cache + "/app", cache + "/at-spi", cache + "/fifo", cache + "/pipes"};
    if (device) kept.push_back(cache + "/null");
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(result.kept, kept);

    EXPECT_TRUE(isKind(cache + "/at-spi/bus", S_IFSOCK));
    EXPECT_TRUE(exists(cache + "/at-spi/other"));
    EXPECT_TRUE(isKind(cache + "/app/run/sock", S_IFSOCK));
    EXPECT_TRUE(exists(cache + "/app/run/state"));
    EXPECT_TRUE(isKind(cache + "/pipes/deep/fifo", S_IFIFO));
    EXPECT_FALSE(exists(cache + "/pipes/deep/data"));
    EXPECT_FALSE(exists(cache + "/pipes/plain"));
    EXPECT_TRUE(isKind(cache + "/fifo", S_IFIFO));
    if (device) {
        EXPECT_TRUE(isKind(cache + "/null", S_IFCHR));
    }
    EXPECT_FALSE(exists(cache + "/old"));

    // The listening socket still answers.
    const int client = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = cache + "/at-spi/bus";
    std::copy(path.begin(), path.end(), address.sun_path);
    EXPECT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(client);
}
