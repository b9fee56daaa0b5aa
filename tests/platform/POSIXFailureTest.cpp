#include <gtest/gtest.h>

#include <cerrno>

#include "platform/POSIXFailure.h"

using namespace keldwick;

TEST(POSIXFailureTest, DescribesOperationPathAndSystemText) {
    POSIXFailure f("rmdir", "/Volumes/X/a", ENOTEMPTY);
    EXPECT_EQ(f.description(), "rmdir failed for /Volumes/X/a: Directory not empty");
    EXPECT_EQ(f.code(), ENOTEMPTY);
}
