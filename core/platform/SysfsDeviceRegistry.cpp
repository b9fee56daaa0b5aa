#include "platform/SysfsDeviceRegistry.h"

#include <fcntl.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "platform/BlockDevices.h"
#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"
#include "platform/Sysfs.h"

namespace keldwick::platform {

namespace {

int64_t monotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::vector<std::string> folderNames(const std::string& folder) {
    try {
        return readNames(openDirectory(AT_FDCWD, folder), folder);
    } catch (const POSIXFailure&) {
        return {};
    }
}

bool isAtaPortName(const std::string& name) {
    return name.size() > 3 && name.compare(0, 3, "ata") == 0 &&
           std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<int64_t> parseInteger(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text->c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return std::nullopt;
    return value;
}

// "480", "5000" or "1.5" megabits per second, as bits per second.
std::optional<int64_t> parseUsbSpeed(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    char* end = nullptr;
    double megabits = std::strtod(text->c_str(), &end);
    if (*end != '\0' || !(megabits > 0) || megabits > 1e9) return std::nullopt;
    return static_cast<int64_t>(megabits * 1000000.0 + 0.5);
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> found;
    for (size_t at = 0; at < text.size();) {
        size_t start = text.find_first_not_of(" \t\n", at);
        if (start == std::string::npos) break;
        size_t end = text.find_first_of(" \t\n", start);
        if (end == std::string::npos) end = text.size();
        found.push_back(text.substr(start, end - start));
        at = end;
    }
    return found;
}

std::optional<std::string> nonEmpty(std::optional<std::string> text) {
    if (!text || text->find_first_not_of(" \t\n") == std::string::npos) return std::nullopt;
    return text;
}

// The buses among a device's ancestors, by subsystem ("ata" for libata's ports too).
std::set<std::string> busesOf(const std::vector<std::string>& folders) {
    std::set<std::string> buses;
    for (const auto& folder : folders) {
        if (auto subsystem = Sysfs::linkName(folder + "/subsystem")) buses.insert(*subsystem);
        if (isAtaPortName(Sysfs::lastComponent(folder))) buses.insert("ata");
    }
    return buses;
}

// The most telling bus: USB before SCSI, since USB disks sit on a SCSI host.
std::optional<std::string> interconnectOf(const std::set<std::string>& buses, bool isLoop) {
    if (isLoop) return "Virtual Interface";
    if (buses.count("usb")) return "USB";
    if (buses.count("thunderbolt")) return "Thunderbolt";
    if (buses.count("firewire") || buses.count("ieee1394")) return "FireWire";
    if (buses.count("nvme") || buses.count("nvme-subsystem")) return "PCI-Express";
    if (buses.count("ata")) return "SATA";
    if (buses.count("mmc")) return "Secure Digital";
    if (buses.count("virtio")) return "Virtio";
    if (buses.count("scsi")) return "SCSI";
    return std::nullopt;
}

std::optional<std::string> locationOf(const std::string& disk, const std::vector<std::string>& folders,
                                      const std::set<std::string>& buses, bool isLoop) {
    if (isLoop) {
        if (Sysfs::exists(disk + "/loop/backing_file")) return "File";
        return std::nullopt;
    }
    bool external = buses.count("usb") || buses.count("thunderbolt") || buses.count("firewire") ||
                    buses.count("ieee1394") || buses.count("mmc") || Sysfs::attribute(disk + "/removable") == "1";
    for (const auto& folder : folders) {
        // PCI devices behind an external-facing port (Thunderbolt enclosures) say "removable".
        if (Sysfs::attribute(folder + "/removable") == "removable") external = true;
    }
    return external ? "External" : "Internal";
}

// The medium of a real device, only on evidence.
std::optional<std::string> mediumOf(const std::string& disk) {
    if (auto page = Sysfs::binaryAttribute(disk + "/device/vpd_pg_b1"); page && page->size() >= 6) {
        unsigned rate = (static_cast<unsigned char>((*page)[4]) << 8) | static_cast<unsigned char>((*page)[5]);
        if (rate == 1) return "Solid State";
        if (rate >= 0x0401 && rate <= 0xFFFE) return "Rotational";
    }
    if (Sysfs::attribute(disk + "/queue/rotational") == "0") return "Solid State";
    return std::nullopt;
}

// Names: the nearest ancestor that knows them. Never a virtio or PCI "vendor" (a hex id).
void nameFromDevice(const std::vector<std::string>& folders, const std::set<std::string>& buses,
                    DeviceCharacteristics& facts) {
    for (const auto& folder : folders) {
        auto subsystem = Sysfs::linkName(folder + "/subsystem");
        if (!subsystem) continue;
        if (*subsystem == "scsi" && Sysfs::exists(folder + "/model")) {
            facts.vendorName = nonEmpty(Sysfs::attribute(folder + "/vendor"));
            facts.productName = nonEmpty(Sysfs::attribute(folder + "/model"));
            // libata answers INQUIRY with the placeholder vendor "ATA".
            if (buses.count("ata") && facts.vendorName) {
                std::string vendor = *facts.vendorName;
                vendor.erase(vendor.find_last_not_of(" \t") + 1);
                if (vendor == "ATA") facts.vendorName.reset();
            }
            return;
        }
        if ((*subsystem == "nvme" || *subsystem == "nvme-subsystem") && Sysfs::exists(folder + "/model")) {
            facts.productName = nonEmpty(Sysfs::attribute(folder + "/model"));
            return;
        }
        if (*subsystem == "mmc" && Sysfs::exists(folder + "/name")) {
            facts.productName = nonEmpty(Sysfs::attribute(folder + "/name"));
            return;
        }
    }
}

// The USB link's speed, and the USB device's strings for names still missing.
void nameFromUsb(const std::vector<std::string>& folders, DeviceCharacteristics& facts) {
    for (const auto& folder : folders) {
        if (Sysfs::linkName(folder + "/subsystem") != "usb") continue;
        if (!facts.usbLinkSpeed) facts.usbLinkSpeed = parseUsbSpeed(Sysfs::attribute(folder + "/speed"));
        if (Sysfs::exists(folder + "/idVendor")) {
            if (!facts.vendorName) facts.vendorName = nonEmpty(Sysfs::attribute(folder + "/manufacturer"));
            if (!facts.productName) facts.productName = nonEmpty(Sysfs::attribute(folder + "/product"));
            return;
        }
    }
}

}  // namespace

SysfsDeviceRegistry::SysfsDeviceRegistry(SystemRoots roots, std::function<int64_t()> clockMilliseconds)
    : roots_(std::move(roots)), clock_(clockMilliseconds ? std::move(clockMilliseconds) : monotonicMilliseconds) {}

const SysfsDeviceRegistry& SysfsDeviceRegistry::system() {
    static const SysfsDeviceRegistry registry;
    return registry;
}

std::optional<SysfsDeviceRegistry::Device> SysfsDeviceRegistry::physicalDevice(const std::string& kernelName) const {
    auto node = BlockDevices::deviceFolder(kernelName, roots_);
    if (!node) return std::nullopt;
    // A device-mapper or md device has no hardware of its own: follow its first underlying
    // device, a few levels at most (LVM on LUKS on a partition).
    for (int depth = 0; depth < 8; ++depth) {
        std::string disk = Sysfs::exists(*node + "/partition") ? Sysfs::parent(*node) : *node;
        auto slaves = folderNames(disk + "/slaves");
        if (slaves.empty()) return Device{*node, disk};
        auto next = BlockDevices::deviceFolder(slaves.front(), roots_);
        if (!next) return Device{*node, disk};
        node = next;
    }
    return std::nullopt;
}

std::vector<std::string> SysfsDeviceRegistry::chain(const std::string& node) const {
    std::vector<std::string> folders;
    auto devices = Sysfs::resolved(roots_.sys + "/devices");
    if (!devices) return folders;
    std::string folder = node;
    while (folder.size() > devices->size() && folder.compare(0, devices->size() + 1, *devices + "/") == 0) {
        folders.push_back(folder);
        folder = Sysfs::parent(folder);
    }
    return folders;
}

std::optional<DeviceCharacteristics> SysfsDeviceRegistry::characteristics(const std::string& kernelName) const {
    auto device = physicalDevice(kernelName);
    if (!device) return std::nullopt;
    const auto folders = chain(device->disk);
    const std::set<std::string> buses = busesOf(folders);
    const bool isLoop = Sysfs::exists(device->disk + "/loop");

    DeviceCharacteristics facts;
    facts.physicalInterconnect = interconnectOf(buses, isLoop);
    facts.physicalInterconnectLocation = locationOf(device->disk, folders, buses, isLoop);
    // Loop and other virtual devices have no medium.
    if (!isLoop && Sysfs::exists(device->disk + "/device")) facts.mediumType = mediumOf(device->disk);
    nameFromDevice(folders, buses, facts);
    nameFromUsb(folders, facts);
    return facts;
}

std::optional<int64_t> SysfsDeviceRegistry::millisecondsSinceActivity(const std::string& disk) const {
    auto counters = Sysfs::attribute(disk + "/stat");
    if (!counters) return std::nullopt;
    int64_t now = clock_();
    std::lock_guard<std::mutex> guard(lock_);
    auto found = activity_.find(disk);
    if (found == activity_.end()) {
        activity_[disk] = Activity{*counters, now};
        return std::nullopt;  // nothing to compare with yet
    }
    if (found->second.counters != *counters) found->second = Activity{*counters, now};
    return std::max<int64_t>(0, now - found->second.changedAt);
}

std::optional<std::vector<std::optional<PowerManagement>>> SysfsDeviceRegistry::powerEntries(
    const std::string& kernelName) const {
    auto device = physicalDevice(kernelName);
    if (!device) return std::nullopt;
    std::optional<std::optional<int64_t>> sinceActivity;  // read once, when an entry needs it
    std::vector<std::optional<PowerManagement>> entries;
    for (const auto& folder : chain(device->node)) {
        auto status = Sysfs::attribute(folder + "/power/runtime_status");
        if (!status || *status == "unsupported") {
            entries.emplace_back();
            continue;
        }
        PowerManagement power;
        if (*status == "active") power.devicePowerState = 4;
        else if (*status == "resuming") power.devicePowerState = 2;
        else if (*status == "suspended" || *status == "suspending") power.devicePowerState = 1;
        power.maxPowerState = 4;
        if (Sysfs::attribute(folder + "/power/control") == "auto") {
            power.idleTimerPeriod = parseInteger(Sysfs::attribute(folder + "/power/autosuspend_delay_ms")).value_or(0);
        }
        if (!sinceActivity) sinceActivity = millisecondsSinceActivity(device->disk);
        power.timeSinceLastTickle = *sinceActivity;
        entries.push_back(power);
    }
    return entries;
}

std::optional<DiskActivity> SysfsDeviceRegistry::diskActivity(const std::string& kernelName) const {
    auto device = physicalDevice(kernelName);
    if (!device) return std::nullopt;
    auto since = millisecondsSinceActivity(device->disk);
    auto counters = Sysfs::attribute(device->disk + "/stat");
    if (!counters) return std::nullopt;
    const auto fields = words(*counters);
    auto field = [&fields](size_t index) {
        return index < fields.size() ? parseInteger(fields[index]).value_or(0) : int64_t{0};
    };
    DiskActivity activity;
    activity.diskName = Sysfs::lastComponent(device->disk);
    activity.millisecondsSinceActivity = since;
    // The stat line: reads completed first, writes completed fifth, requests in flight ninth.
    if (fields.size() > 4) activity.completedRequests = field(0) + field(4);
    // "inflight" holds reads and writes in flight apart; older kernels have only the sum.
    if (auto inflight = Sysfs::attribute(device->disk + "/inflight")) {
        for (const auto& count : words(*inflight)) activity.requestsInFlight |= parseInteger(count).value_or(0) > 0;
    } else {
        activity.requestsInFlight = field(8) > 0;
    }
    return activity;
}

}  // namespace keldwick::platform
