#pragma once
// Whether a hard disk has spun down, asked of udisks2 on the system bus: Drive.Ata's
// PmGetState sends the disk ATA CHECK POWER MODE, which a disk in standby answers without
// spinning up. udisks2 may be absent, polkit may refuse, and a disk behind a bridge
// without ATA pass-through has no Drive.Ata at all: each is a refusal, and the caller
// falls back to what sysfs tells.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace keldwick::platform {

enum class DiskPowerMode {
    standby,   // spun down (or spinning down)
    spinning,  // active or idle, the platters turning
};

struct PowerModeRefused {
    std::string reason;  // "no system bus: …", "udisks2: Not authorized", …
    bool timedOut = false;  // no answer in time: the disk may be busy, not refusing
};

// The answer of one query, or why there is none.
using PowerModeAnswer = std::variant<DiskPowerMode, PowerModeRefused>;

// CHECK POWER MODE's count register: 00h and 01h standby, 40h the NV cache with the spindle
// down, 41h the NV cache with it up, 80h-83h idle, FFh active or idle. Nothing for any
// other value.
std::optional<DiskPowerMode> diskPowerModeOf(uint8_t state);

class DiskPowerModes {
public:
    virtual ~DiskPowerModes() = default;
    // The power mode of the whole disk `diskName` ("sdb"). May block up to the query's timeout.
    virtual PowerModeAnswer powerMode(const std::string& diskName) const = 0;
};

// Asks org.freedesktop.UDisks2 on the system bus (DBUS_SYSTEM_BUS_ADDRESS when set): the
// block object of `diskName` names its drive, whose Drive.Ata.PmGetState answers, without
// interaction (polkit never prompts). Each query opens its own connection, so it may run on
// any thread and a restarted udisks2 is found again.
class UDisksPower final : public DiskPowerModes {
public:
    explicit UDisksPower(uint64_t timeoutMicroseconds = 3'000'000) : timeout_(timeoutMicroseconds) {}
    PowerModeAnswer powerMode(const std::string& diskName) const override;

    // udisks2's object path for a block device: bytes other than ASCII letters and digits
    // become "_" and two lower-case hex digits ("dm-0" → ".../block_devices/dm_2d0").
    static std::string blockObjectPath(const std::string& kernelName);

private:
    uint64_t timeout_;
};

}  // namespace keldwick::platform
