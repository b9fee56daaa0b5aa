#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/PrivateFolder.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

using namespace keldwick;

namespace {

mode_t modeOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

}  // namespace

TEST(PrivateFolderTest, CreatesThePrivateFolderAndLeavesParentsUsual) {
    test::TempDir temp;
    const mode_t old = ::umask(022);
    PrivateFolder::secure(temp / "home/.local/share/Keldwick");
    ::umask(old);
    EXPECT_EQ(modeOf(temp / "home/.local/share/Keldwick"), 0700u);
    EXPECT_EQ(modeOf(temp / "home/.local/share"), 0755u);

    PrivateFolder::createFile(temp / "home/.local/share/Keldwick/journal.sqlite");
    EXPECT_EQ(modeOf(temp / "home/.local/share/Keldwick/journal.sqlite"), 0600u);
    test::writeFile(temp / "home/.local/share/Keldwick/journal.sqlite", "kept");
    PrivateFolder::createFile(temp / "home/.local/share/Keldwick/journal.sqlite");  // already there: untouched
    EXPECT_EQ(test::readFile(temp / "home/.local/share/Keldwick/journal.sqlite"), "kept");
}

// Records an earlier version left readable by everyone are narrowed at start; what is not
// a record file of this user (links and what they point to, subfolders) stays as it is.
TEST(PrivateFolderTest, RepairsWideRecordsAndLeavesTheRestAlone) {
    test::TempDir temp;
    const std::string support = temp / "support";
    test::makeDirs(support + "/sub");
    ::chmod(support.c_str(), 0755);
    ::chmod((support + "/sub").c_str(), 0755);
    const char* records[] = {"settings.json", "settings.json.corrupt", "journal.sqlite", "journal.sqlite-wal",
                             "journal.sqlite-shm", "keldwick.lock", "machine-id"};
    for (const char* name : records) {
        test::writeFile(support + "/" + name, "x");
        ::chmod((support + "/" + name).c_str(), 0664);
    }
    const std::string outside = test::writeFile(temp / "outside", "x");
    ::chmod(outside.c_str(), 0644);
    ASSERT_EQ(::symlink(outside.c_str(), (support + "/link").c_str()), 0);

    PrivateFolder::secure(support);

    EXPECT_EQ(modeOf(support), 0700u);
    for (const char* name : records) EXPECT_EQ(modeOf(support + "/" + name), 0600u) << name;
    EXPECT_EQ(modeOf(outside), 0644u);
    EXPECT_EQ(modeOf(support + "/sub"), 0755u);

    // Narrower modes are kept as they are.
    ::chmod((support + "/settings.json").c_str(), 0400);
    PrivateFolder::secure(support);
    EXPECT_EQ(modeOf(support + "/settings.json"), 0400u);
}

// Another user can't read the records, neither after a repair nor when they are new.
TEST(PrivateFolderTest, AnotherUserCantReadTheRecords) {
    if (!test::canDropPrivileges()) GTEST_SKIP() << "switching users needs root";
    test::TempDir temp;
    ::chmod(temp.path().c_str(), 0755);
    const std::string support = temp / "support";
    test::makeDirs(support);
    ::chmod(support.c_str(), 0755);
    const std::string settings = test::writeFile(support + "/settings.json", "{\"drive\":{}}");
    ::chmod(settings.c_str(), 0644);
    auto canRead = [&] {
        return test::runAsNobody([&] { return ::access(settings.c_str(), R_OK) == 0 ? 0 : 1; }) == 0;
    };
    ASSERT_TRUE(canRead());
    PrivateFolder::secure(support);
    EXPECT_FALSE(canRead());
}
