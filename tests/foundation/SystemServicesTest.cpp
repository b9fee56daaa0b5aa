// The instance lock, machine identity, sleep assertion, volume space and access probe.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/HomeAccess.h"
#include "foundation/InstanceLock.h"
#include "foundation/MachineIdentity.h"
#include "foundation/SleepAssertion.h"
#include "foundation/VolumeSpace.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

using namespace keldwick;

namespace {

// Runs `body` in a forked child and returns its exit status (-1 when it died).
int inChild(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(InstanceLockTest, OneHolderAtATimeAcrossProcessesAndReleasedOnExit) {
    test::TempDir dir;
    const std::string path = dir / "support/deeper/keldwick.lock";
    {
        auto lock = InstanceLock::acquire(path);
        ASSERT_TRUE(lock);  // the missing folders were made
        EXPECT_FALSE(InstanceLock::acquire(path));
        EXPECT_EQ(inChild([&] { return InstanceLock::acquire(path) ? 1 : 0; }), 0);
    }
    EXPECT_EQ(inChild([&] { return InstanceLock::acquire(path) ? 0 : 1; }), 0);

    // A holder that exits without releasing frees the lock all the same.
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    pid_t holder = ::fork();
    if (holder == 0) {
        ::close(go[1]);
        auto* leaked = InstanceLock::acquire(path).release();
        char c = leaked ? 1 : 0;
        if (::write(ready[1], &c, 1) != 1 || ::read(go[0], &c, 1) < 0) ::_exit(2);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 1);
    EXPECT_FALSE(InstanceLock::acquire(path));
    ::close(go[1]);
    ::waitpid(holder, nullptr, 0);
    EXPECT_TRUE(InstanceLock::acquire(path));
    for (int fd : {ready[0], ready[1], go[0]}) ::close(fd);

    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    test::writeFile(dir / "plain", "");
    EXPECT_FALSE(InstanceLock::acquire(dir / "plain/keldwick.lock"));
}

TEST(MachineIdentityTest, IdIsDerivedForThisAppFromTheMachineID) {
    // The value sd_id128_get_machine_app_specific gives for this app and machine id.
    EXPECT_EQ(MachineIdentity::appSpecificID("3d1219c7c4c5404aaa1f6d2a48adfda4\n"),
              "5D77F4C8-E038-4359-9511-7A0F941D8EE6");
    EXPECT_EQ(MachineIdentity::appSpecificID("3D1219C7C4C5404AAA1F6D2A48ADFDA4"),
              "5D77F4C8-E038-4359-9511-7A0F941D8EE6");
    for (const char* bad : {"uninitialized\n", "00000000000000000000000000000000\n", "3d1219c7c4c5404aaa1f6d2a48adfda",
                            "3d1219c7c4c5404aaa1f6d2a48adfdaz", ""})
        EXPECT_EQ(MachineIdentity::appSpecificID(bad), std::nullopt) << bad;

    test::TempDir dir;
    MachineIdentity::Sources sources{{dir / "missing", test::writeFile(dir / "machine-id", "3d1219c7c4c5404aaa1f6d2a48adfda4\n")},
                                     dir / "support"};
    EXPECT_EQ(MachineIdentity::resolve(sources), "5D77F4C8-E038-4359-9511-7A0F941D8EE6");
    struct stat st {};
    EXPECT_NE(::lstat((dir / "support").c_str(), &st), 0);  // nothing kept when the system has an id
}

TEST(MachineIdentityTest, WithoutAMachineIDARandomIDIsKeptInTheSupportFolder) {
    test::TempDir dir;
    MachineIdentity::Sources sources{{test::writeFile(dir / "machine-id", "uninitialized\n")}, dir / "support"};
    const std::string first = MachineIdentity::resolve(sources);
    ASSERT_EQ(first.size(), 36u);
    EXPECT_EQ(test::readFile(dir / "support/machine-id"), first + "\n");
    EXPECT_EQ(MachineIdentity::resolve(sources), first);

    // Another process agrees.
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    EXPECT_EQ(inChild([&] {
                  std::string id = MachineIdentity::resolve(sources);
                  return ::write(pipe[1], id.data(), id.size()) == 36 ? 0 : 1;
              }),
              0);
    char buffer[64] = {};
    ASSERT_EQ(::read(pipe[0], buffer, sizeof buffer), 36);
    EXPECT_EQ(std::string(buffer), first);
    ::close(pipe[0]);
    ::close(pipe[1]);

    // A damaged file is replaced; a support folder that can't be made gives the fixed fallback.
    test::writeFile(dir / "support/machine-id", "not an id");
    const std::string second = MachineIdentity::resolve(sources);
    EXPECT_NE(second, first);
    EXPECT_EQ(MachineIdentity::resolve(sources), second);
    test::writeFile(dir / "blocked", "");
    EXPECT_EQ(MachineIdentity::resolve({{}, dir / "blocked/support"}), "unknown-mac");
    EXPECT_EQ(MachineIdentity::resolve({{}, ""}), "unknown-mac");
}

TEST(MachineIdentityTest, CurrentIsStableAcrossCallsAndProcesses) {
    test::TempDir dir;
    ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1);  // never the real support folder
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    EXPECT_EQ(inChild([&] {
                  const std::string& id = MachineIdentity::current();
                  return ::write(pipe[1], id.data(), id.size()) > 0 ? 0 : 1;
              }),
              0);
    char buffer[64] = {};
    ASSERT_GT(::read(pipe[0], buffer, sizeof buffer), 0);
    const std::string& id = MachineIdentity::current();
    EXPECT_EQ(id, std::string(buffer));
    EXPECT_EQ(&MachineIdentity::current(), &id);
    EXPECT_EQ(MachineIdentity::folderName().substr(MachineIdentity::folderName().size() - 11), " (" + id.substr(0, 8) + ")");
    ::close(pipe[0]);
    ::close(pipe[1]);
}

TEST(MachineIdentityTest, FolderNameFromTheComputerName) {
    EXPECT_EQ(MachineIdentity::makeFolderName(" \tAnn's/Mac:Book Pro\n", "1A2B3C4D-0000"), "Ann's-Mac-Book Pro (1A2B3C4D)");
    EXPECT_EQ(MachineIdentity::makeFolderName("a//b::c", "12345678"), "a--b--c (12345678)");
    EXPECT_EQ(MachineIdentity::makeFolderName("   \n", "12345678"), "Computer (12345678)");
    EXPECT_EQ(MachineIdentity::makeFolderName(std::nullopt, "unknown-mac"), "Computer (unknown-)");
    EXPECT_EQ(MachineIdentity::makeFolderName("Studio", "abc"), "Studio (abc)");
    EXPECT_EQ(MachineIdentity::makeFolderName("Bad\xFFName", "12345678"), "Computer (12345678)");

    EXPECT_EQ(MachineIdentity::prettyHostname("PRETTY_HOSTNAME=\"Ann's \\\"Studio\\\"\"\nCHASSIS=laptop\n"),
              "Ann's \"Studio\"");
    EXPECT_EQ(MachineIdentity::prettyHostname("# comment\nPRETTY_HOSTNAME='Lab: 3'\n"), "Lab: 3");
    EXPECT_EQ(MachineIdentity::prettyHostname("PRETTY_HOSTNAME=Plain # note\n"), "Plain ");
    EXPECT_EQ(MachineIdentity::prettyHostname("PRETTY_HOSTNAME=\"\"\n"), std::nullopt);
    EXPECT_EQ(MachineIdentity::prettyHostname("HOSTNAME=x\n"), std::nullopt);
    EXPECT_TRUE(MachineIdentity::computerName().has_value());
}

TEST(SleepAssertionTest, HoldsTheInhibitorUntilReleasedAndNeverFails) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    std::string asked;
    {
        SleepAssertion assertion("Keldwick is moving files to your drive", [&](const std::string& reason) {
            asked = reason;
            return ends[1];
        });
        EXPECT_TRUE(assertion.active());
        EXPECT_EQ(assertion.descriptor(), ends[1]);
    }
    EXPECT_EQ(asked, "Keldwick is moving files to your drive");
    char c;
    EXPECT_EQ(::read(ends[0], &c, 1), 0);  // the held end was closed
    ::close(ends[0]);

