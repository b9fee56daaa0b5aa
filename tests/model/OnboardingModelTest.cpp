// The first-run guide's model: its steps, folders, drive options and measuring, the
// estimate, and the one settings change of its finish.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>

#include <QSignalSpy>
#include <filesystem>

#include "drives/DriveBenchmark.h"
#include "drives/DriveMarker.h"
#include "model/ModelFakes.h"
#include "platform/POSIXFailure.h"
#include "scanning/SettingsStore.h"
#include "support/RealMounts.h"

namespace keldwick::test {
namespace {

VolumeInfo volumeNamed(const std::string& name, const std::string& mountPath, const std::string& fileSystem = "ext4",
                       std::optional<std::string> kernelName = std::nullopt) {
    VolumeInfo v;
    v.mountPath = mountPath;
    v.name = name;
    v.fileSystem = fileSystem;
    v.kernelName = std::move(kernelName);
    v.isLocal = true;
    v.totalBytes = 1'000'000'000'000;
    v.availableBytes = 500'000'000'000;
    return v;
}

BenchmarkResult measured() {
    BenchmarkResult r;
    r.sequentialWriteMBps = 300;
    r.sequentialReadMBps = 400;
    r.randomReadMedianMs = 0.2;
    r.randomReadP90Ms = 0.4;
    r.bytesTested = 64 << 20;
    return r;
}

class OnboardingModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        system.volumes = [this] { return volumes; };
        system.hardware = [](const std::string&) { return std::optional<DriveHardware>(DriveHardware(DriveHardware::Medium::solidState)); };
        system.marker = [](const std::string&) -> std::optional<Drive> { return std::nullopt; };
        system.adopt = [this](const std::string& root, const std::string& name) {
            ++adopts;
            if (root.find("broken") != std::string::npos) throw std::runtime_error("The folder can't be written.");
            return Drive{"ID-" + name, name};
        };
        system.benchmark = [this](const std::string&) {
            ++benchmarks;
            return measured();
        };
    }

    std::unique_ptr<AppModel> make() {
        auto services = world.services();
        services.driveSystem = system;
        return std::make_unique<AppModel>(
            AppEnvironment{world.home, world.support, world.locator, {}}, std::move(services));
    }

    ModelWorld world;
    DriveOption::System system;
    std::vector<VolumeInfo> volumes;
    std::atomic<int> adopts{0};
    std::atomic<int> benchmarks{0};
};

TEST(OnboardingStepTest, RawValuesOutsideTheStepsGiveNone) {
    for (int raw = -1; raw <= 5; ++raw) {
        const auto step = OnboardingModel::stepFromRaw(raw);
        EXPECT_EQ(step.has_value(), raw >= 0 && raw <= 4) << raw;
        if (step) {
            EXPECT_EQ(static_cast<int>(*step), raw);
        }
    }
}

TEST_F(OnboardingModelTest, DriveOptionsListUsableFirstThenByPlainName) {
    volumes = {volumeNamed("Backup", "/media/u/Backup", "vfat"), volumeNamed("archive", "/media/u/archive"),
               volumeNamed("Zeta", "/media/u/Zeta", "ext4", "sdc1"), volumeNamed("archive", "/media/u/archive1")};
    const auto options = DriveOption::all(system);
    std::vector<std::string> order;
    for (const auto& option : options) order.push_back(option.id());
    EXPECT_EQ(order, (std::vector<std::string>{"/media/u/Zeta", "/media/u/archive", "/media/u/archive1",
                                               "/media/u/Backup"}));
    EXPECT_FALSE(options[3].problems.empty());
    EXPECT_TRUE(options[0].hardware);  // only a volume with a kernel name has hardware
    EXPECT_FALSE(options[1].hardware);
    EXPECT_TRUE(DriveOption::all(DriveOption::System{[] { return std::vector<VolumeInfo>{}; }, {}, {}, {}, {}, {}, {}}).empty());
}

