#include "foundation/Fingerprint.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/EngineError.h"
#include "platform/POSIXFailure.h"
#include "support/TempDir.h"

using namespace keldwick;
using keldwick::test::TempDir;

namespace {

Fingerprint now(const std::string& path) { return Fingerprint::of(FileStat::read(path).value()); }

// Moves a file's change time without touching its contents or modification time.
void bumpChangeTime(const std::string& path) {
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    FileStat before = FileStat::read(path).value();
    // The kernel's file clock is coarse (a tick), so a chmod right after the write can
    // leave the change time as it was: repeat until it moves.
    for (int i = 0; i < 5000 && FileStat::read(path)->changeTime == before.changeTime; ++i) {
        ASSERT_EQ(chmod(path.c_str(), (i % 2) ? st.st_mode & 07777 : 0600), 0);
        usleep(200);
    }
    ASSERT_EQ(chmod(path.c_str(), st.st_mode & 07777), 0);
}

}  // namespace

class FingerprintTest : public ::testing::Test {
protected:
    TempDir tmp;
};

TEST_F(FingerprintTest, SnapshotsCoverTheTreeWithoutFollowingLinks) {
    test::writeFile(tmp / "item/a", "1");
    test::writeFile(tmp / "item/b/c", "2");
    test::writeFile(tmp / "outside/secret", "3");
    ASSERT_EQ(symlink((tmp / "outside").c_str(), (tmp / "item/link").c_str()), 0);

    auto shallow = Fingerprint::snapshot(tmp / "item", false);
    EXPECT_EQ(shallow.fingerprints.size(), 1u);
    EXPECT_EQ(shallow.folders, (std::unordered_set<std::string>{""}));

    auto deep = Fingerprint::snapshot(tmp / "item", true);
    std::unordered_set<std::string> paths;
    for (const auto& [path, _] : deep.fingerprints) paths.insert(path);
    EXPECT_EQ(paths, (std::unordered_set<std::string>{"", "a", "b", "b/c", "link"}));
    EXPECT_EQ(deep.folders, (std::unordered_set<std::string>{"", "b"}));
    EXPECT_EQ(deep.fingerprints.at("link").size, static_cast<int64_t>((tmp / "outside").size()));

    auto file = Fingerprint::snapshot(tmp / "item/a", true);
    EXPECT_EQ(file.fingerprints.size(), 1u);
    EXPECT_TRUE(file.folders.empty());

    try {
        Fingerprint::snapshot(tmp / "missing", true);
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.kind(), EngineError::Kind::sourceMissing);
        EXPECT_EQ(error.path(), tmp / "missing");
    }
}

TEST_F(FingerprintTest, CatchesChangesMadeBetweenTwoSnapshots) {
    test::writeFile(tmp / "item/file", "original");
    test::writeFile(tmp / "item/sub/keep", "k");
    auto before = Fingerprint::snapshot(tmp / "item", true);

    // Same size, new contents: only the modification time tells.
    test::writeFile(tmp / "item/file", "ORIGINAL");
    struct timespec times[2] = {{0, UTIME_OMIT}, {1, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (tmp / "item/file").c_str(), times, 0), 0);
    EXPECT_FALSE(fingerprintUnchanged("file", now(tmp / "item/file"), before, Fingerprint::same));
    EXPECT_FALSE(fingerprintUnchanged("file", now(tmp / "item/file"), before, Fingerprint::sameIgnoringChangeDate));

    // A folder whose contents changed keeps its inode: unchanged as a folder.
    test::writeFile(tmp / "item/sub/new", "n");
    EXPECT_TRUE(fingerprintUnchanged("sub", now(tmp / "item/sub"), before, Fingerprint::same));
    EXPECT_FALSE(fingerprintUnchanged("sub/new", now(tmp / "item/sub/new"), before, Fingerprint::same));
    EXPECT_TRUE(fingerprintUnchanged("sub/keep", now(tmp / "item/sub/keep"), before, Fingerprint::same));

    // A folder replaced by another folder under the same name is a change.
    std::string sub = tmp / "item/sub";
    ASSERT_EQ(rename(sub.c_str(), (tmp / "old-sub").c_str()), 0);
    test::makeDirs(sub);
    EXPECT_FALSE(fingerprintUnchanged("sub", now(sub), before, Fingerprint::same));

    EXPECT_FALSE(fingerprintUnchanged("", now(tmp / "item"), FingerprintSnapshot{}, Fingerprint::same));
}

TEST_F(FingerprintTest, LenientComparisonIgnoresOnlyTheChangeTime) {
    std::string file = test::writeFile(tmp / "f", "data");
    auto before = Fingerprint::snapshot(file, false);
    bumpChangeTime(file);
    Fingerprint after = now(file);
    ASSERT_NE(after.changeTime, before.fingerprints.at("").changeTime);
    EXPECT_FALSE(fingerprintUnchanged("", after, before, Fingerprint::same));
    EXPECT_TRUE(fingerprintUnchanged("", after, before, Fingerprint::sameIgnoringChangeDate));

    test::writeFile(file, "longer data");
    EXPECT_FALSE(fingerprintUnchanged("", now(file), before, Fingerprint::sameIgnoringChangeDate));
    EXPECT_NE(std::hash<Fingerprint>{}(now(file)), std::hash<Fingerprint>{}(before.fingerprints.at("")));
}