    EXPECT_FALSE(SleepAssertion("x", [](const std::string&) { return -1; }).active());
    EXPECT_FALSE(SleepAssertion("x", nullptr).active());

    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/keldwick-test-bus", 1);
    SleepAssertion noBus("Keldwick is working on your files");
    EXPECT_FALSE(noBus.active());
}

TEST(VolumeSpaceTest, AMissingPathReportsTheVolumeOfItsNearestAncestor) {
    test::TempDir dir;
    struct statvfs volume {};
    ASSERT_EQ(::statvfs(dir.path().c_str(), &volume), 0);
    const auto total = static_cast<int64_t>(volume.f_blocks * volume.f_frsize);
    EXPECT_EQ(VolumeSpace::totalBytes(dir / "not/yet/there"), total);
    EXPECT_EQ(VolumeSpace::totalBytes(dir / "not/yet/there/"), total);
    auto available = VolumeSpace::availableBytes(dir / "not/yet/there");
    ASSERT_TRUE(available);
    EXPECT_LE(*available, total);

    // procfs reports no blocks: the walk stops there, not at "/".
    EXPECT_EQ(VolumeSpace::totalBytes("/proc/no/such/entry"), 0);
    EXPECT_GT(VolumeSpace::totalBytes("/no-such-top-level-folder/x").value_or(0), 0);

    for (const char* bad : {"", "relative/path", "relative"}) {
        EXPECT_EQ(VolumeSpace::availableBytes(bad), std::nullopt) << bad;
        EXPECT_EQ(VolumeSpace::totalBytes(bad), std::nullopt) << bad;
    }
}

