#include <QCoreApplication>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "foundation/Clock.h"
#include "foundation/PathUtil.h"
#include "model/PreviewModel.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"

using namespace keldwick;

namespace {

constexpr int64_t GB = 1'000'000'000;
constexpr int64_t everything = std::numeric_limits<int64_t>::max();

Candidate item(const std::string& path, int64_t size, double score, std::vector<Candidate> parts = {}) {
    return Candidate(path, !parts.empty(), size, 1, Date{0}, LastUsedSource::modificationDate, score, false,
                     std::nullopt, std::nullopt, std::move(parts));
}

// A 30 GB folder of three 10 GB parts ranked first, then two plain files.
ScanReport report() {
    ScanReport r;
    r.candidates = {item("/h/Big", 30 * GB, 90,
                         {item("/h/Big/a", 10 * GB, 30), item("/h/Big/b", 10 * GB, 20),
                          item("/h/Big/c", 10 * GB, 10, {item("/h/Big/c/1", 6 * GB, 6), item("/h/Big/c/2", 4 * GB, 4)})}),
                    item("/h/f1", 3 * GB, 5), item("/h/f2", 2 * GB, 4)};
    return r;
}

std::vector<std::string> planned(const PreviewModel& preview) {
    std::vector<std::string> paths;
    if (preview.plan()) {
        for (const auto& c : preview.plan()->items) paths.push_back(c.path);
    }
    return paths;
}

std::vector<std::string> paths(const std::vector<Candidate>& candidates) {
    std::vector<std::string> result;
    for (const auto& c : candidates) result.push_back(c.path);
    return result;
}

}  // namespace

TEST(PreviewModelTest, NewModelScansAndTogglesBeforeAReportOnlyExclude) {
    PreviewModel preview(PreviewKind::manual, 5 * GB, false);
    EXPECT_TRUE(preview.isScanning());
    EXPECT_FALSE(preview.plan());
    EXPECT_TRUE(preview.excludedCandidates().empty());
    EXPECT_FALSE(preview.driveIsFull());
    EXPECT_FALSE(preview.hasUnplannedCandidates());

    QSignalSpy excludedSpy(&preview, &PreviewModel::excludedChanged);
    QSignalSpy planSpy(&preview, &PreviewModel::planChanged);
    preview.toggle("/h/f1");
    EXPECT_EQ(excludedSpy.count(), 1);
    EXPECT_EQ(planSpy.count(), 0);
    EXPECT_FALSE(preview.plan());

    preview.apply(report(), 100 * GB);
    EXPECT_FALSE(preview.isScanning());
    EXPECT_EQ(planned(preview), std::vector<std::string>{"/h/Big/a"});
    EXPECT_EQ(paths(preview.excludedCandidates()), std::vector<std::string>{"/h/f1"});
    EXPECT_EQ(preview.state().plan, preview.plan());
}

TEST(PreviewModelTest, ExclusionsHoldAtEveryDepth) {
    struct Case {
        const char* name;
        int64_t goal;
        int64_t room;
        std::vector<std::string> exclude;
        std::vector<std::string> expectedPlan;
        std::vector<std::string> expectedExcluded;
    };
    const std::vector<Case> cases = {
        // A small goal takes the best part of the big folder.
        {"nothing excluded", 5 * GB, 100 * GB, {}, {"/h/Big/a"}, {}},
        {"a planned part", 5 * GB, 100 * GB, {"/h/Big/a"}, {"/h/Big/b"}, {"/h/Big/a"}},
        {"two parts", 5 * GB, 100 * GB, {"/h/Big/a", "/h/Big/b"}, {"/h/Big/c"}, {"/h/Big/a", "/h/Big/b"}},
        {"a part of a part", 5 * GB, 100 * GB, {"/h/Big/a", "/h/Big/b", "/h/Big/c/1"}, {"/h/Big/c/2", "/h/f1"},
         {"/h/Big/a", "/h/Big/b", "/h/Big/c/1"}},
        // Everything that fits: the folder would go whole, but never with an excluded part.
        {"everything", everything, 100 * GB, {}, {"/h/Big", "/h/f1", "/h/f2"}, {}},
        {"everything but a part", everything, 100 * GB, {"/h/Big/b"}, {"/h/Big/a", "/h/Big/c", "/h/f1", "/h/f2"},
         {"/h/Big/b"}},
        {"everything but a deep part", everything, 100 * GB, {"/h/Big/c/2"},
         {"/h/Big/a", "/h/Big/b", "/h/Big/c/1", "/h/f1", "/h/f2"}, {"/h/Big/c/2"}},
        {"the folder and one of its parts", everything, 100 * GB, {"/h/Big", "/h/Big/a"}, {"/h/f1", "/h/f2"},
         {"/h/Big"}},
        {"every part", everything, 100 * GB, {"/h/Big/a", "/h/Big/b", "/h/Big/c"}, {"/h/f1", "/h/f2"},
         {"/h/Big/a", "/h/Big/b", "/h/Big/c"}},
        {"a top-level file", everything, 100 * GB, {"/h/f1"}, {"/h/Big", "/h/f2"}, {"/h/f1"}},
    };
    for (const auto& c : cases) {
        PreviewModel preview(PreviewKind::manual, c.goal, false);
        preview.apply(report(), c.room);
        for (const auto& path : c.exclude) preview.toggle(path);
        EXPECT_EQ(planned(preview), c.expectedPlan) << c.name;
        EXPECT_EQ(paths(preview.excludedCandidates()), c.expectedExcluded) << c.name;
        for (const auto& path : c.exclude) {
            for (const auto& planItem : preview.plan()->items) {
                EXPECT_FALSE(PathUtil::isInside(path, planItem.path)) << c.name << ": " << planItem.path << " holds " << path;
            }
        }
    }
}

