#include <gtest/gtest.h>

#include <unistd.h>

#include "engine/DrivePath.h"
#include "platform/POSIXFailure.h"
#include "support/TempDir.h"

using namespace keldwick;

namespace {

int refusal(const std::string& root, const std::string& path) {
    try {
        DrivePath::requireBeneath(root, path);
        return 0;
    } catch (const POSIXFailure& e) {
        EXPECT_EQ(e.operation(), "resolve");
        EXPECT_EQ(e.path(), path);
        return e.code();
    }
}

}  // namespace

TEST(DrivePathTest, OnlyPathsStrictlyBeneathTheRootPass) {
    test::TempDir dir;
    std::string root = dir / "drive";
    test::makeDirs(root + "/Keldwick/mac/home");
    test::writeFile(root + "/Keldwick/file", "x");
    ASSERT_EQ(::symlink(dir.path().c_str(), (root + "/Keldwick/out").c_str()), 0);

    EXPECT_EQ(refusal(root, root + "/Keldwick/mac/home/a/b/c"), 0);  // folders still to make
    EXPECT_EQ(refusal(root + "/", root + "/Keldwick/mac/x"), 0);
    EXPECT_EQ(refusal(root, root + "/Keldwick/out"), 0);  // the item itself is never followed
    EXPECT_TRUE(DrivePath::isBeneath(root, root + "/Keldwick/mac"));

    EXPECT_EQ(refusal(root, root), EXDEV);
    EXPECT_EQ(refusal(root, root + "/"), EXDEV);
    EXPECT_EQ(refusal(root, dir / "drive2/x"), EXDEV);
    EXPECT_EQ(refusal(root, root + "/Keldwick/../../x"), EXDEV);
    EXPECT_EQ(refusal(root, root + "/Keldwick/./x"), EXDEV);
    EXPECT_EQ(refusal(root, root + "/Keldwick//x"), EXDEV);
    EXPECT_EQ(refusal(root, root + "/Keldwick/out/x"), ELOOP);
    EXPECT_EQ(refusal(root, root + "/Keldwick/file/x"), ENOTDIR);
    EXPECT_FALSE(DrivePath::isBeneath(root, root + "/Keldwick/out/x"));
}
