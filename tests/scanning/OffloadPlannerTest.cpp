#include <gtest/gtest.h>

#include <limits>

#include "scanning/OffloadPlanner.h"

using namespace keldwick;

namespace {

constexpr int64_t GB = 1'000'000'000;
constexpr int64_t ample = 1'000 * GB;

Candidate item(const std::string& path, int64_t size, std::vector<Candidate> parts = {},
               std::optional<int64_t> driveSize = std::nullopt, double score = 0) {
    return Candidate(path, !parts.empty(), size, parts.empty() ? 1 : static_cast<int64_t>(parts.size()),
                     Date{0}, LastUsedSource::modificationDate, score, false, std::nullopt, driveSize,
                     std::move(parts));
}

std::vector<std::string> paths(const OffloadPlan& plan) {
    std::vector<std::string> result;
    for (const auto& c : plan.items) result.push_back(c.path);
    return result;
}

// A folder of `count` parts of `each` bytes, parts scored so that /f/p0 ranks first.
Candidate folder(const std::string& path, int count, int64_t each) {
    std::vector<Candidate> parts;
    for (int i = count - 1; i >= 0; --i)
        parts.push_back(item(path + "/p" + std::to_string(i), each, {}, std::nullopt, 100.0 - i));
    return item(path, count * each, std::move(parts));
}

}  // namespace

TEST(OffloadPlannerTest, TakesJustEnoughBestFirst) {
    OffloadPlanner planner;
    std::vector<Candidate> ranked{item("/a", 3 * GB), item("/b", 2 * GB), item("/c", GB)};
    EXPECT_TRUE(planner.plan(ranked, 0, ample).items.empty());
    EXPECT_TRUE(planner.plan(ranked, -5, ample).items.empty());

    OffloadPlan plan = planner.plan(ranked, 4 * GB, ample);
    EXPECT_EQ(paths(plan), (std::vector<std::string>{"/a", "/b"}));
    EXPECT_EQ(plan.bytesNeeded, 4 * GB);
    EXPECT_EQ(plan.totalBytes(), 5 * GB);
    EXPECT_EQ(plan.fileCount(), 2);
    EXPECT_EQ(plan.shortfall(), 0);
}

TEST(OffloadPlannerTest, SplitsFoldersAboveTheCapAndTakesSmallerOnesWhole) {
    OffloadPlanner planner;
    // With 1 GB needed the cap is 4 GB.
    OffloadPlan plan = planner.plan({folder("/big", 10, GB)}, GB, ample);
    EXPECT_EQ(paths(plan), std::vector<std::string>{"/big/p0"});

    plan = planner.plan({folder("/mid", 3, GB)}, GB, ample);
    EXPECT_EQ(paths(plan), std::vector<std::string>{"/mid"});

    plan = planner.plan({item("/iso", 10 * GB)}, GB, ample);
    EXPECT_EQ(paths(plan), std::vector<std::string>{"/iso"});

    // The 2 GB floor of the cap: 100 MB needed still lets a 2 GB folder go whole.
    plan = planner.plan({folder("/two", 2, GB)}, 100'000'000, ample);
    EXPECT_EQ(paths(plan), std::vector<std::string>{"/two"});
    plan = planner.plan({folder("/three", 3, GB)}, 100'000'000, ample);
    EXPECT_EQ(paths(plan), std::vector<std::string>{"/three/p0"});

    // Parts are ranked before they are considered, and parts with parts of their own
    // split further against the cap of what is then still needed.
    Candidate inner = folder("/outer/inner", 10, GB);
    Candidate outer = item("/outer", 20 * GB, {inner, item("/outer/small", GB / 2, {}, std::nullopt, 1)});
    plan = planner.plan({outer}, 3 * GB / 2, ample);
    EXPECT_EQ(paths(plan), (std::vector<std::string>{"/outer/small", "/outer/inner/p0"}));
}

TEST(OffloadPlannerTest, KeepsWithinTheDriveRoom) {
    OffloadPlanner planner;
    // Too big for the drive and no parts: skipped, the next one is considered.
    OffloadPlan plan = planner.plan({item("/huge", 9 * GB), item("/fits", 2 * GB)}, 10 * GB, 5 * GB);
    EXPECT_EQ(paths(plan), std::vector<std::string>{"/fits"});
    EXPECT_EQ(plan.shortfall(), 8 * GB);

    // A folder under the cap that doesn't fit is split.
    plan = planner.plan({folder("/f", 3, GB)}, GB, 2 * GB);
    EXPECT_EQ(paths(plan), std::vector<std::string>{"/f/p0"});

    // The drive is charged the larger drive size; this computer counts the size.
    plan = planner.plan({item("/sparse", GB, {}, 4 * GB), item("/next", GB, {}, 2 * GB)}, 3 * GB, 5 * GB);
    EXPECT_EQ(paths(plan), std::vector<std::string>{"/sparse"});
    EXPECT_EQ(plan.totalBytes(), GB);

    EXPECT_TRUE(planner.plan({item("/a", 1)}, GB, 0).items.empty());
}

TEST(OffloadPlannerTest, ShortfallAndHugeNeeds) {
    OffloadPlan plan{{item("/a", 5 * GB)}, 8 * GB};
    EXPECT_EQ(plan.shortfall(), 3 * GB);
    plan = OffloadPlan{{item("/a", 9 * GB)}, 8 * GB};
    EXPECT_EQ(plan.shortfall(), 0);
    EXPECT_EQ(OffloadPlan{}.totalBytes(), 0);
    EXPECT_EQ(OffloadPlan{}.fileCount(), 0);

    // Everything that fits goes whole when the need is unlimited (the cap is the largest
    // Int64); only what doesn't fit is split.
    const int64_t all = std::numeric_limits<int64_t>::max();
    plan = OffloadPlanner().plan({folder("/fits", 3, GB), folder("/split", 10, GB)}, all, 8 * GB);
    EXPECT_EQ(paths(plan), (std::vector<std::string>{"/fits", "/split/p0", "/split/p1", "/split/p2", "/split/p3",
                                                     "/split/p4"}));
    EXPECT_EQ(plan.totalBytes(), 8 * GB);
    // Sums near the top of the range saturate instead of wrapping.
    plan = OffloadPlan{{item("/x", all - 1), item("/y", all - 1)}, 1};
    EXPECT_EQ(plan.totalBytes(), all);
    EXPECT_EQ(plan.shortfall(), 0);
}
