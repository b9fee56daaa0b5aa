#include "desktop/Uevent.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace keldwick {

namespace {

// udevd's header before the properties (its wire format, stable since 2009).
struct UdevHeader {
    char prefix[8];
    uint32_t magic;  // network order
    uint32_t headerSize;
    uint32_t propertiesOffset;
    uint32_t propertiesLength;
    uint32_t filterSubsystemHash;
    uint32_t filterDevtypeHash;
    uint32_t filterTagBloomHigh;
    uint32_t filterTagBloomLow;
};

constexpr uint32_t kUdevMagic = 0xfeedcafe;

// "KEY=value\0KEY=value\0..." into the event; entries without "=" are skipped.
void readProperties(std::string_view list, Uevent& event) {
    while (!list.empty()) {
        size_t end = list.find('\0');
        std::string_view entry = list.substr(0, end);
        list = end == std::string_view::npos ? std::string_view{} : list.substr(end + 1);
        size_t equals = entry.find('=');
        if (equals == std::string_view::npos || equals == 0) continue;
        event.properties[std::string(entry.substr(0, equals))] = std::string(entry.substr(equals + 1));
    }
}

}  // namespace

std::optional<Uevent> Uevent::parse(std::string_view datagram) {
    Uevent event;
    static constexpr std::string_view udevPrefix("libudev\0", 8);
    if (datagram.substr(0, udevPrefix.size()) == udevPrefix) {
        UdevHeader header{};
        if (datagram.size() < sizeof header) return std::nullopt;
        std::memcpy(&header, datagram.data(), sizeof header);
        // The magic is sent in network byte order.
        const uint32_t magic = std::endian::native == std::endian::big ? header.magic : __builtin_bswap32(header.magic);
        if (magic != kUdevMagic) return std::nullopt;
        if (header.propertiesOffset < sizeof header || header.propertiesOffset > datagram.size() ||
            header.propertiesLength > datagram.size() - header.propertiesOffset) {
            return std::nullopt;
        }
        readProperties(datagram.substr(header.propertiesOffset, header.propertiesLength), event);
    } else {
        // The kernel's first entry is "action@devpath"; the ACTION property repeats it.
        size_t end = datagram.find('\0');
        if (end == std::string_view::npos || datagram.substr(0, end).find('@') == std::string_view::npos) {
            return std::nullopt;
        }
        readProperties(datagram.substr(end + 1), event);
    }
    auto take = [&](const char* key) {
        auto found = event.properties.find(key);
        return found == event.properties.end() ? std::string() : found->second;
    };
    event.action = take("ACTION");
    event.subsystem = take("SUBSYSTEM");
    event.devType = take("DEVTYPE");
    event.devName = take("DEVNAME");
    // udevd names the node ("/dev/sdb1"), the kernel the device ("sdb1").
    if (event.devName.rfind("/dev/", 0) == 0) event.devName.erase(0, 5);
    if (event.action.empty() || event.subsystem.empty()) return std::nullopt;
    return event;
}

}  // namespace keldwick
