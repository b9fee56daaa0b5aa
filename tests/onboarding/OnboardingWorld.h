#pragma once
// The guide over a real model whose services are scripted: a temporary home with
// Downloads and Documents, drives listed from `volumes` and measured at once, and the
// program's own host over that model.

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "model/ModelFakes.h"
#include "onboarding/AppModelOnboardingHost.h"

namespace keldwick::test {

inline VolumeInfo volumeNamed(const std::string& name, const std::string& mountPath,
                              const std::string& fileSystem = "ext4") {
    VolumeInfo v;
    v.mountPath = mountPath;
    v.name = name;
    v.fileSystem = fileSystem;
    v.isLocal = true;
    v.totalBytes = 2'000'000'000'000;
    v.availableBytes = 1'450'000'000'000;
    return v;
}

// Runs work on real threads like the program and can wait until none is left, so no
// work outlives the world whose fakes it calls.
class DrainedExecutor final : public BackgroundExecutor {
public:
    void run(WorkPriority, std::function<void()> work) override {
        ++started;
        ++running;
        std::thread([this, work = std::move(work)]() mutable {
            work();
            work = nullptr;
            --running;
        }).detach();
    }
    void drain() {
        while (running > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::atomic<int> started{0};
    std::atomic<int> running{0};
};

struct OnboardingWorld {
    ModelWorld world;
    std::shared_ptr<DrainedExecutor> executor = std::make_shared<DrainedExecutor>();
    std::vector<VolumeInfo> volumes;
    DriveOption::System system;
    HomeAccess::Sandbox sandbox;  // where the program runs, as its facts tell
    std::unique_ptr<AppModel> model;
    std::unique_ptr<AppModelOnboardingHost> host;

    OnboardingWorld() {
        makeDirs(world.home + "/Downloads");
        makeDirs(world.home + "/Documents");
        system.volumes = [this] { return volumes; };
        system.hardware = [](const std::string&) { return std::optional<DriveHardware>(); };
        system.marker = [](const std::string&) -> std::optional<Drive> { return std::nullopt; };
        system.adopt = [this](const std::string& root, const std::string& name) {
            // The drive's identity is the world's, so the finished settings find it mounted.
            world.locator->set(world.drive.id, root);
            return Drive{world.drive.id, name};
        };
        system.benchmark = [](const std::string&) {
            BenchmarkResult r;
            r.sequentialWriteMBps = 310;
            r.sequentialReadMBps = 420;
            r.randomReadMedianMs = 0.2;
            r.randomReadP90Ms = 0.4;
            r.bytesTested = 64 << 20;
            return r;
        };
    }

    ~OnboardingWorld() { executor->drain(); }

    // Builds the model and its host; `system` and the world are read from here on.
    OnboardingModel& make() {
        auto services = world.services();
        services.driveSystem = system;
        services.facts.sandbox = sandbox;
        services.background = executor;
        model = std::make_unique<AppModel>(
            AppEnvironment{world.home, world.support, world.locator, {}}, std::move(services));
        host = std::make_unique<AppModelOnboardingHost>(*model);
        return model->onboarding();
    }

    // Picks the first listed drive, waits for its measuring and confirms it.
    bool chooseFirstDrive() {
        auto& onboarding = model->onboarding();
        onboarding.refreshDrives();
        if (!pumpUntil([&] { return !onboarding.drives().empty(); })) return false;
        onboarding.choose(onboarding.drives().front());
        if (!pumpUntil([&] { return !onboarding.isMeasuring(); }) || !onboarding.profile()) return false;
        onboarding.confirmDrive();
        return pumpUntil([&] { return !onboarding.isMarking(); }) && onboarding.drive().has_value();
    }
};

}  // namespace keldwick::test
