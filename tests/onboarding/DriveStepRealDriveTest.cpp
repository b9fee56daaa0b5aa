// The drive page over a real ext4 volume on a loop device: it appears when mounted while
// the page shows, is marked and speed-tested when chosen, and goes when unmounted.

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

#include "drives/DriveBenchmark.h"
#include "drives/DriveMarker.h"
#include "onboarding/DriveStep.h"
#include "onboarding/OnboardingWorld.h"
#include "onboarding/Point.h"
#include "support/RealMounts.h"
#include "ui/DriveRow.h"

namespace keldwick::test {
namespace {

TEST(DriveStepRealDriveTest, ALoopDriveMountedWhileShownIsChosenAndMeasured) {
    if (auto reason = mountSkipReason("mkfs.ext4")) GTEST_SKIP() << *reason;
    OnboardingWorld guide;
    const std::string mountPoint = guide.world.dir / "media/Loopy";
    makeDirs(mountPoint);
    guide.system = DriveOption::System::live();
    // A short speed test: the small volume could not hold the full one.
    guide.system.benchmark = [](const std::string& root) {
        DriveBenchmark benchmark;
        benchmark.minBytes = benchmark.maxBytes = 8 << 20;
        benchmark.chunkSize = 1 << 20;
        benchmark.randomSamples = 8;
        return benchmark.run(root, nullptr);
    };
    // The kernel knows the loop device for the disk image it is; the test can also have it
    // pass for a drive whose device gives no facts.
    bool asDrive = false;
    guide.system.hardware = [&asDrive, live = guide.system.hardware](const std::string& kernelName) {
        return asDrive ? std::nullopt : live(kernelName);
    };
    guide.system.volumes = [&] {
        auto info = VolumeInfo::read(mountPoint);
        // Only the loop volume counts, not whatever the empty folder sits on.
        if (!info || info->mountPath != mountPoint) return std::vector<VolumeInfo>{};
        return std::vector<VolumeInfo>{*info};
    };
    auto& onboarding = guide.make();
    DriveStep page(*guide.host);
    page.show();
    ASSERT_TRUE(pumpUntil([&] { return guide.executor->started >= 1 && guide.executor->running == 0; }));
    QTest::qWait(100);
    EXPECT_TRUE(page.rows().empty());
    EXPECT_TRUE(page.emptyNote()->isVisibleTo(&page));

    // Large enough to hold something beside the space always kept free (a sparse image).
    auto volume = std::make_unique<LoopVolume>(guide.world.dir / "drive.img", 2200, "mkfs.ext4 -q -F -L Loopy",
                                               "mount", mountPoint);
    if (!volume->mounted()) GTEST_SKIP() << "couldn't mount a loop volume: " << volume->error();
    // What the drive watcher reports when the mount table changes.
    guide.model->drives().volumesChanged();
    ASSERT_TRUE(pumpUntil([&] { return page.rows().size() == 1; }));
    EXPECT_FALSE(page.emptyNote()->isVisibleTo(&page));
    EXPECT_TRUE(page.rows()[0]->toolTip().contains("EXT4"));
    EXPECT_FALSE(page.rows()[0]->chooseButton());
    ASSERT_TRUE(page.rows()[0]->problemLabel());
    EXPECT_EQ(page.rows()[0]->problemLabel()->text(), "This is a disk image, not a drive.");

    asDrive = true;
    guide.model->drives().volumesChanged();
    ASSERT_TRUE(pumpUntil([&] { return page.rows().size() == 1 && page.rows()[0]->chooseButton(); }));
    QTest::mouseClick(page.rows()[0]->chooseButton(), Qt::LeftButton);
    EXPECT_TRUE(page.measuring()->isVisibleTo(&page));
    ASSERT_TRUE(pumpUntil([&] { return !onboarding.isMeasuring(); }));
    ASSERT_FALSE(onboarding.driveError()) << *onboarding.driveError();
    EXPECT_TRUE(page.ready()->isVisibleTo(&page));
    EXPECT_EQ(page.ready()->titleLabel()->text(), "Loopy is ready");
    // Tried, not yet chosen: the drive holds nothing of the program.
    EXPECT_FALSE(DriveMarker::read(mountPoint));
    EXPECT_FALSE(std::filesystem::exists(mountPoint + "/Keldwick"));
    ASSERT_EQ(page.rows().size(), 1u);
    EXPECT_TRUE(page.rows()[0]->isChosen());
    EXPECT_FALSE(page.rows()[0]->usedBeforeLabel());
    // Continue marks it.
    onboarding.confirmDrive();
    ASSERT_TRUE(pumpUntil([&] { return onboarding.drive().has_value(); }));
    EXPECT_EQ(DriveMarker::read(mountPoint), onboarding.drive());
    EXPECT_EQ(onboarding.step(), OnboardingModel::Step::space);
    onboarding.setStep(OnboardingModel::Step::drive);

    volume.reset();
    guide.model->drives().volumesChanged();
    ASSERT_TRUE(pumpUntil([&] { return page.rows().empty(); }));
    EXPECT_TRUE(page.ready()->isVisibleTo(&page)) << "a measured drive stays chosen when it goes";
}

}  // namespace
}  // namespace keldwick::test
