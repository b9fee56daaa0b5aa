#pragma once
// What the device registry knows about the physical device behind a volume: medium,
// interconnect and location, vendor and product, USB link speed, and its power state.
// Stored in the settings inside the drive profile, so its JSON form is a stored format.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "drives/DrivePowerState.h"
#include "platform/DeviceRegistry.h"

namespace keldwick {

struct DriveHardware {
    enum class Medium { solidState, rotational, unknown };

    // Memberwise, every optional absent by default.
    DriveHardware(Medium medium = Medium::unknown, std::optional<std::string> interconnect = std::nullopt,
                  std::optional<std::string> location = std::nullopt,
                  std::optional<std::string> vendor = std::nullopt,
                  std::optional<std::string> product = std::nullopt,
                  std::optional<int64_t> usbLinkSpeed = std::nullopt)
        : medium(medium), interconnect(std::move(interconnect)), location(std::move(location)),
          vendor(std::move(vendor)), product(std::move(product)), usbLinkSpeed(usbLinkSpeed) {}

    Medium medium = Medium::unknown;
    std::optional<std::string> interconnect;
    std::optional<std::string> location;
    std::optional<std::string> vendor;
    std::optional<std::string> product;
    std::optional<int64_t> usbLinkSpeed;  // bits per second

    // Interconnect "Virtual Interface" or location "File" (exact).
    bool isDiskImage() const;
    // A link speed below 1 Gb/s.
    bool isUSB2() const;
    // "USB 2", "USB 3 (5 Gb/s)", "USB 3 (10 Gb/s)", "USB (N Gb/s)" from the link speed;
    // without one, the interconnect as it is.
    std::optional<std::string> connection() const;
    // Vendor and product, those present, joined by one space.
    std::optional<std::string> displayName() const;

    // The device's facts; nothing when no device has this name. A device without facts
    // gives medium unknown and nothing else.
    static std::optional<DriveHardware> inspect(const std::string& kernelName);
    static std::optional<DriveHardware> inspect(const std::string& kernelName, const platform::DeviceRegistry& registry);

    // The system's reading: sysfs and the disk's own power mode (DrivePowerReader). May
    // block on the system bus: call it off the main thread.
    static std::optional<DrivePowerState> powerState(const std::string& kernelName);
    // The registry's rule: the power state of the nearest entry, from the device up, with a
    // usable power dictionary (one with "IdleTimerPeriod" and both state numbers); nothing
    // when no device has this name or no entry has one.
    static std::optional<DrivePowerState> powerState(const std::string& kernelName, const platform::DeviceRegistry& registry);

    bool operator==(const DriveHardware&) const = default;
};

std::string toString(DriveHardware::Medium medium);
std::optional<DriveHardware::Medium> parseMedium(std::string_view text);

// JSON: "medium" always (required when read; an unknown string fails), each optional only
// when present. from_json throws nlohmann::json::exception or std::invalid_argument.
void to_json(nlohmann::json& json, const DriveHardware& hardware);
void from_json(const nlohmann::json& json, DriveHardware& hardware);

}  // namespace keldwick
