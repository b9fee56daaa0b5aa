#pragma once
// One device event as the kernel announces it on its uevent netlink socket, or as udevd
// passes it on once it has probed the device and written its database.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace keldwick {

struct Uevent {
    std::string action;     // "add", "change", "remove", "move", "bind", ...
    std::string subsystem;  // "block", "usb", ...
    std::string devName;    // the kernel name ("sdb1"), without "/dev/"
    std::string devType;    // "disk", "partition"
    std::map<std::string, std::string> properties;

    // A datagram from either netlink group: the kernel's ("add@/devices/...\0KEY=value\0...")
    // or udevd's ("libudev\0" header, then the same KEY=value list). Nothing when it is
    // neither, or names no action or subsystem.
    static std::optional<Uevent> parse(std::string_view datagram);

    bool operator==(const Uevent&) const = default;
};

}  // namespace keldwick
