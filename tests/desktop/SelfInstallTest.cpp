#include "desktop/SelfInstall.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "desktop/SigningKey.h"
#include "desktop/UpdateArchives.h"
#include "support/RealMounts.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

namespace fs = std::filesystem;
using test::fakeProgram;
using test::makeArchive;
using test::makePrefix;
using test::runVersion;
using test::updateArchive;
using SelfInstall::InstallError;
using SelfInstall::Step;

// Every entry under the prefix with its kind and its contents or target.
std::map<std::string, std::string> snapshot(const std::string& prefix) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(prefix)) {
        const std::string relative = entry.path().string().substr(prefix.size() + 1);
        if (entry.is_symlink()) {
            entries[relative] = "-> " + fs::read_symlink(entry.path()).string();
        } else if (entry.is_directory()) {
            entries[relative] = "folder";
        } else {
            entries[relative] = test::readFile(entry.path());
        }
    }
    return entries;
}

class SelfInstallTest : public ::testing::Test {
protected:
    std::string install(const QByteArray& archive, const std::string& version, uid_t uid = ::geteuid(),
                        const std::function<void(Step)>& reached = {}) {
        return SelfInstall::install(prefix, archive, key.sign(archive), key.publicKey(), version, uid, reached);
    }

    test::TempDir dir;
    std::string prefix = makePrefix(dir, "1.0");
    test::SigningKey key;
};

TEST_F(SelfInstallTest, AnUpdateUnpacksBesideTheRunningVersionAndTheLinkSwitchesToIt) {
    const auto before = SelfInstall::locate(prefix + "/lib/keldwick/1.0/keldwick", ::geteuid());
    EXPECT_EQ(before.prefix, prefix);
    EXPECT_EQ(before.version, "1.0");
    ASSERT_EQ(runVersion(prefix), "Keldwick 1.0\n");

    EXPECT_EQ(install(updateArchive("1.1"), "1.1"), prefix + "/bin/keldwick");
    EXPECT_EQ(runVersion(prefix), "Keldwick 1.1\n");
    EXPECT_EQ(fs::read_symlink(prefix + "/bin/keldwick"), "../lib/keldwick/1.1/keldwick");
    EXPECT_EQ(test::readFile(prefix + "/lib/keldwick/1.1/libKeldwickCore.so.0"), "library 1.1");
    // The old version stays while it may still be running, and is gone once the new one started.
    EXPECT_TRUE(fs::exists(prefix + "/lib/keldwick/1.0/keldwick"));
    SelfInstall::settle(prefix, "1.0");  // the old one started again: nothing goes
    EXPECT_TRUE(fs::exists(prefix + "/lib/keldwick/1.0/keldwick"));
    SelfInstall::settle(prefix, "1.1");
    EXPECT_FALSE(fs::exists(prefix + "/lib/keldwick/1.0"));
    EXPECT_EQ((std::vector<std::string>{"1.1"}),
              [&] {
                  std::vector<std::string> names;
                  for (const auto& e : fs::directory_iterator(prefix + "/lib/keldwick")) names.push_back(e.path().filename());
                  return names;
              }());
}