// The sandbox and its own name come from what each sandbox sets; an empty name tells
// nothing, and a Flatpak's id wins over a Snap's leftovers.
TEST(HomeAccessTest, TheSandboxIsToldByItsEnvironment) {
    using Kind = HomeAccess::Sandbox::Kind;
    struct Case {
        std::map<std::string, std::string> environment;
        HomeAccess::Sandbox expected;
    };
    const std::vector<Case> cases = {
        {{}, {}},
        {{{"FLATPAK_ID", "com.orvandel.Keldwick"}}, {Kind::flatpak, "com.orvandel.Keldwick"}},
        {{{"FLATPAK_ID", ""}}, {}},
        {{{"SNAP_INSTANCE_NAME", "keldwick_beta"}, {"SNAP_NAME", "keldwick"}}, {Kind::snap, "keldwick_beta"}},
        {{{"SNAP_NAME", "keldwick"}}, {Kind::snap, "keldwick"}},
        {{{"SNAP_INSTANCE_NAME", ""}, {"SNAP_NAME", ""}}, {}},
        {{{"FLATPAK_ID", "org.example.App"}, {"SNAP_NAME", "keldwick"}}, {Kind::flatpak, "org.example.App"}},
    };
    for (const Case& c : cases) {
        const auto sandbox = HomeAccess::sandboxFrom([&](const char* name) -> std::optional<std::string> {
            const auto found = c.environment.find(name);
            if (found == c.environment.end()) return std::nullopt;
            return found->second;
        });
        EXPECT_EQ(sandbox, c.expected) << c.environment.size();
    }
}

