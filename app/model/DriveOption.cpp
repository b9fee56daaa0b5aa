#include "model/DriveOption.h"

#include <algorithm>

#include "drives/DriveBenchmark.h"
#include "drives/DriveEligibility.h"
#include "drives/DriveMarker.h"
#include "drives/DriveTrust.h"

namespace keldwick {

DriveOption::System DriveOption::System::live() {
    System system;
    system.volumes = [] {
        // Nor what the locator would refuse for its Keldwick folder or marker.
        std::vector<VolumeInfo> volumes = VolumeInfo::externalCandidates();
        const auto user = DriveTrust::User::current();
        std::erase_if(volumes, [&user](const VolumeInfo& volume) {
            return DriveTrust::examine(volume.mountPath, user, std::nullopt).refusal.has_value();
        });
        return volumes;
    };
    system.hardware = [](const std::string& bsdName) { return DriveHardware::inspect(bsdName); };
    system.marker = [](const std::string& root) { return DriveMarker::read(root); };
    system.adopt = [](const std::string& root, const std::string& name) { return DriveMarker::adopt(root, name); };
    system.benchmark = [](const std::string& root) { return DriveBenchmark{}.run(root, nullptr); };
    return system;
}

std::vector<DriveOption> DriveOption::all(const System& system) {
    std::vector<DriveOption> options;
    for (auto& volume : system.volumes()) {
        DriveOption option;
        if (volume.bsdName) option.hardware = system.hardware(*volume.bsdName);
        option.problems = DriveEligibility::problems(volume, option.hardware);
        option.existing = system.marker(volume.mountPath);
        option.volume = std::move(volume);
        options.push_back(std::move(option));
    }
    std::stable_sort(options.begin(), options.end(), [](const DriveOption& a, const DriveOption& b) {
        if (a.problems.empty() != b.problems.empty()) return a.problems.empty();
        return a.volume.name < b.volume.name;
    });
    return options;
}

std::pair<Drive, DriveProfile> DriveOption::measure(const System& system) const {
    Drive drive = system.adopt(volume.mountPath, volume.name);
    BenchmarkResult result = system.benchmark(volume.mountPath);
    return {drive, DriveProfile{hardware, result}};
}

}  // namespace keldwick
