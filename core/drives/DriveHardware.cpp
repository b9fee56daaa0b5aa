#include "drives/DriveHardware.h"

#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "drives/DrivePowerReader.h"
#include "foundation/EnumNames.h"
#include "platform/SysfsDeviceRegistry.h"

namespace keldwick {

namespace {

std::optional<std::string> trimmed(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    static const char* whitespace = " \t\n\r\v\f";
    auto first = text->find_first_not_of(whitespace);
    if (first == std::string::npos) return std::nullopt;
    auto last = text->find_last_not_of(whitespace);
    return text->substr(first, last - first + 1);
}

std::optional<int> asInt(const std::optional<int64_t>& value) {
    if (!value || *value < std::numeric_limits<int>::min() || *value > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

}  // namespace

bool DriveHardware::isDiskImage() const { return interconnect == "Virtual Interface" || location == "File"; }

bool DriveHardware::isUSB2() const { return usbLinkSpeed && *usbLinkSpeed < 1'000'000'000; }

std::optional<std::string> DriveHardware::connection() const {
    if (!usbLinkSpeed) return interconnect;
    int64_t speed = *usbLinkSpeed;
    if (speed < 1'000'000'000) return "USB 2";
    if (speed < 6'000'000'000) return "USB 3 (5 Gb/s)";
    if (speed < 12'000'000'000) return "USB 3 (10 Gb/s)";
    return "USB (" + std::to_string(speed / 1'000'000'000) + " Gb/s)";
}

std::optional<std::string> DriveHardware::displayName() const {
    if (vendor && product) return *vendor + " " + *product;
    if (vendor) return vendor;
    return product;
}

std::optional<DriveHardware> DriveHardware::inspect(const std::string& kernelName) {
    return inspect(kernelName, platform::SysfsDeviceRegistry::system());
}

std::optional<DriveHardware> DriveHardware::inspect(const std::string& kernelName, const platform::DeviceRegistry& registry) {
    auto facts = registry.characteristics(kernelName);
    if (!facts) return std::nullopt;
    DriveHardware hardware;
    if (facts->mediumType == "Solid State") hardware.medium = Medium::solidState;
    else if (facts->mediumType == "Rotational") hardware.medium = Medium::rotational;
    else hardware.medium = Medium::unknown;
    hardware.interconnect = facts->physicalInterconnect;
    hardware.location = facts->physicalInterconnectLocation;
    hardware.vendor = trimmed(facts->vendorName);
    hardware.product = trimmed(facts->productName);
    hardware.usbLinkSpeed = facts->usbLinkSpeed;
    return hardware;
}

std::optional<DrivePowerState> DriveHardware::powerState(const std::string& kernelName) {
    return DrivePowerReader::system().read(kernelName);
}

std::optional<DrivePowerState> DriveHardware::powerState(const std::string& kernelName,
                                                         const platform::DeviceRegistry& registry) {
    auto entries = registry.powerEntries(kernelName);
    if (!entries) return std::nullopt;
    for (const auto& entry : *entries) {
        if (!entry || !entry->idleTimerPeriod) continue;
        auto device = asInt(entry->devicePowerState);
        auto highest = asInt(entry->maxPowerState);
        if (!device || !highest) continue;
        return DrivePowerState{*device, *highest, asInt(entry->timeSinceLastTickle)};
    }
    return std::nullopt;
}

namespace {

constexpr EnumNames::Name<DriveHardware::Medium> kMediumNames[] = {
    {DriveHardware::Medium::solidState, "solidState"},
    {DriveHardware::Medium::rotational, "rotational"},
    {DriveHardware::Medium::unknown, "unknown"},
};

}  // namespace

std::string toString(DriveHardware::Medium medium) {
    return std::string(EnumNames::spellingOf(kMediumNames, medium, "unknown"));
}

std::optional<DriveHardware::Medium> parseMedium(std::string_view text) {
    return EnumNames::valueOf(kMediumNames, text);
}

void to_json(nlohmann::json& json, const DriveHardware& hardware) {
    json = nlohmann::json::object();
    json["medium"] = toString(hardware.medium);
    if (hardware.interconnect) json["interconnect"] = *hardware.interconnect;
    if (hardware.location) json["location"] = *hardware.location;
    if (hardware.vendor) json["vendor"] = *hardware.vendor;
    if (hardware.product) json["product"] = *hardware.product;
    if (hardware.usbLinkSpeed) json["usbLinkSpeed"] = *hardware.usbLinkSpeed;
}

void from_json(const nlohmann::json& json, DriveHardware& hardware) {
    DriveHardware decoded;
    auto medium = parseMedium(json.at("medium").get<std::string>());
    if (!medium) throw std::invalid_argument("unknown drive medium \"" + json.at("medium").get<std::string>() + "\"");
    decoded.medium = *medium;
    auto optionalString = [&](const char* key) -> std::optional<std::string> {
        auto found = json.find(key);
        if (found == json.end() || found->is_null()) return std::nullopt;
        return found->get<std::string>();
    };
    decoded.interconnect = optionalString("interconnect");
    decoded.location = optionalString("location");
    decoded.vendor = optionalString("vendor");
    decoded.product = optionalString("product");
    if (auto found = json.find("usbLinkSpeed"); found != json.end() && !found->is_null()) {
        if (!found->is_number_integer() ||
            (found->is_number_unsigned() && found->get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())))
            throw std::invalid_argument("usbLinkSpeed is not a whole number within 64 bits");
        decoded.usbLinkSpeed = found->get<int64_t>();
    }
    hardware = std::move(decoded);
}

}  // namespace keldwick
