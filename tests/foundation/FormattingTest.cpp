#include <gtest/gtest.h>

#include <limits>

#include "foundation/Formatting.h"

using namespace keldwick;

TEST(FormattingTest, ByteCountTextUnitsAndDigits) {
    EXPECT_EQ(byteCountText(0), "0 bytes");
    EXPECT_EQ(byteCountText(1), "1 byte");
    EXPECT_EQ(byteCountText(2), "2 bytes");
    EXPECT_EQ(byteCountText(999), "999 bytes");
    EXPECT_EQ(byteCountText(-7), "0 bytes");
    EXPECT_EQ(byteCountText(1000), "1.00 KB");
    EXPECT_EQ(byteCountText(12'345), "12.3 KB");
    EXPECT_EQ(byteCountText(999'499), "999 KB");
    EXPECT_EQ(byteCountText(999'500), "1.00 MB");
    EXPECT_EQ(byteCountText(9'994'000), "9.99 MB");
    EXPECT_EQ(byteCountText(9'995'000), "10.0 MB");
    EXPECT_EQ(byteCountText(99'950'000), "100 MB");
    EXPECT_EQ(byteCountText(1'234'567), "1.23 MB");
    EXPECT_EQ(byteCountText(45'600'000'000), "45.6 GB");
    EXPECT_EQ(byteCountText(2'500'000'000'000), "2.50 TB");
    // PB is the last unit, however large the count.
    EXPECT_EQ(byteCountText(std::numeric_limits<int64_t>::max()), "9,223 PB");
}
