#pragma once
// A mounted volume offered as the drive that will hold moved files, with what was found
// out about it when the list was made: its hardware, why it can't be used, and the drive
// already marked on it. Listed by the first-run guide and the Drive tab, and measured
// (marked, then speed-tested) once the user picks one.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "drives/BenchmarkResult.h"
#include "drives/Drive.h"
#include "drives/DriveHardware.h"
#include "drives/DriveProblem.h"
#include "drives/DriveProfile.h"
#include "drives/DriveRefusal.h"
#include "drives/VolumeInfo.h"
#include "foundation/Clock.h"

namespace keldwick {

struct DriveOption {
    VolumeInfo volume;
    std::optional<DriveHardware> hardware;  // none without a kernel name or facts
    std::vector<DriveProblem> problems;     // empty when the volume can hold moved files
    std::optional<Drive> existing;          // the identity in the volume's marker

    // The mount path: two options with the same one are the same option.
    const std::string& id() const { return volume.mountPath; }

    bool operator==(const DriveOption&) const = default;

    // What listing reads and measuring does; the system's by default, fixtures in tests.
    struct System {
        std::function<std::vector<VolumeInfo>()> volumes;
        std::function<std::optional<DriveHardware>(const std::string& kernelName)> hardware;
        std::function<std::optional<Drive>(const std::string& root)> marker;
        std::function<Drive(const std::string& root, const std::string& name)> adopt;
        std::function<BenchmarkResult(const std::string& root)> benchmark;
        // Why the drive locator would refuse the local volume (asked as the locator asks
        // it, so what is offered is what it finds); none when unset.
        std::function<std::optional<DriveRefusal>(const VolumeInfo&)> trust;

        // The system's, with the marker's and the speed test's dates from `clock`.
        static System live(std::shared_ptr<const Clock> clock = Clock::system());
    };

    // Every candidate volume with its hardware, problems and marker: a volume the locator
    // would refuse is listed with the refusal's explanation as its first problem, and a
    // network volume with no marker (nothing on it is read). Usable ones first,
    // then by volume name in plain code-point order (no locale, case-sensitive); equal
    // ones keep the order the volumes were listed in. Reads markers and hardware facts:
    // call it off the main thread.
    static std::vector<DriveOption> all(const System& system);

    // Marks the volume (keeping a marker already there) and runs the speed test; the
    // profile carries the hardware found when the list was made. Blocks for seconds.
    // Throws what marking or testing throws; no test runs when marking fails.
    std::pair<Drive, DriveProfile> measure(const System& system) const;
};

}  // namespace keldwick