// A volume the locator would refuse is listed with why, never as choosable; a network
// volume is listed with its problem and nothing on it is asked (no marker, no trust).
TEST_F(OnboardingModelTest, RefusedAndNetworkVolumesAreListedWithWhyTheyCantServe) {
    VolumeInfo share = volumeNamed("share", "/mnt/share", "nfs4");
    share.isLocal = false;
    volumes = {volumeNamed("Open", "/media/u/Open", "exfat"), volumeNamed("Fine", "/media/u/Fine"), share};
    std::vector<std::string> asked;
    system.trust = [&asked](const VolumeInfo& volume) -> std::optional<DriveRefusal> {
        asked.push_back(volume.mountPath);
        if (volume.name != "Open") return std::nullopt;
        return DriveRefusal{volume.mountPath, DriveRefusal::Kind::modesFromMount, "Keldwick folder"};
    };
    system.marker = [&asked](const std::string& root) -> std::optional<Drive> {
        asked.push_back(root);
        return std::nullopt;
    };
    const auto options = DriveOption::all(system);
    ASSERT_EQ(options.size(), 3u);
    EXPECT_EQ(options[0].id(), "/media/u/Fine");
    EXPECT_TRUE(options[0].problems.empty());
    EXPECT_EQ(options[1].id(), "/media/u/Open");
    EXPECT_EQ(options[1].problems,
              (std::vector<DriveProblem>{DriveProblem::untrusted(
                  "Every user of this computer can change it: mount it with \u201cumask=022\u201d, or format it as ext4.")}));
    EXPECT_EQ(options[2].id(), "/mnt/share");
    EXPECT_EQ(options[2].problems, (std::vector<DriveProblem>{DriveProblem::networkVolume()}));
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "/mnt/share"), 0);
}

TEST_F(OnboardingModelTest, ContinuingNeedsAFolderOnTheSpaceStepAndAMeasuredDriveOnTheDriveStep) {
    makeDirs(world.home + "/Downloads");
    makeDirs(world.home + "/Documents");
    auto model = make();
    auto& onboarding = model->onboarding();
    for (auto step : {OnboardingModel::Step::welcome, OnboardingModel::Step::homeAccess, OnboardingModel::Step::done}) {
        onboarding.setStep(step);
        EXPECT_TRUE(onboarding.canContinue());
    }
    onboarding.setStep(OnboardingModel::Step::drive);
    EXPECT_FALSE(onboarding.canContinue());
    onboarding.choose(DriveOption{volumeNamed("Fast", world.driveRoot), {}, {}, {}});
    EXPECT_FALSE(onboarding.canContinue());  // measuring
    ASSERT_TRUE(pumpUntil([&] { return !onboarding.isMeasuring(); }));
    EXPECT_TRUE(onboarding.canContinue());

    onboarding.setStep(OnboardingModel::Step::space);
    onboarding.loadFolders();
    EXPECT_TRUE(onboarding.canContinue());
    for (const auto& folder : onboarding.folders()) onboarding.setFolderOn(folder.path, false);
    EXPECT_FALSE(onboarding.canContinue());
}

TEST_F(OnboardingModelTest, DefaultFoldersLoadOnceAndAddedFoldersByTheirRealPath) {
    makeDirs(world.home + "/Downloads");
    makeDirs(world.home + "/Documents");  // no Desktop
    std::filesystem::create_directory_symlink(world.home + "/Documents", world.home + "/Docs");
    auto model = make();
    auto& onboarding = model->onboarding();
    onboarding.loadFolders();
    ASSERT_EQ(onboarding.folders().size(), 3u);
    EXPECT_EQ(onboarding.folders()[0].path, world.home + "/Downloads");
    EXPECT_EQ(onboarding.folders()[1].path, world.home + "/Desktop");
    EXPECT_EQ(onboarding.folders()[2].path, world.home + "/Documents");
    EXPECT_TRUE(onboarding.folders()[0].isOn);
    EXPECT_FALSE(onboarding.folders()[1].isOn);  // the scanner would skip it: it isn't there
    EXPECT_TRUE(onboarding.folders()[1].problem);

    onboarding.setFolderOn(world.home + "/Downloads", false);
    onboarding.loadFolders();
    EXPECT_FALSE(onboarding.folders()[0].isOn);  // the user's switch is kept

    QSignalSpy appended(&onboarding, &OnboardingModel::foldersChanged);
    world.picker->answer = std::nullopt;  // cancelled
    onboarding.addFolder();
    makeDirs(world.home + "/Work");
    world.picker->answer = std::vector<std::string>{world.home + "/Docs", world.home + "/Work", world.home + "/Work"};
    onboarding.addFolder();
    ASSERT_EQ(onboarding.folders().size(), 4u);
    EXPECT_EQ(onboarding.folders()[3].path, world.home + "/Work");
    EXPECT_EQ(appended.count(), 1);
    ASSERT_EQ(world.picker->requests.size(), 2u);
    EXPECT_EQ(world.picker->requests[0].button, "Add");
    EXPECT_EQ(world.picker->requests[0].message, "Choose folders where Keldwick should look for old files.");
    EXPECT_EQ(world.picker->requests[0].startIn, world.home);
}

