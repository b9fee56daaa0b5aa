#include <QSignalSpy>
#include <gtest/gtest.h>

#include "settings/DriveCheck.h"

namespace keldwick {
namespace {

constexpr int64_t GB = 1'000'000'000;

// Work offloaded by the check, run when the test says so.
struct Pending {
    std::function<void()> work;
    std::function<void()> then;
    void finish() const {
        work();
        then();
    }
};

struct CheckWorld {
    ModelState state;
    std::vector<Pending> pending;
    int writes = 0;
    std::vector<std::string> benchmarked;
    std::vector<std::string> inspected;
    std::vector<std::string> adopted;
    std::function<BenchmarkResult(const std::string&)> benchmark = [](const std::string&) {
        return BenchmarkResult{300, 350, 0.3, 0.5, 64 << 20, Date{1'800'000'000}};
    };
    std::unique_ptr<DriveCheck> check;

    CheckWorld() {
        state.settings.onboardingComplete = true;
        state.settings.drive = Drive{"D1", "Archive"};
        state.driveRoot = "/media/u/Archive";
        VolumeInfo volume;
        volume.name = "Archive";
        volume.kernelName = "sdb1";
        state.driveVolume = volume;
        DriveOption::System system;
        system.benchmark = [this](const std::string& root) {
            benchmarked.push_back(root);
            return benchmark(root);
        };
        system.hardware = [this](const std::string& bsd) -> std::optional<DriveHardware> {
            inspected.push_back(bsd);
            return DriveHardware(DriveHardware::Medium::solidState, "USB");
        };
        system.marker = [](const std::string&) -> std::optional<Drive> { return std::nullopt; };
        system.adopt = [this](const std::string& root, const std::string& name) {
            adopted.push_back(root);
            return Drive{"D2", name};
        };
        check = std::make_unique<DriveCheck>(DriveCheck::Ports{
            [this]() -> const ModelState& { return state; },
            [this](const SettingsChange& change) {
                ++writes;
                state.settings = applySettingsChange(state.settings, change);
            },
            [this](std::function<void()> work, std::function<void()> then) {
                pending.push_back({std::move(work), std::move(then)});
            },
            system});
    }

    DriveOption option(const std::string& name) const {
        DriveOption o;
        o.volume.name = name;
        o.volume.mountPath = "/media/u/" + name;
        o.volume.totalBytes = 1000 * GB;
        return o;
    }
};

TEST(DriveCheckTest, OneCheckAtATimeAndNoneWhileFilesMove) {
    CheckWorld world;
    QSignalSpy changed(world.check.get(), &DriveCheck::changed);
    ASSERT_TRUE(world.check->checkSpeed());
    EXPECT_EQ(world.check->work().working, kCheckingSpeed);
    EXPECT_FALSE(world.check->checkSpeed());
    EXPECT_FALSE(world.check->useDrive(world.option("Other")));
    EXPECT_EQ(world.pending.size(), 1u);
    world.pending[0].finish();
    EXPECT_FALSE(world.check->work().working);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(world.writes, 1);
    // The hardware came from the mounted volume's disk: the stored profile had none.
    EXPECT_EQ(world.inspected, std::vector<std::string>{"sdb1"});
    ASSERT_TRUE(world.state.settings.driveProfile);
    EXPECT_EQ(world.state.settings.driveProfile->hardware->interconnect, "USB");
    EXPECT_EQ(world.state.settings.driveProfile->benchmark->sequentialReadMBps, 350);

    // Known hardware is kept, not read again.
    ASSERT_TRUE(world.check->checkSpeed());
    world.pending[1].finish();
    EXPECT_EQ(world.inspected.size(), 1u);

    for (Activity busy : {Activity::moving, Activity::restoring, Activity::recovering, Activity::scanning,
                          Activity::clearing}) {
        world.state.activity = busy;
        EXPECT_FALSE(world.check->checkSpeed());
        EXPECT_FALSE(world.check->useDrive(world.option("Other")));
    }
    world.state.activity = Activity::idle;
    world.state.driveRoot.reset();
    EXPECT_FALSE(world.check->checkSpeed());
    EXPECT_TRUE(world.check->useDrive(world.option("Other")));
    EXPECT_EQ(world.pending.size(), 3u);
}

TEST(DriveCheckTest, ASpeedResultForADriveNoLongerChosenIsDropped) {
    CheckWorld world;
    ASSERT_TRUE(world.check->checkSpeed());
    // Meanwhile the first-run guide (or a settings file) chose another drive.
    world.state.settings.drive = Drive{"D9", "Travel"};
    world.pending[0].finish();
    EXPECT_EQ(world.writes, 0);
    EXPECT_FALSE(world.state.settings.driveProfile);
    EXPECT_EQ(world.check->work(), DriveWork{});
}

TEST(DriveCheckTest, FailuresKeepTheSettingsAndSayWhy) {
    CheckWorld world;
    DriveProfile old;
    old.hardware = DriveHardware(DriveHardware::Medium::rotational);
    world.state.settings.driveProfile = old;
    world.benchmark = [](const std::string&) -> BenchmarkResult { throw std::runtime_error("No space left"); };
    ASSERT_TRUE(world.check->checkSpeed());
    world.pending[0].finish();
    EXPECT_EQ(world.writes, 0);
    EXPECT_EQ(world.state.settings.driveProfile, old);
    EXPECT_EQ(world.check->work().error, "No space left");

    // Choosing a drive that fails keeps the old drive; the error names the volume.
    ASSERT_TRUE(world.check->useDrive(world.option("Stick")));
    EXPECT_EQ(world.check->work().working, "Checking Stick (about 10 seconds)\u2026");
    EXPECT_FALSE(world.check->work().error);  // cleared as the check starts
    world.pending[1].finish();
    EXPECT_EQ(world.state.settings.drive, (Drive{"D1", "Archive"}));
    EXPECT_EQ(world.check->work().error, "Keldwick couldn't use Stick: No space left");
    EXPECT_FALSE(world.check->work().working);
    EXPECT_TRUE(world.adopted.empty()) << "a drive whose speed test failed is not marked";

    // A drive that measures becomes the chosen one, with its profile, in one write.
    world.benchmark = [](const std::string&) { return BenchmarkResult{}; };
    ASSERT_TRUE(world.check->useDrive(world.option("Stick")));
    world.pending[2].finish();
    EXPECT_EQ(world.adopted, std::vector<std::string>{"/media/u/Stick"});
    EXPECT_EQ(world.writes, 1);
    EXPECT_EQ(world.state.settings.drive, (Drive{"D2", "Stick"}));
    EXPECT_TRUE(world.state.settings.driveProfile->benchmark);
    EXPECT_EQ(world.check->work(), DriveWork{});
}

TEST(DriveCheckTest, AResultAfterTheCheckIsGoneIsDropped) {
    CheckWorld world;
    ASSERT_TRUE(world.check->checkSpeed());
    Pending left = world.pending[0];
    world.check.reset();
    left.finish();
    EXPECT_EQ(world.writes, 0);
}

}  // namespace
}  // namespace keldwick
