#pragma once
// Where the Linux layers read the system's facts from. The defaults are the real system;
// tests point them at fixture trees built in a temporary folder.

#include <string>

namespace keldwick::platform {

struct SystemRoots {
    std::string sys = "/sys";
    std::string mountinfo = "/proc/self/mountinfo";
    std::string dev = "/dev";
    std::string udevData = "/run/udev/data";
    std::string proc = "/proc";

    // The real system's roots (one shared instance).
    static const SystemRoots& system();
};

}  // namespace keldwick::platform
