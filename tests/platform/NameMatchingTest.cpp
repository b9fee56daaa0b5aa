#include "platform/NameMatching.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/RealMounts.h"
#include "support/TempDir.h"

using namespace keldwick;
using platform::NameMatching;

namespace {

// Mounts a fresh image of the kind given and answers how its lookups match names.
std::optional<NameMatching> matchingOf(const std::string& mkfs, int megabytes, const std::string& mountCommand,
                                       std::string& whyNot) {
    test::TempDir dir;
    test::LoopVolume volume(dir / "volume.img", megabytes, mkfs, mountCommand, dir / "mounted");
    if (!volume.mounted()) {
        whyNot = volume.error();
        return std::nullopt;
    }
    return platform::volumeNameMatching((dir / "mounted").c_str());
}

}  // namespace

TEST(NameMatchingTest, XfsComparesNamesByteForByte) {
    if (auto reason = test::mountSkipReason("mkfs.xfs")) GTEST_SKIP() << *reason;
    std::string whyNot;
    auto matching = matchingOf("mkfs.xfs -q", 320, "mount", whyNot);
    if (!matching) GTEST_SKIP() << whyNot;
    EXPECT_EQ(*matching, NameMatching::exact);  // read from the volume's geometry
}

TEST(NameMatchingTest, Ext4FoldersCompareNamesByteForByteUnlessMarkedCaseInsensitive) {
    if (auto reason = test::mountSkipReason("mkfs.ext4")) GTEST_SKIP() << *reason;
    test::TempDir dir;
    test::LoopVolume volume(dir / "volume.img", 16, "mkfs.ext4 -q -F", "mount", dir / "mounted");
    if (!volume.mounted()) GTEST_SKIP() << volume.error();
    const NameMatching matching = platform::volumeNameMatching((dir / "mounted").c_str());
    EXPECT_EQ(matching, NameMatching::perFolder);
    const int fd = open((dir / "mounted").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(platform::folderMatchesNamesExactly(fd, matching));
    close(fd);
    EXPECT_FALSE(platform::folderMatchesNamesExactly(-1, matching));
}

TEST(NameMatchingTest, CaseInsensitiveAndFuseVolumesAreNotTrusted) {
    if (auto reason = test::mountSkipReason("mount.exfat-fuse")) GTEST_SKIP() << *reason;
    std::string whyNot;
    auto matching = matchingOf("mkfs.exfat", 16, "mount.exfat-fuse", whyNot);
    if (!matching) GTEST_SKIP() << whyNot;
    EXPECT_EQ(*matching, NameMatching::unknown);
}