// A desktop in another language names its folders in user-dirs.dirs: the guide offers
// those, switched on, and the chooser of files to move starts on that desktop.
TEST_F(OnboardingModelTest, DefaultFoldersFollowTheUsersFolderNames) {
    const std::string config = world.dir / "config";
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string savedValue = saved ? saved : "";
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    writeFile(config + "/user-dirs.dirs",
              "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
              "XDG_DOWNLOAD_DIR=\"$HOME/Herunterladen\"\n"
              "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    for (const char* name : {"Schreibtisch", "Herunterladen", "Dokumente"}) makeDirs(world.home + "/" + name);
    auto model = make();
    auto& onboarding = model->onboarding();
    onboarding.loadFolders();
    std::vector<std::string> paths;
    for (const auto& folder : onboarding.folders()) {
        paths.push_back(folder.path);
        EXPECT_TRUE(folder.isOn) << folder.path;
    }
    EXPECT_EQ(paths, (std::vector<std::string>{world.home + "/Herunterladen", world.home + "/Schreibtisch",
                                               world.home + "/Dokumente"}));
    model->chooseFilesToMove();
    ASSERT_EQ(world.picker->requests.size(), 1u);
    EXPECT_EQ(world.picker->requests[0].startIn, world.home + "/Schreibtisch");
    if (saved) {
        ::setenv("XDG_CONFIG_HOME", savedValue.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

// A pick is only tried: its speed test leaves nothing, and the drive is marked once the
// user continues with it, once however often they come back.
TEST_F(OnboardingModelTest, APickIsTestedFirstAndMarkedOnlyWhenConfirmed) {
    auto model = make();
    auto& onboarding = model->onboarding();
    onboarding.setStep(OnboardingModel::Step::drive);
    onboarding.confirmDrive();  // nothing picked: nothing happens
    EXPECT_EQ(onboarding.step(), OnboardingModel::Step::drive);
    onboarding.choose(DriveOption{volumeNamed("Fast", world.dir / "fast"), {}, {}, {}});
    EXPECT_FALSE(onboarding.canContinue());
    ASSERT_TRUE(pumpUntil([&] { return !onboarding.isMeasuring(); }));
    EXPECT_EQ(benchmarks, 1);
    EXPECT_EQ(adopts, 0);
    EXPECT_FALSE(onboarding.drive());
    EXPECT_EQ(onboarding.measuredName(), "Fast");
    EXPECT_TRUE(onboarding.profile());
    EXPECT_TRUE(onboarding.canContinue());

    onboarding.confirmDrive();
    EXPECT_TRUE(onboarding.isMarking());
    EXPECT_FALSE(onboarding.canContinue());
    ASSERT_TRUE(pumpUntil([&] { return onboarding.drive().has_value(); }));
    EXPECT_EQ(onboarding.drive(), (Drive{"ID-Fast", "Fast"}));
    EXPECT_EQ(onboarding.step(), OnboardingModel::Step::space);
    EXPECT_EQ(adopts, 1);

    onboarding.setStep(OnboardingModel::Step::drive);
    onboarding.confirmDrive();
    EXPECT_EQ(onboarding.step(), OnboardingModel::Step::space);
    EXPECT_EQ(adopts, 1);
}

// A speed test or a mark that fails undoes the pick and says why in a sentence.
TEST_F(OnboardingModelTest, ATestOrAMarkThatFailsUndoesThePick) {
    system.benchmark = [this](const std::string& root) {
        ++benchmarks;
        if (root.find("full") != std::string::npos)
            throw DriveBenchmarkNoRoom("There isn't enough room on the drive for its speed test: it needs 67.1 MB free.");
        return measured();
    };
    system.adopt = [this](const std::string& root, const std::string& name) -> Drive {
        ++adopts;
        if (root.find("tight") != std::string::npos)
            throw DriveMarker::NoRoom(POSIXFailure("write", root + "/Keldwick/x", ENOSPC));
        if (root.find("broken") != std::string::npos) throw std::runtime_error("The folder can't be written.");
        return Drive{"ID-" + name, name};
    };
    struct Row {
        const char* folder;
        bool tested;  // the speed test passed, so Continue was pressed
        const char* error;
    };
    const Row rows[] = {
        {"full", false,
         "Keldwick couldn't use Stick: There isn't enough room on the drive for its speed test: it needs 67.1 MB "
         "free."},
        {"broken", true, "Keldwick couldn't use Stick: The folder can't be written."},
        {"tight", true,
         "Keldwick couldn't use Stick: There isn't enough room on the drive for Keldwick's folder. Free some space on "
         "it and try again."},
    };
    auto model = make();
    auto& onboarding = model->onboarding();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.folder);
        adopts = 0;
        onboarding.setStep(OnboardingModel::Step::drive);
        onboarding.choose(DriveOption{volumeNamed("Stick", world.dir / row.folder), {}, {}, {}});
        ASSERT_TRUE(pumpUntil([&] { return !onboarding.isMeasuring(); }));
        if (row.tested) {
            ASSERT_TRUE(onboarding.profile());
            onboarding.confirmDrive();
            ASSERT_TRUE(pumpUntil([&] { return !onboarding.isMarking(); }));
        }
        EXPECT_EQ(onboarding.driveError(), row.error);
        EXPECT_EQ(adopts, row.tested ? 1 : 0);
        EXPECT_FALSE(onboarding.chosenDriveID());
        EXPECT_FALSE(onboarding.drive());
        EXPECT_FALSE(onboarding.profile());
        EXPECT_FALSE(onboarding.driveRoot());
        EXPECT_FALSE(onboarding.canContinue());
        EXPECT_EQ(onboarding.step(), OnboardingModel::Step::drive);
    }
}

// "Used before" is a drive holding this computer's records, not any drive with a marker.
TEST_F(OnboardingModelTest, ADriveIsUsedBeforeOnlyWithRecordsOfThisComputer) {
    volumes = {volumeNamed("Kept", "/media/u/Kept"), volumeNamed("Tried", "/media/u/Tried"),
               volumeNamed("New", "/media/u/New")};
    system.marker = [](const std::string& root) -> std::optional<Drive> {
        if (root == "/media/u/New") return std::nullopt;
        return Drive{"ID" + root, "Old"};
    };
    std::vector<std::string> asked;
    system.records = [&asked](const std::string& root) {
        asked.push_back(root);
        return root == "/media/u/Kept";
    };
    std::map<std::string, bool> usedBefore;
    for (const auto& option : DriveOption::all(system)) {
        usedBefore[option.volume.name] = option.usedBefore;
    }
    EXPECT_EQ(usedBefore, (std::map<std::string, bool>{{"Kept", true}, {"New", false}, {"Tried", false}}));
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "/media/u/New"), 0) << "no marker: nothing more is read";
}