TEST(PreviewModelTest, TogglingBackRestoresThePlanAndNotifies) {
    PreviewModel preview(PreviewKind::manual, 5 * GB, false);
    preview.apply(report(), 100 * GB);
    const auto before = preview.plan();
    QSignalSpy excludedSpy(&preview, &PreviewModel::excludedChanged);
    QSignalSpy planSpy(&preview, &PreviewModel::planChanged);
    preview.toggle("/h/Big/a");
    EXPECT_NE(preview.plan(), before);
    preview.toggle("/h/Big/a");
    EXPECT_EQ(preview.plan(), before);
    EXPECT_TRUE(preview.excluded().empty());
    EXPECT_EQ(excludedSpy.count(), 2);  // on removal too
    EXPECT_EQ(planSpy.count(), 2);

    QSignalSpy keepSpy(&preview, &PreviewModel::keepAskingChanged);
    preview.setKeepAsking(false);
    preview.setKeepAsking(true);
    preview.setKeepAsking(true);
    EXPECT_EQ(keepSpy.count(), 1);
    EXPECT_TRUE(preview.state().keepAsking);
}

TEST(PreviewModelTest, DriveFullAndUnplannedCandidates) {
    struct Case {
        const char* name;
        int64_t goal;
        int64_t room;
        std::vector<std::string> exclude;
        bool driveIsFull;
        bool hasUnplanned;
    };
    const std::vector<Case> cases = {
        {"no room", everything, 0, {}, true, true},
        {"no room, one excluded", everything, 0, {"/h/f2"}, false, true},
        {"goal met", 5 * GB, 100 * GB, {}, false, false},
        // Open-ended goals always fall short; with room for all, nothing is left over.
        {"room for all", everything, 100 * GB, {}, false, false},
        {"room for some", everything, 33 * GB, {}, false, true},
        {"the rest excluded", everything, 33 * GB, {"/h/f2"}, false, false},
        // The folder taken by its other parts is covered: nothing waits for room.
        {"a part excluded, room for all", everything, 100 * GB, {"/h/Big/b"}, false, false},
    };
    for (const auto& c : cases) {
        PreviewModel preview(PreviewKind::manual, c.goal, false);
        preview.apply(report(), c.room);
        for (const auto& path : c.exclude) preview.toggle(path);
        EXPECT_EQ(preview.driveIsFull(), c.driveIsFull) << c.name;
        EXPECT_EQ(preview.hasUnplannedCandidates(), c.hasUnplanned) << c.name;
    }

    PreviewModel empty(PreviewKind::suggested, everything, false);
    empty.apply(ScanReport{}, 100 * GB);
    EXPECT_TRUE(empty.plan() && empty.plan()->items.empty());
    EXPECT_FALSE(empty.driveIsFull());
}

TEST(PreviewModelTest, ScanAppliesTheReportAndTheDriveRoom) {
    test::TempDir dir;
    const std::string folder = dir / "Downloads";
    test::writeFile(folder + "/old.iso", std::string(64 * 1024, 'o'));
    OffloadPolicy policy;
    policy.minimumAge = 0;
    policy.minimumItemSize = 1;
    PlanBuilder builder({folder}, {}, policy, nullptr);
    builder.lastUsedDates = [](const std::vector<std::string>&) { return std::unordered_map<std::string, Date>{}; };
    builder.storesMetadataNatively = [](const std::string&) { return true; };
    builder.clock = std::make_shared<test::ManualClock>(Clock::system()->now().adding(100 * 86'400.0));
    const auto inline_ = [](std::function<void()> work) { work(); };

    struct Case {
        std::optional<int64_t> available;
        int64_t room;
    };
    // Less than the reserve, or unreadable, gives no room at all, never less.
    for (const Case& c : std::vector<Case>{{5 * GB, 5 * GB - builder.driveReserveBytes}, {500'000'000, 0}, {std::nullopt, 0}}) {
        builder.availableBytes = [&](const std::string&) { return c.available; };
        PreviewModel preview(PreviewKind::suggested, everything, true);
        QSignalSpy scanning(&preview, &PreviewModel::isScanningChanged);
        preview.scan(builder, dir / "drive", inline_);
        EXPECT_TRUE(preview.isScanning());  // applied on the main thread, not from the worker
        QCoreApplication::processEvents();
        EXPECT_FALSE(preview.isScanning());
        EXPECT_EQ(scanning.count(), 1);
        ASSERT_TRUE(preview.report());
        EXPECT_EQ(paths(preview.report()->candidates), std::vector<std::string>{folder + "/old.iso"});
        EXPECT_EQ(preview.driveRoom(), c.room);
        EXPECT_EQ(planned(preview).size(), c.room > 0 ? 1u : 0u);
    }

    // A preview dropped before its scan ends is never written to.
    builder.availableBytes = [](const std::string&) { return std::optional<int64_t>(5 * GB); };
    std::function<void()> pending;
    auto preview = std::make_unique<PreviewModel>(PreviewKind::manual, everything, false);
    preview->scan(builder, dir / "drive", [&](std::function<void()> work) { pending = std::move(work); });
    preview.reset();
    pending();
    QCoreApplication::processEvents();
}
