#pragma once
// The user's choices: the chosen drive, the folders the system may free space in, how much
// free space to keep, how old and large an item must be, and the switches for automatic
// work. A plain value; the program's model holds one copy, normalises it and saves it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "drives/Drive.h"
#include "drives/DriveProfile.h"
#include "scanning/OffloadPolicy.h"

namespace keldwick {

struct AppSettings {
    bool onboardingComplete = false;
    std::optional<Drive> drive;
    std::optional<std::string> driveVolumeUUID;
    std::optional<DriveProfile> driveProfile;
    std::vector<std::string> managedFolders;
    int64_t thresholdBytes = 20'000'000'000;  // keep at least this much free; below it a run is due
    int64_t targetBytes = 30'000'000'000;     // a run frees space until this much is free
    int64_t minimumAgeDays = 30;
    int64_t minimumItemMegabytes = 10;        // decimal megabytes
    bool moveRecentLightFiles = true;
    bool moveProjectsAndSimulators = true;
    bool clearCachesWhenLow = true;
    bool isPaused = false;
    bool dryRunMode = false;
    bool automaticRunsApproved = false;
    int64_t checkIntervalMinutes = 10;
    bool notificationsEnabled = true;

    static constexpr int64_t gigabyte = 1'000'000'000;
    // 10, 20 and 50 GB: the amounts of free space offered to keep.
    static const std::vector<int64_t>& freeSpaceChoices();

    // t + max(t / 2, 5 GB), saturating at the ends of the Int64 range.
    static int64_t target(int64_t forThreshold);
    // home/Downloads, home/Desktop, home/Documents, with exactly one "/" before each name.
    static std::vector<std::string> defaultFolders(const std::string& home);

    // The keep-free arithmetic, in one place for everything that compares free space with
    // these levels. Whether `freeBytes` is below the level to keep free (a run is due):
    bool isBelowKeepFree(int64_t freeBytes) const { return freeBytes < thresholdBytes; }
    // What a run frees to reach the target from `freeBytes`: target - free, never below 0,
    // saturating for nonsense counts or an unnormalised target.
    int64_t bytesToFree(int64_t freeBytes) const;
    // Where the keep-free level lies on a bar of `totalBytes`, as a used fraction:
    // 1 - threshold / total, clamped to 0...1 (0 when undefined or total is below 1).
    double keepFreeMark(int64_t totalBytes) const;

    // Brings the threshold, target, minimum age, minimum size and check interval into range.
    void normalize();

    // The scan policy from these settings, narrowed by the drive's tier (an unmeasured
    // drive when there is no profile). The recent-light-files allowance is included only
    // when asked for and switched on.
    OffloadPolicy policy(bool includingRecent) const;
    OffloadPolicy policy() const { return policy(true); }

    bool operator==(const AppSettings&) const = default;

    // Every field under its own name; the three optional fields only when present.
    nlohmann::json toJson() const;
    // Reads each known key on its own: a key that is missing, null or of the wrong kind
    // leaves that field at its default; unknown keys are ignored. Throws
    // JsonFields::Mismatch only when the top level is not an object. Does not normalise.
    static AppSettings fromJson(const nlohmann::json& object);
};

}  // namespace keldwick
