#include <gtest/gtest.h>

#include "scanning/WholeKind.h"

using namespace keldwick;

TEST(WholeKindTest, StringsRoundTripExactly) {
    for (auto kind : {WholeKind::project, WholeKind::emulator, WholeKind::chosen}) {
        EXPECT_EQ(parseWholeKind(toString(kind)), kind);
    }
    EXPECT_EQ(toString(WholeKind::emulator), "emulator");
    EXPECT_FALSE(parseWholeKind("Project"));
    EXPECT_FALSE(parseWholeKind(""));
}
