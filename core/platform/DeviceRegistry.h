#pragma once
// The two look-ups the drive facts need from the platform's device registry, answered in
// the registry's own vocabulary: the characteristics of the device behind a block device
// name, and the power-management entries on the way from that device up to the top.
// DriveHardware applies its rules to these answers; SysfsDeviceRegistry fills them on Linux.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace keldwick::platform {

struct DeviceCharacteristics {
    // "Device Characteristics"
    std::optional<std::string> mediumType;  // "Solid State", "Rotational", or what the device says
    std::optional<std::string> vendorName;  // untrimmed, as the device reports it
    std::optional<std::string> productName;
    // "Protocol Characteristics"
    std::optional<std::string> physicalInterconnect;          // "USB", "SATA", "Virtual Interface", ...
    std::optional<std::string> physicalInterconnectLocation;  // "Internal", "External", "File"
    // "UsbLinkSpeed" of the device or its nearest ancestor, bits per second
    std::optional<int64_t> usbLinkSpeed;
};

// One entry's "IOPowerManagement" dictionary; a value the entry lacks is absent.
struct PowerManagement {
    std::optional<int64_t> idleTimerPeriod;
    std::optional<int64_t> devicePowerState;
    std::optional<int64_t> maxPowerState;
    std::optional<int64_t> timeSinceLastTickle;  // milliseconds
};

// What the whole disk behind a name is doing, from its I/O counters.
struct DiskActivity {
    std::string diskName;                         // the whole disk's kernel name ("sdb")
    bool requestsInFlight = false;                // requests issued and not yet completed
    std::optional<int64_t> completedRequests;     // reads and writes the disk completed
    std::optional<int64_t> millisecondsSinceActivity;  // absent on the first reading of a disk
};

class DeviceRegistry {
public:
    virtual ~DeviceRegistry() = default;
    // Nothing when no device has this name.
    virtual std::optional<DeviceCharacteristics> characteristics(const std::string& kernelName) const = 0;
    // The device's entry first, then each ancestor's; an entry without a power dictionary is
    // absent. Nothing when no device has this name.
    virtual std::optional<std::vector<std::optional<PowerManagement>>> powerEntries(
        const std::string& kernelName) const = 0;
    // The disk behind a name (a partition's disk, a device-mapper or md device's first
    // underlying disk); nothing when no device has this name or it has no I/O counters.
    virtual std::optional<DiskActivity> diskActivity(const std::string& kernelName) const {
        (void)kernelName;
        return std::nullopt;
    }
};

}  // namespace keldwick::platform