TEST(HomeAccessTest, ProbesTheHomesStandardFolders) {
    const std::string userDirs =
        "# written by xdg-user-dirs-update\n"
        "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
        "XDG_DOWNLOAD_DIR=\"$HOME/\"\n"
        "XDG_DOCUMENTS_DIR=\"/home/ann/Dokumente\"\n"
        "XDG_MUSIC_DIR=\"/elsewhere/Musik\"\n"
        "XDG_PICTURES_DIR=\"$HOME/Bilder \\\"neu\\\"\"\n";
    const std::vector<std::string> expected{"/home/ann/Schreibtisch", "/home/ann/Dokumente", "/home/ann/Bilder \"neu\"",
                                            "/home/ann/Desktop", "/home/ann/Documents", "/home/ann/Downloads"};
    EXPECT_EQ(HomeAccess::probePaths("/home/ann", userDirs), expected);
    EXPECT_EQ(HomeAccess::probePaths("/home/ann/", userDirs), expected);
    EXPECT_EQ(HomeAccess::probePaths("/home/ann", ""),
              (std::vector<std::string>{"/home/ann/Desktop", "/home/ann/Documents", "/home/ann/Downloads"}));

    test::TempDir home;
    test::makeDirs(home / "Documents");
    const auto granted = [](const std::vector<std::string>& managed, const std::vector<std::string>& standard,
                            bool confined = false) { return HomeAccess::read(managed, standard, confined).granted; };
    EXPECT_TRUE(HomeAccess::read(home.path(), {}).granted);
    EXPECT_TRUE(HomeAccess::read(home.path() + "/", {home / "Documents"}).granted);
    // Folders that don't exist keep nothing out: a home without them is granted.
    EXPECT_TRUE(granted({home / "gone"}, {home / "a", home / "b"}));
    EXPECT_TRUE(granted({}, {}));
    // In a sandbox a folder it doesn't share looks missing: finding none is no access there.
    EXPECT_FALSE(granted({}, {home / "a", home / "b"}, true));
    EXPECT_TRUE(granted({}, {home / "a", home / "Documents"}, true));
    EXPECT_TRUE(granted({home / "Documents"}, {home / "a"}, true));
    test::TempDir bare;
    EXPECT_TRUE(HomeAccess::read(bare.path(), {}).granted);

    if (!test::canDropPrivileges()) GTEST_SKIP() << "needs root to test refused access";
    ASSERT_EQ(::chmod(home.path().c_str(), 0755), 0);
    // Denied: its own mode keeps others out. Hidden/Inside: its mode lets anyone in, but the
    // folder above can't be searched, as a confinement's refusal looks.
    test::makeDirs(home / "Denied");
    test::makeDirs(home / "Hidden/Inside");
    ASSERT_EQ(::chmod((home / "Denied").c_str(), 0700), 0);
    ASSERT_EQ(::chmod((home / "Hidden").c_str(), 0700), 0);
    ASSERT_EQ(::chmod((home / "Hidden/Inside").c_str(), 0755), 0);
    const std::string open = home / "Documents", denied = home / "Denied", missing = home / "Missing",
                      confined = home / "Hidden/Inside";
    ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
    // Each case as nobody: granted, the folder to show ("" for none), and how many were named.
    struct Case {
        const char* name;
        std::vector<std::string> managed, standard;
        bool granted;
        std::string shown;
        size_t refusedByMode;
    };
    const Case cases[] = {
        {"open and missing", {}, {missing, open}, true, "", 0},
        {"a standard folder refused by its mode is named, not blocking", {}, {open, denied}, true, denied, 1},
        {"the same folder managed blocks", {denied}, {open, denied}, false, denied, 0},
        {"a refusal its mode doesn't explain blocks", {}, {denied, confined, open}, false, confined, 1},
        {"a managed folder refused blocks before the rest", {confined}, {denied}, false, confined, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int answer = test::runAsNobody([&] {
            const auto reading = HomeAccess::read(c.managed, c.standard);
            return (reading.granted ? 1 : 0) | (reading.folderToShow().value_or("") == c.shown ? 2 : 0) |
                   (reading.refusedByMode.size() == c.refusedByMode ? 4 : 0);
        });
        EXPECT_EQ(answer, (c.granted ? 1 : 0) | 2 | 4);
    }
}
