#include "model/DriveOption.h"

#include <algorithm>

#include "drives/DriveBenchmark.h"
#include "drives/DriveEligibility.h"
#include "drives/DriveLayout.h"
#include "drives/DriveMarker.h"
#include "drives/DriveTrust.h"
#include "foundation/MachineIdentity.h"

namespace keldwick {

DriveOption::System DriveOption::System::live(std::shared_ptr<const Clock> clock) {
    if (!clock) clock = Clock::system();
    System system;
    system.volumes = [] { return VolumeInfo::externalCandidates(); };
    system.hardware = [](const std::string& kernelName) { return DriveHardware::inspect(kernelName); };
    system.marker = [](const std::string& root) { return DriveMarker::read(root); };
    system.adopt = [clock](const std::string& root, const std::string& name) {
        return DriveMarker::adopt(root, name, *clock);
    };
    system.benchmark = [clock](const std::string& root) {
        DriveBenchmark benchmark;
        benchmark.clock = clock;
        return benchmark.run(root, nullptr);
    };
    system.trust = [user = DriveTrust::User::current()](const VolumeInfo& volume) {
        return DriveTrust::judgeMountedAt(volume.mountPath, user, std::nullopt).refusal;
    };
    system.records = [](const std::string& root) {
        return DriveLayout::holdsRecords(root, MachineIdentity::current(), MachineIdentity::folderName());
    };
    return system;
}

std::vector<DriveOption> DriveOption::all(const System& system) {
    std::vector<DriveOption> options;
    for (auto& volume : system.volumes()) {
        DriveOption option;
        if (volume.kernelName) option.hardware = system.hardware(*volume.kernelName);
        option.problems = DriveEligibility::problems(volume, option.hardware);
        if (volume.isLocal) {
            if (system.trust) {
                if (auto refusal = system.trust(volume)) {
                    option.problems.insert(option.problems.begin(), DriveProblem::untrusted(refusal->explanation()));
                }
            }
            option.existing = system.marker(volume.mountPath);
            if (option.existing && system.records) option.usedBefore = system.records(volume.mountPath);
        }
        option.volume = std::move(volume);
        options.push_back(std::move(option));
    }
    std::stable_sort(options.begin(), options.end(), [](const DriveOption& a, const DriveOption& b) {
        if (a.problems.empty() != b.problems.empty()) return a.problems.empty();
        return a.volume.name < b.volume.name;
    });
    return options;
}

DriveProfile DriveOption::testSpeed(const System& system) const {
    return DriveProfile{hardware, system.benchmark(volume.mountPath)};
}

Drive DriveOption::mark(const System& system) const { return system.adopt(volume.mountPath, volume.name); }

std::pair<Drive, DriveProfile> DriveOption::measure(const System& system) const {
    DriveProfile profile = testSpeed(system);
    return {mark(system), std::move(profile)};
}

}  // namespace keldwick
