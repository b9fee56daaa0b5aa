// What moving an item frees when its files share extents, from extent maps as FIEMAP
// gives them.

#include <gtest/gtest.h>

#include "platform/Extents.h"

namespace keldwick::platform {
namespace {

constexpr uint64_t KB = 1024;

Extent own(uint64_t physical, uint64_t length) { return {physical, length, false}; }
Extent shared(uint64_t physical, uint64_t length) { return {physical, length, true}; }

TEST(FreedSpaceTest, CopiesOfEachOtherInsideTheItemFreeOnce) {
    // Three reflinked copies of one 64 KB file, one of them partly rewritten.
    const std::vector<Extent> first{shared(1000 * KB, 64 * KB)};
    const std::vector<Extent> rewritten{own(5000 * KB, 16 * KB), shared(1016 * KB, 48 * KB)};
    FreedSpace copies;
    copies.add(first);
    copies.add(first);
    copies.add(rewritten);
    EXPECT_EQ(copies.freed(), 64 * KB + 16 * KB);
    EXPECT_EQ(copies.keptElsewhere(), 0);
}

TEST(FreedSpaceTest, AnExtentTheItemHoldsOnceIsKeptByWhatSharesIt) {
    // A reflink of a file outside the item (or a file in a snapshot): nothing is freed.
    FreedSpace lone;
    lone.add({shared(1000 * KB, 64 * KB), shared(2000 * KB, 64 * KB)});
    EXPECT_EQ(lone.freed(), 0);
    EXPECT_EQ(lone.keptElsewhere(), 128 * KB);

    // Overlapping ranges count by the bytes held twice; unshared ones always count.
    FreedSpace partly;
    partly.add({shared(0, 64 * KB), own(9000 * KB, 4 * KB)});
    partly.add({shared(32 * KB, 64 * KB)});
    EXPECT_EQ(partly.freed(), 32 * KB + 4 * KB);
    EXPECT_EQ(partly.keptElsewhere(), 64 * KB);
}

TEST(FreedSpaceTest, PartsMergeIntoTheirFolder) {
    // Each copy alone frees nothing; the folder holding both frees one.
    FreedSpace left, right;
    left.add({shared(0, 64 * KB)});
    right.add({shared(0, 64 * KB)});
    right.addPrivate(8 * KB);
    EXPECT_EQ(left.freed(), 0);
    EXPECT_EQ(right.freed(), 8 * KB);
    FreedSpace folder;
    folder.merge(left);
    folder.merge(right);
    EXPECT_EQ(folder.freed(), 64 * KB + 8 * KB);
    EXPECT_EQ(FreedSpace().freed(), 0);

    // Compacted, a part answers the same, alone and merged with another.
    FreedSpace copies, other;
    for (int i = 0; i < 3; ++i) copies.add({shared(0, 64 * KB), shared(128 * KB, 64 * KB)});
    copies.add({shared(32 * KB, 128 * KB)});
    other.add({shared(160 * KB, 64 * KB)});
    FreedSpace before = copies;
    before.merge(other);
    copies.compact();
    EXPECT_EQ(copies.freed(), 128 * KB);
    EXPECT_EQ(copies.keptElsewhere(), 64 * KB);
    copies.merge(other);
    EXPECT_EQ(copies.freed(), before.freed());
    EXPECT_EQ(copies.keptElsewhere(), before.keptElsewhere());
}

}  // namespace
}  // namespace keldwick::platform