TEST_F(SelfInstallTest, RefusedUpdatesLeaveThePrefixAsItWas) {
    const auto before = snapshot(prefix);
    const QByteArray good = updateArchive("1.1");
    QByteArray tampered = good;
    tampered[tampered.size() / 2] = static_cast<char>(tampered[tampered.size() / 2] ^ 1);
    test::SigningKey stranger;
    struct Case {
        const char* name;
        QByteArray archive;
        QString signature;  // null: signed with the test's key
        std::string version;
        const char* says;
    };
    const Case cases[] = {
        {"tampered", tampered, key.sign(good), "1.1", "doesn't match its signature"},
        {"unsigned", good, QString(""), "1.1", "doesn't match its signature"},
        {"signed by another key", good, stranger.sign(good), "1.1", "doesn't match its signature"},
        {"not a tar", "not an archive", key.sign("not an archive"), "1.1", "can't be unpacked"},
        {"a folder for another version", updateArchive("1.2"), QString(), "1.1", "isn't laid out"},
        {"a link inside", makeArchive({{"keldwick-1.1/keldwick", "->/bin/sh"}, {"keldwick-1.1/libKeldwickCore.so.0", "x"}}),
         QString(), "1.1", "isn't laid out"},
        {"an extra file", makeArchive({{"keldwick-1.1/keldwick", fakeProgram("1.1")},
                                       {"keldwick-1.1/libKeldwickCore.so.0", "x"}, {"keldwick-1.1/.profile", "x"}}),
         QString(), "1.1", "isn't laid out"},
        {"a version that climbs out", updateArchive("1.1"), QString(), "../1.1", "can't name a folder"},
        {"the version installed", updateArchive("1.0"), QString(), "1.0", "installed already"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString signature = c.signature.isNull() ? key.sign(c.archive) : c.signature;
        try {
            SelfInstall::install(prefix, c.archive, signature, key.publicKey(), c.version, ::geteuid());
            ADD_FAILURE() << "installed";
        } catch (const InstallError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
        EXPECT_EQ(snapshot(prefix), before);
    }
    EXPECT_EQ(runVersion(prefix), "Keldwick 1.0\n");
}

TEST_F(SelfInstallTest, AKillAtEachStepLeavesOneWholeVersionRunnable) {
    const auto before = snapshot(prefix);
    const QByteArray archive = updateArchive("1.1");
    for (Step stop : {Step::unpack, Step::flush, Step::place, Step::link, Step::switchLink}) {
        SCOPED_TRACE(static_cast<int>(stop));
        std::fflush(nullptr);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Killed as the step begins: nothing of the install runs past it.
            try {
                install(archive, "1.1", ::geteuid(), [stop](Step s) {
                    if (s == stop) ::kill(::getpid(), SIGKILL);
                });
            } catch (...) {
            }
            ::_exit(3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        EXPECT_EQ(runVersion(prefix), "Keldwick 1.0\n");
        // The next start of the running version takes away what the install left.
        SelfInstall::settle(prefix, "1.0");
        EXPECT_EQ(snapshot(prefix), before);
    }
    // Each step run to its end gives the new version.
    install(archive, "1.1");
    EXPECT_EQ(runVersion(prefix), "Keldwick 1.1\n");
}

TEST_F(SelfInstallTest, OnlyTheUsersOwnPrefixWithTheVersionedLayoutIsReplaced) {
    const uid_t me = ::geteuid(), someoneElse = me + 1;
    const std::string program = prefix + "/lib/keldwick/1.0/keldwick";

    // Another user's prefix: refused before anything is written.
    const auto before = snapshot(prefix);
    EXPECT_THROW(install(updateArchive("1.1"), "1.1", someoneElse), InstallError);
    EXPECT_EQ(snapshot(prefix), before);
    const auto foreign = SelfInstall::locate(program, someoneElse);
    EXPECT_FALSE(foreign.prefix);
    EXPECT_EQ(foreign.whyNot, "Keldwick can't replace itself here: " + prefix + "/lib/keldwick belongs to another user.");

    // A build tree, a program outside the layout, one the link doesn't point at, a package's.
    test::writeFile(dir / "build/CMakeCache.txt", "");
    test::writeFile(dir / "build/app/keldwick", "");
    test::writeFile(dir / "elsewhere/keldwick", "");
    test::writeFile(prefix + "/lib/keldwick/0.9/keldwick", "");
    struct Case {
        std::string executable;
        std::string why;
    };
    const Case cases[] = {
        {dir / "build/app/keldwick", "it runs from its build folder"},
        {dir / "elsewhere/keldwick", "it wasn't installed with make install"},
        {prefix + "/lib/keldwick/0.9/keldwick", "it wasn't installed with make install"},
        {"/usr/bin/keldwick", "it came with this computer's packages, whose updates replace it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.executable);
        const auto where = SelfInstall::locate(c.executable, me);
        EXPECT_FALSE(where.prefix);
        EXPECT_EQ(where.whyNot, "Keldwick can't replace itself here: " + c.why + ".");
    }
}

}  // namespace
}  // namespace keldwick
