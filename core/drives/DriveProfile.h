#pragma once
// What is known of the chosen drive (hardware facts and the last speed test), the tier
// derived from them and the texts shown about the drive. The narrowing of the scan
// policy that the tier calls for is the policy's own (policyForDrive).

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "drives/BenchmarkResult.h"
#include "drives/DriveHardware.h"
#include "drives/DriveTier.h"

namespace keldwick {

struct DriveProfile {
    std::optional<DriveHardware> hardware;
    std::optional<BenchmarkResult> benchmark;

    struct Thresholds {
        static constexpr double flashLatencyMs = 1.0;     // median random read at or below: flash-like
        static constexpr double spinningLatencyMs = 2.5;  // at or above: spinning-disk-like
        static constexpr double fastReadMBps = 200;
        static constexpr double fastWriteMBps = 150;
    };

    bool operator==(const DriveProfile&) const = default;

    // A measured drive's tier rests on the measurement, except that a drive reporting a
    // rotational medium is always a hard drive; an unmeasured drive counts as fast only
    // when it reports a solid-state medium on a link faster than USB 2.
    DriveTier tier() const;
    // Absent without a benchmark or when the median lies between the two thresholds.
    std::optional<bool> measuredAsSpinning() const;
    // Reports a solid-state medium but measures like a spinning disk.
    bool misreportsMedium() const;
    // "Fast SSD", "Slow drive", "Not checked yet" or "Hard drive".
    std::string kind() const;
    // One paragraph for the drive settings and onboarding.
    std::string summary() const;
    // "Reads about R MB/s, writes about W MB/s"; absent without a benchmark, and when a
    // stored speed is not a finite number within the 64-bit range.
    std::optional<std::string> speedDetails() const;

    // Keys "hardware" and "benchmark", each only when present.
    nlohmann::json toJson() const;
    // Throws JsonFields::Mismatch when the value is not an object or either record is
    // malformed (a missing or mistyped key, a speed that is not a finite number).
    static DriveProfile fromJson(const nlohmann::json& object);
};

}  // namespace keldwick
