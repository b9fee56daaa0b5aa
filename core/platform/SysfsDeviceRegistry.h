#pragma once
// The device registry on Linux, read from sysfs: a block device's folder and the chain of
// its ancestors (<sys>/devices/pci.../usb2/2-1/.../host6/.../block/sdb/sdb1).
//
// - Medium: "Solid State" when the disk's queue says it doesn't rotate or its SCSI VPD page
//   B1 reports a non-rotating medium; "Rotational" only when page B1 reports a rotation
//   rate. The kernel's rotational flag defaults to 1 for devices that don't say (USB-SATA
//   bridges, virtio), so a 1 is no evidence. Loop and other virtual devices have no medium.
// - Interconnect: the most telling bus among the ancestors (USB before SCSI, since USB disks
//   sit on a SCSI host); loop devices are "Virtual Interface" at location "File".
// - Location: "External" behind USB, FireWire or Thunderbolt, behind a PCI port marked
//   removable, or for removable media; "Internal" otherwise.
// - Names: SCSI INQUIRY vendor/model, the NVMe or MMC model, else the USB device's strings.
// - Power: an entry has a power dictionary when runtime power management applies to it
//   (power/runtime_status readable and not "unsupported"); "IdleTimerPeriod" is present
//   only when the kernel may suspend it (power/control "auto"). States: suspended and
//   suspending 1, resuming 2, active 4, highest 4. Time since activity comes from the disk's
//   I/O counters, remembered between calls (absent on the first reading of a disk).
// - Activity: the disk's requests in flight (its "inflight" counts, else the stat line's),
//   and the same time since activity.
// - A device-mapper or md device stands for its first underlying device (by name).

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "platform/DeviceRegistry.h"
#include "platform/SystemRoots.h"

namespace keldwick::platform {

class SysfsDeviceRegistry final : public DeviceRegistry {
public:
    // `clockMilliseconds` is a steady clock (default: CLOCK_MONOTONIC).
    explicit SysfsDeviceRegistry(SystemRoots roots = SystemRoots::system(),
                                 std::function<int64_t()> clockMilliseconds = {});

    // The registry of the real system, shared so that activity is remembered across calls.
    static const SysfsDeviceRegistry& system();

    std::optional<DeviceCharacteristics> characteristics(const std::string& kernelName) const override;
    std::optional<std::vector<std::optional<PowerManagement>>> powerEntries(
        const std::string& kernelName) const override;
    std::optional<DiskActivity> diskActivity(const std::string& kernelName) const override;

private:
    struct Device {
        std::string node;  // the named device's folder (a partition or a whole disk)
        std::string disk;  // the whole disk's folder
    };
    std::optional<Device> physicalDevice(const std::string& kernelName) const;
    std::vector<std::string> chain(const std::string& node) const;  // node, then its ancestors
    std::optional<int64_t> millisecondsSinceActivity(const std::string& disk) const;

    struct Activity {
        std::string counters;
        int64_t changedAt = 0;
    };
    SystemRoots roots_;
    std::function<int64_t()> clock_;
    mutable std::mutex lock_;
    mutable std::map<std::string, Activity> activity_;
};

}  // namespace keldwick::platform
