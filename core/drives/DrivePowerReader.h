#pragma once
// A drive's power state, read where Linux tells it without waking the disk.
//
// Runtime power management in sysfs knows a disk the kernel suspended; a hard disk that
// spun down by its own firmware (most USB disks) stays "active" there. So, for each reading:
// 1. A disk sysfs says is suspended or resuming is asleep by that word alone: any query
//    would resume it. Nor is a disk asked when any device on its way up is suspended or
//    resuming, whatever its power control says.
// 2. Otherwise the disk's own power mode is asked (udisks2: standby is state 1 of 4,
//    spinning 4 of 4), with the time since activity from its I/O counters.
// 3. A disk with requests in flight is not asked: the question would wait behind them and
//    answer once it no longer matters. Its last answer stands, with the fresh activity, so a
//    disk in standby that was just sent work reads as asleep with new activity, which the
//    wake detector shows as waking while it spins up. A disk that completed requests since
//    it answered standby has spun up, whatever is still in flight (a long copy keeps work in
//    flight at every reading). Without a last answer it is asked all the same: the watch
//    needs a first reading.
// 4. Where the query is refused (no udisks2, polkit, a disk without ATA), sysfs's rule
//    stands, and that disk is not asked again for a minute. A query that timed out is no
//    refusal: the disk was too busy to answer, so its last answer stands as in 3, and it is
//    asked again at the next reading.
// Thread-safe; a reading may block for the query's timeout, so it belongs off the main thread.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "drives/DrivePowerState.h"
#include "platform/DeviceRegistry.h"
#include "platform/UDisksPower.h"

namespace keldwick {

class DrivePowerReader {
public:
    static constexpr int64_t refusalPauseMilliseconds = 60'000;

    // `modes` may be null (sysfs only); `clockMilliseconds` is a steady clock (default:
    // std::chrono::steady_clock). `registry` outlives the reader.
    DrivePowerReader(const platform::DeviceRegistry& registry, std::shared_ptr<const platform::DiskPowerModes> modes,
                     std::function<int64_t()> clockMilliseconds = {});

    // The reader of the real system: sysfs and udisks2.
    static DrivePowerReader& system();

    // Nothing when neither source can tell.
    std::optional<DrivePowerState> read(const std::string& kernelName);

private:
    const platform::DeviceRegistry& registry_;
    std::shared_ptr<const platform::DiskPowerModes> modes_;
    std::function<int64_t()> clock_;
    std::mutex lock_;
    struct Answer {
        platform::DiskPowerMode mode;
        std::optional<int64_t> completedRequests;  // when it was given
    };
    // Requests completed since the answer: a disk in standby can't complete one.
    static bool hasServedSince(const Answer& answer, const platform::DiskActivity& activity);
    // The last answer of `disk` with the fresh activity (spinning once it served requests);
    // nothing without one. Under the lock.
    std::optional<DrivePowerState> lastStanding(const std::string& disk, const platform::DiskActivity& activity);

    std::map<std::string, Answer> lastAnswer_;  // by disk
    std::map<std::string, int64_t> refusedAt_;                   // by disk
};

}  // namespace keldwick