TEST_F(OnboardingModelTest, OnlyTheLatestPickIsApplied) {
    // The first pick's speed test ends after the second pick's.
    std::atomic<bool> releaseFirst{false};
    system.benchmark = [&](const std::string& root) {
        if (root.find("slow") != std::string::npos)
            while (!releaseFirst) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return measured();
    };
    std::atomic<int> finished{0};
    system.benchmark = [&, inner = system.benchmark](const std::string& root) {
        auto result = inner(root);
        ++finished;
        return result;
    };
    auto model = make();
    auto& onboarding = model->onboarding();
    onboarding.choose(DriveOption{volumeNamed("Slow", world.dir / "slow"), {}, {}, {}});
    onboarding.choose(DriveOption{volumeNamed("Fast", world.dir / "fast"), {}, {}, {}});
    ASSERT_TRUE(pumpUntil([&] { return onboarding.profile().has_value(); }));
    EXPECT_EQ(onboarding.measuredName(), "Fast");
    EXPECT_FALSE(onboarding.isMeasuring());
    releaseFirst = true;
    ASSERT_TRUE(pumpUntil([&] { return finished == 2; }));
    for (int i = 0; i < 50; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(onboarding.measuredName(), "Fast");
    EXPECT_EQ(onboarding.driveRoot(), world.dir / "fast");
    EXPECT_EQ(onboarding.chosenDriveID(), world.dir / "fast");
}

TEST_F(OnboardingModelTest, FinishWritesEveryChoiceInOneChangeAndStartsChecking) {
    struct Case {
        int64_t keep;
        int64_t target;
    };
    for (const auto& c : std::vector<Case>{{20'000'000'000, 30'000'000'000}, {10'000'000'000, 15'000'000'000},
                                           {8'000'000'000, 13'000'000'000}}) {
        world.loginItem->calls.clear();
        std::filesystem::remove_all(world.support);
        makeDirs(world.home + "/Downloads");
        auto model = make();
        auto& onboarding = model->onboarding();
        onboarding.finish();  // nothing measured: nothing written
        EXPECT_FALSE(std::filesystem::exists(world.support + "/settings.json"));

        onboarding.choose(DriveOption{volumeNamed("Fast", world.driveRoot), {}, {}, {}});
        ASSERT_TRUE(pumpUntil([&] { return !onboarding.isMeasuring(); }));
        onboarding.finish();  // tested, not confirmed: nothing written
        EXPECT_FALSE(std::filesystem::exists(world.support + "/settings.json"));
        onboarding.confirmDrive();
        ASSERT_TRUE(pumpUntil([&] { return onboarding.drive().has_value(); }));
        onboarding.loadFolders();
        onboarding.setKeepFreeBytes(c.keep);
        onboarding.setOpenAtLogin(false);
        FieldChanges settingsChanges(model->store(), ModelField::settings);
        const int recoveries = world.engines->last()->recoverCalls;
        onboarding.finish();
        EXPECT_EQ(settingsChanges.count(), 1);
        const AppSettings saved = SettingsStore{world.support + "/settings.json"}.load();
        EXPECT_TRUE(saved.onboardingComplete);
        EXPECT_EQ(saved.drive, (Drive{"ID-Fast", "Fast"}));
        EXPECT_EQ(saved.thresholdBytes, c.keep);
        EXPECT_EQ(saved.targetBytes, c.target);
        EXPECT_EQ(saved.managedFolders, std::vector<std::string>{world.home + "/Downloads"});
        ASSERT_TRUE(saved.driveProfile);
        EXPECT_EQ(saved.driveProfile->benchmark, measured());
        EXPECT_EQ(world.loginItem->calls, std::vector<bool>{false});
        // The checking starts with recovery.
        ASSERT_TRUE(pumpUntil([&] {
            int total = 0;
            for (auto& engine : world.engines->built) total += engine->recoverCalls;
            return total > recoveries;
        }));
        ASSERT_TRUE(pumpUntil([&] { return model->state().activity == Activity::idle; }));
    }
}

TEST_F(OnboardingModelTest, AnEstimateNeedsPermissionAJournalAndIsDroppedWhenOvertaken) {
    makeDirs(world.home + "/Downloads");
    writeFile(world.home + "/Downloads/old.bin", std::string(4096, 'x'));
    auto model = make();
    auto& onboarding = model->onboarding();
    onboarding.estimateMovable();  // no drive measured yet
    EXPECT_FALSE(onboarding.movableBytes());
    onboarding.choose(DriveOption{volumeNamed("Fast", world.driveRoot), {}, {}, {}});
    ASSERT_TRUE(pumpUntil([&] { return !onboarding.isMeasuring(); }));
    onboarding.loadFolders();

    world.homeAccess = false;
    model->drives().refreshHomeAccess();
    onboarding.estimateMovable();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_FALSE(onboarding.movableBytes());

    world.homeAccess = true;
    model->drives().refreshHomeAccess();
    onboarding.estimateMovable();
    onboarding.cancelEstimate();  // the page went away before the value came
    const int before = world.executor->userRuns;
    ASSERT_TRUE(pumpUntil([&] { return world.executor->userRuns == before; }));
    for (int i = 0; i < 100; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_FALSE(onboarding.movableBytes());

    onboarding.estimateMovable();
    ASSERT_TRUE(pumpUntil([&] { return onboarding.movableBytes().has_value(); }));
    EXPECT_GE(*onboarding.movableBytes(), 0);
}

TEST_F(OnboardingModelTest, ALoopMountedDriveIsChosenAndMeasured) {
    if (auto reason = mountSkipReason("mkfs.ext4")) GTEST_SKIP() << *reason;
    const std::string mountPoint = world.dir / "mnt";
    makeDirs(mountPoint);
    // Large enough to hold something beside the space always kept free (a sparse image).
    LoopVolume volume(world.dir / "drive.img", 2200, "mkfs.ext4 -q -F -L Loopy", "mount", mountPoint);
    if (!volume.mounted()) GTEST_SKIP() << "couldn't mount a loop volume: " << volume.error();

    system = DriveOption::System::live();
    // A short speed test: the small volume could not hold the full one.
    system.benchmark = [](const std::string& root) {
        DriveBenchmark benchmark;
        benchmark.minBytes = benchmark.maxBytes = 8 << 20;
        benchmark.chunkSize = 1 << 20;
        benchmark.randomSamples = 8;
        return benchmark.run(root, nullptr);
    };
    system.volumes = [&] {
        auto info = VolumeInfo::read(mountPoint);
        return info ? std::vector<VolumeInfo>{*info} : std::vector<VolumeInfo>{};
    };
    auto model = make();
    auto& onboarding = model->onboarding();
    onboarding.refreshDrives();
    ASSERT_TRUE(pumpUntil([&] { return !onboarding.drives().empty(); }));
    const DriveOption option = onboarding.drives()[0];
    EXPECT_EQ(option.id(), mountPoint);
    EXPECT_FALSE(option.existing);
    EXPECT_EQ(std::count(option.problems.begin(), option.problems.end(), DriveProblem::tooSmall()), 0);
    onboarding.choose(option);
    ASSERT_TRUE(pumpUntil([&] { return !onboarding.isMeasuring(); }));
    ASSERT_FALSE(onboarding.driveError()) << *onboarding.driveError();
    EXPECT_FALSE(std::filesystem::exists(mountPoint + "/Keldwick")) << "a drive tried keeps nothing";
    onboarding.confirmDrive();
    ASSERT_TRUE(pumpUntil([&] { return onboarding.drive().has_value(); }));
    EXPECT_EQ(DriveMarker::read(mountPoint), onboarding.drive());
    // Marked, but nothing moved to it yet: not "used before" when listed again.
    onboarding.refreshDrives();
    ASSERT_TRUE(pumpUntil([&] { return !onboarding.drives().empty() && onboarding.drives()[0].existing; }));
    EXPECT_FALSE(onboarding.drives()[0].usedBefore);
    ASSERT_TRUE(onboarding.profile() && onboarding.profile()->benchmark);
    EXPECT_GT(onboarding.profile()->benchmark->sequentialWriteMBps, 0);
    EXPECT_EQ(onboarding.driveRoot(), mountPoint);
}

}  // namespace
}  // namespace keldwick::test
