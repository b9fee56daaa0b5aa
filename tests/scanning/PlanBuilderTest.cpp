#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

#include "foundation/Clock.h"
#include "foundation/EngineError.h"
#include "foundation/PathUtil.h"
#include "scanning/PlanBuilder.h"
#include "support/FakeOpenFiles.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"

using namespace keldwick;
using keldwick::test::FakeOpenFiles;
using keldwick::test::TempDir;

namespace {

constexpr int64_t GiB = 1'073'741'824;

struct Fixture {
    TempDir dir;
    std::string root = dir / "Downloads";
    std::shared_ptr<FakeOpenFiles> openFiles = std::make_shared<FakeOpenFiles>();
    std::vector<std::vector<std::string>> datesAskedFor;
    std::optional<int64_t> available = 100 * GiB;

    Fixture() {
        test::writeFile(root + "/large.iso", std::string(64 * 1024, 'l'));
        test::writeFile(root + "/medium.mov", std::string(32 * 1024, 'm'));
        test::writeFile(root + "/small.pdf", std::string(16 * 1024, 's'));
    }

    PlanBuilder builder() {
        OffloadPolicy policy;
        policy.minimumAge = 0;
        policy.minimumItemSize = 1;
        policy.allowFolders = false;
        PlanBuilder b({root}, {}, policy, openFiles);
        b.clock = Clock::system();
        b.lastUsedDates = [this](const std::vector<std::string>& roots) {
            datesAskedFor.push_back(roots);
            return std::unordered_map<std::string, Date>{};
        };
        b.availableBytes = [this](const std::string&) { return available; };
        b.storesMetadataNatively = [](const std::string&) { return true; };
        b.clock = std::make_shared<test::ManualClock>(Clock::system()->now().adding(100 * 86'400.0));
        return b;
    }
};

std::vector<std::string> names(const OffloadPlan& plan) {
    std::vector<std::string> result;
    for (const auto& c : plan.items) result.push_back(c.name());
    return result;
}

}  // namespace

TEST(PlanBuilderTest, ScansRanksAndPlansJustEnough) {
    Fixture f;
    PlanBuilder b = f.builder();
    auto result = b.build(1, f.dir / "drive");
    ASSERT_EQ(result.report.candidates.size(), 3u);
    EXPECT_EQ(result.report.candidates[0].name(), "large.iso");
    EXPECT_EQ(names(result.plan), std::vector<std::string>{"large.iso"});
    EXPECT_EQ(result.plan.bytesNeeded, 1);

    int64_t all = 0;
    for (const auto& c : result.report.candidates) all += c.size;
    EXPECT_EQ(b.movableBytes(f.dir / "drive"), all);
    EXPECT_EQ(b.build(0, f.dir / "drive").plan.items.size(), 0u);

    // The scan's threads and its Stop flag reach the scanner.
    b.threads = 4;
    auto threaded = b.build(1, f.dir / "drive");
    ASSERT_EQ(threaded.report.candidates.size(), result.report.candidates.size());
    for (size_t i = 0; i < result.report.candidates.size(); ++i) {
        EXPECT_EQ(threaded.report.candidates[i].path, result.report.candidates[i].path);
    }
    EXPECT_EQ(names(threaded.plan), names(result.plan));
    auto flag = std::make_shared<CancellationFlag>();
    flag->cancel();
    b.cancel = flag;
    EXPECT_THROW(b.build(1, f.dir / "drive"), CancellationError);
}

TEST(PlanBuilderTest, LeavesTheReserveFreeOnTheDrive) {
    Fixture f;
    f.available = GiB / 2;
    auto result = f.builder().build(1, f.dir / "drive");
    EXPECT_FALSE(result.report.candidates.empty());
    EXPECT_TRUE(result.plan.items.empty());
    EXPECT_EQ(result.plan.shortfall(), 1);

    f.available = std::nullopt;  // unreadable counts as nothing available
    EXPECT_TRUE(f.builder().build(1, f.dir / "drive").plan.items.empty());

    f.available = GiB + 40 * 1024;  // room for the two smaller files only
    PlanBuilder b = f.builder();
    EXPECT_EQ(names(b.build(std::numeric_limits<int64_t>::max(), f.dir / "drive").plan),
              (std::vector<std::string>{"medium.mov"}));
}

TEST(PlanBuilderTest, OpenFilesAreGatheredOnceAndFilteredByRoot) {
    Fixture f;
    ASSERT_EQ(::symlink(f.root.c_str(), (f.dir / "DL").c_str()), 0);
    const std::string real = *PathUtil::canonical(f.root);
    f.openFiles->uses = {
        {real + "/large.iso", 11, "player"},
        {real + "2/other.iso", 12, "player"},
    };
    PlanBuilder b = f.builder();
    b.folders = {f.dir / "DL"};
    auto result = b.build(1, f.dir / "drive");
    EXPECT_EQ(f.openFiles->asked, std::vector<std::string>{"/"});
    // The open file is not proposed, even though the folder was given through a link.
    std::vector<std::string> proposed;
    for (const auto& c : result.report.candidates) proposed.push_back(c.name());
    std::sort(proposed.begin(), proposed.end());
    EXPECT_EQ(proposed, (std::vector<std::string>{"medium.mov", "small.pdf"}));
    ASSERT_EQ(f.datesAskedFor.size(), 1u);
    EXPECT_EQ(f.datesAskedFor[0], (std::vector<std::string>{f.dir / "DL", real}));

    f.openFiles->uses = {
        {real, 10, "shell"},
        {real + "/large.iso", 11, "player"},
        {real + "2/other.iso", 12, "player"},
        {f.dir / "elsewhere/x", 13, "editor"},
    };
    auto kept = PlanBuilder::usesUnder({f.dir / "DL"}, *f.openFiles);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].pid, 10);
    EXPECT_EQ(kept[1].pid, 11);
    EXPECT_EQ(PlanBuilder::usesUnder({"/"}, *f.openFiles).size(), 4u);
}
