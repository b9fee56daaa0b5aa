#pragma once
// The user's choices: the chosen drive, the folders the system may free space in, how much
// free space to keep, how old and large an item must be, and the switches for automatic
// work. A plain value; the program's model holds one copy, normalises it and saves it.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "drives/Drive.h"
#include "drives/DriveProfile.h"
#include "scanning/OffloadPolicy.h"

namespace keldwick {

// The values normalising keeps a setting to.
namespace SettingRange {
struct Any {};
struct Between {
    int64_t lowest, highest;
};
// At least the keep-free level + 1 GB, saturating; applied after the level's own range.
struct AboveKeepFree {};
inline constexpr Any any{};
inline constexpr AboveKeepFree aboveKeepFree{};
constexpr Between between(int64_t lowest, int64_t highest) { return {lowest, highest}; }
constexpr Between atLeast(int64_t lowest) { return {lowest, std::numeric_limits<int64_t>::max()}; }
}  // namespace SettingRange

// What the program does once a write has changed a setting.
enum class SettingFollowUp {
    none,      // it only tunes how automatic work is announced or approved
    interval,  // the regular wait between checks starts again
    decide,    // what may move changed: the last stall no longer holds, a check comes soon
    engine,    // as decide, and the engine is rebuilt with the new value
    drive,     // as engine, and the drive's locations, mount and wake are read anew
};

// Every setting, once: its field name, its key in settings.json (kept when a field is renamed), type, default,
// range and follow-up. JSON reading and writing, normalising and the follow-ups all go by
// this table; the struct's fields are declared from it. An absent optional writes no key.
// The keep-free level (thresholdBytes) is kept free: below it a run is due, and a run frees
// space up to targetBytes; minimumItemMegabytes counts decimal megabytes. askFirstChoice is
// what the user last chose for "Ask me before moving files" themselves (none until they
// do), so that a default never stands in for a choice they made.
#define KELDWICK_APP_SETTINGS(X)                                                                                       \
    X(onboardingComplete, "onboardingComplete", bool, false, SettingRange::any, decide)                                \
    X(drive, "drive", std::optional<Drive>, std::nullopt, SettingRange::any, drive)                                    \
    X(driveVolumeUUID, "driveVolumeUUID", std::optional<std::string>, std::nullopt, SettingRange::any, none)           \
    X(driveProfile, "driveProfile", std::optional<DriveProfile>, std::nullopt, SettingRange::any, decide)              \
    X(managedFolders, "managedFolders", std::vector<std::string>, {}, SettingRange::any, decide)                       \
    X(thresholdBytes, "thresholdBytes", int64_t, 20'000'000'000, SettingRange::atLeast(1'000'000'000), decide)         \
    X(targetBytes, "targetBytes", int64_t, 30'000'000'000, SettingRange::aboveKeepFree, decide)                        \
    X(minimumAgeDays, "minimumAgeDays", int64_t, 30, SettingRange::atLeast(1), decide)                                 \
    X(minimumItemMegabytes, "minimumItemMegabytes", int64_t, 10, SettingRange::atLeast(1), decide)                     \
    X(moveRecentLightFiles, "moveRecentLightFiles", bool, true, SettingRange::any, decide)                             \
    X(moveProjectsAndEmulators, "moveProjectsAndSimulators", bool, true, SettingRange::any, decide)                    \
    X(clearCachesWhenLow, "clearCachesWhenLow", bool, true, SettingRange::any, decide)                                 \
    X(isPaused, "isPaused", bool, false, SettingRange::any, decide)                                                    \
    X(dryRunMode, "dryRunMode", bool, false, SettingRange::any, decide)                                                \
    X(automaticRunsApproved, "automaticRunsApproved", bool, false, SettingRange::any, none)                            \
    X(askFirstChoice, "askFirstChoice", std::optional<bool>, std::nullopt, SettingRange::any, none)                    \
    X(checkIntervalMinutes, "checkIntervalMinutes", int64_t, 10, SettingRange::between(1, 1440), interval)             \
    X(notificationsEnabled, "notificationsEnabled", bool, true, SettingRange::any, none)

struct AppSettings {
#define KELDWICK_SETTING_FIELD(name, key, type, initial, range, followUp) type name = initial;
    KELDWICK_APP_SETTINGS(KELDWICK_SETTING_FIELD)
#undef KELDWICK_SETTING_FIELD

    static constexpr int64_t gigabyte = 1'000'000'000;
    // 10, 20 and 50 GB: the amounts of free space offered to keep.
    static const std::vector<int64_t>& freeSpaceChoices();

    // t + max(t / 2, 5 GB), saturating at the ends of the Int64 range.
    static int64_t target(int64_t forThreshold);
    // The user's downloads, desktop and documents folders as user-dirs.dirs names them,
    // each else home/Downloads, home/Desktop, home/Documents (one "/" before each name).
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

    // Brings every setting into its range, in the table's order.
    void normalize();

    // The follow-ups of the settings that differ between `a` and `b`, one per such setting.
    static std::vector<SettingFollowUp> followUpsOfChanges(const AppSettings& a, const AppSettings& b);

    // The scan policy from these settings, narrowed by the drive's tier (an unmeasured
    // drive when there is no profile). The recent-light-files allowance is included only
    // when asked for and switched on.
    OffloadPolicy policy(bool includingRecent) const;
    OffloadPolicy policy() const { return policy(true); }

    bool operator==(const AppSettings&) const = default;

    // Every setting under its key; an absent optional is left out.
    nlohmann::json toJson() const;
    // Reads each known key on its own: a key that is missing, null or of the wrong kind
    // leaves that field at its default; unknown keys are ignored. Throws
    // JsonFields::Mismatch only when the top level is not an object. Does not normalise.
    static AppSettings fromJson(const nlohmann::json& object);
};

}  // namespace keldwick
