#pragma once
// A mounted volume offered as the drive that will hold moved files, with what was found
// out about it when the list was made: its hardware, why it can't be used, and the drive
// already marked on it. Listed by the first-run guide and the Drive tab. A picked one is
// speed-tested; it is marked as the drive only once the user confirms the choice, so a
// drive tried and not chosen keeps nothing of the program.

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
    // This computer's records are on it (items it moved, listed or copied): what was
    // left off can be picked up. A marker alone, from a pick never used, is not that.
    bool usedBefore = false;

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
        // Whether the drive at the root holds this computer's records; never when unset.
        std::function<bool(const std::string& root)> records;

        // The system's, with the marker's and the speed test's dates from `clock`.
        static System live(std::shared_ptr<const Clock> clock = Clock::system());
    };

    // Every candidate volume with its hardware, problems, marker and records (asked only of
    // a marked one): a volume the locator
    // would refuse is listed with the refusal's explanation as its first problem, and a
    // network volume with no marker (nothing on it is read). Usable ones first,
    // then by volume name in plain code-point order (no locale, case-sensitive); equal
    // ones keep the order the volumes were listed in. Reads markers and hardware facts:
    // call it off the main thread.
    static std::vector<DriveOption> all(const System& system);

    // Runs the speed test, which leaves nothing on the volume; the profile carries the
    // hardware found when the list was made. Blocks for seconds. Throws what the test
    // throws (a full drive in a sentence).
    DriveProfile testSpeed(const System& system) const;
    // Marks the volume as the drive (keeping a marker already there): the choice is
    // confirmed. Throws what marking throws (a drive without room for the folder and
    // marker in a sentence).
    Drive mark(const System& system) const;
    // The speed test, then, when it succeeded, the mark: a choice confirmed by picking.
    std::pair<Drive, DriveProfile> measure(const System& system) const;
};

}  // namespace keldwick
